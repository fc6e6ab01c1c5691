// The quick search: its word and upper-casing rules, the results it lists for a list of
// captions, the keys of its search field, and the row it selects in the fingerprint list.
#include "ui/TQuickSearch.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "UiTestApp.h"
#include "ui/QnTitle.h"

namespace orvane::ui {
namespace {

QStringList Words(const char* text) { return QuickSearchWords(QString::fromUtf8(text)); }

struct TWordCase {
    const char* Text;
    std::vector<const char*> Words;
};

class QuickSearchWordsTable : public ::testing::TestWithParam<TWordCase> {};

TEST_P(QuickSearchWordsTable, SplitsAtEveryCharacterOutsideDashDigitsAndAsciiLetters) {
    QStringList expected;
    for (const char* word : GetParam().Words) expected << QString::fromUtf8(word);
    EXPECT_EQ(Words(GetParam().Text), expected) << GetParam().Text;
}

INSTANTIATE_TEST_SUITE_P(Cases, QuickSearchWordsTable,
                         ::testing::Values(TWordCase{"BEAT it", {"BEAT", "IT"}},
                                           TWordCase{"beat-it", {"BEAT-IT"}}, TWordCase{"   ", {}},
                                           TWordCase{"", {}}, TWordCase{"Café", {"CAF"}},
                                           TWordCase{"a", {"A"}},
                                           TWordCase{"x_y.z(2)", {"X", "Y", "Z", "2"}},
                                           TWordCase{"  -- 99 Luft", {"--", "99", "LUFT"}},
                                           TWordCase{"naïve straße", {"NA", "VE", "STRA", "E"}}));

TEST(QuickSearchRules, UpperCasesOnlyTheLettersAToZ) {
    EXPECT_EQ(QuickSearchUpper(QString::fromUtf8("abz AZ é ß 09-")),
              QString::fromUtf8("ABZ AZ é ß 09-"));
}

TEST(QuickSearchRules, FindsTheCaptionsThatContainEveryWordInListOrder) {
    const QStringList captions = {QStringLiteral("Unrelated"), QStringLiteral("Beat It (live)"),
                                  QStringLiteral("it's a beat"), QStringLiteral("beat-it remix"),
                                  QStringLiteral("Beat only")};
    EXPECT_EQ(QuickSearchFilter(QStringLiteral("BEAT it"), captions), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(QuickSearchFilter(QStringLiteral("beat-it"), captions), (std::vector<int>{3}));
    EXPECT_EQ(QuickSearchFilter(QStringLiteral("  "), captions), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(QuickSearchFilter(QStringLiteral("zzz"), captions), (std::vector<int>{}));
}

TEST(QuickSearchRules, AnAccentedLetterIsNotSearchedFor) {
    const QStringList captions = {QString::fromUtf8("Café del Mar"), QStringLiteral("Cafeteria"),
                                  QStringLiteral("Coffee")};
    EXPECT_EQ(QuickSearchFilter(QString::fromUtf8("Café"), captions), (std::vector<int>{0, 1}));
    // A caption's own accented letter stays as it is, so "É" does not meet "E".
    EXPECT_EQ(QuickSearchFilter(QStringLiteral("CAFE"), captions), (std::vector<int>{1}));
}

TEST(QuickSearchRules, OnlyLettersAndDigitsOpenTheSearch) {
    for (const char c : std::string("azAZ09m5")) EXPECT_TRUE(OpensQuickSearch(QLatin1Char(c)));
    for (const char c : std::string("-. _!\t")) EXPECT_FALSE(OpensQuickSearch(QLatin1Char(c)));
    EXPECT_FALSE(OpensQuickSearch(QChar(u'é')));
}

class TQuickSearchTest : public test::TUiTest {
protected:
    void SetUp() override {
        FList = std::make_unique<QTreeWidget>();
        FList->setHeaderLabels({QStringLiteral("Fingerprint name"), QStringLiteral("Duration")});
        for (const char* caption :
             {"Another One", "Beat It (live)", "Billie Jean", "it's a beat", "Thriller"}) {
            FList->addTopLevelItem(
                new QTreeWidgetItem({QString::fromUtf8(caption), QStringLiteral("3:00")}));
        }
        // Whatever a faulty test leaves open is closed, so no test waits forever.
        FWatchdog.setSingleShot(true);
        FWatchdog.setInterval(10000);
        QObject::connect(&FWatchdog, &QTimer::timeout, [] {
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
            ADD_FAILURE() << "a modal window was left open";
        });
        FWatchdog.start();
    }
    void TearDown() override { FWatchdog.stop(); }

    /// Runs `act` on the modal window once it is shown.
    static void WhenShown(std::function<void(QDialog& window)> act) {
        QTimer::singleShot(0, [act] {
            auto* window = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(window, nullptr);
            act(*window);
        });
    }
    static QLineEdit& EditOf(QDialog& window) { return *window.findChild<QLineEdit*>(); }
    static QListWidget& ResultsOf(QDialog& window) { return *window.findChild<QListWidget*>(); }
    static QStringList Texts(const QListWidget& list) {
        QStringList texts;
        for (int i = 0; i < list.count(); ++i) texts << list.item(i)->text();
        return texts;
    }

    std::unique_ptr<QTreeWidget> FList;
    QTimer FWatchdog;
};

TEST_F(TQuickSearchTest, BuildsTheWindowWithItsCaptionsAndSizes) {
    TQuickSearch search(nullptr, QPoint(40, 50), QStringLiteral("b"), FList.get());
    EXPECT_EQ(search.Form()->windowTitle(), QStringLiteral("Jump to fingerprint"));
    EXPECT_EQ(search.Form()->size(), QSize(300, 400));
    EXPECT_EQ(search.Form()->pos(), QPoint(40, 50));
    EXPECT_EQ(search.Title()->Caption(), QStringLiteral("Search for text"));
    EXPECT_TRUE(search.Title()->CaptionFont().bold());
    EXPECT_EQ(search.Title()->TitleHeight(), 20);
    EXPECT_EQ(search.Title()->RoundRadius(), 12);
    EXPECT_EQ(search.Title()->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(search.Button()->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(search.Button()->size(), QSize(80, 23));
    EXPECT_EQ(search.Button()->x(), 105);
    EXPECT_EQ(search.Edit()->text(), QStringLiteral("b"));
}

TEST_F(TQuickSearchTest, ListsTheMatchingRowsAndSelectsTheFirstOnEveryChange) {
    TQuickSearch search(nullptr, QPoint(), QStringLiteral("b"), FList.get());
    search.Search(QStringLiteral("b"));
    EXPECT_EQ(Texts(*search.ListBox()),
              (QStringList{QStringLiteral("Beat It (live)"), QStringLiteral("Billie Jean"),
                           QStringLiteral("it's a beat")}));
    EXPECT_EQ(search.ListBox()->currentRow(), 0);
    EXPECT_TRUE(search.ListBox()->item(0)->isSelected());
    QTest::keyClicks(search.Edit(), QStringLiteral("eat it"));
    EXPECT_EQ(Texts(*search.ListBox()),
              (QStringList{QStringLiteral("Beat It (live)"), QStringLiteral("it's a beat")}));
    QTest::keyClicks(search.Edit(), QStringLiteral("x"));
    EXPECT_EQ(search.ListBox()->count(), 0);
}

TEST_F(TQuickSearchTest, OnShowTheCaretStandsAfterTheInitialCharacterWithNothingSelected) {
    TQuickSearch search(nullptr, QPoint(), QStringLiteral("a"), FList.get());
    int cursor = -1;
    bool selected = true;
    bool focused = false;
    WhenShown([&](QDialog& window) {
        cursor = EditOf(window).cursorPosition();
        selected = EditOf(window).hasSelectedText();
        focused = window.focusWidget() == &EditOf(window);
        QTest::keyClicks(&EditOf(window), QStringLiteral("n"));
        window.reject();
    });
    EXPECT_EQ(search.DoSearch(), nullptr);
    EXPECT_EQ(cursor, 1);
    EXPECT_FALSE(selected);
    EXPECT_TRUE(focused);
    EXPECT_EQ(search.Edit()->text(), QStringLiteral("an"));
}

TEST_F(TQuickSearchTest, UpAndDownMoveOnlyTheResultsAndEnterReturnsTheSelectedRow) {
    TQuickSearch search(nullptr, QPoint(), QStringLiteral("e"), FList.get());
    WhenShown([](QDialog& window) {
        QTest::keyClick(&EditOf(window), Qt::Key_Down);
        QTest::keyClick(&EditOf(window), Qt::Key_Down);
        QTest::keyClick(&EditOf(window), Qt::Key_Up);
        EXPECT_EQ(EditOf(window).text(), QStringLiteral("e"));
        QTest::keyClick(&EditOf(window), Qt::Key_Return);
    });
    // "e" finds Another One, Beat It (live), Billie Jean, it's a beat, Thriller.
    QTreeWidgetItem* item = search.DoSearch();
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item, FList->topLevelItem(1));
}

TEST_F(TQuickSearchTest, PageKeysReachBothTheResultsAndTheSearchField) {
    TQuickSearch search(nullptr, QPoint(), QStringLiteral("e"), FList.get());
    WhenShown([](QDialog& window) {
        QTest::keyClick(&EditOf(window), Qt::Key_End);
        EXPECT_EQ(ResultsOf(window).currentRow(), ResultsOf(window).count() - 1);
        QTest::keyClick(&EditOf(window), Qt::Key_Home);
        EXPECT_EQ(ResultsOf(window).currentRow(), 0);
        EXPECT_EQ(EditOf(window).cursorPosition(), 0);
        QTest::keyClick(&EditOf(window), Qt::Key_PageDown);
        EXPECT_GT(ResultsOf(window).currentRow(), 0);
        window.reject();
    });
    EXPECT_EQ(search.DoSearch(), nullptr);
}

TEST_F(TQuickSearchTest, EnterWithoutResultsClosesAsCancelled) {
    TQuickSearch search(nullptr, QPoint(), QStringLiteral("q"), FList.get());
    WhenShown([](QDialog& window) { QTest::keyClick(&EditOf(window), Qt::Key_Return); });
    EXPECT_EQ(search.DoSearch(), nullptr);
    EXPECT_FALSE(search.Form()->isVisible());
    EXPECT_EQ(search.Form()->result(), QDialog::Rejected);
}

TEST_F(TQuickSearchTest, EscapeAndCancelReturnNothing) {
    for (const bool escape : {true, false}) {
        TQuickSearch search(nullptr, QPoint(), QStringLiteral("b"), FList.get());
        WhenShown([escape](QDialog& window) {
            if (escape) {
                QTest::keyClick(&EditOf(window), Qt::Key_Escape);
            } else {
                window.findChild<QPushButton*>()->click();
            }
        });
        EXPECT_EQ(search.DoSearch(), nullptr) << escape;
        EXPECT_FALSE(search.Form()->isVisible());
    }
}

TEST_F(TQuickSearchTest, ADoubleClickOnAResultChoosesIt) {
    TQuickSearch search(nullptr, QPoint(), QStringLiteral("i"), FList.get());
    WhenShown([](QDialog& window) {
        QListWidget& results = ResultsOf(window);
        results.setCurrentRow(2);
        Q_EMIT results.itemDoubleClicked(results.item(2));
    });
    // "i" finds Beat It (live), Billie Jean, it's a beat, Thriller.
    EXPECT_EQ(search.DoSearch(), FList->topLevelItem(3));
}

TEST_F(TQuickSearchTest, ARowDeletedWhileTheWindowIsOpenIsNotReturned) {
    TQuickSearch search(nullptr, QPoint(), QStringLiteral("thr"), FList.get());
    WhenShown([this](QDialog& window) {
        delete FList->takeTopLevelItem(4);
        QTest::keyClick(&EditOf(window), Qt::Key_Return);
    });
    EXPECT_EQ(search.DoSearch(), nullptr);
}

TEST_F(TQuickSearchTest, TypingALetterInTheListOpensTheSearchAndSelectsItsChoice) {
    QWidget window;
    window.setGeometry(100, 100, 800, 600);
    FList->setParent(&window);
    QString initial;
    WhenShown([&initial](QDialog& dialog) {
        initial = EditOf(dialog).text();
        QTest::keyClicks(&EditOf(dialog), QStringLiteral("il"));
        QTest::keyClick(&EditOf(dialog), Qt::Key_Enter);
    });
    QKeyEvent key(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, QStringLiteral("b"));
    EXPECT_TRUE(TQuickSearch::HandleKeyPress(&window, FList.get(), key));
    EXPECT_EQ(initial, QStringLiteral("b"));
    EXPECT_EQ(FList->currentItem(), FList->topLevelItem(2));
    EXPECT_TRUE(FList->topLevelItem(2)->isSelected());
    EXPECT_EQ(FList->selectedItems().size(), 1);
    FList->setParent(nullptr);
}

TEST_F(TQuickSearchTest, PunctuationAndShortcutsDoNotOpenTheSearch) {
    QKeyEvent dot(QEvent::KeyPress, Qt::Key_Period, Qt::NoModifier, QStringLiteral("."));
    EXPECT_FALSE(TQuickSearch::HandleKeyPress(nullptr, FList.get(), dot));
    QKeyEvent ctrlA(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier, QStringLiteral("a"));
    EXPECT_FALSE(TQuickSearch::HandleKeyPress(nullptr, FList.get(), ctrlA));
    EXPECT_EQ(FList->currentItem(), nullptr);
}

TEST_F(TQuickSearchTest, ACancelledSearchLeavesTheListSelectionAlone) {
    FList->setCurrentItem(FList->topLevelItem(0));
    WhenShown([](QDialog& dialog) { QTest::keyClick(&EditOf(dialog), Qt::Key_Escape); });
    EXPECT_EQ(TQuickSearch::Execute(nullptr, FList.get(), QLatin1Char('t')), nullptr);
    EXPECT_EQ(FList->currentItem(), FList->topLevelItem(0));
}

}  // namespace
}  // namespace orvane::ui
