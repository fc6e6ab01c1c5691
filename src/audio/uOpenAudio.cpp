#include "audio/uOpenAudio.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "audio/Mp3Probe.h"

namespace orvane::audio {
namespace {

static_assert(std::endian::native == std::endian::little,
              "samples are handed on as little-endian bytes without swapping");

const char* const WavFormatError = "Error in wav file.";
constexpr std::uint16_t WaveFormatExtensible = 0xFFFE;
const char* const WavConvertError = "Error converting wav file.";
const char* const WavNotConvertible = "This wav format cannot be converted.";
const char* const Mp3FormatError = "Error in mp3 format.";
const char* const Mp3FileError = "Error in mp3 file.";
const char* const Mp3ReadError = "Error reading mp3.";
const char* const NoConversion = "No audio conversion is installed.";

std::uint32_t Le32(const std::uint8_t* b) {
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::uint16_t Le16(const std::uint8_t* b) { return static_cast<std::uint16_t>(b[0] | (b[1] << 8)); }

std::uint32_t CheckedChunkSize(std::uint32_t chunkSize) {
    if (chunkSize == 0 || chunkSize > MaxChunkSize) {
        throw EInvalidOperation("The chunk size of an audio reader must be 1 to " +
                                std::to_string(MaxChunkSize) + " bytes.");
    }
    return chunkSize;
}

}  // namespace

// ---- WAV layout ----

TWavLayout ParseWav(const TAudioFile& file) {
    const std::uint64_t fileSize = file.Size();
    std::uint8_t head[16];
    if (file.ReadAt(0, head, 12) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
        static_cast<std::uint64_t>(Le32(head + 4)) + 8 != fileSize ||
        std::memcmp(head + 8, "WAVE", 4) != 0) {
        throw EOpenWAV(WavFormatError);
    }
    TWavLayout layout;
    bool haveFmt = false;
    bool haveData = false;
    std::uint64_t offset = 12;
    while (offset != fileSize) {
        // A header or body running past the end of the file means the sizes are wrong.
        if (offset + 8 > fileSize || file.ReadAt(offset, head, 8) != 8) {
            throw EOpenWAV(WavFormatError);
        }
        const std::int32_t size = static_cast<std::int32_t>(Le32(head + 4));
        const std::uint64_t body = offset + 8;
        if (size <= 0 || body + static_cast<std::uint64_t>(size) > fileSize) {
            throw EOpenWAV(WavFormatError);
        }
        if (std::memcmp(head, "fmt ", 4) == 0) {
            std::uint8_t fmt[16];
            if (size < 16 || file.ReadAt(body, fmt, 16) != 16) throw EOpenWAV(WavFormatError);
            layout.FormatTag = Le16(fmt);
            // Files with more than two channels or more than 16 bits usually carry integer
            // PCM in the extensible form: tag 0xFFFE and the PCM sub-format identifier at byte
            // 24 of the chunk. Its samples sit in containers of BitsPerSample bits, left-aligned,
            // so they read exactly like plain PCM of that width.
            if (layout.FormatTag == WaveFormatExtensible) {
                static constexpr std::uint8_t PcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                                  0x10, 0x00, 0x80, 0x00, 0x00, 0xAA,
                                                                  0x00, 0x38, 0x9B, 0x71};
                std::uint8_t sub[16];
                if (size >= 40 && file.ReadAt(body + 24, sub, 16) == 16 &&
                    std::memcmp(sub, PcmSubFormat, 16) == 0) {
                    layout.FormatTag = 1;
                }
            }
            layout.Format.Channels = Le16(fmt + 2);
            layout.Format.SampleRate = Le32(fmt + 4);
            const int blockAlign = Le16(fmt + 12);
            layout.Format.BitsPerSample = Le16(fmt + 14);
            // Checked here while blockAlign is at hand; the rest after the walk.
            if (blockAlign != layout.Format.Channels * (layout.Format.BitsPerSample / 8) ||
                layout.Format.BitsPerSample % 8 != 0) {
                throw EOpenWAV(WavFormatError);
            }
            haveFmt = true;
        } else if (std::memcmp(head, "data", 4) == 0) {
            layout.DataOffset = body;
            haveData = true;
        }
        offset = body + static_cast<std::uint64_t>(size);
    }
    if (!haveFmt || !haveData || layout.FormatTag != 1 || !ValidPcmFormat(layout.Format)) {
        throw EOpenWAV(WavFormatError);
    }
    return layout;
}

// ---- shared reader machinery ----

TChunkedReader::TChunkedReader(const std::string& fileName, std::uint32_t chunkSize)
    : FChunkSize(CheckedChunkSize(chunkSize)) {
    FFile = std::make_unique<TAudioFile>(fileName);
    FData.resize(FChunkSize);
    FPending.reserve(FChunkSize + 64 * 1024);
    FConverted.reserve(8192);
    FResampled.reserve(8192);
}

std::int32_t TChunkedReader::Position() const {
    return static_cast<std::int32_t>(
        std::nearbyint(static_cast<double>(FBytesOut) / static_cast<double>(EngineBytesPerSecond)));
}

float TChunkedReader::getPos() const {
    const std::uint64_t size = FFile->Size();
    if (size == 0) return 1.0f;
    return static_cast<float>(static_cast<double>(std::min(FFile->Position(), size)) /
                              static_cast<double>(size));
}

std::uint32_t TChunkedReader::ChooseTargetRate(std::uint32_t sourceRate) {
    FConv16 = sourceRate % 8000 == 0;
    return FConv16 ? 16000 : 11025;
}

void TChunkedReader::Emit(const std::vector<std::int16_t>& samples) {
    const std::vector<std::int16_t>* out = &samples;
    if (FConv16) {
        FResampled.clear();
        FResampler.ResampleTo11025(samples.data(), samples.size(), FResampled);
        out = &FResampled;
    }
    if (out->empty()) return;
    const std::size_t bytes = out->size() * sizeof(std::int16_t);
    const std::size_t old = FPending.size();
    FPending.resize(old + bytes);
    std::memcpy(FPending.data() + old, out->data(), bytes);
}

std::int32_t TChunkedReader::ReadChunk() {
    if (FPendingStart > 0) {
        FPending.erase(FPending.begin(),
                       FPending.begin() + static_cast<std::ptrdiff_t>(FPendingStart));
        FPendingStart = 0;
    }
    while (FPending.size() < FChunkSize && !FEnded) DecodeBlock();
    const std::size_t filled = std::min<std::size_t>(FChunkSize, FPending.size());
    if (filled > 0) std::memcpy(FData.data(), FPending.data(), filled);
    FPendingStart = filled;
    FBytesOut += static_cast<std::int64_t>(filled);
    return static_cast<std::int32_t>(filled);
}

// ---- WAV ----

TWavReader::TWavReader(const std::string& fileName, std::uint32_t chunkSize)
    : TChunkedReader(fileName, chunkSize) {
    const TWavLayout layout = ParseWav(*FFile);
    FFormat = layout.Format;
    if (FFormat.SampleRate < MinWavSampleRate) throw EOpenWAV(WavNotConvertible);
    IAudioConversion* conversion = AudioConversion();
    if (conversion == nullptr) throw EOpenWAV(NoConversion);
    const std::uint32_t targetRate = ChooseTargetRate(FFormat.SampleRate);
    try {
        FConverter = conversion->CreatePcmConverter(FFormat, targetRate);
    } catch (const EError&) {
        throw EOpenWAV(WavNotConvertible);
    }
    if (!FConverter) throw EOpenWAV(WavNotConvertible);
    FFile->Seek(layout.DataOffset);
}

void TWavReader::DecodeBlock() {
    FConverted.clear();
    const std::size_t got = FFile->ReadBlock(FWavBuf.data(), FWavBuf.size());
    try {
        if (got < FWavBuf.size()) {
            FEnded = true;
            FConverter->Flush(FConverted);
        } else {
            FConverter->Convert(FWavBuf.data(), FWavBuf.size(), FConverted);
        }
    } catch (const EFileError&) {
        throw;
    } catch (const EError&) {
        throw EOpenWAV(WavConvertError);
    }
    Emit(FConverted);
}

// ---- MP3 ----

TMP3Reader::TMP3Reader(const std::string& fileName, std::uint32_t chunkSize)
    : TChunkedReader(fileName, chunkSize) {
    const std::optional<TMp3FrameInfo> frame = ProbeMp3(*FFile);
    if (!frame) throw EOpenMP3(Mp3FormatError);
    FProbedRate = frame->SampleRate;
    IAudioConversion* conversion = AudioConversion();
    if (conversion == nullptr) throw EOpenMP3(NoConversion);
    try {
        FDecoder = conversion->CreateMp3Decoder();
    } catch (const EError&) {
        throw EOpenMP3(Mp3ReadError);
    }
    if (!FDecoder) throw EOpenMP3(Mp3ReadError);
    // The whole file, tags included, goes to the decoder.
    FFile->Seek(0);
}

std::int32_t TMP3Reader::ReadChunk() {
    const std::int32_t filled = TChunkedReader::ReadChunk();
    if (BuffNo == 0 && filled == 0) throw EOpenMP3(Mp3FileError);
    if (filled > 0) ++BuffNo;
    return filled;
}

void TMP3Reader::FlushConverter() {
    if (!FConverter) return;
    FConverted.clear();
    FConverter->Flush(FConverted);
    Emit(FConverted);
}

void TMP3Reader::DecodeBlock() {
    const std::size_t got = FFile->ReadBlock(FMP3Buf.data(), FMP3Buf.size());
    try {
        if (got < FMP3Buf.size()) {
            FEnded = true;
            FlushConverter();
            return;
        }
        FDecoder->Feed(FMP3Buf.data(), FMP3Buf.size());
        const std::int16_t* samples = nullptr;
        std::size_t count = 0;
        TPcmFormat format;
        while (FDecoder->DecodeFrame(samples, count, format)) {
            if (!FConverter || !(format == FFormat)) {
                if (!ValidPcmFormat(format) || format.BitsPerSample != 16) {
                    throw EOpenMP3(Mp3ReadError);
                }
                FlushConverter();
                // The first format the decoder reports decides the target rate; a later
                // change of format keeps it so the output stays one continuous stream.
                if (FTargetRate == 0) FTargetRate = ChooseTargetRate(format.SampleRate);
                FConverter = AudioConversion() != nullptr
                                 ? AudioConversion()->CreatePcmConverter(format, FTargetRate)
                                 : nullptr;
                if (!FConverter) throw EOpenMP3(Mp3ReadError);
                FFormat = format;
            }
            const std::size_t frames = count / static_cast<std::size_t>(format.Channels);
            if (frames == 0) continue;
            FConverted.clear();
            FConverter->Convert(reinterpret_cast<const std::uint8_t*>(samples),
                                frames * static_cast<std::size_t>(format.FrameBytes()), FConverted);
            Emit(FConverted);
        }
    } catch (const EOpenMP3&) {
        throw;
    } catch (const EFileError&) {
        throw;
    } catch (const EError&) {
        throw EOpenMP3(Mp3ReadError);
    }
}

}  // namespace orvane::audio
