#include "base/TextCodec.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(Cp1252ToUtf8, MapsTheHighHalfAndTheWindowsPunctuation) {
    EXPECT_EQ(Cp1252ToUtf8("Caf\xE9"), "Café");
    EXPECT_EQ(Cp1252ToUtf8("\x80 \x93x\x94 \x85"), "€ “x” …");
    EXPECT_EQ(Cp1252ToUtf8(std::string_view("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(Cp1252ToUtf8("\x81"), "\xC2\x81");  // undefined byte keeps its C1 value
}

TEST(SanitizeUtf8, KeepsValidTextAndReplacesEachMalformedByte) {
    EXPECT_EQ(SanitizeUtf8("Björk – 𝄞"), "Björk – 𝄞");
    EXPECT_EQ(SanitizeUtf8("ab\xE2\x82"), "ab\xEF\xBF\xBD\xEF\xBF\xBD");  // cut character
    EXPECT_EQ(SanitizeUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");      // overlong
    EXPECT_EQ(SanitizeUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
}

TEST(TrimBlanks, RemovesControlAndBlankBytesAtBothEnds) {
    EXPECT_EQ(TrimBlanks(std::string_view("  Artist\0\0", 10)), "Artist");
    EXPECT_EQ(TrimBlanks("   "), "");
    EXPECT_EQ(TrimBlanks("a b"), "a b");
}

}  // namespace
}  // namespace orvane
