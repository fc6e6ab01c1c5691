#include "tracking/TLogSystem.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tracking/TQueuePoster.h"
#include "tracking/TStreamClock.h"
#include "tracking/TrackingFakes.h"

namespace orvane::tracking {
namespace {

using test::TakeActivities;
using test::TFakeClock;

constexpr std::int64_t ClipA = 1024;
constexpr std::int64_t ClipB = 1025;
constexpr TDateTime Start = 45357.5;  // 2024-03-06 12:00:00

TDateTime At(double seconds) { return Start + seconds / 86400.0; }

class TFakeChannel final : public ITrackedChannel {
public:
    bool Active() const override { return FActive.load(); }
    capInfo ReadCap() const override {
        std::lock_guard lock(FLock);
        return FCap;
    }
    std::string Caption() const override { return "Channel01"; }
    void ClearLastUniqueID() override { ++Cleared; }

    void SetActive(bool value) { FActive.store(value); }
    void Hear(std::int64_t id, const std::string& title, float pos, TDateTime when) {
        std::lock_guard lock(FLock);
        FCap.UniqueID = id;
        FCap.Caption = title;
        FCap.Pos = pos;
        FCap.TimeStamp = when;
    }
    void Lose() {
        std::lock_guard lock(FLock);
        FCap.UniqueID = NoClipID;
        FCap.Caption.clear();
        FCap.Pos = 0;
    }
    std::atomic<int> Cleared{0};

private:
    std::atomic<bool> FActive{false};
    mutable std::mutex FLock;
    capInfo FCap;
};

class TLogSystemTest : public ::testing::Test {
protected:
    TLogSystemTest() : Posting(Queue, Clock), Tracker(Posting, Clock) {
        Tracker.AddChannel(Channel);
        Tracker.OnTriggerEvent = [this](TTrackerEvent kind, const std::vector<std::string>& pairs) {
            Events.push_back(kind);
            EventPairs.push_back(pairs);
        };
    }

    /// One timer step at `seconds` after the start.
    void StepAt(double seconds) {
        Clock.SetNow(At(seconds));
        Tracker.LogHandler();
    }
    /// The clip is heard at `pos` seconds into it, `seconds` after the start, then a step.
    void HearAt(double seconds, std::int64_t id, const std::string& title, float pos) {
        Channel.Hear(id, title, pos, At(seconds));
        StepAt(seconds);
    }
    void SwitchOn(double seconds) {
        Channel.SetActive(true);
        StepAt(seconds);
    }
    std::vector<TActivityData> Lines() { return TakeActivities(Queue); }

    TQueuePoster Queue;
    TFakeClock Clock;
    TPosting Posting;
    TFakeChannel Channel;
    TLogSystem Tracker;
    std::vector<TTrackerEvent> Events;
    std::vector<std::vector<std::string>> EventPairs;
};

TEST(TLogSystemFormat, WritesTheClipSpanWithBeginRoundedBackAndEndForward) {
    capInfo start;
    start.Caption = "Song";
    start.UniqueID = ClipA;
    start.Pos = 12.2f;
    start.TimeStamp = At(3);
    capInfo last = start;
    last.Pos = 190.0f;
    last.TimeStamp = At(181);
    TLoggedClip clip;
    ASSERT_TRUE(TLogSystem::FormatLogLine(start, last, "Channel01", clip));
    EXPECT_EQ(clip.Line, "Channel01: Song [0:11 - 3:10] (2:59)");
    EXPECT_EQ(clip.Begin, 11);
    EXPECT_EQ(clip.End, 190);
    EXPECT_EQ(clip.FirstHeard, At(3));
    EXPECT_EQ(clip.LastHeard, At(181));
}

TEST(TLogSystemFormat, SpansOfOneSecondOrLessAreNotLoggedAndBeginsClampAtZero) {
    struct TCase {
        float From, To;
        bool Logged;
        const char* Span;
    };
    const TCase cases[] = {
        {10.0f, 11.4f, false, ""},                     // rounded span 1
        {10.0f, 11.6f, true, "[0:08 - 0:12] (0:04)"},  // span 2; 8.5 rounds to even
        {0.4f, 30.0f, true, "[0:00 - 0:30] (0:30)"},   // begin clamped, not negative
        {30.0f, 30.0f, false, ""},
        {50.0f, 20.0f, true, "[0:48 - 0:20] (0:00)"},  // heard backwards: duration 0:00
    };
    for (const TCase& c : cases) {
        capInfo start;
        start.Caption = "T";
        start.Pos = c.From;
        capInfo last = start;
        last.Pos = c.To;
        TLoggedClip clip;
        EXPECT_EQ(TLogSystem::FormatLogLine(start, last, "C", clip), c.Logged) << c.From;
        if (c.Logged) {
            EXPECT_EQ(clip.Line, std::string("C: T ") + c.Span) << c.From;
        }
    }
}

TEST_F(TLogSystemTest, LogsTheHeardSpanWhenTheChannelIsSwitchedOffWhileTracking) {
    SwitchOn(0);
    HearAt(3, ClipA, "Song", 12.2f);
    for (int i = 1; i <= 10; ++i) HearAt(3 + i * 0.5, ClipA, "Song", 12.2f + i * 0.5f);
    HearAt(181, ClipA, "Song", 190.0f);
    EXPECT_TRUE(Lines().empty());

    Channel.SetActive(false);
    Tracker.FinalizeChannel(0);  // what switching the channel off does
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Str, "Channel01: Song [0:11 - 3:10] (2:59)");
    EXPECT_EQ(lines[0].Icon, TActivityIcon::aiArrow);
    EXPECT_EQ(lines[0].DT, At(3));  // the row shows when the clip was first heard

