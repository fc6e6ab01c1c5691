#include "ui/TForm11.h"

#include <gtest/gtest.h>
#include <limits>
#include <memory>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include "UiTestApp.h"
#include "ui/TExtractProgress.h"

namespace orvane::ui {
namespace {

/// Counts the posted events it receives (tells whether pending events were processed).
class TEventCounter : public QObject {
public:
    int Count = 0;

protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            ++Count;
            return true;
        }
        return QObject::event(event);
    }
};

class TForm11Test : public test::TUiTest {
protected:
    void SetUp() override {
        MainWindow = std::make_unique<QWidget>();
        MainWindow->show();
        Dialog = std::make_unique<TForm11>(MainWindow.get());
    }
    void TearDown() override {
        Dialog.reset();
        MainWindow.reset();
    }
    void PostOne() { QCoreApplication::postEvent(&Counter, new QEvent(QEvent::User)); }

    std::unique_ptr<QWidget> MainWindow;
    std::unique_ptr<TForm11> Dialog;
    TEventCounter Counter;
};

TEST_F(TForm11Test, LooksLikeTheLayout) {
    EXPECT_EQ(Dialog->windowTitle(), QStringLiteral("Please wait..."));
    EXPECT_EQ(Dialog->size(), QSize(437, 91));
    EXPECT_EQ(Dialog->CancelButton()->text(), QStringLiteral("&Cancel"));
    EXPECT_EQ(Dialog->CancelButton()->geometry(), QRect(184, 64, 75, 23));
    EXPECT_FALSE(Dialog->Showing());
    EXPECT_FALSE(Dialog->Cancelled());
}

TEST_F(TForm11Test, ShowStatsShowsTheTitleAndDisablesTheMainWindowOnly) {
    Dialog->SetState(0.7);
    Dialog->ShowStats("Reloading fingerprints...");
    EXPECT_TRUE(Dialog->Showing());
    EXPECT_EQ(Dialog->Description(), QStringLiteral("Reloading fingerprints..."));
    EXPECT_EQ(Dialog->Position(), 0);
    EXPECT_FALSE(MainWindow->isEnabled());
    EXPECT_TRUE(Dialog->isEnabled());
    EXPECT_TRUE(Dialog->CancelButton()->isEnabled());
    // A task that checks before the user did anything goes on.
    EXPECT_FALSE(Dialog->Cancelled());
}

TEST_F(TForm11Test, ShowStatsProcessesPendingEvents) {
    PostOne();
    Dialog->ShowStats("Fingerprinting");
    EXPECT_EQ(Counter.Count, 1);
}

TEST_F(TForm11Test, SetStateProcessesEventsOnlyWhenTheBarMoves) {
    Dialog->ShowStats("Optimizing database...");
    Dialog->SetState(0.5);
    ASSERT_EQ(Dialog->Position(), 50);
    PostOne();
    Dialog->SetState(0.5);
    EXPECT_EQ(Counter.Count, 0);
    Dialog->SetState(0.501);  // still rounds to 50
    EXPECT_EQ(Counter.Count, 0);
    Dialog->SetState(0.49);
    EXPECT_EQ(Dialog->Position(), 49);
    EXPECT_EQ(Counter.Count, 1);
    PostOne();
    Dialog->SetState(0.5);
    EXPECT_EQ(Dialog->Position(), 50);
    EXPECT_EQ(Counter.Count, 2);
}

TEST_F(TForm11Test, SharesOutsideZeroToOneAreClamped) {
    Dialog->ShowStats("x");
    const struct {
        double Share;
        int Position;
    } cases[] = {{-3.0, 0},
                 {1.7, 100},
                 {std::numeric_limits<double>::quiet_NaN(), 0},
                 {std::numeric_limits<double>::infinity(), 100},
                 {0.125, 13},
                 {0.004, 0}};
    for (const auto& c : cases) {
        Dialog->SetState(c.Share);
        EXPECT_EQ(Dialog->Position(), c.Position) << c.Share;
    }
}

