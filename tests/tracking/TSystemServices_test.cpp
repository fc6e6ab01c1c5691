#include <gtest/gtest.h>

#include "tracking/TSystemClock.h"
#include "tracking/TSystemMemoryStatus.h"

namespace orvane::tracking {
namespace {

TEST(TSystemClock, NowIsALocalDateOfThisCentury) {
    TSystemClock clock;
    TDateTimeFields fields;
    ASSERT_TRUE(DecodeDateTime(clock.Now(), fields));
    EXPECT_GE(fields.Year, 2020);
    EXPECT_LT(fields.Year, 2100);
}

TEST(TSystemClock, TheMonotonicCounterNeverGoesBack) {
    TSystemClock clock;
    std::int64_t last = clock.MonotonicMs();
    for (int i = 0; i < 1000; ++i) {
        const std::int64_t now = clock.MonotonicMs();
        EXPECT_GE(now, last);
        last = now;
    }
}

TEST(TSystemMemoryStatus, TellsFreeMemoryAndTheOwnWorkingSet) {
    TSystemMemoryStatus memory;
    EXPECT_GT(memory.AvailablePhysicalBytes(), 0u);
    EXPECT_GT(memory.ProcessWorkingSetBytes(), 0u);
}

}  // namespace
}  // namespace orvane::tracking
