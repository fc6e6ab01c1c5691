#include "audio/FptExtract.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
#include <vector>

#include "audio/uOpenAudio.h"
#include "base/Errors.h"
#include "base/RegularFile.h"
#include "base/TextCodec.h"
#include "fingerprint/FptAux.h"
#include "fingerprint/FptFile.h"
#include "signal/QnFFT.h"
#include "tracking/ReportFileError.h"

namespace orvane::audio {
namespace {

constexpr std::int32_t ChunkSamples = 4096;
constexpr std::int32_t KeysPerChunk = 32;
constexpr std::int32_t Hop = 128;

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

/// The ID3 version 1 tag of an MP3 file: the last 128 bytes, when they begin with "TAG".
bool ReadId3v1(const std::string& fileName, std::array<char, 128>& tag) {
    const TRegularFile file(fileName);
    if (file.Size() < tag.size()) return false;
    const auto offset = static_cast<off_t>(file.Size() - tag.size());
    return ::pread(file.Fd(), tag.data(), tag.size(), offset) == static_cast<ssize_t>(tag.size()) &&
           std::memcmp(tag.data(), "TAG", 3) == 0;
}

/// A fixed-width tag field: ends at its first zero byte, blanks trimmed, Windows-1252.
std::string TagField(const std::array<char, 128>& tag, std::size_t offset, std::size_t length) {
    std::string_view field(tag.data() + offset, length);
    field = field.substr(0, field.find('\0'));
    return Cp1252ToUtf8(TrimBlanks(field));
}

}  // namespace

TAudioFileType AudioFileTypeOf(const std::string& fileName) {
    std::string ext = UpperAscii(std::filesystem::path(fileName).extension().string());
    if (ext == ".WAV") return TAudioFileType::ftWav;
    if (ext == ".MP3") return TAudioFileType::ftMp3;
    return TAudioFileType::ftOther;
}

std::string FileNameOnly(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string FingerprintTitle(const std::string& fileName, TAudioFileType type) {
    if (type == TAudioFileType::ftMp3) {
        std::array<char, 128> tag{};
        if (ReadId3v1(fileName, tag)) {
            return TagField(tag, 33, 30) + " - " + TagField(tag, 3, 30);
        }
    }
    return SanitizeUtf8(std::filesystem::path(fileName).stem().string());
}

std::unique_ptr<TAudioReader> OpenAudioReader(const std::string& fileName, TAudioFileType type) {
    if (type == TAudioFileType::ftMp3)
        return std::make_unique<TMP3Reader>(fileName, ExtractChunkBytes);
    return std::make_unique<TWavReader>(fileName, ExtractChunkBytes);
}

bool ComputeLineKeys(TAudioReader& reader, signal::QnKeyConversion& converter,
                     fingerprint::TSongServer& song, const std::function<bool(float)>& onChunk,
                     int* chunksRead) {
    // Three slots of one chunk each; a frame starts in the slot before the newest one, so the
    // 32 frames of a chunk end with its last sample.
    std::vector<std::int16_t> ring(ExtractRingSamples, 0);
    std::array<std::uint32_t, KeysPerChunk> keys{};
    converter.ClearSpectrum();
    int chunkCount = 0;
    int slot = 0;
    if (chunksRead != nullptr) *chunksRead = 0;
    for (;;) {
        std::int32_t got = reader.ReadChunk();
        if (got < static_cast<std::int32_t>(ExtractChunkBytes))
            break;  // a short last chunk is dropped
        std::memcpy(ring.data() + slot * ChunkSamples, reader.Data(), ExtractChunkBytes);
        const int prev = (slot + 2) % 3;
        slot = (slot + 1) % 3;
        ++chunkCount;
        if (chunksRead != nullptr) *chunksRead = chunkCount;
        if (chunkCount >= 3) {
            for (int k = 1; k <= KeysPerChunk; ++k) {
                // k = 32 of the last slot gives startIndex = 12,288, which wraps to 0.
                keys[static_cast<std::size_t>(k - 1)] = converter.wav2linekeyMod(
                    ring.data(), k * Hop + prev * ChunkSamples, ExtractRingSamples);
            }
            song.Add(keys.data(), KeysPerChunk);
        }
        if (onChunk && !onChunk(reader.getPos())) return false;
    }
    return true;
}

TExtractResult ExtractFingerprint(const std::string& fileName, TAudioFileType type,
                                  const std::string& fingerprintFolder,
                                  signal::QnKeyConversion& converter, IExtractHost& host,
                                  bool withProgress) {
    const bool isMp3 = type == TAudioFileType::ftMp3;
    const std::string shortName = FileNameOnly(fileName);
    // Only read access is needed: a read-only file or one another program holds open is
    // fingerprinted like any other.
    // A FIFO or device is refused before anything could block on it.
    try {
        const TRegularFile probe(fileName, shortName);
    } catch (const ENotRegularFile& e) {
        host.Report(e.what(), 4);
        return TExtractResult::erFailed;
    } catch (const EFileError& e) {
        host.Report(tracking::FileErrorText(shortName, isMp3 ? "mp3 file" : "wav file",
                                            e.ErrorCode),
                    4);
        return TExtractResult::erFailed;
    }
    const std::string title = FingerprintTitle(fileName, type);
    if (host.TitleLoaded(title)) return TExtractResult::erTitleLoaded;

    // Another title may own the file name already ("song?" and "song_"): then the first free
    // "song_ (2).qnf" ...; only a file of this very title counts as already calculated.
    const fingerprint::TFingerprintPlace place =
        fingerprint::FingerprintFilePlace(fingerprintFolder, title);
    const std::string& fptFile = place.FileName;
    if (place.HoldsTitle) {
        host.Report("Fingerprint of " + Quoted(shortName) + " has already been calculated", 3);
        host.LoadFingerprintFile(fptFile);
        return TExtractResult::erAlreadyCalculated;
    }

    host.PauseRecognition();
    struct TResumeAtEnd {
        IExtractHost& Host;
        ~TResumeAtEnd() { Host.ResumeRecognition(); }
    } resume{host};

    host.Report("Extracting fingerprint from " + Quoted(shortName), 2);
    std::unique_ptr<TAudioReader> reader;
    try {
        reader = OpenAudioReader(fileName, type);
    } catch (const std::exception& e) {
        host.Report(e.what(), 3);
        return TExtractResult::erFailed;
    }

    // WAV always shows progress; an MP3 for another program neither shows it nor cancels.
    const bool progress = !isMp3 || withProgress;
    auto song = MakeRef<fingerprint::TSongServer>();
    int chunks = 0;
    bool completed = false;
    try {
        if (progress) host.ShowStats("Decoding " + Quoted(shortName) + "...");
        completed = ComputeLineKeys(
            *reader, converter, *song,
            [&](float share) {
                if (!progress) return true;
                host.SetState(share);
                return !host.Cancelled();
            },
            &chunks);
    } catch (const std::exception&) {
        if (!isMp3) {
            host.Report("An error occurred while deconding the wav file. ", 4);
        } else if (chunks >= 3) {
            host.Report(Quoted(shortName) + " has errors. No fingerprint created", 4);
        } else {
            host.Report("An error occurred while decoding the mp3 file. ", 4);
        }
        host.ClearStatusText();
        host.HideStats();
        host.HideDialog();
        return TExtractResult::erFailed;
    }
    if (!completed) {
        host.HideDialog();
        return TExtractResult::erCancelled;
    }

    host.ClearStatusText();
    try {
        fingerprint::WriteFingerprintFile(*song, title, fptFile);
    } catch (...) {
        // The write error is the caller's to report; the progress display must not outlive it.
        host.HideStats();
        host.HideDialog();
        throw;
    }
    host.LoadFingerprintFile(fptFile);
    host.HideStats();
    host.HideDialog();
    return TExtractResult::erWritten;
}

}  // namespace orvane::audio
