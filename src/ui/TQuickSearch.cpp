#include "ui/TQuickSearch.h"

#include <functional>
#include <memory>

#include <QAbstractItemModel>
#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/QnTitle.h"

namespace orvane::ui {

namespace {

constexpr int FormWidth = 300;
constexpr int FormHeight = 400;
constexpr int FormBorder = 5;
constexpr std::uint32_t FormColor = 16708591;
constexpr int StripBorder = 5;
constexpr int SearchStripHeight = 30;
constexpr int BottomStripHeight = 28;
constexpr int ButtonWidth = 80;
constexpr int ButtonHeight = 23;
constexpr int ButtonTop = 4;

bool IsWordChar(QChar c) {
    const char16_t u = c.unicode();
    return u == u'-' || (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') ||
           (u >= u'a' && u <= u'z');
}

// A panel without bevel whose child fills it inside a border of `border` pixels.
QWidget* StripPanel(QWidget* parent, int border, QWidget* content) {
    auto* panel = new QWidget(parent);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(border, border, border, border);
    layout->setSpacing(0);
    content->setParent(panel);
    layout->addWidget(content);
    return panel;
}

}  // namespace

QString QuickSearchUpper(const QString& text) {
    QString result = text;
    for (QChar& c : result) {
        const char16_t u = c.unicode();
        if (u >= u'a' && u <= u'z') c = QChar(static_cast<char16_t>(u - u'a' + u'A'));
    }
    return result;
}

QStringList QuickSearchWords(const QString& text) {
    const QString upper = QuickSearchUpper(text);
    QStringList words;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= upper.size(); ++i) {
        const bool inWord = i < upper.size() && IsWordChar(upper[i]);
        if (inWord && start < 0) start = i;
        if (!inWord && start >= 0) {
            words.append(upper.mid(start, i - start));
            start = -1;
        }
    }
    return words;
}

bool QuickSearchMatches(const QStringList& words, const QString& caption) {
    const QString upper = QuickSearchUpper(caption);
    for (const QString& word : words) {
        if (!upper.contains(word, Qt::CaseSensitive)) return false;
    }
    return true;
}

std::vector<int> QuickSearchFilter(const QString& text, const QStringList& captions) {
    const QStringList words = QuickSearchWords(text);
    std::vector<int> found;
    for (qsizetype i = 0; i < captions.size(); ++i) {
        if (QuickSearchMatches(words, captions[i])) found.push_back(static_cast<int>(i));
    }
    return found;
}

bool OpensQuickSearch(QChar typed) { return IsWordChar(typed) && typed != QLatin1Char('-'); }

// The window: it hands the search field's keys to its owner and puts the caret after the
// initial text whenever it is shown.
class TQuickSearch::TForm final : public QDialog {
public:
    explicit TForm(QWidget* parent) : QDialog(parent) {}

    std::function<bool(QKeyEvent& key)> OnEditKey;
    std::function<void()> OnShow;
    QObject* EditObject = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == EditObject && OnEditKey &&
            (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
            return OnEditKey(*static_cast<QKeyEvent*>(event));
        }
        return QDialog::eventFilter(watched, event);
    }
    // After showing, a dialog hands its focus widget a tab focus, which selects a line edit's
    // whole text; the caret is placed once that is done.
    void setVisible(bool visible) override {
        QDialog::setVisible(visible);
        if (visible && OnShow) OnShow();
    }
};

TQuickSearch::TQuickSearch(QWidget* parent, const QPoint& position, const QString& initialText,
                           QTreeWidget* listView)
    : FListView(listView) {
    auto* form = new TForm(parent);
    FForm = form;
    form->setWindowTitle(QStringLiteral("Jump to fingerprint"));
    form->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint);
    form->setFixedSize(FormWidth, FormHeight);
    form->move(position);
    QPalette palette = form->palette();
    palette.setColor(QPalette::Window, QColor(FromColorRef(FormColor)));
    form->setPalette(palette);
    form->setAutoFillBackground(true);
    auto* formLayout = new QVBoxLayout(form);
    formLayout->setContentsMargins(FormBorder, FormBorder, FormBorder, FormBorder);
    formLayout->setSpacing(0);

    FQnTitle = new TQnTitle(form);
    FQnTitle->SetCaption(QStringLiteral("Search for text"));
    QFont bold = FQnTitle->font();
    bold.setBold(true);
    FQnTitle->SetCaptionFont(bold);
    FQnTitle->setFocusPolicy(Qt::NoFocus);
    FQnTitle->SetBorderTop(4);
    FQnTitle->SetBorderLeft(10);
    FQnTitle->SetRoundRadius(12);
    FQnTitle->SetTitleHeight(20);
    FQnTitle->SetStraightSeparation(true);
    FQnTitle->SetBackgroundColor(QColor(FromColorRef(FormColor)));
    FQnTitle->SetColor(Qt::white);
    formLayout->addWidget(FQnTitle, 1);
    auto* titleLayout = new QVBoxLayout(FQnTitle);
    titleLayout->setContentsMargins(0, 0, 0, 0);
    titleLayout->setSpacing(0);

    FEdit = new QLineEdit(initialText);
    FPanel1 = StripPanel(FQnTitle, StripBorder, FEdit);
    FPanel1->setFixedHeight(SearchStripHeight);
    titleLayout->addWidget(FPanel1);

    FGroupBox = new QGroupBox(QStringLiteral("Search results"), FQnTitle);
    auto* groupLayout = new QVBoxLayout(FGroupBox);
    groupLayout->setContentsMargins(0, 0, 0, 0);
    FListBox = new QListWidget();
    FListBox->setSelectionMode(QAbstractItemView::SingleSelection);
    FListBox->setFocusPolicy(Qt::ClickFocus);
    FPanel2 = StripPanel(FGroupBox, StripBorder, FListBox);
    groupLayout->addWidget(FPanel2);
    titleLayout->addWidget(FGroupBox, 1);

    FPanel3 = new QWidget(form);
    FPanel3->setFixedHeight(BottomStripHeight);
    FButton = new QPushButton(QStringLiteral("Cancel"), FPanel3);
    FButton->setAutoDefault(false);
    FButton->setDefault(false);
    // Centred as the strip's layout puts it: left = (window width - 2 border - width) div 2.
    FButton->setGeometry((FormWidth - 2 * StripBorder - ButtonWidth) / 2, ButtonTop, ButtonWidth,
                         ButtonHeight);
    formLayout->addWidget(FPanel3);
    QObject::connect(FButton, &QPushButton::clicked, form, &QDialog::reject);

    QObject::connect(FEdit, &QLineEdit::textChanged, form,
                     [this](const QString& text) { Search(text); });
    QObject::connect(FListBox, &QListWidget::itemDoubleClicked, form, [this] {
        if (!FListBox->selectedItems().isEmpty()) Accept();
    });
    form->EditObject = FEdit;
    form->OnEditKey = [this](QKeyEvent& key) { return EditKey(key); };
    form->OnShow = [this] {
        FEdit->setFocus(Qt::OtherFocusReason);
        FEdit->deselect();
        FEdit->end(false);
    };
    FEdit->installEventFilter(form);
}

