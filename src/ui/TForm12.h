// The deletion list "Deletion List": the user enters titles, one per line, and "&Apply" marks
// every loaded fingerprint of such a title with an X; titles that matched none stay in the list.
// Nothing is deleted.
// Thread: main thread only; Apply keeps the window responsive by processing pending events.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QDialog>

#include "database/TDeletionList.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;

namespace orvane::database {
class TFptLibrary;
}

namespace orvane::ui {

/// The matching behind "&Apply": the memo's lines in, what is left out; `doCancel` is set by
/// "&Cancel..." while it runs (it processes pending events once half a second has passed, and
/// resets the flag when it stops for it).
using TApplyDeletionList =
    std::function<database::TDeletionListResult(std::vector<std::string> lines, bool& doCancel)>;

class TForm12 : public QDialog {
    Q_OBJECT

public:
    /// The label above the memo.
    static constexpr const char* LabelText =
        "Add titles to be deleted to the Deletion List and press Apply.";
    /// What shows behind the memo while Apply runs.
    static constexpr const char* WorkingText = "Working. Please wait...";

    /// The dialog, hidden, its memo empty, centred on the desktop. `parent` owns it.
    explicit TForm12(TApplyDeletionList apply, QWidget* parent = nullptr);
    ~TForm12() override;

    /// Shows a deletion list over `library` modally; true when it closed with OK (every title
    /// matched), false when the user closed it.
    static bool Execute(QWidget* parent, database::TFptLibrary& library);

    /// "&Apply": the memo hidden and both buttons disabled while the titles are matched; then
    /// the memo holds the titles that matched none. With titles left (and not cancelled) the
    /// message "Not all titles could be matched." and the dialog stays open; with none left it
    /// closes with OK.
    void ApplyClick();
    /// While Apply runs, "&Close", Escape and the close box ask it to stop instead of closing.
    void reject() override;
    /// Whether Apply is running.
    bool Working() const { return FWorking; }

    /// Shows an information message with OK (a message box; tests replace it). Main thread.
    std::function<void(const QString& text)> ShowMessage;

    /// The memo's lines (UTF-8).
    std::vector<std::string> Lines() const;
    /// Replaces the memo's lines.
    void SetLines(const std::vector<std::string>& lines);

    // Parts for tests.
    QPlainTextEdit* Memo1() const { return FMemo1; }
    QPushButton* ApplyButton() const { return FApplyButton; }
    QPushButton* CloseButton() const { return FCloseButton; }
    QPushButton* CancelButton() const { return FCancelButton; }
    QLabel* WorkingLabel() const { return FWorkingLabel; }

private:
    void SetWorking(bool working);

    TApplyDeletionList FApply;
    QPlainTextEdit* FMemo1 = nullptr;
    QStackedWidget* FStack = nullptr;
    QLabel* FWorkingLabel = nullptr;
    QPushButton* FApplyButton = nullptr;
    QPushButton* FCloseButton = nullptr;
    QPushButton* FCancelButton = nullptr;
    bool FWorking = false;
    bool DoCancel = false;
};

}  // namespace orvane::ui
