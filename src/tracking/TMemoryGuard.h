// The memory guard: refuses an action when free physical memory runs short, and tells the user
// so at most once every 5 seconds in the whole process.
// Thread: any; the time of the last report is shared by all callers.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

#include "tracking/IAnswerChannel.h"
#include "tracking/IClock.h"
#include "tracking/IMemoryStatus.h"
#include "tracking/TPosting.h"

namespace orvane::tracking {

/// The free physical memory every guarded action asks for: 16 MiB.
constexpr std::uint64_t MemoryGuardMinimum = 16u * 1024u * 1024u;
/// Reports of refusals are at least this far apart: 5 s.
constexpr std::int64_t MemoryGuardReportIntervalMs = 5000;

class TMemoryGuard {
public:
    /// All three must outlive the guard; none is owned. One guard serves the whole process.
    TMemoryGuard(const IMemoryStatus& memory, const IClock& clock, const TPosting& posting)
        : FMemory(memory), FClock(clock), FPosting(posting) {}

    /// True when more than `minimumBytes` of physical memory are available. Otherwise returns
    /// false (the caller skips its action) and, unless a report went out within the last 5 s,
    /// reports the refusal: `text` when not empty, else "Action cancelled or ignored because
    /// you are running out of memory (id:<id>;<working set MiB>mb used)", to `answer` when
    /// given, else as an activity entry with `icon`. Thread safe.
    bool MemoryGuard(int id, std::uint64_t minimumBytes, std::string_view text, TActivityIcon icon,
                     IAnswerChannel* answer);

private:
    const IMemoryStatus& FMemory;
    const IClock& FClock;
    const TPosting& FPosting;
    std::mutex FLock;
    // Empty until the first report: the first refusal of a run is always reported.
    std::optional<std::int64_t> FLastReportMs;
};

}  // namespace orvane::tracking
