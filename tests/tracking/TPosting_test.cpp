#include "tracking/TPosting.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "TrackingFakes.h"
#include "tracking/TQueuePoster.h"

namespace orvane::tracking {
namespace {

using test::At;
using test::TakeActivities;

class TPostingTest : public ::testing::Test {
protected:
    test::TFakeClock FClock;
    TQueuePoster FQueue;
    TPosting FPosting{FQueue, FClock};
};

TEST_F(TPostingTest, AnEntryPostedWithTimeZeroCarriesTheTimeOfPosting) {
    FClock.SetNow(At(2024, 3, 6, 14, 7, 21));
    FPosting.PostActivity("Welcome", TActivityIcon::aiInformation);
    FClock.SetNow(At(2024, 3, 6, 14, 8, 0));
    const auto entries = TakeActivities(FQueue);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0],
              (TActivityData{At(2024, 3, 6, 14, 7, 21), "Welcome", TActivityIcon::aiInformation}));
}

TEST_F(TPostingTest, AnEntryPostedWithATimeKeepsIt) {
    const TDateTime clipStart = At(2024, 3, 6, 13, 0, 0);
    FPosting.PostActivity("Ch 1: Song [13:00:00 - 13:03:07] (3:07)", TActivityIcon::aiArrow,
                          clipStart);
    const auto entries = TakeActivities(FQueue);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].DT, clipStart);
    EXPECT_EQ(entries[0].Icon, TActivityIcon::aiArrow);
}

TEST_F(TPostingTest, AnswerOrPostWithoutAnAnswerChannelPostsExactlyAsPostActivity) {
    FPosting.PostActivity("Loaded 3 fingerprints", TActivityIcon::aiInformation);
    FPosting.AnswerOrPostActivity(nullptr, "Loaded 3 fingerprints", TActivityIcon::aiInformation);
    FPosting.PostActivity("x", TActivityIcon{0}, 12.5);
    FPosting.AnswerOrPostActivity(nullptr, "x", TActivityIcon{0}, 12.5);
    const auto entries = TakeActivities(FQueue);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0], entries[1]);
    EXPECT_EQ(entries[2], entries[3]);
}

TEST_F(TPostingTest, AnswerOrPostWithAnAnswerChannelAnswersAndPostsNothing) {
    test::TRecordingAnswer answer;
    FPosting.AnswerOrPostActivity(&answer, "Could not find fingerprint file.",
                                  TActivityIcon::aiError);
    EXPECT_EQ(FQueue.Count(), 0u);
    EXPECT_EQ(answer.Answers, std::vector<std::string>{"Could not find fingerprint file."});
}

TEST_F(TPostingTest, ActionsCarryTheirCodeAndValuePayload) {
    FPosting.PostActionText(TActionCode::acTrayHint, "Song A");
    FPosting.PostActionTexts(TActionCode::acShowBalloon, "Now playing", "Song A");
    FPosting.PostAction(TActionCode::acHideBalloon, 0);
    FPosting.PostActionTexts(TActionCode::acAnnounce, "Song A", "Channel 1");
    FPosting.PostAction(TActionCode::acChannelDone, 3);
    auto messages = FQueue.TakeAll();
    ASSERT_EQ(messages.size(), 5u);
    std::vector<TActionMessage> actions;
    for (auto& message : messages) {
        ASSERT_TRUE(std::holds_alternative<TActionMessage>(message));
        actions.push_back(std::get<TActionMessage>(std::move(message)));
    }
    EXPECT_EQ(actions[0].Code, TActionCode::acTrayHint);
    EXPECT_EQ(std::get<std::string>(actions[0].Payload), "Song A");
    EXPECT_EQ(actions[1].Code, TActionCode::acShowBalloon);
    EXPECT_EQ(std::get<TTwoStr>(actions[1].Payload), (TTwoStr{"Now playing", "Song A"}));
    EXPECT_EQ(actions[2].Code, TActionCode::acHideBalloon);
    EXPECT_EQ(std::get<std::int32_t>(actions[2].Payload), 0);
    EXPECT_EQ(actions[3].Code, TActionCode::acAnnounce);
    EXPECT_EQ(std::get<TTwoStr>(actions[3].Payload), (TTwoStr{"Song A", "Channel 1"}));
    EXPECT_EQ(actions[4].Code, TActionCode::acChannelDone);
    EXPECT_EQ(std::get<std::int32_t>(actions[4].Payload), 3);
    EXPECT_EQ(static_cast<int>(TActionCode::acDuplicateDisabled), 8);
}

class TCounted final : public TRefCounted {};

TEST_F(TPostingTest, ACountedObjectPostedAsAnActionHoldsOneReferenceUntilHandled) {
    TRefPtr<TCounted> song = MakeRef<TCounted>();
    FPosting.PostActionObject(TActionCode::acDuplicateDisabled, song);
    EXPECT_EQ(song->RefCount(), 2);
    {
        auto message = FQueue.TryTake();
        ASSERT_TRUE(message.has_value());
        auto& action = std::get<TActionMessage>(*message);
        EXPECT_EQ(action.Code, TActionCode::acDuplicateDisabled);
        EXPECT_EQ(std::get<TRefPtr<TRefCounted>>(action.Payload).get(), song.get());
    }
    EXPECT_EQ(song->RefCount(), 1);
}

TEST(TQueuePoster, DeliversEntriesOfAWorkerThreadInPostingOrderEachWithItsOwnRecord) {
    test::TFakeClock clock;
    TQueuePoster queue;
    TPosting posting(queue, clock);
    constexpr int Count = 1500;
    std::thread worker([&] {
        for (int i = 0; i < Count; ++i) {
            posting.PostActivity("entry " + std::to_string(i), TActivityIcon::aiInformation,
                                 i + 1.0);
        }
    });
    worker.join();
    const auto entries = TakeActivities(queue);
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(Count));
    for (int i = 0; i < Count; ++i) {
        EXPECT_EQ(entries[static_cast<std::size_t>(i)].Str, "entry " + std::to_string(i));
        EXPECT_EQ(entries[static_cast<std::size_t>(i)].DT, i + 1.0);
    }
}

TEST(TQueuePoster, KeepsEachThreadsOrderWhenThreadsPostAtOnce) {
    test::TFakeClock clock;
    TQueuePoster queue;
    TPosting posting(queue, clock);
    constexpr int Threads = 4;
    constexpr int PerThread = 500;
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([&posting, t] {
            for (int i = 0; i < PerThread; ++i) {
                posting.PostAction(TActionCode::acChannelDone, t * PerThread + i);
            }
        });
    }
    std::vector<int> next(Threads, 0);
    int received = 0;
    // Taking while the workers post exercises the queue from both sides.
    while (received < Threads * PerThread) {
        auto message = queue.WaitTake(std::chrono::seconds(10));
        ASSERT_TRUE(message.has_value());
        const int value = std::get<std::int32_t>(std::get<TActionMessage>(*message).Payload);
        const int thread = value / PerThread;
        EXPECT_EQ(value % PerThread, next[static_cast<std::size_t>(thread)]);
        next[static_cast<std::size_t>(thread)] = value % PerThread + 1;
        ++received;
    }
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_FALSE(queue.TryTake().has_value());
}

}  // namespace
}  // namespace orvane::tracking
