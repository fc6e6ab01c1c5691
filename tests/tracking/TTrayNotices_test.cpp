#include "tracking/TTrayNotices.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "TrackingFakes.h"

namespace orvane::tracking {
namespace {

using test::TFakeClock;

// Records what the tray would show, one line per call.
class TRecordingTray final : public ITrayDisplay {
public:
    void SetHint(const std::string& hint) override { Calls.push_back("hint " + hint); }
    void ShowBalloon(const std::string& title, const std::string& text, TBalloonIcon icon,
                     int timeoutSeconds) override {
        Calls.push_back("show " + title + " | " + text + " | " +
                        std::to_string(static_cast<int>(icon)) + " | " +
                        std::to_string(timeoutSeconds));
    }
    void HideBalloon() override { Calls.push_back("hide"); }
    std::vector<std::string> Calls;
};

struct TCutCase {
    std::string Text;
    std::size_t MaxChars;
    std::string Expected;
};

class CutCharsCases : public testing::TestWithParam<TCutCase> {};

TEST_P(CutCharsCases, KeepsWholeCharactersUpToTheLimit) {
    const TCutCase& c = GetParam();
    EXPECT_EQ(CutChars(c.Text, c.MaxChars), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    TTrayNotices, CutCharsCases,
    testing::Values(TCutCase{"", 64, ""}, TCutCase{"abc", 3, "abc"}, TCutCase{"abcd", 3, "abc"},
                    TCutCase{std::string(65, 'x'), 64, std::string(64, 'x')},
                    // Two-byte and three-byte characters count one each.
                    TCutCase{"\xC3\xA9\xC3\xA9\xC3\xA9", 2, "\xC3\xA9\xC3\xA9"},
                    TCutCase{"a\xE2\x82\xAC"
                             "b",
                             2, "a\xE2\x82\xAC"},
                    // A character beyond the basic plane takes two places and is never split.
                    TCutCase{"a\xF0\x9F\x8E\xB5", 2, "a"},
                    TCutCase{"a\xF0\x9F\x8E\xB5", 3, "a\xF0\x9F\x8E\xB5"},
                    // A truncated sequence counts byte by byte.
                    TCutCase{"\xE2\x82", 1, "\xE2"}, TCutCase{"\xFF\xFE", 5, "\xFF\xFE"}));

TEST(TTrayNotices, NamesTheClipAndTheChannel) {
    EXPECT_EQ(TrayHintFor("Artist - Song"), "Artist - Song - ORVANE3");
    EXPECT_EQ(BalloonTitleFor("Channel 1"), "Now playing on Channel 1");
}

TEST(TTrayNotices, ShowsAHintOfAtMost64Characters) {
    TRecordingTray tray;
    TFakeClock clock;
    TTrayNotices notices(tray, clock);
    EXPECT_EQ(notices.Hint(), "ORVANE3");
    EXPECT_TRUE(tray.Calls.empty());

    const std::string title(60, 't');
    notices.SetHint(TrayHintFor(title));
    const std::string shown = title + " - O";
    EXPECT_EQ(notices.Hint(), shown);
    EXPECT_EQ(tray.Calls, std::vector<std::string>{"hint " + shown});

    notices.SetHint(std::string(64, 'h'));
    EXPECT_EQ(notices.Hint(), std::string(64, 'h'));
}

TEST(TTrayNotices, CutsBalloonTitleTo63AndTextTo255Characters) {
    TRecordingTray tray;
    TFakeClock clock;
    TTrayNotices notices(tray, clock);
    notices.ShowBalloon(std::string(64, 'T'), std::string(256, 'x'));
    EXPECT_EQ(tray.Calls, std::vector<std::string>{"show " + std::string(63, 'T') + " | " +
                                                   std::string(255, 'x') + " | 1 | 3"});
    EXPECT_FALSE(notices.BalloonHidden());
}

TEST(TTrayNotices, HidesTheBalloonAndRestoresTheHintSixSecondsAfterTheLastBalloon) {
    TRecordingTray tray;
    TFakeClock clock;
    clock.SetMs(1000);
    TTrayNotices notices(tray, clock);
    notices.SetHint("First - ORVANE3");
    notices.ShowBalloon("Now playing on C", "First");
    EXPECT_TRUE(notices.TimerEnabled());
    EXPECT_EQ(notices.TimerDueMs(), 7000);

    // A second balloon within six seconds restarts the timer.
    clock.SetMs(5000);
    EXPECT_FALSE(notices.Poll());
    notices.SetHint("Second - ORVANE3");
    notices.ShowBalloon("Now playing on C", "Second");
    EXPECT_EQ(notices.TimerDueMs(), 11000);
    clock.SetMs(10999);
    EXPECT_FALSE(notices.Poll());
    EXPECT_FALSE(notices.BalloonHidden());

    tray.Calls.clear();
    clock.SetMs(11000);
    EXPECT_TRUE(notices.Poll());
    EXPECT_EQ(tray.Calls, (std::vector<std::string>{"hide", "hint ORVANE3"}));
    EXPECT_TRUE(notices.BalloonHidden());
    EXPECT_FALSE(notices.TimerEnabled());
    EXPECT_EQ(notices.Hint(), "ORVANE3");
    clock.SetMs(20000);
    EXPECT_FALSE(notices.Poll());
}

TEST(TTrayNotices, TimerAfterAnEarlyHideRestoresTheHintWithoutHidingAgain) {
    TRecordingTray tray;
    TFakeClock clock;
    TTrayNotices notices(tray, clock);
    notices.ShowBalloon("Now playing on C", "Clip");
    // Recognition lost: the search asks for the hide once, as BalloonHidden is then true.
    notices.SetHint("ORVANE3");
    EXPECT_FALSE(notices.BalloonHidden());
    notices.HideBalloon();
    EXPECT_TRUE(notices.BalloonHidden());

    tray.Calls.clear();
    clock.SetMs(6000);
    EXPECT_TRUE(notices.Poll());
    EXPECT_EQ(tray.Calls, std::vector<std::string>{"hint ORVANE3"});
    EXPECT_TRUE(notices.BalloonHidden());
}

TEST(TTrayNotices, NoBalloonMeansNoTimer) {
    TRecordingTray tray;
    TFakeClock clock;
    clock.SetMs(100000);
    TTrayNotices notices(tray, clock);
    EXPECT_TRUE(notices.BalloonHidden());
    EXPECT_FALSE(notices.TimerEnabled());
    EXPECT_FALSE(notices.Poll());
    EXPECT_TRUE(tray.Calls.empty());
}

}  // namespace
}  // namespace orvane::tracking