TEST_F(TForm11Test, CancelHidesEnablesTheWindowAndStaysCancelledUntilHideStats) {
    Dialog->ShowStats("Fingerprinting files");
    QTest::mouseClick(Dialog->CancelButton(), Qt::LeftButton);
    EXPECT_FALSE(Dialog->Showing());
    EXPECT_TRUE(MainWindow->isEnabled());
    EXPECT_TRUE(Dialog->Cancelled());
    Dialog->SetState(0.3);  // the file in hand goes on to its end
    EXPECT_TRUE(Dialog->Cancelled());
    Dialog->HideStats();
    EXPECT_FALSE(Dialog->Cancelled());
    EXPECT_FALSE(Dialog->Showing());
}

TEST_F(TForm11Test, EscapeCancelsLikeTheButton) {
    Dialog->ShowStats("Fingerprinting files");
    QTest::keyClick(Dialog.get(), Qt::Key_Escape);
    EXPECT_TRUE(Dialog->Cancelled());
    EXPECT_TRUE(MainWindow->isEnabled());
}

TEST_F(TForm11Test, NormalEndIsNeverReadAsCancelled) {
    Dialog->ShowStats("Reloading");
    Dialog->SetState(1.0);
    Dialog->HideStats();
    EXPECT_FALSE(Dialog->Showing());
    EXPECT_FALSE(Dialog->Cancelled());
    EXPECT_TRUE(MainWindow->isEnabled());
}

TEST_F(TForm11Test, UninterruptibleTaskKeepsItsDialog) {
    Dialog->ShowStats("Optimizing database...");
    Dialog->SetCancelEnabled(false);
    QTest::keyClick(Dialog.get(), Qt::Key_Escape);
    Dialog->close();
    EXPECT_TRUE(Dialog->Showing());
    EXPECT_FALSE(Dialog->Cancelled());
    EXPECT_FALSE(MainWindow->isEnabled());
    Dialog->SetCancelEnabled(true);
    Dialog->HideStats();
    EXPECT_TRUE(MainWindow->isEnabled());
}

TEST_F(TForm11Test, ShowingMarksARunningTaskForOthersToRefuse) {
    EXPECT_STREQ(TForm11::OtherTasksRunning, "There are currently other tasks running");
    database::IProgressDialog& progress = *Dialog;
    EXPECT_FALSE(progress.Showing());
    progress.ShowStats("Reloading");
    EXPECT_TRUE(progress.Showing());
    progress.HideStats();
    EXPECT_FALSE(progress.Showing());
}

TEST_F(TForm11Test, MainWindowGoingFirstIsHarmless) {
    Dialog->ShowStats("x");
    MainWindow.reset();
    Dialog->HideStats();
    EXPECT_FALSE(Dialog->Showing());
}

/// A fingerprinting host that only shows progress.
class TProgressOnlyHost final : public TExtractProgress {
public:
    using TExtractProgress::TExtractProgress;
    void Report(const std::string& text, int icon) override {
        (void)text;
        (void)icon;
    }
};

TEST_F(TForm11Test, FingerprintingRunShowsItsProgressAndACancelledRunLeavesTheCancellation) {
    TProgressOnlyHost host(*Dialog);
    audio::IExtractHost& run = host;
    run.ShowStats("Decoding \"song.wav\"...");
    EXPECT_TRUE(Dialog->Showing());
    run.SetState(0.25F);
    EXPECT_EQ(Dialog->Position(), 25);
    EXPECT_FALSE(run.Cancelled());
    QTest::mouseClick(Dialog->CancelButton(), Qt::LeftButton);
    EXPECT_TRUE(run.Cancelled());
    run.HideDialog();
    EXPECT_TRUE(Dialog->Cancelled());  // the batch stops after this file
    EXPECT_TRUE(MainWindow->isEnabled());
    Dialog->HideStats();
    EXPECT_FALSE(Dialog->Cancelled());
}

TEST_F(TForm11Test, FingerprintingRunEndingNormallyIsNotCancelled) {
    TProgressOnlyHost host(*Dialog);
    audio::IExtractHost& run = host;
    run.ShowStats("Decoding");
    run.SetState(1.0F);
    run.HideStats();
    run.HideDialog();
    EXPECT_FALSE(Dialog->Showing());
    EXPECT_FALSE(Dialog->Cancelled());
    EXPECT_TRUE(MainWindow->isEnabled());
}

}  // namespace
}  // namespace orvane::ui
