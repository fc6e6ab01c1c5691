#include "ui/TrayIcon.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

#include <QMenu>
#include <QSystemTrayIcon>

#include "UiTestApp.h"
#include "tracking/TTrayNotices.h"
#include "ui/Icons.h"

namespace orvane::ui {
namespace {

class TFixedClock final : public tracking::IClock {
public:
    tracking::TDateTime Now() const override { return tracking::TDateTime{}; }
    std::int64_t MonotonicMs() const override { return 1000; }
};

class TTrayIconTest : public test::TUiTest {};

TEST_F(TTrayIconTest, WithoutANotificationAreaShowingFailsWithItsMessage) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());  // the offscreen platform has none
    TTrayIcon tray(nullptr);
    tray.SetIcon(AppIcon());
    for (const bool always : {false, true}) {
        try {
            tray.Show(always);
            ADD_FAILURE() << "Show did not throw";
        } catch (const ETrayIcon& error) {
            EXPECT_STREQ(error.what(), "Error showing tray icon.");
        }
        EXPECT_FALSE(tray.Visible());
    }
    EXPECT_NO_THROW(tray.Hide());  // not in the tray: nothing to do
}

TEST_F(TTrayIconTest, NotificationAreaGoneWhileShownMakesHidingFail) {
    bool available = true;
    TTrayIcon tray(nullptr, [&] { return available; });
    tray.SetIcon(AppIcon());
    tray.Show(false);
    EXPECT_TRUE(tray.Visible());
    EXPECT_NO_THROW(tray.Show(false));  // in the tray already: not added twice
    available = false;
    try {
        tray.Hide();
        ADD_FAILURE() << "Hide did not throw";
    } catch (const ETrayIcon& error) {
        EXPECT_STREQ(error.what(), "Error hiding tray icon.");
    }
    EXPECT_TRUE(tray.Visible());
    available = true;
    EXPECT_NO_THROW(tray.Hide());
    EXPECT_FALSE(tray.Visible());
    EXPECT_NO_THROW(tray.Hide());
}

TEST_F(TTrayIconTest, HintKeepsItsFirst64Characters) {
    TTrayIcon tray(nullptr);
    const struct {
        std::string Hint;
        std::string Shown;
    } cases[] = {
        {"ORVANE3", "ORVANE3"},
        {std::string(64, 'a'), std::string(64, 'a')},
        {std::string(65, 'b'), std::string(64, 'b')},
        {std::string(63, 'c') + "\xC3\xA9\xC3\xA9", std::string(63, 'c') + "\xC3\xA9"},
        // A character outside the basic plane takes two of the 64 and is never split.
        {std::string(63, 'd') + "\xF0\x9F\x8E\xB5", std::string(63, 'd')},
    };
    for (const auto& c : cases) {
        tray.SetHint(c.Hint);
        EXPECT_EQ(tray.Hint(), c.Shown) << c.Hint;
    }
}

TEST_F(TTrayIconTest, BalloonTitleAndTextAreCutAndOnlyShownFromTheTray) {
    TTrayIcon tray(nullptr);
    EXPECT_FALSE(tray.ShowBalloonHint(std::string(70, 't'), std::string(300, 'x'),
                                      tracking::TBalloonIcon::biWarning, 2));
    EXPECT_EQ(tray.BalloonTitle(), std::string(63, 't'));
    EXPECT_EQ(tray.BalloonText(), std::string(255, 'x'));
    EXPECT_EQ(tray.BalloonIcon(), tracking::TBalloonIcon::biWarning);
    EXPECT_EQ(tray.BalloonTimeoutMs(), 2000);

    TTrayIcon shown(nullptr, [] { return true; });
    shown.SetIcon(AppIcon());
    shown.Show(true);
    EXPECT_TRUE(
        shown.ShowBalloonHint("Now playing on Line in", "Song", tracking::TBalloonIcon::biInfo, 3));
    EXPECT_TRUE(shown.HideBalloonHint());
    EXPECT_TRUE(shown.BalloonTitle().empty());
    EXPECT_TRUE(shown.BalloonText().empty());
}

TEST_F(TTrayIconTest, ShowsTheNoticesOfTheTrackingSide) {
    TTrayIcon tray(nullptr, [] { return true; });
    tray.SetIcon(AppIcon());
    tray.Show(false);
    TFixedClock clock;
    tracking::TTrayNotices notices(tray, clock);
    notices.SetHint(tracking::TrayHintFor(std::string(80, 's')));
    EXPECT_EQ(tray.Hint(), std::string(64, 's'));
    notices.ShowBalloon(tracking::BalloonTitleFor("Line in " + std::string(60, 'c')),
                        std::string(400, 'n'));
    EXPECT_EQ(tray.BalloonTitle().size(), 63U);
    EXPECT_EQ(tray.BalloonTitle().rfind("Now playing on Line in ", 0), 0U);
    EXPECT_EQ(tray.BalloonText(), std::string(255, 'n'));
    EXPECT_EQ(tray.BalloonIcon(), tracking::TBalloonIcon::biInfo);
    EXPECT_EQ(tray.BalloonTimeoutMs(), 3000);
    // Hiding the balloon leaves the tooltip as it was.
    notices.HideBalloon();
    EXPECT_TRUE(tray.BalloonText().empty());
    EXPECT_EQ(tray.Hint(), std::string(64, 's'));
}

TEST_F(TTrayIconTest, ClicksOnTheIconReachTheirHandlers) {
    TTrayIcon tray(nullptr);
    int clicks = 0;
    int doubleClicks = 0;
    tray.OnClick = [&](TTrayIcon&) { ++clicks; };
    tray.OnDblClick = [&](TTrayIcon&) { ++doubleClicks; };
    auto* icon = tray.findChild<QSystemTrayIcon*>();
    ASSERT_NE(icon, nullptr);
    Q_EMIT icon->activated(QSystemTrayIcon::Trigger);
    Q_EMIT icon->activated(QSystemTrayIcon::DoubleClick);
    Q_EMIT icon->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(doubleClicks, 1);
    tray.OnClick = nullptr;
    EXPECT_NO_THROW(Q_EMIT icon->activated(QSystemTrayIcon::Trigger));
}

TEST_F(TTrayIconTest, PopupMenuIsHeldButNotOwned) {
    TTrayIcon tray(nullptr);
    EXPECT_NO_THROW(tray.ShowPopup());  // no menu: nothing
    {
        QMenu menu;
        menu.addAction(QStringLiteral("&Open ORVANE3"));
        tray.SetPopupMenu(&menu);
        EXPECT_EQ(tray.PopupMenu(), &menu);
        tray.ShowPopup();
        EXPECT_TRUE(menu.isVisible());
        menu.hide();
    }
    EXPECT_EQ(tray.PopupMenu(), nullptr);
    EXPECT_NO_THROW(tray.ShowPopup());
}

}  // namespace
}  // namespace orvane::ui