TQuickSearch::~TQuickSearch() { delete FForm.data(); }

void TQuickSearch::Search(const QString& text) {
    FListBox->clear();
    FResults.clear();
    if (FListView == nullptr) return;
    const QStringList words = QuickSearchWords(text);
    const QAbstractItemModel* model = FListView->model();
    for (int row = 0; row < FListView->topLevelItemCount(); ++row) {
        const QString caption = FListView->topLevelItem(row)->text(0);
        if (!QuickSearchMatches(words, caption)) continue;
        FListBox->addItem(caption);
        FResults.emplace_back(model->index(row, 0));
    }
    if (FListBox->count() > 0) {
        FListBox->setCurrentRow(0);
        FListBox->item(0)->setSelected(true);
    }
}

QTreeWidgetItem* TQuickSearch::DoSearch() {
    Search(FEdit->text());
    if (FForm->exec() != QDialog::Accepted) return nullptr;
    const QList<QListWidgetItem*> selected = FListBox->selectedItems();
    if (selected.isEmpty() || FListView == nullptr) return nullptr;
    const int result = FListBox->row(selected.first());
    if (result < 0 || static_cast<std::size_t>(result) >= FResults.size()) return nullptr;
    const QPersistentModelIndex& index = FResults[static_cast<std::size_t>(result)];
    if (!index.isValid() || index.parent().isValid()) return nullptr;
    return FListView->topLevelItem(index.row());
}

void TQuickSearch::Accept() { FForm->accept(); }

bool TQuickSearch::EditKey(QKeyEvent& key) {
    switch (key.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (key.type() == QEvent::KeyPress) {
                if (FListBox->count() > 0) {
                    Accept();
                } else {
                    FForm->reject();
                }
            }
            return true;
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End: {
            // The results scroll with the page keys while the search field moves its caret.
            const std::unique_ptr<QKeyEvent> copy(key.clone());
            QApplication::sendEvent(FListBox, copy.get());
            return false;
        }
        case Qt::Key_Up:
        case Qt::Key_Down: {
            const std::unique_ptr<QKeyEvent> copy(key.clone());
            QApplication::sendEvent(FListBox, copy.get());
            return true;
        }
        default:
            return false;
    }
}

QTreeWidgetItem* TQuickSearch::Execute(QWidget* window, QTreeWidget* list, QChar first) {
    if (list == nullptr) return nullptr;
    if (window == nullptr) window = list->window();
    const QRect frame = window->frameGeometry();
    const QPoint position(frame.left() + (frame.width() - FormWidth) / 2,
                          frame.top() + (frame.height() - FormHeight) / 2);
    QTreeWidgetItem* item = nullptr;
    {
        TQuickSearch search(window, position, QString(first), list);
        item = search.DoSearch();
    }
    // The list may have lost the row while the window was open.
    if (item == nullptr || list->indexOfTopLevelItem(item) < 0) return nullptr;
    list->clearSelection();
    list->setCurrentItem(item);
    item->setSelected(true);
    list->scrollToItem(item, QAbstractItemView::EnsureVisible);
    list->setFocus(Qt::OtherFocusReason);
    return item;
}

bool TQuickSearch::HandleKeyPress(QWidget* window, QTreeWidget* list, const QKeyEvent& key) {
    if ((key.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0) {
        return false;
    }
    const QString text = key.text();
    if (text.size() != 1 || !OpensQuickSearch(text[0])) return false;
    Execute(window, list, text[0]);
    return true;
}

}  // namespace orvane::ui
