// A clock whose "now" is set by whoever steps the tracker: for a channel that plays a file it is
// the stream time of the audio analysed so far, so the tracker's results do not depend on how
// fast the machine analyses the file.
// Thread: Set from the stepping thread, read from any; thread safe, non-blocking.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>

#include "tracking/IClock.h"

namespace orvane::tracking {

class TStreamClock final : public IClock {
public:
    /// The time set last (0 at first). Thread safe, non-blocking.
    TDateTime Now() const override { return FNow.load(std::memory_order_acquire); }
    /// The same time in milliseconds.
    std::int64_t MonotonicMs() const override {
        return static_cast<std::int64_t>(std::llround(Now() * 86400000.0));
    }
    /// Sets the time; callers never move it backwards within one file.
    void Set(TDateTime now) { FNow.store(now, std::memory_order_release); }

private:
    std::atomic<TDateTime> FNow{0.0};
};

}  // namespace orvane::tracking
