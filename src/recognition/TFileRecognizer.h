// Recognising audio files headless: each file is played through a file-mode channel as fast as
// the engine goes, with the recognition thread, the search and a song tracker whose "now" is the
// stream time of the analysed audio, so the same file gives the same clips on any machine.
// Thread: Recognize runs on the caller's thread (the one that loaded the library, acting as the
// main thread) and starts a recognition thread and a reading thread per file; the library must
// not change while it runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recognition/QnChServer.h"
#include "tracking/TActivityData.h"
#include "tracking/TLogSystem.h"

namespace orvane::database {
class TMediumDB;
class TSongList;
}  // namespace orvane::database

namespace orvane::recognition {

/// How far a clip record's TimeStamp lies after the point of the file where its clip position
/// Pos is: the stamp is the end of the matched frame less one hop (4096 - 128 samples after the
/// frame's start), and a fingerprint's key p is the frame starting 4224 + 128p samples into the
/// clip. In seconds: 8192 / 11025.
inline constexpr double StampLeadSeconds = 8192.0 / EngineSampleRate;

/// One clip heard in a file: the tracker's log line and where the heard part lies.
struct TRecognizedClip {
    tracking::TLoggedClip Logged;
    /// Clip positions (seconds into the clip) of the first and the last record that showed it.
    double FirstPos = 0;
    double LastPos = 0;
    /// The logged span in the clip: FirstPos - 1.5 (at least 0) ... LastPos + 0.3, unrounded.
    double ClipBegin = 0;
    double ClipEnd = 0;
    /// The same span as seconds into the file.
    double StartInFile = 0;
    double EndInFile = 0;
    /// Where the clip's start (position 0) lies in the file, in seconds (may be negative when
    /// the file begins inside the clip).
    double ClipStartInFile = 0;
};

/// The outcome of one file.
struct TFileRecognition {
    std::vector<TRecognizedClip> Clips;
    /// Activity entries other than log lines: duplicate-disabled notes, read errors.
    std::vector<tracking::TActivityData> Notes;
    /// False when the file could not be opened or read to its end; Error says why.
    bool Read = true;
    std::string Error;
    /// Seconds of audio analysed.
    double Seconds = 0;
};

class TFileRecognizer {
public:
    /// `songs` and `index` (sorted) must outlive the recognizer and stay unchanged while it
    /// runs. `options` are the search's user options; `idleTimeout` the tracker's in seconds.
    TFileRecognizer(const database::TSongList& songs, const database::TMediumDB& index,
                    TRecognitionOptions options, std::int32_t idleTimeout = 5);

    /// Plays `fileName` (WAV or MP3) through a fresh channel "Channel01" in file mode and
    /// returns the clips heard, in the order they were logged. A file that cannot be opened or
    /// read gives Read false and the reason. Fingerprints found to be duplicates are disabled
    /// in the library (as the application does).
    TFileRecognition Recognize(const std::string& fileName) const;

private:
    const database::TSongList& FSongs;
    const database::TMediumDB& FIndex;
    TRecognitionOptions FOptions;
    std::int32_t FIdleTimeout;
};

}  // namespace orvane::recognition
