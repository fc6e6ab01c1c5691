// Fingerprinting one audio file: decoding it, turning it into line keys and writing the
// fingerprint file. The menus, dialogs and the library wrap this through IExtractHost.
// Thread: the caller's (the main thread, or the CLI); borrows the one line-key converter, so the
// caller keeps recognition paused meanwhile (the host's Pause/Resume hooks are called for it).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/RefCounted.h"

namespace orvane::signal {
class QnKeyConversion;
}
namespace orvane::fingerprint {
class TSongServer;
}

namespace orvane::audio {

class TAudioReader;

enum class TAudioFileType { ftOther, ftWav, ftMp3 };

/// Bytes per decoded chunk: 4096 samples of 16-bit mono at 11025 Hz, which feed 32 keys.
inline constexpr std::uint32_t ExtractChunkBytes = 8192;
/// The three-slot sample ring the frames are taken from, in samples.
inline constexpr std::int32_t ExtractRingSamples = 3 * 4096;

/// What surrounds a fingerprinting run: where its messages go, the progress display, the
/// library. Every hook has a harmless default so a headless caller overrides only what it shows.
class IExtractHost {
public:
    virtual ~IExtractHost() = default;
    /// A message of the run with its activity icon (2 information, 3 attention, 4 error).
    virtual void Report(const std::string& text, int icon) = 0;
    /// True when a fingerprint with this title is loaded already; the host then reports it
    /// with the song list's skipping message and nothing is written.
    virtual bool TitleLoaded(const std::string& title) {
        (void)title;
        return false;
    }
    /// Loads a fingerprint file (just written, or found already calculated) into the library.
    virtual void LoadFingerprintFile(const std::string& path) { (void)path; }
    virtual void PauseRecognition() {}
    virtual void ResumeRecognition() {}
    /// Progress display of the run: shown with a caption, fed with the share of the file read.
    virtual void ShowStats(const std::string& caption) { (void)caption; }
    virtual void SetState(float share) { (void)share; }
    /// Polled after every chunk; a cancelled run writes nothing and reports nothing.
    virtual bool Cancelled() { return false; }
    /// Ends the progress display of a run that ended normally or with an error (a cancelled run
    /// only hides it, so a batch sees the cancellation too).
    virtual void HideStats() {}
    virtual void HideDialog() {}
    virtual void ClearStatusText() {}
};

enum class TExtractResult {
    erWritten,            ///< a new fingerprint file was written and handed to the library
    erAlreadyCalculated,  ///< a fingerprint file of this title existed; handed to the library
    erTitleLoaded,        ///< a fingerprint of that title is loaded; skipped
    erCancelled,          ///< cancelled through the host; nothing written
    erFailed,             ///< the reader could not open or decode the file; reported
};

/// The file type by the upper-cased extension: ".WAV", ".MP3", anything else.
TAudioFileType AudioFileTypeOf(const std::string& fileName);

/// The file name without its folder.
std::string FileNameOnly(const std::string& path);

/// The title of a fingerprint taken from an audio file: the file name without folder and
/// extension, or for an MP3 file with an ID3 version 1 tag "artist - song name" (each field
/// trimmed, read as Windows-1252). Throws EFileError when the tag cannot be read.
std::string FingerprintTitle(const std::string& fileName, TAudioFileType type);

/// Opens the reader for the file type with 8192-byte chunks. Throws EOpenWAV / EOpenMP3 / EError.
std::unique_ptr<TAudioReader> OpenAudioReader(const std::string& fileName, TAudioFileType type);

/// The decode loop: reads 8192-byte chunks until a short one (dropped) and appends 32 keys per
/// chunk from the third chunk on, frames every 128 samples, the first at sample 4224. The
/// converter's previous spectrum is cleared first. `onChunk(share)` is called after every chunk
/// with the share of the file read; returning false cancels. Returns false when cancelled.
/// `chunksRead` counts the full chunks read (also when an exception leaves the loop).
bool ComputeLineKeys(TAudioReader& reader, signal::QnKeyConversion& converter,
                     fingerprint::TSongServer& song, const std::function<bool(float)>& onChunk,
                     int* chunksRead = nullptr);

/// Fingerprints one WAV or MP3 file into `fingerprintFolder` (ending with a separator), from
/// the title rule to the written file handed to the library. The file is named after the title
/// (FingerprintFilePlace): when another title holds that name, the first free "name (2).qnf"
/// ... is written instead. A FIFO, device or folder is refused ("\"x.wav\" (a FIFO) is not a
/// regular file", error icon) before it is opened. `withProgress` false hides the
/// progress and makes the run uncancellable (an MP3 fingerprinted for another program).
/// Errors while writing the file propagate (EFileError); everything else is reported to the host.
TExtractResult ExtractFingerprint(const std::string& fileName, TAudioFileType type,
                                  const std::string& fingerprintFolder,
                                  signal::QnKeyConversion& converter, IExtractHost& host,
                                  bool withProgress = true);

}  // namespace orvane::audio
