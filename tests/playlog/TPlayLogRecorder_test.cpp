#include "playlog/TPlayLogRecorder.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "playlog/PlayLogFakes.h"
#include "tracking/TPosting.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TStreamClock.h"

namespace orvane::playlog {
namespace {

using test::TRecordingPlayLog;
using test::TScriptedChannel;

constexpr std::int64_t ClipA = 1024;
constexpr std::int64_t ClipB = 1025;

/// Stream time in seconds as a date-time counted from 0; its wall ms are the same seconds.
tracking::TDateTime At(double seconds) { return seconds / 86400.0; }

class TPlayLogRecorderTest : public ::testing::Test {
protected:
    explicit TPlayLogRecorderTest(std::string stream = "")
        : Posting(Queue, Clock),
          Recorder(Log, std::move(stream), [] { return std::string("Radio says"); }),
          Tracker(Posting, Clock) {
        Tracker.AddChannel(Channel);
        Tracker.AddObserver(Recorder);
        Recorder.ToUtcMs = [](tracking::TDateTime value) {
            return static_cast<std::int64_t>(std::llround(value * 86400000.0));
        };
        Recorder.FileOf = [](std::int64_t id) { return "/fp/" + std::to_string(id) + ".qnf"; };
        Recorder.OnError = [this](const std::string& message) { Errors.push_back(message); };
    }
    void StepAt(double seconds) {
        Clock.Set(At(seconds));
        Tracker.LogHandler();
    }
    void HearAt(double seconds, std::int64_t id, const std::string& title, float pos) {
        Channel.Hear(id, title, pos, At(seconds));
        StepAt(seconds);
    }
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        for (auto& message : Queue.TakeAll()) {
            if (auto* entry = std::get_if<tracking::TActivityData>(&message)) {
                lines.push_back(entry->Str);
            }
        }
        return lines;
    }

    tracking::TQueuePoster Queue;
    tracking::TStreamClock Clock;
    tracking::TPosting Posting;
    TScriptedChannel Channel{"Channel01"};
    // The tracker goes first: its shutdown completes the open plays through the recorder.
    TRecordingPlayLog Log;
    TPlayLogRecorder Recorder;
    tracking::TLogSystem Tracker;
    std::vector<std::string> Errors;
};

TEST_F(TPlayLogRecorderTest, BeginsKeepsSeeingAndCompletesPlaysAsTheLogLineStatesThem) {
    Channel.SetActive(true);
    StepAt(0);
    HearAt(1, ClipA, "Alpha", 30.0f);
    EXPECT_EQ(Recorder.OpenPlay(0), 1);
    HearAt(2, ClipA, "Alpha", 31.0f);  // heard 1 s: not yet a play worth keeping
    HearAt(3, ClipA, "Alpha", 32.0f);  // loggable now: written at once
    HearAt(4, ClipA, "Alpha", 33.0f);
    HearAt(5.5, ClipA, "Alpha", 34.5f);
    HearAt(6, ClipA, "Alpha", 35.0f);  // 3 s after the last write
    HearAt(6.5, ClipB, "Beta", 5.0f);  // Alpha ends at its last sighting
    HearAt(7, ClipB, "Beta", 5.5f);
    Tracker.FinalizeChannel(0);  // Beta was heard too briefly for a log line

    EXPECT_EQ(Log.Calls, (std::vector<std::string>{
                             "begin 1 Channel01|Alpha|/fp/1024.qnf|Radio says|1000|28",
                             "seen 1 3000|32",
                             "seen 1 6000|35",
                             "end 1 6000|7|28|35",
                             "begin 2 Channel01|Beta|/fp/1025.qnf|Radio says|6500|4",
                             "discard 2",
                         }));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"Channel01: Alpha [0:28 - 0:35] (0:07)"}));
    EXPECT_EQ(Recorder.OpenPlay(0), 0);
    EXPECT_TRUE(Errors.empty());
}

TEST_F(TPlayLogRecorderTest, AnExpiredClipIsCompletedAtItsLastSighting) {
    Channel.SetActive(true);
    StepAt(0);
    HearAt(1, ClipA, "Alpha", 0.4f);
    HearAt(4, ClipA, "Alpha", 3.4f);
    Channel.Lose();
    for (double s = 4.5; s <= 10.5; s += 0.5) StepAt(s);
    ASSERT_EQ(Log.Calls.size(), 3u);
    EXPECT_EQ(Log.Calls[2], "end 1 4000|4|0|4");  // begin clamps at 0:00
}

TEST_F(TPlayLogRecorderTest, AFailingLogIsReportedOncePerRunOfFailuresAndTheTrackerGoesOn) {
    Channel.SetActive(true);
    StepAt(0);
    Log.Broken = true;
    HearAt(1, ClipA, "Alpha", 30.0f);
    HearAt(5, ClipA, "Alpha", 34.0f);
    HearAt(6, ClipB, "Beta", 10.0f);  // fails again: not reported again
    Log.Broken = false;
    HearAt(7, ClipA, "Alpha", 40.0f);
    HearAt(10, ClipA, "Alpha", 43.0f);
    Log.Broken = true;
    HearAt(11, ClipB, "Beta", 1.0f);  // the end fails after a success: reported
    EXPECT_EQ(Errors, (std::vector<std::string>{"disk full", "disk full"}));
    EXPECT_EQ(Lines(), (std::vector<std::string>{"Channel01: Alpha [0:28 - 0:34] (0:06)",
                                                 "Channel01: Alpha [0:38 - 0:43] (0:05)"}));
    EXPECT_EQ(Log.Calls,
              (std::vector<std::string>{"begin 1 Channel01|Alpha|/fp/1024.qnf|Radio says|7000|38",
                                        "seen 1 10000|43"}));
}

class TNamedStreamRecorderTest : public TPlayLogRecorderTest {
protected:
    TNamedStreamRecorderTest() : TPlayLogRecorderTest("Radio One") {}
};

TEST_F(TNamedStreamRecorderTest, AStreamNameStandsForTheChannelCaption) {
    Channel.SetActive(true);
    StepAt(0);
    HearAt(1, ClipA, "Alpha", 30.0f);
    ASSERT_EQ(Log.Calls.size(), 1u);
    EXPECT_EQ(Log.Calls[0], "begin 1 Radio One|Alpha|/fp/1024.qnf|Radio says|1000|28");
}

TEST(LocalDateTimeToUtcMs, ReadsTheDateTimeInTheLocalZone) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    const tracking::TDateTime moment = tracking::EncodeDateTime({2026, 12, 10, 7, 49, 14, 123});
    setenv("TZ", "UTC0", 1);
    tzset();
    EXPECT_EQ(LocalDateTimeToUtcMs(moment), 1796881754123 + 2 * 3600000);
    setenv("TZ", "XST-2", 1);  // two hours east of Greenwich
    tzset();
    EXPECT_EQ(LocalDateTimeToUtcMs(moment), 1796881754123);
    if (old) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

}  // namespace
}  // namespace orvane::playlog
