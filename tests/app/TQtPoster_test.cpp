#include "app/TQtPoster.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "SettingsTestUtil.h"
#include "base/RefCounted.h"

namespace orvane::app {
namespace {

using tracking::TActionCode;
using tracking::TActionMessage;
using tracking::TActivityData;
using tracking::TTwoStr;

/// Writes down every call as a line of text.
class TRecordingHandler final : public IMainThreadHandler {
public:
    void AddActivity(TActivityData entry) override {
        Calls.push_back("activity " + entry.Str);
        Activities.push_back(std::move(entry));
    }
    void TrayHint(std::string hint) override { Calls.push_back("hint " + hint); }
    void ShowBalloon(TTwoStr balloon) override {
        Calls.push_back("balloon " + balloon.Str1 + "/" + balloon.Str2);
    }
    void HideBalloon() override { Calls.push_back("hide"); }
    void Announce(TTwoStr clip) override { Calls.push_back("announce " + clip.Str1 + "/" + clip.Str2); }
    void DuplicateDisabled(TRefPtr<TRefCounted> fingerprint) override {
        Calls.push_back("duplicate " + std::to_string(fingerprint->RefCount()));
    }
    void ChannelDone(std::int32_t channel) override {
        Calls.push_back("done " + std::to_string(channel));
    }
    void UndefinedAction(std::int32_t code) override {
        Calls.push_back("undefined " + std::to_string(code));
    }

    std::vector<std::string> Calls;
    std::vector<TActivityData> Activities;
};

/// Lets the event loop run until `count` activity entries have arrived (at most 10 s).
void DeliverUntil(const TRecordingHandler& handler, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (handler.Activities.size() < count && std::chrono::steady_clock::now() < deadline) {
        ProcessPendingEvents();
    }
}

TActivityData Entry(std::string text) {
    TActivityData entry;
    entry.DT = 45000.0;
    entry.Str = std::move(text);
    return entry;
}

class TQtPosterTest : public ::testing::Test {
protected:
    void SetUp() override { test::EnsureApplication(); }
    TRecordingHandler Handler;
};

TEST_F(TQtPosterTest, NothingArrivesBeforeTheEventLoopRuns) {
    TQtPoster poster(Handler);
    poster.Post(Entry("a"));
    EXPECT_TRUE(Handler.Calls.empty());
    ProcessPendingEvents();
    EXPECT_EQ(Handler.Calls, std::vector<std::string>{"activity a"});
}

TEST_F(TQtPosterTest, FifteenHundredEntriesFromAWorkerArriveInPostingOrder) {
    TQtPoster poster(Handler);
    std::thread worker([&poster] {
        for (int i = 0; i < 1500; ++i) poster.Post(Entry(std::to_string(i)));
    });
    worker.join();
    DeliverUntil(Handler, 1500);
    ASSERT_EQ(Handler.Activities.size(), 1500u);
    for (int i = 0; i < 1500; ++i) {
        EXPECT_EQ(Handler.Activities[static_cast<std::size_t>(i)].Str, std::to_string(i));
    }
}

TEST_F(TQtPosterTest, SeveralThreadsEachKeepTheirOrderAndNothingIsLost) {
    TQtPoster poster(Handler);
    constexpr int Threads = 4;
    constexpr int PerThread = 500;
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([&poster, t] {
            for (int i = 0; i < PerThread; ++i) {
                poster.Post(Entry(std::to_string(t) + ":" + std::to_string(i)));
            }
        });
    }
    // Delivery runs while the workers still post.
    DeliverUntil(Handler, Threads * PerThread / 2);
    for (std::thread& worker : workers) worker.join();
    DeliverUntil(Handler, Threads * PerThread);

