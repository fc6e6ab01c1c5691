#include "tracking/TSystemMemoryStatus.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <sys/sysinfo.h>
#include <unistd.h>

namespace orvane::tracking {

namespace {

bool ReadMemAvailable(std::uint64_t& bytes) {
    std::FILE* file = std::fopen("/proc/meminfo", "re");
    if (file == nullptr) {
        return false;
    }
    bool found = false;
    char line[256];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        unsigned long long kib = 0;
        if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
            bytes = static_cast<std::uint64_t>(kib) * 1024u;
            found = true;
            break;
        }
    }
    std::fclose(file);
    return found;
}

}  // namespace

std::uint64_t TSystemMemoryStatus::AvailablePhysicalBytes() const {
    std::uint64_t bytes = 0;
    if (ReadMemAvailable(bytes)) {
        return bytes;
    }
    struct sysinfo info;
    if (sysinfo(&info) != 0) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    const std::uint64_t unit = info.mem_unit == 0 ? 1 : info.mem_unit;
    return (static_cast<std::uint64_t>(info.freeram) + info.bufferram) * unit;
}

std::uint64_t TSystemMemoryStatus::ProcessWorkingSetBytes() const {
    std::FILE* file = std::fopen("/proc/self/statm", "re");
    if (file == nullptr) {
        return 0;
    }
    unsigned long long sizePages = 0;
    unsigned long long residentPages = 0;
    const int read = std::fscanf(file, "%llu %llu", &sizePages, &residentPages);
    std::fclose(file);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (read != 2 || pageSize <= 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(residentPages) * static_cast<std::uint64_t>(pageSize);
}

}  // namespace orvane::tracking
