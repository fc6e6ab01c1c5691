#include "tracking/TMemoryGuard.h"

#include <gtest/gtest.h>

#include "TrackingFakes.h"

namespace orvane::tracking {
namespace {

using test::TakeActivities;

class TMemoryGuardTest : public ::testing::Test {
protected:
    TMemoryGuardTest() {
        FMemory.Available = 8u << 20;
        FMemory.WorkingSet = (42ull << 20) + 123456;  // whole MiB are reported: 42
        FClock.SetMs(100'000);
    }
    bool Refuse(int id = 3) {
        return FGuard.MemoryGuard(id, MemoryGuardMinimum, "", TActivityIcon::aiError, nullptr);
    }

    test::TFakeClock FClock;
    test::TFakeMemoryStatus FMemory;
    TQueuePoster FQueue;
    TPosting FPosting{FQueue, FClock};
    TMemoryGuard FGuard{FMemory, FClock, FPosting};
};

TEST_F(TMemoryGuardTest, LetsTheActionRunWhenMoreThanTheMinimumIsFree) {
    FMemory.Available = MemoryGuardMinimum + 1;
    EXPECT_TRUE(Refuse());
    EXPECT_EQ(FQueue.Count(), 0u);
}

TEST_F(TMemoryGuardTest, RefusesWhenExactlyTheMinimumIsFree) {
    FMemory.Available = MemoryGuardMinimum;
    EXPECT_FALSE(Refuse());
    EXPECT_EQ(FQueue.Count(), 1u);
}

TEST_F(TMemoryGuardTest, ReportsTheIdentifierAndWorkingSetInMegabytes) {
    EXPECT_FALSE(Refuse(9));
    const auto entries = TakeActivities(FQueue);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Str,
              "Action cancelled or ignored because you are running out of memory (id:9;42mb used)");
    EXPECT_EQ(entries[0].Icon, TActivityIcon::aiError);
}

TEST_F(TMemoryGuardTest, ReportsAtMostOnceInFiveSeconds) {
    struct TStep {
        std::int64_t Ms;
        bool Reported;
    };
    // Times after the first refusal; "more than 5 s" counts from the last report.
    const TStep steps[] = {{0, true},      {2000, false}, {6000, true},
                           {11000, false}, {11001, true}, {11500, false}};
    for (const TStep& step : steps) {
        FClock.SetMs(100'000 + step.Ms);
        EXPECT_FALSE(Refuse());
        EXPECT_EQ(FQueue.TakeAll().size(), step.Reported ? 1u : 0u) << step.Ms;
    }
}

TEST_F(TMemoryGuardTest, ReportsTheFirstRefusalEvenRightAfterTheClockStarts) {
    FClock.SetMs(0);
    EXPECT_FALSE(Refuse());
    EXPECT_EQ(FQueue.TakeAll().size(), 1u);
    FClock.SetMs(4000);
    EXPECT_FALSE(Refuse());
    EXPECT_EQ(FQueue.TakeAll().size(), 0u);
}

TEST_F(TMemoryGuardTest, ThrottlingIsSharedByAllIdentifiers) {
    EXPECT_FALSE(Refuse(3));
    FClock.SetMs(101'000);
    EXPECT_FALSE(Refuse(10));
    EXPECT_EQ(FQueue.TakeAll().size(), 1u);
}

TEST_F(TMemoryGuardTest, AGivenTextAndIconReplaceTheDefaultReport) {
    EXPECT_FALSE(
        FGuard.MemoryGuard(4, MemoryGuardMinimum, "No room", TActivityIcon::aiAttention, nullptr));
    const auto entries = TakeActivities(FQueue);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Str, "No room");
    EXPECT_EQ(entries[0].Icon, TActivityIcon::aiAttention);
}

TEST_F(TMemoryGuardTest, ReportsToTheAnswerChannelWhenOneIsGiven) {
    test::TRecordingAnswer answer;
    EXPECT_FALSE(FGuard.MemoryGuard(7, MemoryGuardMinimum, "", TActivityIcon::aiError, &answer));
    EXPECT_EQ(FQueue.Count(), 0u);
    ASSERT_EQ(answer.Answers.size(), 1u);
    EXPECT_EQ(answer.Answers[0],
              "Action cancelled or ignored because you are running out of memory (id:7;42mb used)");
}

}  // namespace
}  // namespace orvane::tracking
