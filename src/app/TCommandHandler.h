// The commands of the command line and of later starts: fingerprint a WAV or MP3 file, load a
// fingerprint file, or load a name from the fingerprint folder; also the fingerprinting of one
// audio file with its checks, for the menus and for other programs (answer channel).
// Thread: main thread only (fingerprinting borrows the one line-key converter while
// recognition is paused).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QStringList>

#include "audio/FptExtract.h"
#include "database/ILibraryUi.h"
#include "database/TFptLibrary.h"
#include "database/TSongList.h"
#include "signal/QnFFT.h"
#include "tracking/IAnswerChannel.h"
#include "tracking/IRecognitionPause.h"
#include "tracking/TMemoryGuard.h"
#include "tracking/TPosting.h"

namespace orvane::app {

/// The message of a name that is neither audio nor a fingerprint that exists.
inline constexpr char OnlyMp3AndWavText[] =
    "Only .mp3 and .wav files are supported for fingerprint extraction";
/// The refusal of a batch while the progress dialog shows another task.
inline constexpr char OtherTasksRunningText[] = "There are currently other tasks running";
/// Memory guard request ids of the two fingerprinting menu operations.
inline constexpr std::int32_t ExtractOneGuardId = 4;
inline constexpr std::int32_t ExtractAllGuardId = 9;
/// The answer for a ".qnf" name found nowhere.
inline constexpr char NoFingerprintFileText[] = "Could not find fingerprint file.";

/// What the commands work with; all must outlive the handler, none is owned. `Library` and
/// `SongList` are null until the main window made them: commands are ignored until then.
struct TCommandParts {
    database::TFptLibrary* Library;
    database::TSongList* SongList;
    database::TMediumDB* MainDB;
    tracking::IRecognitionPause& Pause;
    const tracking::TPosting& Posting;
    tracking::TMemoryGuard& Guard;
    database::IProgressDialog& Progress;
    database::ILibraryWindow& Window;
    signal::QnKeyConversion& Converter;
};

/// The upper-cased extension of a path with its dot (".MP3"); empty when the file name has none.
std::string UpperExtension(const std::string& path);
/// Whether a start parameter is a switch rather than a command: it begins with "-", or it
/// begins with "/" and has no further "/" ("/min"; an absolute path has a folder part).
bool IsSwitchParameter(const std::string& parameter);
/// Parameters of a start as the running instance gets them: a parameter naming an existing file
/// relative to this process's working folder is made absolute (the running instance has a
/// working folder of its own); all others stay as they are.
QStringList ResolveForwardedParameters(const QStringList& parameters);

/// The open dialog of "&Take fingerprint of an audio file...": returns the chosen path, empty
/// when the user cancelled. Main thread.
using TChooseAudioFile = std::function<std::string()>;

/// "Error: Could not find folder \"<folder>\"."
std::string FolderMissingText(const std::string& folder);

class TCommandHandler {
public:
    explicit TCommandHandler(const TCommandParts& parts) : FParts(parts) {}

    /// Carries out one command `s` with answers to `answer` (or the activity history when
    /// null): ".MP3"/".WAV" fingerprints the file; ".QNF" loads it, or the file of that name in
    /// the fingerprint folder ("Could not find fingerprint file." to `answer` only); any other
    /// name loads name.qnf (from the fingerprint folder when it has no folder part) or reports
    /// that only .mp3 and .wav are supported (attention). Then lets the window process pending
    /// events. Throws what fingerprinting or loading throws (EFileError, EDBError, bad_alloc).
    void HandleCommand(const std::string& s, tracking::IAnswerChannel* answer);

    /// The first instance's own parameters 1…N: more than 48 mark the key index unsorted first;
    /// switches are skipped; a command that throws is reported as an error entry and the next
    /// one runs. The caller optimises the index afterwards.
    void HandleCommandLine(const std::vector<std::string>& parameters);

    /// The commands a later start forwarded, while it waits: each one handled as on the command
    /// line (a throwing command reported, the rest still run), then the index optimised once
    /// when the number of loaded fingerprints changed. Ignored before the song list exists.
    void HandleForwardedCommands(const QStringList& commands);

    /// Fingerprints one audio file of `type` into the fingerprint folder, after the memory
    /// guard, the folder check ("Error: Could not find folder \"%s\"." — to `answer`, or a
    /// message box) and the access test (the file opened for reading and writing; a failure is
    /// reported with the file error text). Throws EFileError when the fingerprint cannot be
    /// written.
    audio::TExtractResult ExtractAudioFingerprint(const std::string& file,
                                                  audio::TAudioFileType type,
                                                  tracking::IAnswerChannel* answer);
    audio::TExtractResult ExtractWavFingerprint(const std::string& file,
                                                tracking::IAnswerChannel* answer) {
        return ExtractAudioFingerprint(file, audio::TAudioFileType::ftWav, answer);
    }
    audio::TExtractResult ExtractMp3Fingerprint(const std::string& file,
                                                tracking::IAnswerChannel* answer) {
        return ExtractAudioFingerprint(file, audio::TAudioFileType::ftMp3, answer);
    }

    /// "&Take fingerprint of an audio file...": memory guard 4, the file chosen by `choose`
    /// (nothing happens when it returns empty), then under the recognition pause the file
    /// fingerprinted by its extension (".MP3", ".WAV" in any case; anything else is reported as
    /// unsupported and ends the operation) and the index optimised with progress. Throws what
    /// fingerprinting throws; recognition is resumed in every case.
    void MenuItemExtractWavClick(const TChooseAudioFile& choose);

    /// "Take fingerprints of &all audio files in batch conversion folder": memory guard 9;
    /// refused with a message box while the progress dialog shows another task, or when the
    /// fingerprint folder or `batchFolder` does not exist; then under the recognition pause
    /// every entry of `batchFolder` in the order the file system lists them, ".WAV" and ".MP3"
    /// (any case) fingerprinted and all others skipped, until the progress dialog reports a
    /// cancellation; last the index optimised with progress. Throws what fingerprinting
    /// throws; recognition is resumed in every case.
    void MenuItemExtractAllWavClick(const std::string& batchFolder);

private:
    /// Ends a cancellation the progress dialog still reports, so that the next task starts
    /// uncancelled.
    void EndCancellation();
    void LoadFile(const std::string& path, tracking::IAnswerChannel* answer);
    void ReportFailure(const std::exception& e);
    std::string FpFolder() const;

    TCommandParts FParts;
};

}  // namespace orvane::app
