#include "playlog/PlayTime.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace orvane::playlog {
namespace {

constexpr std::int64_t Dec10 = 1796881754123;  // 2026-12-10T05:49:14.123Z

TEST(PlayTime, WritesUtcIsoTextWithMilliseconds) {
    const struct {
        std::int64_t Ms;
        const char* Text;
    } cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {Dec10, "2026-12-10T05:49:14.123Z"},
        {-1, "1969-12-31T23:59:59.999Z"},
        {951868799999, "2000-02-29T23:59:59.999Z"},
        {-62135596800000, "0001-01-01T00:00:00.000Z"},
        {INT64_MAX, "9999-12-31T23:59:59.999Z"},  // clamped
        {INT64_MIN, "0000-01-01T00:00:00.000Z"},
    };
    for (const auto& c : cases) EXPECT_EQ(UtcIsoText(c.Ms), c.Text) << c.Ms;
}

TEST(PlayTime, ReadsTheTimesAUserTypes) {
    const struct {
        const char* Text;
        std::int64_t Ms;
    } cases[] = {
        {"2026-12-10T05:49:14.123Z", Dec10},
        {"2026-12-10 05:49:14.123", Dec10},
        {"2026-12-10T07:49:14.123+02:00", Dec10},
        {"2026-12-10T00:19:14.123-0530", Dec10},
        {"2026-12-10T05:49:14.1Z", Dec10 - 23},
        {"2026-12-10T05:49:14Z", Dec10 - 123},
        {"2026-12-10T05:49", Dec10 - 14123},
        {"2026-12-10", Dec10 - (5 * 3600 + 49 * 60 + 14) * 1000 - 123},
        {"1970-01-01", 0},
        {"2000-02-29T23:59:59.999", 951868799999},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseUserTime(c.Text), std::optional(c.Ms)) << c.Text;
}

TEST(PlayTime, RefusesWhatIsNotATime) {
    for (const char* text : {"",
                             "2026",
                             "2026-12",
                             "2026-1-10",
                             "2026-13-01",
                             "2026-02-29",
                             "2026-12-32",
                             "2026-12-00",
                             "2026-12-10T",
                             "2026-12-10T24:00",
                             "2026-12-10T05:60",
                             "2026-12-10T05:49:61",
                             "2026-12-10T05:49:14.",
                             "2026-12-10T05:49:14.1234",
                             "2026-12-10Z1",
                             "2026-12-10T05:49+2",
                             "2026-12-10T05:49+25:00",
                             "today",
                             " 2026-12-10",
                             "2026-12-10 ",
                             "2026-12-10T05",
                             "0000-01-01T00:00+01:00",
                             "9999-12-31T23:30-01:00"}) {
        EXPECT_EQ(ParseUserTime(text), std::nullopt) << '"' << text << '"';
    }
}

TEST(PlayTime, ReadsBackEveryTimeItWrites) {
    for (std::int64_t ms = -62135596800000; ms < 253402300799999; ms += 987654321011) {
        EXPECT_EQ(ParseUserTime(UtcIsoText(ms)), std::optional(ms)) << ms;
    }
}

}  // namespace
}  // namespace orvane::playlog