    ASSERT_EQ(Handler.Activities.size(), static_cast<std::size_t>(Threads * PerThread));
    std::vector<int> next(Threads, 0);
    for (const TActivityData& entry : Handler.Activities) {
        const std::size_t colon = entry.Str.find(':');
        const int thread = std::stoi(entry.Str.substr(0, colon));
        const int number = std::stoi(entry.Str.substr(colon + 1));
        EXPECT_EQ(number, next[static_cast<std::size_t>(thread)]) << entry.Str;
        next[static_cast<std::size_t>(thread)] = number + 1;
    }
}

TEST_F(TQtPosterTest, EveryActionReachesItsHandlerMethodInOrder) {
    TQtPoster poster(Handler);
    auto fingerprint = MakeRef<TRefCounted>();
    poster.Post(TActionMessage{TActionCode::acTrayHint, std::string("Song - Artist")});
    poster.Post(TActionMessage{TActionCode::acShowBalloon, TTwoStr{"New song", "Song"}});
    poster.Post(TActionMessage{TActionCode::acHideBalloon, std::int32_t{0}});
    poster.Post(Entry("between"));
    poster.Post(TActionMessage{TActionCode::acAnnounce, TTwoStr{"Song", "Channel01"}});
    poster.Post(TActionMessage{TActionCode::acDuplicateDisabled, TRefPtr<TRefCounted>(fingerprint)});
    poster.Post(TActionMessage{TActionCode::acChannelDone, std::int32_t{0}});
    poster.Post(TActionMessage{static_cast<TActionCode>(99), std::int32_t{0}});
    poster.Post(TActionMessage{TActionCode::acTrayHint, std::int32_t{5}});  // wrong payload
    ProcessPendingEvents();
    const std::vector<std::string> expected{
        "hint Song - Artist", "balloon New song/Song", "hide",
        "activity between",   "announce Song/Channel01",
        "duplicate 2",  // the test's reference and the message's
        "done 0",             "undefined 99",
        "undefined 2"};
    EXPECT_EQ(Handler.Calls, expected);
    EXPECT_EQ(fingerprint->RefCount(), 1) << "the handler released the message's reference";
}

TEST_F(TQtPosterTest, MessagesLeftWhenThePosterGoesAreDroppedWithTheirReferences) {
    auto fingerprint = MakeRef<TRefCounted>();
    {
        TQtPoster poster(Handler);
        poster.Post(TActionMessage{TActionCode::acDuplicateDisabled,
                                   TRefPtr<TRefCounted>(fingerprint)});
        EXPECT_EQ(fingerprint->RefCount(), 2);
    }
    EXPECT_EQ(fingerprint->RefCount(), 1);
    ProcessPendingEvents();
    EXPECT_TRUE(Handler.Calls.empty());
}

/// A handler whose actions fail.
class TFailingHandler final : public IMainThreadHandler {
public:
    void AddActivity(TActivityData entry) override { Entries.push_back(std::move(entry)); }
    void TrayHint(std::string) override { throw std::runtime_error("tray is gone"); }
    void ShowBalloon(TTwoStr) override {}
    void HideBalloon() override {}
    void Announce(TTwoStr) override {}
    void DuplicateDisabled(TRefPtr<TRefCounted>) override {}
    void ChannelDone(std::int32_t) override {}
    void UndefinedAction(std::int32_t) override {}
    std::vector<TActivityData> Entries;
};

TEST_F(TQtPosterTest, AFailingActionBecomesAnErrorEntryInsteadOfLeavingTheEventLoop) {
    TFailingHandler failing;
    TQtPoster poster(failing);
    poster.Post(TActionMessage{TActionCode::acTrayHint, std::string("x")});
    poster.Post(Entry("after"));
    ProcessPendingEvents();
    ASSERT_EQ(failing.Entries.size(), 2u);
    EXPECT_EQ(failing.Entries[0].Str, "tray is gone");
    EXPECT_EQ(failing.Entries[0].Icon, tracking::TActivityIcon::aiError);
    EXPECT_GT(failing.Entries[0].DT, 0.0);
    EXPECT_EQ(failing.Entries[1].Str, "after");
}

TEST_F(TQtPosterTest, TheEventPumpDoesNothingOffTheMainThread) {
    TQtPoster poster(Handler);
    poster.Post(Entry("queued"));
    std::thread other([] { ProcessPendingEvents(); });
    other.join();
    EXPECT_TRUE(Handler.Calls.empty());
    ProcessPendingEvents();
    EXPECT_EQ(Handler.Calls, std::vector<std::string>{"activity queued"});
}

TEST_F(TQtPosterTest, ARunningEventLoopDeliversToo) {
    TQtPoster poster(Handler);
    std::thread worker([&poster] {
        for (int i = 0; i < 100; ++i) poster.Post(Entry(std::to_string(i)));
    });
    worker.join();
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    ASSERT_EQ(Handler.Activities.size(), 100u);
    EXPECT_EQ(Handler.Activities.back().Str, "99");
}

}  // namespace
}  // namespace orvane::app
