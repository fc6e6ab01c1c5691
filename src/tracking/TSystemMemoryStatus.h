// The memory status of a Linux machine: /proc/meminfo "MemAvailable" (sysinfo() when it is
// missing) and the resident set of /proc/self/statm.
// Thread: any; stateless.
#pragma once

#include "tracking/IMemoryStatus.h"

namespace orvane::tracking {

class TSystemMemoryStatus final : public IMemoryStatus {
public:
    /// MemAvailable counts reclaimable page cache, which free memory alone would miss on a
    /// machine that has been running a while. Thread safe.
    std::uint64_t AvailablePhysicalBytes() const override;
    /// Resident pages times the page size. Thread safe.
    std::uint64_t ProcessWorkingSetBytes() const override;
};

}  // namespace orvane::tracking
