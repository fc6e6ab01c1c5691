// The recognition thread and the recognition pause: which channels a pass serves, how much of
// a ring it empties, and the pause handshake (nesting, main thread only, acknowledgement only
// after the pass in progress).
#include "recognition/QnChServer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#include "ChannelFakes.h"
#include "recognition/TRecognitionPause.h"
#include "tracking/TrackingFakes.h"

namespace orvane::recognition::test {
namespace {

struct TServerKit {
    tracking::TQueuePoster Poster;
    tracking::test::TFakeClock Clock;
    tracking::TPosting Posting{Poster, Clock};
    TRecognitionLock Lock;
    signal::QnKeyConversion Converter;
    TSearchSettings Settings;
    TRecordingSearch Search;
    TChannelBasic Channel{0, 0, "Channel01", Lock, Posting};
    QnChServer Server{Lock, Search, Converter, Settings};

    TServerKit() { Server.AddChannel(Channel); }
    void Deliver(int blocks) {
        const auto bytes = Bytes(std::vector<std::int16_t>(BlockSamples, 100));
        for (int i = 0; i < blocks; ++i)
            ASSERT_TRUE(Channel.newData(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    }
    /// Waits (without a time limit of its own; the test runner has one) until `done` holds.
    template <class F>
    void WaitFor(F done) {
        while (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
};

TEST(QnChServer, AnInactiveChannelOrOneWithoutNewDataIsNotProcessed) {
    TServerKit kit;
    kit.Deliver(3);  // written while off
    EXPECT_FALSE(kit.Server.Pass());
    kit.Channel.SetActive(true);
    // Clearing keeps the new-data flag: one pass takes it and finds no block it may process.
    kit.Server.Pass();
    EXPECT_FALSE(kit.Server.Pass());  // on, but nothing new
    EXPECT_TRUE(kit.Search.Blocks.empty());
}

TEST(QnChServer, OneVisitProcessesAllWaitingBlocksButTheLast) {
    TServerKit kit;
    kit.Channel.SetActive(true);
    kit.Deliver(3);
    ASSERT_EQ(kit.Channel.WritePos.load(), 4);
    kit.Converter.Energy = 1234;
    EXPECT_TRUE(kit.Server.Pass());
    EXPECT_EQ(kit.Search.Blocks, (std::vector<std::int32_t>{0, 1, 2}));
    EXPECT_EQ(kit.Channel.ReadPos.load(), 3);
    EXPECT_FALSE(kit.Channel.newDataAvailable.load());
    EXPECT_EQ(kit.Channel.ProgressBarSignalStrengthPosition.load(), 1234);
    EXPECT_FALSE(kit.Server.Pass());
}

TEST(QnChServer, APassDuringAPauseRequestProcessesNothingAndAcknowledges) {
    TServerKit kit;
    kit.Channel.SetActive(true);
    kit.Deliver(2);
    kit.Lock.PauseRequested.store(true);
    EXPECT_FALSE(kit.Server.Pass());
    EXPECT_TRUE(kit.Lock.PauseAcknowledged.load());
    EXPECT_TRUE(kit.Search.Blocks.empty());
    kit.Lock.PauseRequested.store(false);
    EXPECT_TRUE(kit.Server.Pass());
    EXPECT_EQ(kit.Search.Blocks.size(), 2u);
    EXPECT_FALSE(kit.Server.Pass());
    EXPECT_FALSE(kit.Lock.PauseAcknowledged.load());
}

TEST(QnChServer, TheChannelServedFirstRotatesWithEveryPass) {
    TServerKit kit;
    TChannelBasic second{1, 0, "Channel02", kit.Lock, kit.Posting};
    kit.Server.AddChannel(second);
    std::vector<std::int32_t> order;
    kit.Search.OnBlock = [&](TChannelBasic& c) { order.push_back(c.Id()); };
    kit.Channel.SetActive(true);
    second.SetActive(true);
    const auto bytes = Bytes(std::vector<std::int16_t>(BlockSamples, 100));
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_TRUE(kit.Channel.newData(bytes.data(), 8192));
        ASSERT_TRUE(second.newData(bytes.data(), 8192));
        kit.Server.Pass();
    }
    EXPECT_EQ(order, (std::vector<std::int32_t>{1, 0, 0, 1}));
}

TEST(QnChServer, ForgetsAFingerprintInEveryHistory) {
    TServerKit kit;
    auto a = MakeRef<fingerprint::TSongServer>();
    auto b = MakeRef<fingerprint::TSongServer>();
    kit.Channel.FoundItemsList[2].SongServer = a;
    kit.Channel.FoundItemsList[5].SongServer = b;
    kit.Server.ForgetFingerprint(*a);
    EXPECT_FALSE(kit.Channel.FoundItemsList[2].SongServer);
    EXPECT_TRUE(kit.Channel.FoundItemsList[5].SongServer);
    kit.Server.ReleaseAll();
    EXPECT_FALSE(kit.Channel.FoundItemsList[5].SongServer);
}

TEST(QnChServer, ProcessesDeliveredBlocksOnItsOwnThread) {
    TServerKit kit;
    kit.Server.OnQueryWindow = [] { return TWindowState{false, true}; };
    kit.Channel.SetActive(true);
    kit.Server.Start();
    kit.Deliver(4);
    kit.WaitFor([&] { return kit.Channel.ReadPos.load() == 4; });
    kit.Server.Terminate();
    EXPECT_FALSE(kit.Server.Running());
    EXPECT_NE(kit.Server.ThreadID(), 0);
    EXPECT_FALSE(kit.Settings.Form1Visible);
    EXPECT_TRUE(kit.Settings.Form1TrayVisible);
}

TEST(TRecognitionPause, NestedPausesHoldUntilTheOutermostEnds) {
    TServerKit kit;
    TRecognitionPause pause(kit.Lock, nullptr, [&] { return kit.Server.Running(); });
    kit.Channel.SetActive(true);
    kit.Server.Start();
    pause.PauseRecognition();
    pause.PauseRecognition();
    pause.ResumeRecognition();
    EXPECT_EQ(pause.PauseCount(), 1);
    kit.Deliver(2);
    // Several whole passes later nothing has been processed.
    const auto passes = kit.Server.PassCount();
    kit.WaitFor([&] { return kit.Server.PassCount() >= passes + 3; });
    EXPECT_EQ(kit.Channel.ReadPos.load(), 0);
    EXPECT_TRUE(kit.Lock.PauseRequested.load());
    pause.ResumeRecognition();
    EXPECT_FALSE(kit.Lock.PauseRequested.load());
    kit.WaitFor([&] { return kit.Channel.ReadPos.load() == 2; });
}

TEST(TRecognitionPause, DoesNothingOffTheMainThread) {
    TServerKit kit;
    TRecognitionPause pause(kit.Lock, nullptr, [] { return true; });
    std::thread worker([&] {
        pause.PauseRecognition();  // would wait forever if it did anything
        pause.ResumeRecognition();
    });
    worker.join();
    EXPECT_EQ(pause.PauseCount(), 0);
    EXPECT_FALSE(kit.Lock.PauseRequested.load());
}

TEST(TRecognitionPause, IsAcknowledgedOnlyAfterThePassInProgressHasEnded) {
    TServerKit kit;
    std::mutex m;
    std::condition_variable cv;
    bool inBlock = false;
    bool release = false;
    std::atomic<bool> blockDone{false};
    kit.Search.OnBlock = [&](TChannelBasic&) {
        std::unique_lock lock(m);
        inBlock = true;
        cv.notify_all();
        cv.wait(lock, [&] { return release; });
        blockDone.store(true);
    };
    int pumps = 0;
    TRecognitionPause pause(
        kit.Lock, [&] { ++pumps; }, [&] { return kit.Server.Running(); });
    kit.Channel.SetActive(true);
    kit.Deliver(2);
    kit.Server.Start();
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return inBlock; });
    }
    // A pass is in progress, holding the recognition lock. The pause cannot even publish its
    // request until the pass has ended; another thread lets it end a little later.
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::lock_guard lock(m);
        release = true;
        cv.notify_all();
    });
    pause.PauseRecognition();
    const bool doneWhenReturned = blockDone.load();
    releaser.join();
    EXPECT_TRUE(doneWhenReturned);
    EXPECT_EQ(kit.Search.Blocks.size(), 2u);  // the whole pass, not just the block in progress
    EXPECT_TRUE(kit.Lock.PauseAcknowledged.load());
    EXPECT_GE(pumps, 1);
    // Paused: a new block stays waiting.
    kit.Deliver(1);
    const auto passes = kit.Server.PassCount();
    kit.WaitFor([&] { return kit.Server.PassCount() >= passes + 2; });
    EXPECT_EQ(kit.Search.Blocks.size(), 2u);
    pause.ResumeRecognition();
    kit.WaitFor([&] { return kit.Search.Blocks.size() == 3u; });
    kit.Server.Terminate();
}

TEST(TRecognitionPause, AnOldAcknowledgementDoesNotEndANewPause) {
    TServerKit kit;
    kit.Lock.PauseAcknowledged.store(true);  // left from an earlier pause
    bool sawAcknowledgement = false;
    TRecognitionPause pause(
        kit.Lock, [&] { sawAcknowledgement = kit.Lock.PauseAcknowledged.load(); },
        [] { return true; });
    std::thread thread([&] {
        // Plays the recognition thread: one idle pass once the request is there.
        kit.WaitFor([&] { return kit.Lock.PauseRequested.load(); });
        kit.Server.Pass();
    });
    pause.PauseRecognition();
    thread.join();
    EXPECT_TRUE(kit.Lock.PauseAcknowledged.load());
    EXPECT_EQ(kit.Server.PassCount(), 1);
    pause.ResumeRecognition();
}

}  // namespace
}  // namespace orvane::recognition::test
