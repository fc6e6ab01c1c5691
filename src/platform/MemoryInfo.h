// The memory figures of the database report: the machine's memory, this process's address space
// and working set, and the allocator's statistics, read from /proc, sysinfo(2) and mallinfo2(3).
// Thread: any; every call reads the figures afresh and keeps no state.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace orvane::platform {

/// The figures of the report, in bytes unless said otherwise. A figure that cannot be read is 0
/// (the report is diagnostic: it never fails for want of one figure).
///
///   report line                               figure              source
///   "Memory load: "                           MemoryLoad          (MemTotal - MemAvailable)
///                                                                  x 100 / MemTotal
///   "Total physical memory: "                 TotalPhys           /proc/meminfo MemTotal
///   "Available physical memory: "             AvailPhys           /proc/meminfo MemAvailable
///   "Total page file: "                       TotalPageFile       sysinfo totalram + totalswap
///   "Available page file: "                   AvailPageFile       MemAvailable + sysinfo freeswap
///   "Total virtual memory: "                  TotalVirtual        top of the user address space
///                                                                  (from /proc/self/maps)
///   "Available virtual memory: "              AvailVirtual        TotalVirtual - VmSize
///   "Largest free virtual memory block: "     LargestFreeRegion   widest gap in /proc/self/maps
///   "Total current memory usage: "            WorkingSet          /proc/self/status VmRSS
///   "Allocated Medium Block Count: "          MediumBlockCount    none: glibc does not count
///                                                                  its arena chunks in use
///   "Total Allocated Medium Block Size: "     MediumBlockBytes    mallinfo2 uordblks
///   "Reserved Medium Block Address Space: "   MediumReserved      mallinfo2 arena
///   "Allocated Large Block Count: "           LargeBlockCount     mallinfo2 hblks
///   "Total Allocated Large Block Size: "      LargeBlockBytes     mallinfo2 hblkhd
///   "Reserved Large Block Address Space: "    LargeReserved       mallinfo2 hblkhd
///
/// glibc serves requests below its mmap threshold (128 KiB by default) from its arenas and
/// maps each larger one on its own: arena chunks are the "medium" blocks, mapped chunks the
/// "large" ones, and a mapped chunk reserves exactly the memory it holds.
struct TMemoryInfo {
    /// Percent of physical memory in use, 0 ... 100.
    std::uint32_t MemoryLoad = 0;
    std::uint64_t TotalPhys = 0;
    std::uint64_t AvailPhys = 0;
    /// Physical memory plus swap: what may be committed before memory runs out.
    std::uint64_t TotalPageFile = 0;
    std::uint64_t AvailPageFile = 0;
    /// Size of the address space a process of this machine can map.
    std::uint64_t TotalVirtual = 0;
    std::uint64_t AvailVirtual = 0;
    /// The largest unmapped range of this process's address space that does not begin at
    /// address 0.
    std::uint64_t LargestFreeRegion = 0;
    /// Resident memory of this process.
    std::uint64_t WorkingSet = 0;
    /// Empty: the allocator does not tell.
    std::optional<std::uint64_t> MediumBlockCount;
    std::uint64_t MediumBlockBytes = 0;
    std::uint64_t MediumReserved = 0;
    std::uint64_t LargeBlockCount = 0;
    std::uint64_t LargeBlockBytes = 0;
    std::uint64_t LargeReserved = 0;
};

/// Reads every figure now. Never throws for a missing source (its figures stay 0); throws
/// std::bad_alloc when memory is short. Thread safe.
TMemoryInfo ReadMemoryInfo();

/// One mapping of /proc/<pid>/maps: the bytes Begin ... End - 1.
struct TMapping {
    std::uint64_t Begin = 0;
    std::uint64_t End = 0;
};

/// The value of `key` in a /proc/meminfo or /proc/<pid>/status text ("MemTotal:  16 kB"), in
/// bytes (kB × 1024; a value without unit as it stands). Empty when the key is missing. Pure.
std::optional<std::uint64_t> ProcValue(std::string_view text, std::string_view key);

/// The mappings of a /proc/<pid>/maps text, sorted by address; malformed lines are skipped.
/// Pure.
std::vector<TMapping> ParseMaps(std::string_view text);

/// The end of the user address space: the highest end of a mapping in the lower half of the
/// 64-bit range (which leaves out [vsyscall]), rounded up to a power of two. 0 without such a
/// mapping. Pure.
std::uint64_t UserSpaceTop(const std::vector<TMapping>& maps);

/// The widest range between 0 and `top` that no mapping of `maps` (sorted) covers, leaving out
/// the range that begins at address 0. Pure.
std::uint64_t LargestFreeRegion(const std::vector<TMapping>& maps, std::uint64_t top);

}  // namespace orvane::platform
