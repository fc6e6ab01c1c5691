// The memory figures of the database report: the /proc parsers on fixed texts, and the live
// figures of this machine within plausible bounds.
#include "platform/MemoryInfo.h"

#include <gtest/gtest.h>
#include <string>

namespace orvane::platform {
namespace {

TEST(MemoryInfo, ReadsKilobyteValuesAsBytesAndPlainValuesAsTheyStand) {
    const std::string text =
        "MemTotal:       16303592 kB\n"
        "MemFree:          123456 kB\n"
        "MemAvailable:    8000000 kB\n"
        "HugePages_Total:       7\n";
    EXPECT_EQ(ProcValue(text, "MemTotal"), std::uint64_t{16303592} * 1024);
    EXPECT_EQ(ProcValue(text, "MemAvailable"), std::uint64_t{8000000} * 1024);
    EXPECT_EQ(ProcValue(text, "HugePages_Total"), 7u);
}

TEST(MemoryInfo, FindsNoValueForAMissingKeyOrAKeyThatOnlyBeginsTheSame) {
    const std::string text = "MemTotalX:  5 kB\nVmRSS:\t  2184 kB\n";
    EXPECT_FALSE(ProcValue(text, "MemTotal").has_value());
    EXPECT_FALSE(ProcValue(text, "VmSize").has_value());
    EXPECT_EQ(ProcValue(text, "VmRSS"), std::uint64_t{2184} * 1024);
}

TEST(MemoryInfo, ParsesMappingsSortedAndSkipsMalformedLines) {
    const std::string text =
        "7ffe96c84000-7ffe96ca5000 rw-p 00000000 00:00 0                          [stack]\n"
        "garbage\n"
        "55d0a0000000-55d0a0021000 r--p 00000000 fe:00 1234    /usr/bin/true\n"
        "ffffffffff600000-ffffffffff601000 --xp 00000000 00:00 0                  [vsyscall]\n";
    const auto maps = ParseMaps(text);
    ASSERT_EQ(maps.size(), 3u);
    EXPECT_EQ(maps[0].Begin, 0x55d0a0000000u);
    EXPECT_EQ(maps[0].End, 0x55d0a0021000u);
    EXPECT_EQ(maps[1].Begin, 0x7ffe96c84000u);
    EXPECT_EQ(maps[2].Begin, 0xffffffffff600000u);
}

TEST(MemoryInfo, TheUserSpaceEndsAtThePowerOfTwoAboveTheStackNotAtVsyscall) {
    const std::vector<TMapping> maps = {{0x55d0a0000000u, 0x55d0a0021000u},
                                        {0x7ffe96c84000u, 0x7ffe96ca5000u},
                                        {0xffffffffff600000u, 0xffffffffff601000u}};
    EXPECT_EQ(UserSpaceTop(maps), std::uint64_t{1} << 47);
    EXPECT_EQ(UserSpaceTop({}), 0u);
}

TEST(MemoryInfo, TheLargestFreeRegionLeavesOutTheRangeFromAddressZero) {
    // Free: 0x0-0x1000000 (begins at 0, left out), 0x1100000-0x5000000 (0x3F00000 bytes),
    // 0x5001000-0x6000000, 0x6000000 is mapped up to 0x6100000, then free up to the top.
    const std::vector<TMapping> maps = {
        {0x1000000, 0x1100000}, {0x5000000, 0x5001000}, {0x6000000, 0x6100000}};
    EXPECT_EQ(LargestFreeRegion(maps, 0x8000000), 0x3F00000u);
    EXPECT_EQ(LargestFreeRegion(maps, 0x6100000 + 0x4000000), 0x4000000u);
    EXPECT_EQ(LargestFreeRegion({{0, 0x1000}, {0x1000, 0x2000}}, 0x2000), 0u);
}

TEST(MemoryInfo, LiveFiguresArePlausible) {
    // Something mapped on its own by the allocator, so that the large blocks are not empty. The
    // pointer escapes through a volatile object, so the compiler cannot drop the allocation.
    char* volatile big = new char[8u << 20];
    const TMemoryInfo info = ReadMemoryInfo();
    delete[] big;
    EXPECT_GT(info.TotalPhys, 0u);
    EXPECT_GT(info.AvailPhys, 0u);
    EXPECT_LE(info.AvailPhys, info.TotalPhys);
    EXPECT_LE(info.MemoryLoad, 100u);
    EXPECT_GE(info.TotalPageFile, info.TotalPhys);
    EXPECT_LE(info.AvailPageFile, info.TotalPageFile);
    EXPECT_GT(info.TotalVirtual, 0u);
    EXPECT_GT(info.AvailVirtual, 0u);
    EXPECT_LE(info.AvailVirtual, info.TotalVirtual);
    EXPECT_GT(info.LargestFreeRegion, 0u);
    EXPECT_LE(info.LargestFreeRegion, info.AvailVirtual);
    EXPECT_GT(info.WorkingSet, 0u);
    EXPECT_LE(info.WorkingSet, info.TotalPhys);
    EXPECT_GT(info.MediumReserved, 0u);
    EXPECT_LE(info.MediumBlockBytes, info.MediumReserved);
    EXPECT_GE(info.LargeBlockCount, 1u);
    EXPECT_GE(info.LargeBlockBytes, std::uint64_t{8} << 20);
    EXPECT_EQ(info.LargeReserved, info.LargeBlockBytes);
    EXPECT_FALSE(info.MediumBlockCount.has_value());
}

}  // namespace
}  // namespace orvane::platform
