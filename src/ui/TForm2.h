// The capture dialog "Generate fingerprint from audio in": shows how long the capture from audio
// in has run, stops it, and takes the clip's title ("Artist - song title") for saving.
// Thread: main thread only. The key count it shows is read from the capture while the
// recognition thread may be appending to it (a display value).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <QDialog>
#include <QString>

#include "base/RefCounted.h"
#include "recognition/FptRecorder.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QTimer;

namespace orvane::ui {

/// The dialog. It closes with Accepted for "S&ave && close" and Rejected for "&Cancel", Escape
/// or the close box. States: capturing (from the show until "&Stop capturing", the key limit or
/// "S&ave && close") -> stopped.
class TForm2 : public QDialog {
    Q_OBJECT

public:
    /// The status while capturing: this text, "[", the duration (m:ss) and "] - max 3 h 23 min".
    static constexpr const char* CapturingText = "Capturing in progress...";
    static constexpr const char* LimitText = "] - max 3 h 23 min";
    static constexpr const char* StoppedText = "Capturing stopped";

    /// `parent` may be null (the dialog is then a window of its own, centred on the desktop).
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    /// Readies the dialog for a capture before it is shown: `capture` is the capture whose keys
    /// are counted and which stopping unregisters from `recorder` (both may be null in tests;
    /// `recorder` must outlive the dialog's use). Empties the title, "&Stop capturing" enabled
    /// and default, "S&ave && close" neither.
    void Prepare(TRefPtr<recognition::IRecInfo> capture, recognition::FptRecorder* recorder);

    /// Asked when "S&ave && close" is pressed, with the title (UTF-8), after capturing has
    /// stopped: false keeps the dialog open with the focus on the title (the asker has told the
    /// user why). Unset: every title is taken.
    std::function<bool(const std::string& title)> OnSaveTitle;

    /// The title typed into Edit1 (UTF-8).
    std::string TitleText() const;
    /// Whether the capture is still running (not yet stopped in this dialog).
    bool Capturing() const { return !FStopped; }
    /// The status bar's text.
    QString StatusText() const;

    /// Timer1's tick: stops the capture past the key limit, else shows its duration.
    void Timer1Timer();
    /// "&Stop capturing": no more keys, Timer1 stopped, "S&ave && close" default (and enabled
    /// when there is a title, else the focus goes to the title), status "Capturing stopped".
    void Button4Click();
    /// "S&ave && close": stops capturing, asks OnSaveTitle, closes with Accepted.
    void Button3Click();

    // The controls, named as in the window's layout (for the flow and the tests).
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QTimer* Timer1 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void StopCapturing();
    void Edit1Change();
    void SetStatus(const QString& text);

    TRefPtr<recognition::IRecInfo> FCapture;
    recognition::FptRecorder* FRecorder = nullptr;
    QLabel* FStatusPanel = nullptr;
    bool FStopped = false;
};

/// The status text of a capture of `keyCount` line keys: "Capturing in progress... [m:ss] - max
/// 3 h 23 min", the duration being keyCount x 128 / 11025 s rounded to the second.
QString CapturingStatus(std::int64_t keyCount);

}  // namespace orvane::ui