    StepAt(182);  // the step that sees the channel off logs nothing more
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(Tracker.Data(0).LSStart.UniqueID, NoClipID);
}

TEST_F(TLogSystemTest, ReportsAClipStartWithItsPlaceholders) {
    SwitchOn(0);
    HearAt(2, ClipA, "Song", 187.4f);
    ASSERT_EQ(Events, (std::vector{TTrackerEvent::teClipAfterIdle, TTrackerEvent::teClipStarted}));
    EXPECT_EQ(EventPairs[0], (std::vector<std::string>{"%date", "2024-03-06", "%time", "12:00:02",
                                                       "%channel", "Channel01"}));
    EXPECT_EQ(EventPairs[1], (std::vector<std::string>{"%title", "Song", "%position", "3:07",
                                                       "%date", "2024-03-06", "%time", "12:00:02",
                                                       "%channel", "Channel01"}));
}

TEST_F(TLogSystemTest, AShortDropoutKeepsTrackingTheSameClip) {
    Tracker.SetIdleTimeout(5);
    SwitchOn(0);
    HearAt(1, ClipA, "Song", 20.0f);
    HearAt(2, ClipA, "Song", 21.0f);
    Channel.Lose();
    for (double s = 2.5; s <= 5.0; s += 0.5) StepAt(s);  // lost for 3 s
    HearAt(5.5, ClipA, "Song", 24.5f);
    HearAt(6, ClipA, "Song", 25.0f);
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(Events.size(), 2u);  // only the first start (kinds 3 and 0)
    EXPECT_EQ(Channel.Cleared.load(), 0);
    EXPECT_FALSE(Tracker.Data(0).IdleTimerRunning);

    Tracker.FinalizeChannel(0);
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Str, "Channel01: Song [0:18 - 0:25] (0:07)");
}

TEST_F(TLogSystemTest, ALongDropoutExpiresTheClipOnceAndForgetsItsAnnouncement) {
    Tracker.SetIdleTimeout(5);
    SwitchOn(0);
    HearAt(1, ClipA, "Song", 20.0f);
    HearAt(4, ClipA, "Song", 23.0f);
    Channel.Lose();
    StepAt(4.5);  // lost: idle timer starts
    StepAt(9.0);  // 4.5 s: not yet
    EXPECT_TRUE(Lines().empty());
    StepAt(9.5);  // 5.0 s: not more than the timeout
    EXPECT_TRUE(Lines().empty());
    StepAt(10.0);  // 5.5 s: expired
    StepAt(20.0);
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Str, "Channel01: Song [0:18 - 0:23] (0:05)");
    EXPECT_EQ(Events, (std::vector{TTrackerEvent::teClipAfterIdle, TTrackerEvent::teClipStarted,
                                   TTrackerEvent::teClipExpired}));
    EXPECT_EQ(EventPairs[2][3], "12:00:10");
    EXPECT_EQ(Channel.Cleared.load(), 1);
    EXPECT_EQ(Tracker.Data(0).LSStart.UniqueID, NoClipID);

    HearAt(21, ClipA, "Song", 40.0f);  // the same clip returning is a new start
    EXPECT_EQ(Events.size(), 5u);
    EXPECT_EQ(Events[3], TTrackerEvent::teClipAfterIdle);
    EXPECT_EQ(Events[4], TTrackerEvent::teClipStarted);
}

