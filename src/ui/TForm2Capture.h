// The capture from audio in as the menu item "&Capture from audio in..." runs it: the checks, the
// capture registered with the recorder, the dialog TForm2, and on "S&ave && close" the
// fingerprint file written to the fingerprint folder and loaded into the library.
// Thread: main thread only (the recognition thread fills the capture meanwhile).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/RefCounted.h"
#include "recognition/FptRecorder.h"

namespace orvane::ui {

class TForm2;

/// What the capture needs of the main window. Unset message hooks show Qt message boxes.
struct TCaptureHost {
    /// Whether the progress dialog "Please wait..." is showing (another long task runs).
    std::function<bool()> OtherTasksRunning;
    /// Number of channels that are switched on.
    std::function<std::int32_t()> ActiveChannelCount;
    /// A modal message box with an OK button.
    std::function<void(const std::string& text)> ShowMessage;
    /// A modal information question with OK and Cancel; true for OK.
    std::function<bool(const std::string& text)> AskOkCancel;
    /// The fingerprint folder (FpFolder); a missing trailing separator is added.
    std::function<std::string()> FingerprintFolder;
    /// Loads a fingerprint file into the library with no answer channel (TFptLibrary::
    /// LoadFingerprintFile(path, nullptr)); its errors propagate.
    std::function<void(const std::string& path)> LoadFingerprintFile;
};

/// How a capture ended.
enum class TCaptureOutcome {
    coOtherTasks,       ///< another long task runs: refused with a message
    coNoActiveChannel,  ///< no channel is on: refused with a message
    coDeclined,         ///< the user did not confirm the start
    coDiscarded,        ///< cancelled or closed: nothing written
    coSaved,            ///< written and handed to the library
};

/// The channel captures listen to (the program has one channel).
inline constexpr std::int32_t CaptureChannel = 0;

/// The refusals and the question of a capture (UTF-8; "\n" ends a line).
inline constexpr const char* OtherTasksRunningText = "There are currently other tasks running";
inline constexpr const char* NoActiveChannelText =
    "There are currently no active channels. \nFingerprints can only be captured from active "
    "channels.";
inline constexpr const char* StartRecordingText = "Click OK to start recording.";

/// The text that refuses a title whose fingerprint file exists already.
std::string FileExistsText(const std::string& fileName);

/// `title` cut at a character boundary so that its stored form (byte-order mark and UTF-8
/// bytes) fits the 108 bytes a fingerprint header holds.
std::string StoredTitle(const std::string& title);

/// The capture flow. `recorder` and `dialog` must outlive it.
class TForm2Capture {
public:
    TForm2Capture(recognition::FptRecorder& recorder, TForm2& dialog, TCaptureHost host);

    /// The whole capture (shows TForm2 modally). With a title and "S&ave && close": the keys
    /// are written to FpFolder + the title made safe for file names + ".qnf" and the file is
    /// loaded into the library. A title whose file exists already is refused in the dialog
    /// (nothing is overwritten). Errors of writing and loading propagate (EError); the capture
    /// is released in every case.
    TCaptureOutcome MenuItemCapAudioInClick();

    /// The capture in progress (null when none).
    const TRefPtr<recognition::IRecInfo>& RecordAudioInFP() const { return FRecordAudioInFP; }
    /// The fingerprint file the last saved capture was written to.
    const std::string& LastFileName() const { return FLastFileName; }
    /// The file a capture titled `title` is written to.
    std::string FileNameFor(const std::string& title) const;

private:
    void ShowMessage(const std::string& text);
    bool AskOkCancel(const std::string& text);

    recognition::FptRecorder& FRecorder;
    TForm2& FDialog;
    TCaptureHost FHost;
    TRefPtr<recognition::IRecInfo> FRecordAudioInFP;
    std::string FLastFileName;
};

}  // namespace orvane::ui
