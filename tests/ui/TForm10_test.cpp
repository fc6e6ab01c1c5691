// The active channels overview: a row per active channel, rebuilt when a channel is switched,
// the clip and its position per row, the system time in the status bar, the timer running only
// while the window shows.
#include "ui/TForm10.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>

#include "UiTestApp.h"
#include "UiTestKit.h"
#include "app/RegStuff.h"
#include "app/uMainForm.h"
#include "database/TMemorySongListView.h"
#include "database/TPlainLibraryUi.h"
#include "recognition/TChannel.h"
#include "support/TempDir.h"
#include "tracking/TDateTime.h"
#include "tracking/TSystemClock.h"

namespace orvane::ui {
namespace {

using test::TNullTray;
using test::TPlainView;
using test::TSilentCapture;

constexpr tracking::TDateTime Noon = 45357.5;  // 2024-03-06 12:00:00
constexpr double Second = 1.0 / 86400.0;

class TForm10Test : public test::TUiTest {
protected:
    /// The channels the overview reads; the test changes them between ticks.
    std::vector<TOverviewChannel> Channels;
    int Reads = 0;

    std::unique_ptr<TForm10> Make() {
        return std::make_unique<TForm10>(
            [this] {
                ++Reads;
                return Channels;
            },
            [] { return Noon; });
    }

    static TOverviewChannel Channel(const std::string& caption, bool active) {
        TOverviewChannel channel;
        channel.Caption = caption;
        channel.Active = active;
        channel.Now = Noon;
        return channel;
    }

    /// A clip of `length` s that was at `pos` s `ago` seconds before noon.
    static tracking::capInfo Clip(const std::string& title, float pos, float length, double ago) {
        tracking::capInfo cap;
        cap.Caption = title;
        cap.UniqueID = 1024;
        cap.Pos = pos;
        cap.length = length;
        cap.TimeStamp = Noon - ago * Second;
        return cap;
    }

