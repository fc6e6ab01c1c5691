// Audio file readers: turn a WAV or MP3 file into chunks of the engine audio format
// (16-bit signed little-endian mono PCM at 11025 Hz).
// Thread: a reader is created, read and destroyed by one thread at a time (the main thread
// when fingerprinting files, a file channel's reading thread when playing one).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioConversion.h"
#include "audio/AudioFile.h"
#include "audio/Resample.h"
#include "base/Errors.h"

namespace orvane::audio {

/// A WAV file that cannot be opened as audio, or whose conversion failed.
class EOpenWAV : public EError {
public:
    using EError::EError;
};

/// An MP3 file that cannot be opened as audio, or whose decoding failed.
class EOpenMP3 : public EError {
public:
    using EError::EError;
};

/// Engine audio: 11025 samples of 2 bytes per second.
constexpr std::int64_t EngineBytesPerSecond = 22050;
/// Source block sizes: the readers feed the conversion this many file bytes at a time; a
/// shorter last block is never decoded.
constexpr std::size_t WavBlockSize = 512;
constexpr std::size_t Mp3BlockSize = 522;
/// Largest chunk a reader accepts, in bytes.
constexpr std::uint32_t MaxChunkSize = 64u * 1024u * 1024u;
/// Lowest sample rate of a WAV file the reader converts, in Hz. Below it a file of a few
/// hundred kilobytes would turn into hours of audio at 11025 Hz (millions of keys).
constexpr std::uint32_t MinWavSampleRate = 4000;

/// A decoded audio file delivered in chunks of a fixed number of bytes.
class TAudioReader {
public:
    virtual ~TAudioReader() = default;
    TAudioReader(const TAudioReader&) = delete;
    TAudioReader& operator=(const TAudioReader&) = delete;

    /// The chunk buffer: 16-bit LE mono samples at 11025 Hz, Size() bytes long. Owned by the
    /// reader; valid until the next ReadChunk.
    virtual const std::uint8_t* Data() const = 0;
    /// The chunk size in bytes.
    virtual std::uint32_t Size() const = 0;
    /// Seconds of audio delivered so far (bytes / 22050, rounded half to even).
    virtual std::int32_t Position() const = 0;
    /// Fills Data() with the next chunk; returns the bytes delivered: Size(), or fewer (possibly
    /// 0) at the end of the file. Throws EOpenWAV / EOpenMP3 when decoding fails and
    /// orvane::EFileError when the file cannot be read.
    virtual std::int32_t ReadChunk() = 0;
    /// Share of the file consumed so far, 0 ... 1 (for progress bars).
    virtual float getPos() const = 0;

protected:
    TAudioReader() = default;
    std::int64_t FBytesOut = 0;  // bytes delivered by ReadChunk so far
};

/// The machinery both readers share: pending output, chunk buffer, the optional 16000 Hz
/// step. Not for use outside the readers.
class TChunkedReader : public TAudioReader {
public:
    const std::uint8_t* Data() const override { return FData.data(); }
    std::uint32_t Size() const override { return FChunkSize; }
    std::int32_t Position() const override;
    std::int32_t ReadChunk() override;
    float getPos() const override;
    /// True when the conversion gives 16000 Hz and ResampleTo11025 makes 11025 Hz of it (the
    /// source rate is a multiple of 8000 Hz). For MP3 known after the first decoded frame.
    bool Conv16() const { return FConv16; }

protected:
    TChunkedReader(const std::string& fileName, std::uint32_t chunkSize);
    /// Decodes the next source block into the pending output (via Emit); sets FEnded when the
    /// file has no whole block left, after flushing what the conversion still holds.
    virtual void DecodeBlock() = 0;
    /// Passes converted samples (16-bit mono at 11025 Hz, or 16000 Hz when FConv16) on.
    void Emit(const std::vector<std::int16_t>& samples);
    /// The target rate of the conversion for a source rate; sets FConv16.
    std::uint32_t ChooseTargetRate(std::uint32_t sourceRate);

