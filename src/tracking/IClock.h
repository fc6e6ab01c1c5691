// The clock the tracking code reads: local wall time and a monotonic millisecond counter.
// Thread: implementations are called from any thread and must be thread safe.
#pragma once

#include <cstdint>

#include "tracking/TDateTime.h"

namespace orvane::tracking {

class IClock {
public:
    virtual ~IClock() = default;
    /// The current local date-time (days since 1899-12-30). Thread safe.
    virtual TDateTime Now() const = 0;
    /// Milliseconds of a counter that never goes back (throttling, time-outs). Thread safe.
    virtual std::int64_t MonotonicMs() const = 0;
};

}  // namespace orvane::tracking