TEST_F(TLogSystemTest, ClipAFollowedByClipBLogsAAtItsLastSeenPosition) {
    SwitchOn(0);
    HearAt(1, ClipA, "Alpha", 30.0f);
    HearAt(2, ClipA, "Alpha", 31.0f);
    HearAt(3, ClipA, "Alpha", 32.0f);
    HearAt(3.5, ClipB, "Beta", 5.0f);
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Str, "Channel01: Alpha [0:28 - 0:32] (0:04)");
    EXPECT_EQ(lines[0].DT, At(1));
    EXPECT_EQ(Events, (std::vector{TTrackerEvent::teClipAfterIdle, TTrackerEvent::teClipStarted,
                                   TTrackerEvent::teClipStarted}));
    EXPECT_EQ(EventPairs[2][1], "Beta");
    EXPECT_EQ(Tracker.Data(0).LSStart.UniqueID, ClipB);
}

TEST_F(TLogSystemTest, SwitchingOnAgainStartsFromIdle) {
    SwitchOn(0);
    HearAt(1, ClipA, "Song", 10.0f);
    HearAt(5, ClipA, "Song", 14.0f);
    Channel.SetActive(false);
    StepAt(5.5);  // the step sees the channel go off and logs the clip
    EXPECT_EQ(Lines().size(), 1u);

    Channel.Lose();
    SwitchOn(6);
    HearAt(7, ClipA, "Song", 15.0f);
    EXPECT_EQ(Events, (std::vector{TTrackerEvent::teClipAfterIdle, TTrackerEvent::teClipStarted,
                                   TTrackerEvent::teClipAfterIdle, TTrackerEvent::teClipStarted}));
}

TEST_F(TLogSystemTest, ATitleHoldingALaterPlaceholderIsExpandedAgain) {
    SwitchOn(0);
    HearAt(1, ClipA, "Live on %channel", 10.0f);
    HearAt(6, ClipA, "Live on %channel", 15.0f);
    Tracker.FinalizeChannel(0);
    const auto lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Str, "Channel01: Live on Channel01 [0:08 - 0:15] (0:07)");
}

TEST_F(TLogSystemTest, NothingRecognisedSinceSwitchingOnExpiresWithoutAnEvent) {
    SwitchOn(0);
    for (double s = 0.5; s <= 12; s += 0.5) StepAt(s);
    EXPECT_TRUE(Lines().empty());
    EXPECT_TRUE(Events.empty());
    EXPECT_FALSE(Tracker.Data(0).IdleTimerRunning);
}

TEST_F(TLogSystemTest, ShutdownLogsTheClipStillTrackedAndStopsStepping) {
    SwitchOn(0);
    HearAt(1, ClipA, "Song", 10.0f);
    HearAt(6, ClipA, "Song", 15.0f);
    Tracker.Shutdown();
    EXPECT_EQ(Lines().size(), 1u);
    HearAt(7, ClipB, "Other", 1.0f);
    Tracker.Shutdown();
    EXPECT_TRUE(Lines().empty());
}

TEST_F(TLogSystemTest, ReportsEveryLoggedClipAsData) {
    std::vector<TLoggedClip> clips;
    Tracker.OnClipLogged = [&](const TLoggedClip& clip) { clips.push_back(clip); };
    SwitchOn(0);
    HearAt(1, ClipA, "Song", 10.0f);
    HearAt(6, ClipA, "Song", 15.0f);
    Tracker.FinalizeChannel(0);
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(clips[0].Title, "Song");
    EXPECT_EQ(clips[0].UniqueID, ClipA);
    EXPECT_EQ(clips[0].FirstHeard, At(1));
    EXPECT_EQ(clips[0].LastHeard, At(6));
}

