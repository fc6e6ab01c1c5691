// Stand-ins for the outside world of the tracking code: a clock set by hand, a memory status
// set by hand, an answer channel that records, and readers for the posted messages.
#pragma once

#include <atomic>
#include <cstdint>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tracking/IAnswerChannel.h"
#include "tracking/IClock.h"
#include "tracking/IMemoryStatus.h"
#include "tracking/TQueuePoster.h"

namespace orvane::tracking::test {

class TFakeClock final : public IClock {
public:
    TDateTime Now() const override { return FNow.load(); }
    std::int64_t MonotonicMs() const override { return FMs.load(); }
    void SetNow(TDateTime now) { FNow.store(now); }
    void SetMs(std::int64_t ms) { FMs.store(ms); }

private:
    std::atomic<TDateTime> FNow{45357.5};
    std::atomic<std::int64_t> FMs{0};
};

class TFakeMemoryStatus final : public IMemoryStatus {
public:
    std::uint64_t AvailablePhysicalBytes() const override { return Available; }
    std::uint64_t ProcessWorkingSetBytes() const override { return WorkingSet; }
    std::uint64_t Available = 1ull << 32;
    std::uint64_t WorkingSet = 0;
};

class TRecordingAnswer final : public IAnswerChannel {
public:
    void CreateAnswer(std::string_view text) override { Answers.emplace_back(text); }
    std::vector<std::string> Answers;
};

/// Every activity entry in the queue, oldest first; fails the test on any other message.
inline std::vector<TActivityData> TakeActivities(TQueuePoster& queue) {
    std::vector<TActivityData> entries;
    for (auto& message : queue.TakeAll()) {
        if (auto* entry = std::get_if<TActivityData>(&message)) {
            entries.push_back(std::move(*entry));
        } else {
            ADD_FAILURE() << "an action where an activity entry was expected";
        }
    }
    return entries;
}

/// Calendar fields as a date-time.
inline TDateTime At(int year, int month, int day, int hour, int minute, int second, int ms = 0) {
    return EncodeDateTime({year, month, day, hour, minute, second, ms});
}

}  // namespace orvane::tracking::test
