#include "tracking/TAnnouncer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/Errors.h"

namespace orvane::tracking {
namespace {

using namespace std::chrono_literals;
using TPhase = TAnnouncer::TWorkerPhase;

// Waits (as a guard against a hang, not as a measure of speed) until `done` holds.
bool WaitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// What every fake voice of one test shares: the texts spoken in order, how many voices live at
// once, and a gate that holds Speak until the test opens it.
struct TVoiceLog {
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<std::string> Spoken;
    int Live = 0;
    int MostLive = 0;
    int Made = 0;
    bool GateOpen = true;
    int Entered = 0;      // Speak calls that have begun
    int FailFactory = 0;  // the next this many voices cannot be made
    int FailSpeak = 0;    // the next this many Speak calls fail
    int Aborts = 0;
    std::function<void()> DuringSpeak;

    std::vector<std::string> SpokenCopy() {
        std::lock_guard lock(Lock);
        return Spoken;
    }
    void OpenGate() {
        std::lock_guard lock(Lock);
        GateOpen = true;
        Changed.notify_all();
    }
    void WaitEntered(int count) {
        std::unique_lock lock(Lock);
        Changed.wait(lock, [&] { return Entered >= count; });
    }
};

class TFakeVoice final : public ISpeechVoice {
public:
    explicit TFakeVoice(TVoiceLog& log) : FLog(log) {
        std::lock_guard lock(FLog.Lock);
        ++FLog.Live;
        ++FLog.Made;
        FLog.MostLive = std::max(FLog.MostLive, FLog.Live);
    }
    ~TFakeVoice() override {
        std::lock_guard lock(FLog.Lock);
        --FLog.Live;
    }
    void Speak(const std::string& text) override {
        std::function<void()> during;
        {
            std::unique_lock lock(FLog.Lock);
            ++FLog.Entered;
            FLog.Changed.notify_all();
            FLog.Changed.wait(lock, [&] { return FLog.GateOpen || FAborted.load(); });
            if (FLog.FailSpeak > 0) {
                --FLog.FailSpeak;
                throw EError("speaker unplugged");
            }
            if (!FAborted.load()) {
                FLog.Spoken.push_back(text);
            }
            during = FLog.DuringSpeak;
        }
        if (during) {
            during();
        }
    }
    void Abort() override {
        FAborted.store(true);
        std::lock_guard lock(FLog.Lock);
        ++FLog.Aborts;
        FLog.Changed.notify_all();
    }

private:
    TVoiceLog& FLog;
    std::atomic<bool> FAborted{false};
};

TVoiceFactory FakeVoices(TVoiceLog& log) {
    return [&log]() -> std::unique_ptr<ISpeechVoice> {
        {
            std::lock_guard lock(log.Lock);
            if (log.FailFactory > 0) {
                --log.FailFactory;
                throw EError("no speech engine installed");
            }
        }
        return std::make_unique<TFakeVoice>(log);
    };
}

bool Idle(const TAnnouncer& announcer) {
    return !announcer.WorkerRunning() && announcer.QueuedCount() == 0;
}

struct TTextCase {
    const char* Title;
    const char* Caption;
    const char* Expected;
};

class SpeechTextRules : public testing::TestWithParam<TTextCase> {};

TEST_P(SpeechTextRules, GiveTheTextToSpeak) {
    const TTextCase& c = GetParam();
    EXPECT_EQ(SpeechText(c.Title, c.Caption), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    TAnnouncer, SpeechTextRules,
    testing::Values(
        // Without a dash: stars dropped, case, underscores and outer blanks kept.
        TTextCase{"My_Song*", "Channel 1", "My_Song -.-- on Channel 1"},
        TTextCase{"  Quiet Song ", "Line In", "  Quiet Song  -.-- on Line In"},
        TTextCase{"", "Line In", " -.-- on Line In"},
        // With a dash: song part first, all lower case, underscores as blanks, inner blanks kept.
        TTextCase{"The_Artist - Great_Song", "Channel 1",
                  "great song -.-- by the artist  -.-- on Channel 1"},
        TTextCase{"ABBA-Waterloo", "Line IN", "waterloo -.-- by abba -.-- on Line IN"},
        TTextCase{"Artist feat Other - Song", "C",
                  "song -.-- by artist featuring other  -.-- on C"},
        TTextCase{"A Ft. B - X", "C", "x -.-- by a featuring b  -.-- on C"},
        TTextCase{"A.B.C - Mr. Big", "C", "mr. big -.-- by abc  -.-- on C"},
        TTextCase{"Beyonce - Halo", "C", "halo -.-- by bee yon say  -.-- on C"},
        TTextCase{"BJORK_ - Army", "C", "army -.-- by byerk   -.-- on C"},
        TTextCase{"Sinead - Song", "C", "song -.-- by shin aid  -.-- on C"},
        // Only the first dash splits; stars go before the dash is looked for.
        TTextCase{"A - B - C", "X", "b - c -.-- by a  -.-- on X"},
        TTextCase{"*-*Song", "X", "song -.-- by  -.-- on X"},
        TTextCase{"A*-B", "X", "b -.-- by a -.-- on X"},
        // Outer blanks trimmed, the caption's included; the caption is never changed otherwise.
        TTextCase{"  A - B  ", "My_Channel ", "b   -.-- by   a  -.-- on My_Channel"},
        // Letters beyond ASCII are lower-cased too.
        TTextCase{"\xC3\x89"
                  "DITH_Piaf - Non",
                  "X",
                  "non -.-- by \xC3\xA9"
                  "dith piaf  -.-- on X"}));

TEST(TAnnouncer, RespellsEveryOccurrenceIgnoringCaseInTableOrder) {
    EXPECT_EQ(Respell("a_b.c"), "abc");
    EXPECT_EQ(Respell("x FEAT y feat z"), "x featuring y featuring z");
    // " ft." loses its dot by row 2 before row 4 looks for " ft ".
    EXPECT_EQ(Respell("x ft. y"), "x featuring y");
    EXPECT_EQ(Respell("BeYoNcE & bjork & SINEAD"), "bee yon say & byerk & shin aid");
    // A replacement is not scanned again.
    EXPECT_EQ(Respell("x feat feat y"), "x featuring feat y");
    EXPECT_EQ(Respell(""), "");
}

TEST(TAnnouncer, LowerCasesLettersOfCommonScriptsAndLeavesOtherBytesAlone) {
    EXPECT_EQ(LowerText("ABC xyz 09_-"), "abc xyz 09_-");
    EXPECT_EQ(LowerText("\xC3\x84\xC3\x96\xC3\x9C\xC3\x97"), "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x97");
    EXPECT_EQ(LowerText("\xC5\x81\xC5\xB8\xC4\xB0"),
              "\xC5\x82\xC3\xBF\xC4\xB0");  // L-stroke, Y-diaeresis, dotted I
    EXPECT_EQ(LowerText("\xD0\x90\xD0\x81\xCE\xA9"),
              "\xD0\xB0\xD1\x91\xCF\x89");  // Cyrillic A, IO, Greek Omega
    EXPECT_EQ(LowerText("\xE2\x82\xAC\xF0\x9F\x8E\xB5"), "\xE2\x82\xAC\xF0\x9F\x8E\xB5");
    EXPECT_EQ(LowerText("\xC3\xFF\x80Z"), "\xC3\xFF\x80z");
}

TEST(TAnnouncer, QueuesNothingAndStartsNoWorkerWhileSwitchedOff) {
    TVoiceLog log;
    TAnnouncer announcer(FakeVoices(log));
    announcer.AnnounceClip("Artist - Song", "Channel 1");
    EXPECT_EQ(announcer.QueuedCount(), 0u);
    EXPECT_FALSE(announcer.WorkerRunning());
    EXPECT_EQ(announcer.WorkersStarted(), 0u);
    EXPECT_EQ(log.Made, 0);
}

TEST(TAnnouncer, SpeaksClipsHeardCloseTogetherInOrderWithOneWorker) {
    TVoiceLog log;
    log.GateOpen = false;
    TAnnouncer announcer(FakeVoices(log));
    announcer.SetEnabled(true);
    announcer.AnnounceClip("First", "C");
    log.WaitEntered(1);
    announcer.AnnounceClip("Second", "C");
    EXPECT_EQ(announcer.QueuedTexts(),
              (std::vector<std::string>{"First -.-- on C", "Second -.-- on C"}));
    log.OpenGate();
    ASSERT_TRUE(WaitUntil([&] { return Idle(announcer); }));
    EXPECT_EQ(log.SpokenCopy(), (std::vector<std::string>{"First -.-- on C", "Second -.-- on C"}));
    EXPECT_EQ(announcer.WorkersStarted(), 1u);

    // A clip much later finds no worker and starts a new one.
    announcer.AnnounceClip("Third", "C");
    ASSERT_TRUE(WaitUntil([&] { return Idle(announcer); }));
    EXPECT_EQ(log.SpokenCopy().back(), "Third -.-- on C");
    EXPECT_EQ(announcer.WorkersStarted(), 2u);
    EXPECT_EQ(log.MostLive, 1);
}

TEST(TAnnouncer, EndingWorkerStillSpeaksATextAppendedBeforeItClearsItsRecord) {
    TVoiceLog log;
    TAnnouncer announcer(FakeVoices(log));
    std::atomic<bool> appended{false};
    std::atomic<int> hookCalls{0};
    announcer.OnWorkerEnding = [&](TPhase phase) {
        if (phase == TPhase::wpFoundQueueEmpty && hookCalls.fetch_add(1) == 0) {
            // The main thread appends while this worker stands between its empty look and
            // clearing its record.
            ASSERT_TRUE(WaitUntil([&] { return appended.load(); }));
        }
    };
    announcer.SetEnabled(true);
    announcer.AnnounceClip("One", "C");
    ASSERT_TRUE(WaitUntil([&] { return hookCalls.load() == 1; }));
    EXPECT_TRUE(announcer.WorkerRunning());
    announcer.AnnounceClip("Two", "C");
    appended.store(true);
    ASSERT_TRUE(WaitUntil([&] { return Idle(announcer); }));
    EXPECT_EQ(log.SpokenCopy(), (std::vector<std::string>{"One -.-- on C", "Two -.-- on C"}));
    EXPECT_EQ(announcer.WorkersStarted(), 1u);
}

TEST(TAnnouncer, TextAppendedAfterTheWorkerClearedItsRecordStartsANewWorker) {
    TVoiceLog log;
    TAnnouncer announcer(FakeVoices(log));
    std::atomic<bool> appended{false};
    std::atomic<int> hookCalls{0};
    announcer.OnWorkerEnding = [&](TPhase phase) {
        if (phase == TPhase::wpRecordCleared && hookCalls.fetch_add(1) == 0) {
            ASSERT_TRUE(WaitUntil([&] { return appended.load(); }));
        }
    };
    announcer.SetEnabled(true);
    announcer.AnnounceClip("One", "C");
    ASSERT_TRUE(WaitUntil([&] { return hookCalls.load() == 1; }));
    EXPECT_FALSE(announcer.WorkerRunning());
    announcer.AnnounceClip("Two", "C");
    EXPECT_TRUE(announcer.WorkerRunning());
    appended.store(true);
    ASSERT_TRUE(WaitUntil([&] { return Idle(announcer); }));
    EXPECT_EQ(log.SpokenCopy(), (std::vector<std::string>{"One -.-- on C", "Two -.-- on C"}));
    EXPECT_EQ(announcer.WorkersStarted(), 2u);
    EXPECT_EQ(log.MostLive, 1);
}

TEST(TAnnouncer, LosesNoAnnouncementAndNeverRunsTwoVoicesUnderAStream) {
    TVoiceLog log;
    TAnnouncer announcer(FakeVoices(log));
    std::mt19937 random(7);
    std::mutex randomLock;
    auto jitter = [&] {
        int micros = 0;
        {
            std::lock_guard lock(randomLock);
            micros = static_cast<int>(random() % 300);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(micros));
    };
    announcer.OnWorkerEnding = [&](TPhase) { jitter(); };
    log.DuringSpeak = jitter;
    announcer.SetEnabled(true);
    std::vector<std::string> expected;
    for (int i = 0; i < 300; ++i) {
        const std::string title = "Clip " + std::to_string(i);
        announcer.AnnounceClip(title, "C");
        expected.push_back(title + " -.-- on C");
        jitter();
    }
    ASSERT_TRUE(WaitUntil([&] { return Idle(announcer); }));
    EXPECT_EQ(log.SpokenCopy(), expected);
    EXPECT_EQ(log.MostLive, 1);
}

TEST(TAnnouncer, KeepsTextsQueuedWhenNoVoiceCanBeMadeAndTriesAgainOnTheNextClip) {
    TVoiceLog log;
    log.FailFactory = 1;
    TAnnouncer announcer(FakeVoices(log));
    std::vector<std::string> errors;
    announcer.OnSpeechError = [&](const std::string& message) { errors.push_back(message); };
    announcer.SetEnabled(true);
    announcer.AnnounceClip("One", "C");
    ASSERT_TRUE(WaitUntil([&] { return !announcer.WorkerRunning(); }));
    EXPECT_EQ(errors, std::vector<std::string>{"no speech engine installed"});
    EXPECT_EQ(announcer.QueuedCount(), 1u);

    announcer.AnnounceClip("Two", "C");
    ASSERT_TRUE(WaitUntil([&] { return Idle(announcer); }));
    EXPECT_EQ(log.SpokenCopy(), (std::vector<std::string>{"One -.-- on C", "Two -.-- on C"}));
}

TEST(TAnnouncer, KeepsTheTextWhoseSpeakingFailedForTheNextWorker) {
    TVoiceLog log;
    log.FailSpeak = 1;
    TAnnouncer announcer(FakeVoices(log));
    std::vector<std::string> errors;
    announcer.OnSpeechError = [&](const std::string& message) { errors.push_back(message); };
    announcer.SetEnabled(true);
    announcer.AnnounceClip("One", "C");
    ASSERT_TRUE(WaitUntil([&] { return !announcer.WorkerRunning(); }));
    EXPECT_EQ(errors, std::vector<std::string>{"speaker unplugged"});
    EXPECT_EQ(announcer.QueuedTexts(), std::vector<std::string>{"One -.-- on C"});

    announcer.AnnounceClip("Two", "C");
    ASSERT_TRUE(WaitUntil([&] { return Idle(announcer); }));
    EXPECT_EQ(log.SpokenCopy(), (std::vector<std::string>{"One -.-- on C", "Two -.-- on C"}));
}

TEST(TAnnouncer, ShutdownCutsALongTextShortAndLeavesQueuedTextsUnspoken) {
    TVoiceLog log;
    log.GateOpen = false;
    TAnnouncer announcer(FakeVoices(log));
    announcer.SetEnabled(true);
    announcer.AnnounceClip("Endless", "C");
    announcer.AnnounceClip("Never", "C");
    log.WaitEntered(1);
    announcer.Shutdown(10ms);
    EXPECT_FALSE(announcer.WorkerRunning());
    EXPECT_EQ(log.Aborts, 1);
    EXPECT_TRUE(log.SpokenCopy().empty());
    EXPECT_EQ(log.Live, 0);
    EXPECT_EQ(announcer.QueuedTexts(), std::vector<std::string>{"Never -.-- on C"});

    announcer.AnnounceClip("After", "C");
    EXPECT_EQ(announcer.QueuedCount(), 1u);
    EXPECT_FALSE(announcer.WorkerRunning());
}

TEST(TAnnouncer, ShutdownLetsTheCurrentTextFinishWithinItsWait) {
    TVoiceLog log;
    log.GateOpen = false;
    TAnnouncer announcer(FakeVoices(log));
    announcer.SetEnabled(true);
    announcer.AnnounceClip("Short", "C");
    announcer.AnnounceClip("Never", "C");
    log.WaitEntered(1);
    std::thread opener([&] {
        std::this_thread::sleep_for(5ms);
        log.OpenGate();
    });
    announcer.Shutdown(60s);
    opener.join();
    EXPECT_EQ(log.Aborts, 0);
    EXPECT_EQ(log.SpokenCopy(), std::vector<std::string>{"Short -.-- on C"});
    EXPECT_EQ(announcer.QueuedTexts(), std::vector<std::string>{"Never -.-- on C"});
}

}  // namespace
}  // namespace orvane::tracking
