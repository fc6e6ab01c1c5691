// The operating system's clock: local time from the system clock and time zone, steady ticks.
// Thread: any; stateless.
#pragma once

#include "tracking/IClock.h"

namespace orvane::tracking {

class TSystemClock final : public IClock {
public:
    /// Local time via localtime_r, with milliseconds. Thread safe.
    TDateTime Now() const override;
    /// std::chrono::steady_clock in milliseconds. Thread safe.
    std::int64_t MonotonicMs() const override;
};

}  // namespace orvane::tracking
