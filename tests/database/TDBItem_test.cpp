// Exact bits of the packed index entry.
#include "database/TDBItem.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace orvane::database {
namespace {

struct TPackCase {
    std::uint32_t HashValue;
    std::int32_t LineNo;
    std::int32_t SongNo;
    std::uint32_t Data1;
    std::uint32_t Data2;
};

TEST(TDBItem, PacksKeySongAndPositionIntoTheDocumentedBits) {
    const TPackCase cases[] = {
        {0x00000001u, 0, 0, 0x00000001u, 0x00000000u},
        {0xABC12345u, 1000, 70000, 0x17012345u, 0x0003E811u},  // the header's worked example
        {0xFFFFFFFFu, 0xFFFFFF, 0xFFFFF, 0xFFFFFFFFu, 0xFFFFFFFFu},  // every field at its limit
        {0xFFF00000u, 0, 0, 0x00000000u, 0x00000000u},  // partition bits are not stored
        {0x000FFFFFu, 1, 1, 0x001FFFFFu, 0x00000100u},
        {0x12345678u, 0x123456, 0x00FFF, 0xFFF45678u, 0x12345600u},  // song bits 0-11 only
        {0x12345678u, 0, 0xFF000, 0x00045678u, 0x000000FFu},  // song bits 12-19 only
    };
    for (const auto& c : cases) {
        const TDBItem item = TDBItem::Pack(c.HashValue, c.LineNo, c.SongNo);
        EXPECT_EQ(item.Data1, c.Data1) << std::hex << c.HashValue;
        EXPECT_EQ(item.Data2, c.Data2) << std::hex << c.HashValue;
        EXPECT_EQ(item.EntryKey(), c.HashValue & 0xFFFFFu);
        EXPECT_EQ(item.SongNo(), c.SongNo);
        EXPECT_EQ(item.LineNo(), c.LineNo);
    }
}

TEST(TDBItem, LargestSongNumberAndPositionSurvivePackingUnchanged) {
    const TDBItem item = TDBItem::Pack(0x87654321u, 16777215, 1048575);
    EXPECT_EQ(item.SongNo(), 1048575);
    EXPECT_EQ(item.LineNo(), 16777215);
    EXPECT_EQ(item.EntryKey(), 0x54321u);
}

TEST(TDBItem, UnpacksWordsWrittenByHand) {
    const TDBItem item{0x3A700042u, 0x00002A05u};
    EXPECT_EQ(item.EntryKey(), 0x00042u);
    EXPECT_EQ(item.SongNo(), 0x053A7);
    EXPECT_EQ(item.LineNo(), 0x2A);
}

TEST(TDBItem, IsEightBytesAndASectionSixteenKiB) {
    EXPECT_EQ(sizeof(TDBItem), 8u);
    EXPECT_EQ(sizeof(TSection), 16384u);
}

}  // namespace
}  // namespace orvane::database