    static std::vector<std::vector<std::string>> Rows(const TForm10& form) {
        std::vector<std::vector<std::string>> rows;
        for (int i = 0; i < form.View()->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = form.View()->topLevelItem(i);
            rows.push_back({item->text(0).toStdString(), item->text(1).toStdString(),
                            item->text(2).toStdString()});
        }
        return rows;
    }
};

TEST_F(TForm10Test, LooksLikeTheLayout) {
    auto form = Make();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Active channels overview"));
    EXPECT_EQ(form->size(), QSize(623, 303));
    EXPECT_EQ(form->minimumSize(), QSize(300, 115));
    QTreeWidget& view = *form->View();
    EXPECT_EQ(view.headerItem()->text(0), QStringLiteral("Channel"));
    EXPECT_EQ(view.headerItem()->text(1), QStringLiteral("Currently playing"));
    EXPECT_EQ(view.headerItem()->text(2), QStringLiteral("Position"));
    EXPECT_EQ(view.columnWidth(0), 150);
    EXPECT_EQ(view.columnWidth(2), 80);
    EXPECT_EQ(view.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(view.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(form->CloseButton()->text(), QStringLiteral("&Close"));
    EXPECT_TRUE(form->CloseButton()->isDefault());
    EXPECT_FALSE(form->Timer1().isActive());
    EXPECT_EQ(form->Timer1().interval(), 1000);
    EXPECT_EQ(Reads, 0);
}

TEST_F(TForm10Test, ShowingTicksAtOnceStartsTheTimerAndFocusesClose) {
    Channels = {Channel("Channel01", true)};
    auto form = Make();
    form->show();
    EXPECT_EQ(Reads, 1);
    EXPECT_TRUE(form->Timer1().isActive());
    EXPECT_EQ(form->focusWidget(), form->CloseButton());
    EXPECT_EQ(form->Status()->currentMessage(), QStringLiteral("System time: 2024-03-06 12:00:00"));
    EXPECT_EQ(Rows(*form), (std::vector<std::vector<std::string>>{{"Channel01", "", ""}}));
}

TEST_F(TForm10Test, EveryWayOfClosingStopsTheTimer) {
    for (int way = 0; way < 3; ++way) {
        auto form = Make();
        form->show();
        ASSERT_TRUE(form->Timer1().isActive());
        if (way == 0) QTest::mouseClick(form->CloseButton(), Qt::LeftButton);
        if (way == 1) QTest::keyClick(form->CloseButton(), Qt::Key_Escape);
        if (way == 2) form->close();
        EXPECT_FALSE(form->isVisible()) << way;
        EXPECT_FALSE(form->Timer1().isActive()) << way;
    }
}

TEST_F(TForm10Test, ShowsNoRowWhileNoChannelIsActiveAndRebuildsWhenOneIsActivated) {
    Channels = {Channel("Channel01", false)};
    auto form = Make();
    form->show();
    EXPECT_TRUE(Rows(*form).empty());
    const int rebuilds = form->Rebuilds();

    form->Timer1Timer();
    EXPECT_EQ(form->Rebuilds(), rebuilds) << "nothing changed, nothing rebuilt";

    Channels[0].Active = true;
    Channels[0].Cap = Clip("Hit Song", 10.0f, 200.0f, 5.0);
    form->Timer1Timer();
    EXPECT_EQ(form->Rebuilds(), rebuilds + 1);
    EXPECT_EQ(Rows(*form),
              (std::vector<std::vector<std::string>>{{"Channel01", "Hit Song", "0:15"}}));

    Channels[0].Active = false;
    form->Timer1Timer();
    EXPECT_TRUE(Rows(*form).empty());
}

TEST_F(TForm10Test, RowsFollowChannelOrderAndSkipInactiveChannels) {
    Channels = {Channel("Left && Right", true), Channel("Off", false), Channel("Third", true)};
    Channels[2].Cap = Clip("Other Clip", 0.0f, 61.0f, 61.0);
    auto form = Make();
    form->show();
    EXPECT_EQ(Rows(*form), (std::vector<std::vector<std::string>>{
                               {"Left & Right", "", ""}, {"Third", "Other Clip", "1:01"}}));
    // A channel more: rebuilt with it.
    Channels.push_back(Channel("Fourth", true));
    form->Timer1Timer();
    ASSERT_EQ(Rows(*form).size(), 3u);
    EXPECT_EQ(Rows(*form)[2][0], "Fourth");
}

TEST_F(TForm10Test, ClipThatEndsEmptiesItsCellsAgain) {
    Channels = {Channel("Channel01", true)};
    Channels[0].Cap = Clip("Hit Song", 1.0f, 100.0f, 0.0);
    auto form = Make();
    form->show();
    EXPECT_EQ(Rows(*form)[0][1], "Hit Song");
    Channels[0].Cap = tracking::capInfo{};
    form->Timer1Timer();
    EXPECT_EQ(Rows(*form), (std::vector<std::vector<std::string>>{{"Channel01", "", ""}}));
}

TEST_F(TForm10Test, WhileHiddenATickUpdatesCellsButNeitherRowsNorStatus) {
    Channels = {Channel("Channel01", true)};
    auto form = Make();
    form->Timer1Timer();
    EXPECT_TRUE(Rows(*form).empty());
    EXPECT_TRUE(form->Status()->currentMessage().isEmpty());
}

TEST(OverviewPosition, CountsWholeSecondsSinceTheClipStartAndSaysEndedPastItsLength) {
    struct TCase {
        float Pos;
        float Length;
        double Ago;
        const char* Expected;
    };
    const TCase cases[] = {
        {0.0f, 200.0f, 0.0, "0:00"},    {10.0f, 200.0f, 5.0, "0:15"},
        {59.5f, 200.0f, 0.0, "1:00"},   // halves to even: 59.5 -> 60
        {58.5f, 200.0f, 0.0, "0:58"},   // 58.5 -> 58
        {100.0f, 100.0f, 0.0, "1:40"},  // at the length: not yet ended
        {100.0f, 100.0f, 1.0, "ended"}, {99.0f, 100.0f, 1.4, "1:40"},  // 100.4 rounds to 100
        {99.0f, 100.0f, 1.6, "ended"},                                 // 100.6 rounds to 101
        {0.0f, 100.0f, -3.0, "0:00"},  // a stamp in the future reads as the start
    };
    for (const TCase& c : cases) {
        tracking::capInfo cap;
        cap.Caption = "Clip";
        cap.Pos = c.Pos;
        cap.length = c.Length;
        cap.TimeStamp = Noon - c.Ago * Second;
        EXPECT_EQ(OverviewPosition(cap, Noon), c.Expected)
            << "pos " << c.Pos << " length " << c.Length << " ago " << c.Ago;
    }
}

TEST_F(TForm10Test, ReadsTheApplicationsChannelAndItsClip) {
    orvane::test::TTempDir dir;
    const app::TSettingsLocation location = app::TSettingsLocation::File(
        QString::fromStdString(dir.File("settings.conf")), QString::fromStdString(dir.Folder()),
        QString::fromStdString(dir.Folder()));
    {
        app::TSettingsStore store(location);
        store.Settings.FpFolder = dir.Folder();
        store.Settings.ActiveOnLoad = false;
        store.RegStuff(true);
    }
    TPlainView view;
    app::TMainFormOptions options;
    options.Location = location;
    options.MakeCapture = [] { return std::make_unique<TSilentCapture>(); };
    app::TMainForm form(view, options);
    TForm10 overview(ChannelReaderOf(form));
    overview.show();
    EXPECT_TRUE(Rows(overview).empty()) << "before the start there is no channel";

    form.Init();
    overview.Timer1Timer();
    EXPECT_TRUE(Rows(overview).empty()) << "the channel is off";

    form.ActivateAllChannels();
    ASSERT_TRUE(form.ChannelActive());
    tracking::capInfo cap;
    cap.Caption = "Live Clip";
    cap.UniqueID = 2000;
    cap.Pos = 30.0f;
    cap.length = 20.0f;
    cap.TimeStamp = tracking::TSystemClock().Now();
    form.Channel()->WriteCap(cap);
    overview.Timer1Timer();
    EXPECT_EQ(Rows(overview),
              (std::vector<std::vector<std::string>>{{"Channel01", "Live Clip", "ended"}}));
    overview.close();
    form.Shutdown();
}

}  // namespace
}  // namespace orvane::ui
