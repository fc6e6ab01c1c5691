// The system's date-time value (days since 1899-12-30, local time) and its fixed texts.
// Thread: any (pure functions).
//
// Texts are locale-independent on purpose so that exported histories read and sort the same on
// every machine: the short date is ISO 8601 "yyyy-mm-dd" and the long time is 24-hour
// "hh:nn:ss", e.g. 45357.5884375 -> "2024-03-06" and "14:07:21".
#pragma once

#include <cstdint>
#include <string>

namespace orvane::tracking {

/// Days since 1899-12-30 00:00 in local time; the fraction is the time of day. Before that day
/// the value is negative and the fraction still counts forward from midnight (-1.25 is
/// 1899-12-29 06:00).
using TDateTime = double;

/// A date-time split into its calendar fields (month 1-12, day 1-31, hour 0-23 ...).
struct TDateTimeFields {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

/// The date-time of the given local calendar fields. Fields are not range-checked beyond what
/// the arithmetic needs: month 1-12, day 1-31, hour 0-23, minute and second 0-59, ms 0-999.
TDateTime EncodeDateTime(const TDateTimeFields& fields);

/// Splits `value` into calendar fields, rounding to whole milliseconds. Returns false for values
/// that are not finite or lie outside the years 1 to 9999.
bool DecodeDateTime(TDateTime value, TDateTimeFields& fields);

/// "yyyy-mm-dd"; "????-??-??" when the value has no calendar date.
std::string ShortDateText(TDateTime value);

/// "hh:nn:ss" (24 hours, milliseconds dropped); "??:??:??" when the value has no calendar date.
std::string LongTimeText(TDateTime value);

/// The short date, a blank and the long time: "2024-03-06 14:07:21".
std::string DateTimeText(TDateTime value);

}  // namespace orvane::tracking
