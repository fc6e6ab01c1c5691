#include "playlog/PlayTime.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace orvane::playlog {

namespace {

constexpr std::int64_t MsPerDay = 86'400'000;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
}

bool IsLeap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(std::int64_t y, unsigned m) {
    static constexpr unsigned Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : Days[m - 1];
}

/// Reads exactly `count` decimal digits at `pos`, advancing it.
bool Digits(std::string_view text, std::size_t& pos, std::size_t count, int& value) {
    if (pos + count > text.size()) return false;
    value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    pos += count;
    return true;
}

bool Expect(std::string_view text, std::size_t& pos, char c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
}

/// The first and last millisecond of the years 0000 to 9999.
std::int64_t LowestMs() { return DaysFromCivil(0, 1, 1) * MsPerDay; }
std::int64_t HighestMs() { return DaysFromCivil(10000, 1, 1) * MsPerDay - 1; }

}  // namespace

std::string UtcIsoText(std::int64_t ms) {
    ms = std::clamp(ms, LowestMs(), HighestMs());
    std::int64_t days = ms / MsPerDay;
    std::int64_t rest = ms % MsPerDay;
    if (rest < 0) {
        rest += MsPerDay;
        --days;
    }
    std::int64_t y = 0;
    unsigned m = 0;
    unsigned d = 0;
    CivilFromDays(days, y, m, d);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(y), m,
                  d, static_cast<int>(rest / 3'600'000), static_cast<int>(rest / 60'000 % 60),
                  static_cast<int>(rest / 1000 % 60), static_cast<int>(rest % 1000));
    return text;
}

std::optional<std::int64_t> ParseUserTime(std::string_view text) {
    std::size_t pos = 0;
    int year = 0;
    int month = 0;
    int day = 0;
    if (!Digits(text, pos, 4, year) || !Expect(text, pos, '-') || !Digits(text, pos, 2, month) ||
        !Expect(text, pos, '-') || !Digits(text, pos, 2, day)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 ||
        static_cast<unsigned>(day) > DaysInMonth(year, static_cast<unsigned>(month))) {
        return std::nullopt;
    }
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millis = 0;
    if (pos < text.size() && (text[pos] == 'T' || text[pos] == ' ')) {
        ++pos;
        if (!Digits(text, pos, 2, hour) || !Expect(text, pos, ':') ||
            !Digits(text, pos, 2, minute)) {
            return std::nullopt;
        }
        if (pos < text.size() && text[pos] == ':') {
            ++pos;
            if (!Digits(text, pos, 2, second)) return std::nullopt;
            if (pos < text.size() && text[pos] == '.') {
                ++pos;
                int scale = 100;
                std::size_t count = 0;
                while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && count < 3) {
                    millis += (text[pos] - '0') * scale;
                    scale /= 10;
                    ++pos;
                    ++count;
                }
                if (count == 0) return std::nullopt;
            }
        }
        if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    }
    std::int64_t offsetMinutes = 0;
    if (pos < text.size()) {
        if (text[pos] == 'Z') {
            ++pos;
        } else if (text[pos] == '+' || text[pos] == '-') {
            const int sign = text[pos] == '-' ? -1 : 1;
            ++pos;
            int zoneHours = 0;
            int zoneMinutes = 0;
            if (!Digits(text, pos, 2, zoneHours)) return std::nullopt;
            if (pos < text.size() && text[pos] == ':') ++pos;
            if (!Digits(text, pos, 2, zoneMinutes)) return std::nullopt;
            if (zoneHours > 23 || zoneMinutes > 59) return std::nullopt;
            offsetMinutes = sign * (zoneHours * 60 + zoneMinutes);
        }
    }
    if (pos != text.size()) return std::nullopt;
    const std::int64_t days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    const std::int64_t ms =
        days * MsPerDay + ((hour * 60 + minute - offsetMinutes) * 60 + second) * 1000 + millis;
    // A zone may carry the time out of the years the log can write.
    if (ms < LowestMs() || ms > HighestMs()) return std::nullopt;
    return ms;
}

std::int64_t UtcNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace orvane::playlog
