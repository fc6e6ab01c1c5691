// The quick search: a small modal window that finds rows of a list (the main window's
// fingerprint list) by typed words and hands back the row the user picks; and the rule by which
// the fingerprint list opens it when a letter or digit is typed.
// Thread: main thread only.
#pragma once

#include <vector>

#include <QDialog>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>

class QEvent;
class QGroupBox;
class QKeyEvent;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace orvane::ui {

class TQnTitle;

/// `text` with the letters a to z upper-cased; every other character, accented letters
/// included, stays as it is. Pure.
QString QuickSearchUpper(const QString& text);
/// The words of a search text: maximal runs of "-", "0" to "9", "A" to "Z" and "a" to "z",
/// upper-cased by QuickSearchUpper; every other character separates words ("Café" gives
/// "CAF"). Pure.
QStringList QuickSearchWords(const QString& text);
/// Whether `caption`, upper-cased the same way, contains every word as a substring (no words:
/// every caption matches). Pure.
bool QuickSearchMatches(const QStringList& words, const QString& caption);
/// The indexes of the captions that match `text`, in caption order. Pure.
std::vector<int> QuickSearchFilter(const QString& text, const QStringList& captions);
/// Whether a typed character opens the quick search: "0" to "9", "A" to "Z", "a" to "z".
bool OpensQuickSearch(QChar typed);

/// The quick search over one list. Build one per key press, call DoSearch, then let it go.
class TQuickSearch {
public:
    /// The window, "Jump to fingerprint", 300 × 400 at `position` (global coordinates), over
    /// the rows (column 0 captions) of `listView`, which must outlive the object; `initialText`
    /// in the search field. `parent` (may be null) owns nothing of it; it only keeps the window
    /// above itself.
    TQuickSearch(QWidget* parent, const QPoint& position, const QString& initialText,
                 QTreeWidget* listView);
    ~TQuickSearch();
    TQuickSearch(const TQuickSearch&) = delete;
    TQuickSearch& operator=(const TQuickSearch&) = delete;

    /// Fills the results for the initial text, shows the window modally and returns the list's
    /// row of the chosen result; null when the window was cancelled, nothing was chosen, or the
    /// chosen row left the list meanwhile.
    QTreeWidgetItem* DoSearch();

    /// The rows of the list that match `text`, as the results show them; the first is selected
    /// when there is one. Called on every change of the search text.
    void Search(const QString& text);

    /// The typed character opens a quick search over `list` placed in the middle of `window`;
    /// the row it returns (when still in the list) is selected, made current and scrolled fully
    /// into view. Returns whether the key opened the search (the caller then drops the key);
    /// other keys are left alone.
    static bool HandleKeyPress(QWidget* window, QTreeWidget* list, const QKeyEvent& key);
    /// Opens the quick search over `list` with `first` typed, placed in the middle of `window`,
    /// and selects the row it returns as HandleKeyPress does. Returns that row, or null.
    static QTreeWidgetItem* Execute(QWidget* window, QTreeWidget* list, QChar first);

    // Parts, for tests.
    QDialog* Form() const { return FForm.data(); }
    QLineEdit* Edit() const { return FEdit; }
    QListWidget* ListBox() const { return FListBox; }
    QPushButton* Button() const { return FButton; }
    TQnTitle* Title() const { return FQnTitle; }

private:
    class TForm;

    bool EditKey(QKeyEvent& key);
    void Accept();

    QWidget* FPanel1 = nullptr;
    QWidget* FPanel2 = nullptr;
    QWidget* FPanel3 = nullptr;
    // Owned; the parent window may take it along when it goes first.
    QPointer<QDialog> FForm;
    QLineEdit* FEdit = nullptr;
    QPushButton* FButton = nullptr;
    QListWidget* FListBox = nullptr;
    QGroupBox* FGroupBox = nullptr;
    TQnTitle* FQnTitle = nullptr;
    QTreeWidget* FListView = nullptr;
    // The list's row behind each result; it follows its row when the list is sorted again and
    // turns invalid when the row is deleted while the window is open.
    std::vector<QPersistentModelIndex> FResults;
};

}  // namespace orvane::ui
