// Where the library operations talk to the user: the progress dialog "Please wait...", message
// boxes and Yes/No questions, the fingerprint properties and deletion-list dialogs, and the bits
// of the main window they read or set. The Qt windows implement these; TPlainLibraryUi.h has
// plain ones for the command-line tool and tests.
// Thread: main thread only.
#pragma once

#include <cstdint>
#include <string>

namespace orvane::database {

/// The progress dialog of long main-thread tasks. Its being shown marks a running long task.
class IProgressDialog {
public:
    virtual ~IProgressDialog() = default;
    /// Shows the dialog with `title` and the bar at 0; a task is running from now on.
    virtual void ShowStats(const std::string& title) = 0;
    /// Moves the bar to `share` (0 ... 1), processing pending events when it moved.
    virtual void SetState(double share) = 0;
    /// True once the user pressed Cancel during the running task.
    virtual bool Cancelled() const = 0;
    /// Ends the task and hides the dialog.
    virtual void HideStats() = 0;
    /// Whether the dialog is shown (a long task is running).
    virtual bool Showing() const = 0;
    /// Enables or disables the dialog's Cancel button (a task that must not be interrupted).
    virtual void SetCancelEnabled(bool enabled) = 0;
};

/// The fields of the fingerprint properties dialog.
struct TFptProperties {
    /// The song list slot being shown.
    std::int32_t SongNo = -1;
    /// The clip name: the title on entry, the user's new name on OK.
    std::string EditName;
    /// The duration, "m:ss".
    std::string LabelDuration;
    /// The fingerprint file's path.
    std::string FileLabel;
};

/// The main window's side of the library operations.
class ILibraryWindow {
public:
    virtual ~ILibraryWindow() = default;
    /// A modal message box with `text` (OK button).
    virtual void ShowMessage(const std::string& text) = 0;
    /// A modal information question with Yes and No; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    /// Shows the properties dialog modally with `properties`; true when it closed with OK, and
    /// then properties.EditName holds the name the user entered.
    virtual bool ShowProperties(TFptProperties& properties) = 0;
    /// Shows the deletion-list dialog modally (it calls ApplyDeletionList on Apply).
    virtual void ShowDeletionList() = 0;
    /// Processes pending window events (keeps the window responsive during long work).
    virtual void ProcessMessages() = 0;
    /// Clears the text of the main window's status bar.
    virtual void ClearStatusText() = 0;
    /// Whether the menu item "Clear &fingerprint memory" is enabled.
    virtual bool ClearMemoryMenuEnabled() const = 0;
    /// Sets the check mark of the menu item "E&nabled".
    virtual void SetEnabledMenuChecked(bool checked) = 0;
};

}  // namespace orvane::database
