// The progress dialog "Please wait..." of every long main-thread task: a caption, a bar and
// "&Cancel". Its being shown marks a running long task (other such tasks refuse to start); while
// it shows, the main window takes no input, and the task keeps the application responsive by
// moving the bar, which processes pending events.
// Thread: main thread only.
#pragma once

#include <string>

#include <QDialog>
#include <QPointer>

#include "database/ILibraryUi.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace orvane::ui {

/// Idle (hidden, no task) -> running (ShowStats: shown, main window disabled) -> finished
/// (HideStats: hidden, main window enabled) or cancelled (the user: hidden, main window enabled,
/// Cancelled() true until the task calls HideStats).
class TForm11 : public QDialog, public database::IProgressDialog {
    Q_OBJECT

public:
    /// The refusal of a long task while another one runs.
    static constexpr const char* OtherTasksRunning = "There are currently other tasks running";

    /// `mainWindow` (not owned, may be null; guarded, so it may go first) is disabled while the
    /// dialog shows. The dialog is a window of its own without a parent, so disabling the main
    /// window leaves it usable; its creator owns it.
    explicit TForm11(QWidget* mainWindow);
    ~TForm11() override;

    /// Reset, the caption := `title` (UTF-8), the dialog shown (not modally), the main window
    /// disabled, pending events processed.
    void ShowStats(const std::string& title) override;
    /// `share` from 0 to 1 (clamped; NaN counts as 0): the bar moves to round(100 x share); only
    /// when it moved are pending events processed.
    void SetState(double share) override;
    /// True exactly when a task runs under the dialog and the user closed it.
    bool Cancelled() const override;
    /// Ends the task: no longer cancelled, main window enabled, dialog hidden.
    void HideStats() override;
    /// The dialog is shown: a long task is running.
    bool Showing() const override { return isVisible(); }
    /// Enables or disables "&Cancel" (a task that must not be interrupted disables it).
    void SetCancelEnabled(bool enabled) override;

    /// Hides the dialog and enables the main window, leaving a cancellation standing (a
    /// cancelled fingerprinting run ends so, and the batch around it still sees Cancelled).
    void HideDialog();
    /// SetState(0) and marks a task as running.
    void Reset();
    /// The bar's position, 0 ... 100.
    int Position() const;
    /// The caption line above the bar.
    QString Description() const;
    /// The "&Cancel" button (for the window's tests and keyboard handling).
    QPushButton* CancelButton() const { return FCancelButton; }

protected:
    /// Closing the window any way (the button, Escape, the close box) cancels the task, unless
    /// "&Cancel" is disabled.
    void reject() override;

private:
    void EnableMainWindow(bool enabled);

    QPointer<QWidget> FMainWindow;
    QLabel* FDescription = nullptr;
    QProgressBar* FProgressBar = nullptr;
    QPushButton* FCancelButton = nullptr;
    bool Canc = false;
};

}  // namespace orvane::ui
