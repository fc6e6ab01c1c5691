#include "tracking/Replace.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "base/Errors.h"

namespace orvane::tracking {
namespace {

TEST(Replace, ExpandsEveryPairInOrderIgnoringCase) {
    EXPECT_EQ(Replace("%TITLE on %Channel at %channel", {"%title", "Song", "%channel", "Ch01"}),
              "Song on Ch01 at Ch01");
}

TEST(Replace, ExpandsALaterPlaceholderInsideAnEarlierValueAgain) {
    const std::string result =
        Replace("%channel: %title", {"%title", "Live at %channel", "%channel", "Channel01"});
    EXPECT_EQ(result, "Channel01: Live at Channel01");
}

TEST(Replace, DoesNotExpandAValueByItsOwnName) {
    EXPECT_EQ(Replace("%a-%a", {"%a", "%a%a"}), "%a%a-%a%a");
}

TEST(Replace, QuotingEscapesApostrophesAndDoubleQuotes) {
    EXPECT_EQ(Replace("run %title", {"%title", "it's \"on\""}, true), "run it\\'s \\\"on\\\"");
    EXPECT_EQ(Replace("run %title", {"%title", "it's \"on\""}, false), "run it's \"on\"");
}

TEST(Replace, RefusesAnOddNumberOfValues) {
    try {
        Replace("%title", {"%title", "a", "%channel"});
        FAIL() << "no exception";
    } catch (const EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Replace(): Argument count must be even.");
    }
}

TEST(Replace, AcceptsOwnedStringsAndLeavesUnknownTextAlone) {
    const std::vector<std::string> values{"%date", "2024-03-06", "", "ignored"};
    EXPECT_EQ(Replace("%date %time 100%", values), "2024-03-06 %time 100%");
    EXPECT_EQ(Replace("", values), "");
}

}  // namespace
}  // namespace orvane::tracking