/// Writes down what an observer of the tracked clips is told, one text per call.
class TRecordingObserver final : public IClipObserver {
public:
    void ClipStarted(std::int32_t channel, const capInfo& start,
                     const std::string& caption) override {
        Calls.push_back("start " + std::to_string(channel) + " " + start.Caption + " " +
                        std::to_string(start.Pos) + " " + caption);
    }
    void ClipSeen(std::int32_t channel, const capInfo& lastSeen) override {
        Calls.push_back("seen " + std::to_string(channel) + " " + std::to_string(lastSeen.Pos));
    }
    void ClipEnded(std::int32_t channel, const capInfo& start, const capInfo& lastSeen,
                   const TLoggedClip* clip) override {
        Calls.push_back("end " + std::to_string(channel) + " " + start.Caption + " " +
                        std::to_string(lastSeen.Pos) + " " + (clip ? clip->Line : "unlogged"));
    }
    std::vector<std::string> Calls;
};

TEST_F(TLogSystemTest, TellsObserversOfEveryStartSightingAndEndLoggedOrNot) {
    TRecordingObserver observer;
    Tracker.AddObserver(observer);
    SwitchOn(0);
    HearAt(1, ClipA, "Alpha", 30.0f);
    HearAt(2, ClipA, "Alpha", 31.0f);
    HearAt(3, ClipA, "Alpha", 32.0f);
    HearAt(3.5, ClipB, "Beta", 5.0f);  // Alpha ends, logged
    HearAt(4, ClipA, "Alpha", 50.0f);  // Beta ends after one sighting: too short to log
    Channel.Lose();
    for (double s = 4.5; s <= 10.5; s += 0.5) StepAt(s);  // Alpha expires after 5 s
    EXPECT_EQ(observer.Calls,
              (std::vector<std::string>{
                  "start 0 Alpha 30.000000 Channel01", "seen 0 30.000000", "seen 0 31.000000",
                  "seen 0 32.000000", "end 0 Alpha 32.000000 Channel01: Alpha [0:28 - 0:32] (0:04)",
                  "start 0 Beta 5.000000 Channel01", "seen 0 5.000000",
                  "end 0 Beta 5.000000 unlogged", "start 0 Alpha 50.000000 Channel01",
                  "seen 0 50.000000", "end 0 Alpha 50.000000 unlogged"}));

    Tracker.RemoveObserver(observer);
    HearAt(11, ClipB, "Beta", 1.0f);
    EXPECT_EQ(observer.Calls.size(), 11u);
}

TEST(TLogSystemStreamTime, AFileGivesTheSameLinesWhateverTheStepTimes) {
    // Stream time, not wall time: a dropout of 3 s of audio is 3 s however fast it was analysed.
    TQueuePoster queue;
    TFakeClock wall;
    TPosting posting(queue, wall);
    TStreamClock stream;
    TLogSystem tracker(posting, stream);
    TFakeChannel channel;
    tracker.AddChannel(channel);
    channel.SetActive(true);
    const auto stepAt = [&](double seconds) {
        stream.Set(seconds / 86400.0);
        tracker.HandleChannel(0);
    };
    stepAt(0.37);
    for (double s = 1.11; s < 20; s += 1.11) {
        if (s > 8 && s < 12) {
            channel.Lose();
        } else {
            channel.Hear(ClipA, "Song", static_cast<float>(s + 40), s / 86400.0);
        }
        stepAt(s);
    }
    channel.SetActive(false);
    tracker.FinalizeChannel(0);
    const auto lines = TakeActivities(queue);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Str, "Channel01: Song [0:40 - 1:00] (0:20)");
}

TEST(TLogSystemThreads, StepsFromTwoThreadsAreSerialised) {
    TQueuePoster queue;
    TFakeClock clock;
    TPosting posting(queue, clock);
    TLogSystem tracker(posting, clock);
    TFakeChannel channel;
    tracker.AddChannel(channel);
    channel.SetActive(true);
    std::atomic<bool> stop{false};
    std::thread other([&] {
        while (!stop.load()) tracker.HandleChannel(0);
    });
    for (int i = 0; i < 2000; ++i) {
        channel.Hear(i % 7 == 0 ? ClipB : ClipA, "x", static_cast<float>(i), Start);
        tracker.LogHandler();
    }
    stop.store(true);
    other.join();
    channel.SetActive(false);
    tracker.FinalizeChannel(0);
    EXPECT_GE(queue.Count(), 1u);
}

}  // namespace
}  // namespace orvane::tracking
