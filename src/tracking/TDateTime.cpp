#include "tracking/TDateTime.h"

#include <cmath>
#include <cstdio>

namespace orvane::tracking {

namespace {

constexpr std::int64_t MsPerDay = 86'400'000;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
constexpr std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, TDateTimeFields& f) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    f.Year = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
    f.Month = static_cast<int>(m);
    f.Day = static_cast<int>(d);
}

constexpr std::int64_t DayZero = DaysFromCivil(1899, 12, 30);
// Serial days of 0001-01-01 and 10000-01-01: the range that has a four-digit year.
constexpr std::int64_t FirstSerial = DaysFromCivil(1, 1, 1) - DayZero;
constexpr std::int64_t EndSerial = DaysFromCivil(10000, 1, 1) - DayZero;

}  // namespace

TDateTime EncodeDateTime(const TDateTimeFields& f) {
    const std::int64_t days = DaysFromCivil(f.Year, f.Month, f.Day) - DayZero;
    const std::int64_t ms =
        ((static_cast<std::int64_t>(f.Hour) * 60 + f.Minute) * 60 + f.Second) * 1000 +
        f.Millisecond;
    const double time = static_cast<double>(ms) / static_cast<double>(MsPerDay);
    return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

bool DecodeDateTime(TDateTime value, TDateTimeFields& fields) {
    if (!std::isfinite(value) || value <= static_cast<double>(FirstSerial) - 1.0 ||
        value >= static_cast<double>(EndSerial)) {
        return false;
    }
    const double whole = std::trunc(value);
    auto day = static_cast<std::int64_t>(whole);
    auto ms = static_cast<std::int64_t>(std::llround(std::fabs(value - whole) * MsPerDay));
    if (ms >= MsPerDay) {
        // Rounded up to midnight: that is the next calendar day.
        ms -= MsPerDay;
        ++day;
    }
    if (day < FirstSerial || day >= EndSerial) {
        return false;
    }
    CivilFromDays(day + DayZero, fields);
    fields.Hour = static_cast<int>(ms / 3'600'000);
    fields.Minute = static_cast<int>(ms / 60'000 % 60);
    fields.Second = static_cast<int>(ms / 1000 % 60);
    fields.Millisecond = static_cast<int>(ms % 1000);
    return true;
}

std::string ShortDateText(TDateTime value) {
    TDateTimeFields f;
    if (!DecodeDateTime(value, f)) {
        return "\?\?\?\?-\?\?-\?\?";
    }
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", f.Year, f.Month, f.Day);
    return text;
}

std::string LongTimeText(TDateTime value) {
    TDateTimeFields f;
    if (!DecodeDateTime(value, f)) {
        return "\?\?:\?\?:\?\?";
    }
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", f.Hour, f.Minute, f.Second);
    return text;
}

std::string DateTimeText(TDateTime value) {
    return ShortDateText(value) + " " + LongTimeText(value);
}

}  // namespace orvane::tracking
