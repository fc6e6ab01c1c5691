// What the memory guard needs to know about memory: free physical memory of the machine and
// the working set of this process.
// Thread: implementations are called from any thread and must be thread safe.
#pragma once

#include <cstdint>

namespace orvane::tracking {

class IMemoryStatus {
public:
    virtual ~IMemoryStatus() = default;
    /// Physical memory available to new allocations without swapping, in bytes; the largest
    /// value when it cannot be told (an unknown status never refuses work).
    virtual std::uint64_t AvailablePhysicalBytes() const = 0;
    /// Resident memory of this process, in bytes; 0 when it cannot be told.
    virtual std::uint64_t ProcessWorkingSetBytes() const = 0;
};

}  // namespace orvane::tracking