    std::unique_ptr<TAudioFile> FFile;
    std::uint32_t FChunkSize = 0;
    bool FConv16 = false;  // the conversion gives 16000 Hz and FResampler makes 11025 Hz of it
    bool FEnded = false;
    std::vector<std::int16_t> FConverted;  // output of the conversion for one block

private:
    std::vector<std::uint8_t> FData;     // chunk buffer, FChunkSize bytes
    std::vector<std::uint8_t> FPending;  // converted bytes not yet delivered
    std::size_t FPendingStart = 0;       // bytes of FPending already delivered
    TResampleTo11025 FResampler;
    std::vector<std::int16_t> FResampled;
};

/// Reads a RIFF/WAVE file of integer PCM (8-bit unsigned, 16/24/32-bit signed, 1..8 channels).
/// Audio runs from the start of the "data" body to the end of the file; chunks after "data"
/// are decoded as audio too.
class TWavReader final : public TChunkedReader {
public:
    /// Opens and parses `fileName` for chunks of `chunkSize` bytes (1 ... MaxChunkSize).
    /// Throws EOpenWAV "Error in wav file." for a malformed or unsupported file,
    /// orvane::EFileError when it cannot be opened or read (orvane::ENotRegularFile for a FIFO,
    /// device, socket or folder), EInvalidOperation for a bad chunk size, EOpenWAV when no
    /// conversion layer is installed, EOpenWAV "This wav format cannot be converted." for a
    /// sample rate below MinWavSampleRate or a format the conversion cannot take.
    TWavReader(const std::string& fileName, std::uint32_t chunkSize);

    /// The format of the file's "fmt " chunk.
    const TPcmFormat& Format() const { return FFormat; }

private:
    void DecodeBlock() override;

    TPcmFormat FFormat;
    std::unique_ptr<IPcmConverter> FConverter;
    std::array<std::uint8_t, WavBlockSize> FWavBuf{};
};

/// Reads an MPEG audio file (layer III, also I and II); the whole file, tags included, is fed
/// to the decoder.
class TMP3Reader final : public TChunkedReader {
public:
    /// Opens and probes `fileName` for chunks of `chunkSize` bytes (1 ... MaxChunkSize).
    /// Throws EOpenMP3 "Error in mp3 format." when no frame is found, orvane::EFileError when
    /// it cannot be opened or read, EInvalidOperation for a bad chunk size, EOpenMP3 when no
    /// conversion layer is installed. ReadChunk throws EOpenMP3 "Error in mp3 file." when the
    /// first chunk is empty and "Error reading mp3." when decoding fails.
    TMP3Reader(const std::string& fileName, std::uint32_t chunkSize);

    std::int32_t ReadChunk() override;
    /// Current byte offset in the file (source blocks consumed).
    std::uint64_t filePos() const { return FFile->Position(); }
    /// Sample rate of the first frame the probe accepted, in Hz.
    std::uint32_t ProbedSampleRate() const { return FProbedRate; }

private:
    void DecodeBlock() override;
    void FlushConverter();

    std::unique_ptr<IMp3Decoder> FDecoder;
    std::unique_ptr<IPcmConverter> FConverter;  // made when the decoder reports its format
    TPcmFormat FFormat;                         // format FConverter converts from
    std::uint32_t FTargetRate = 0;
    std::uint32_t FProbedRate = 0;
    std::int32_t BuffNo = 0;  // chunks delivered
    std::array<std::uint8_t, Mp3BlockSize> FMP3Buf{};
};

/// Parsed layout of a WAV file.
struct TWavLayout {
    TPcmFormat Format;
    std::uint16_t FormatTag = 0;
    std::uint64_t DataOffset = 0;  ///< offset of the "data" body
};

/// Parses the RIFF/WAVE structure: "RIFF" + size (file size - 8) + "WAVE", then chunks from
/// offset 12 without padding, each of size >= 1, ending exactly at the end of the file; a
/// "fmt " of at least 16 bytes with format tag 1 (or the extensible tag 0xFFFE with the PCM
/// sub-format, reported as tag 1) and a format ValidPcmFormat accepts, with
/// block alignment = channels * bits / 8; a "data" chunk. Throws EOpenWAV "Error in wav file."
TWavLayout ParseWav(const TAudioFile& file);

}  // namespace orvane::audio
