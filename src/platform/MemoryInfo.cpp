#include "platform/MemoryInfo.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <malloc.h>
#include <string>
#include <sys/sysinfo.h>

namespace orvane::platform {

namespace {

// Files of /proc report a size of 0, so they are read to their end instead.
std::string ReadWholeFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::optional<std::uint64_t> ParseHex(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

constexpr std::uint64_t LowerHalfEnd = std::uint64_t{1} << 63;

}  // namespace

std::optional<std::uint64_t> ProcValue(std::string_view text, std::string_view key) {
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) lineEnd = text.size();
        const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (line.size() <= key.size() || line.substr(0, key.size()) != key ||
            line[key.size()] != ':') {
            continue;
        }
        std::size_t pos = key.size() + 1;
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        std::uint64_t value = 0;
        const auto [end, error] =
            std::from_chars(line.data() + pos, line.data() + line.size(), value);
        if (error != std::errc()) return std::nullopt;
        std::string_view unit = line.substr(static_cast<std::size_t>(end - line.data()));
        while (!unit.empty() && IsBlank(unit.front())) unit.remove_prefix(1);
        if (unit.substr(0, 2) == "kB") value *= 1024;
        return value;
    }
    return std::nullopt;
}

std::vector<TMapping> ParseMaps(std::string_view text) {
    std::vector<TMapping> maps;
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) lineEnd = text.size();
        const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        // "7ffe96c84000-7ffe96ca5000 rw-p 00000000 00:00 0   [stack]"
        const std::size_t dash = line.find('-');
        if (dash == std::string_view::npos) continue;
        std::size_t rangeEnd = line.find(' ', dash);
        if (rangeEnd == std::string_view::npos) rangeEnd = line.size();
        const auto begin = ParseHex(line.substr(0, dash));
        const auto end = ParseHex(line.substr(dash + 1, rangeEnd - dash - 1));
        if (!begin || !end || *end < *begin) continue;
        maps.push_back({*begin, *end});
    }
    std::sort(maps.begin(), maps.end(),
              [](const TMapping& a, const TMapping& b) { return a.Begin < b.Begin; });
    return maps;
}

std::uint64_t UserSpaceTop(const std::vector<TMapping>& maps) {
    std::uint64_t highest = 0;
    for (const TMapping& m : maps) {
        if (m.Begin < LowerHalfEnd && m.End <= LowerHalfEnd) highest = std::max(highest, m.End);
    }
    if (highest == 0) return 0;
    std::uint64_t top = 1;
    while (top < highest) top <<= 1;
    return top;
}

std::uint64_t LargestFreeRegion(const std::vector<TMapping>& maps, std::uint64_t top) {
    std::uint64_t largest = 0;
    std::uint64_t freeFrom = 0;
    const auto consider = [&](std::uint64_t freeTo) {
        if (freeFrom != 0 && freeTo > freeFrom) largest = std::max(largest, freeTo - freeFrom);
    };
    for (const TMapping& m : maps) {
        if (m.Begin >= top) break;
        consider(m.Begin);
        freeFrom = std::max(freeFrom, m.End);
    }
    consider(top);
    return largest;
}

TMemoryInfo ReadMemoryInfo() {
    TMemoryInfo info;

    const std::string meminfo = ReadWholeFile("/proc/meminfo");
    info.TotalPhys = ProcValue(meminfo, "MemTotal").value_or(0);
    // Kernels before 3.14 lack MemAvailable; free memory is the closest figure they give.
    info.AvailPhys =
        ProcValue(meminfo, "MemAvailable").value_or(ProcValue(meminfo, "MemFree").value_or(0));
    struct sysinfo sys {};
    if (sysinfo(&sys) == 0) {
        const std::uint64_t unit = sys.mem_unit == 0 ? 1 : sys.mem_unit;
        if (info.TotalPhys == 0) info.TotalPhys = std::uint64_t{sys.totalram} * unit;
        if (info.AvailPhys == 0) info.AvailPhys = std::uint64_t{sys.freeram} * unit;
        info.TotalPageFile = (std::uint64_t{sys.totalram} + sys.totalswap) * unit;
        info.AvailPageFile = info.AvailPhys + std::uint64_t{sys.freeswap} * unit;
    }
    info.AvailPhys = std::min(info.AvailPhys, info.TotalPhys);
    if (info.TotalPhys > 0) {
        info.MemoryLoad =
            static_cast<std::uint32_t>((info.TotalPhys - info.AvailPhys) * 100 / info.TotalPhys);
    }

    const std::vector<TMapping> maps = ParseMaps(ReadWholeFile("/proc/self/maps"));
    info.TotalVirtual = UserSpaceTop(maps);
    info.LargestFreeRegion = LargestFreeRegion(maps, info.TotalVirtual);
    const std::string status = ReadWholeFile("/proc/self/status");
    const std::uint64_t mapped = ProcValue(status, "VmSize").value_or(0);
    info.AvailVirtual = info.TotalVirtual > mapped ? info.TotalVirtual - mapped : 0;
    info.WorkingSet = ProcValue(status, "VmRSS").value_or(0);

    const struct mallinfo2 heap = mallinfo2();
    info.MediumBlockBytes = heap.uordblks;
    info.MediumReserved = heap.arena;
    info.LargeBlockCount = heap.hblks;
    info.LargeBlockBytes = heap.hblkhd;
    info.LargeReserved = heap.hblkhd;
    return info;
}

}  // namespace orvane::platform
