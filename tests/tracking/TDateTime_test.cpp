#include "tracking/TDateTime.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace orvane::tracking {
namespace {

struct TDateCase {
    TDateTime Value;
    const char* Text;
};

TEST(TDateTime, RendersDaysSince1899AsIsoDateAnd24HourTime) {
    const TDateCase cases[] = {
        {0.0, "1899-12-30 00:00:00"},
        {1.0, "1899-12-31 00:00:00"},
        {2.75, "1900-01-01 18:00:00"},
        {-1.25, "1899-12-29 06:00:00"},  // before day 0 the fraction still counts forward
        {45357.5884375, "2024-03-06 14:07:21"},
        {36585.0, "2000-02-29 00:00:00"},
        {45357.0 + 0.999999999, "2024-03-07 00:00:00"},  // rounds up to the next midnight
        {2958465.5, "9999-12-31 12:00:00"},
        {-693593.0, "0001-01-01 00:00:00"},
    };
    for (const TDateCase& c : cases) {
        EXPECT_EQ(DateTimeText(c.Value), c.Text) << c.Value;
    }
}

TEST(TDateTime, ValuesWithoutACalendarDateRenderAsQuestionMarks) {
    const double cases[] = {std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::infinity(),
                            1e300,
                            -1e300,
                            2958466.0,
                            -693595.0};
    for (double value : cases) {
        EXPECT_EQ(ShortDateText(value), "\?\?\?\?-\?\?-\?\?") << value;
        EXPECT_EQ(LongTimeText(value), "\?\?:\?\?:\?\?") << value;
    }
}

TEST(TDateTime, EncodeAndDecodeAreInverseToTheMillisecond) {
    const TDateTimeFields cases[] = {
        {1899, 12, 30, 0, 0, 0, 0}, {1899, 12, 29, 6, 0, 0, 0},     {1900, 2, 28, 23, 59, 59, 999},
        {1900, 3, 1, 0, 0, 0, 1},   {2000, 2, 29, 12, 34, 56, 789}, {2024, 3, 6, 14, 7, 21, 0},
        {1601, 1, 1, 0, 0, 0, 0},   {9999, 12, 31, 23, 59, 59, 0},
    };
    for (const TDateTimeFields& in : cases) {
        TDateTimeFields out;
        ASSERT_TRUE(DecodeDateTime(EncodeDateTime(in), out)) << in.Year;
        EXPECT_EQ(out.Year, in.Year);
        EXPECT_EQ(out.Month, in.Month);
        EXPECT_EQ(out.Day, in.Day);
        EXPECT_EQ(out.Hour, in.Hour);
        EXPECT_EQ(out.Minute, in.Minute);
        EXPECT_EQ(out.Second, in.Second);
        EXPECT_EQ(out.Millisecond, in.Millisecond);
    }
}

TEST(TDateTime, DayZeroIsTheThirtiethOfDecember1899) {
    EXPECT_EQ(EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
    EXPECT_EQ(EncodeDateTime({2024, 3, 6, 0, 0, 0, 0}), 45357.0);
    EXPECT_EQ(EncodeDateTime({2024, 3, 6, 12, 0, 0, 0}), 45357.5);
}

}  // namespace
}  // namespace orvane::tracking
