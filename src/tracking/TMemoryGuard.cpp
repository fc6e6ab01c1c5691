#include "tracking/TMemoryGuard.h"

#include <string>

namespace orvane::tracking {

bool TMemoryGuard::MemoryGuard(int id, std::uint64_t minimumBytes, std::string_view text,
                               TActivityIcon icon, IAnswerChannel* answer) {
    if (FMemory.AvailablePhysicalBytes() > minimumBytes) {
        return true;
    }
    const std::int64_t now = FClock.MonotonicMs();
    {
        std::lock_guard lastReportLock(FLock);
        if (FLastReportMs && now - *FLastReportMs <= MemoryGuardReportIntervalMs) {
            return false;
        }
        FLastReportMs = now;
    }
    if (!text.empty()) {
        FPosting.AnswerOrPostActivity(answer, text, icon);
    } else {
        const std::uint64_t usedMiB = FMemory.ProcessWorkingSetBytes() >> 20;
        const std::string report =
            "Action cancelled or ignored because you are running out of memory (id:" +
            std::to_string(id) + ";" + std::to_string(usedMiB) + "mb used)";
        FPosting.AnswerOrPostActivity(answer, report, icon);
    }
    return false;
}

}  // namespace orvane::tracking
