// Texts of the play log's times: UTC ISO 8601 with milliseconds, "2026-12-10T05:49:14.123Z",
// and the times a user gives to the report.
// Thread: any (pure functions).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvane::playlog {

/// "2026-12-10T05:49:14.123Z" for `ms` milliseconds since 1970-01-01 UTC (years 0000-9999;
/// times outside are clamped to that range).
std::string UtcIsoText(std::int64_t ms);

/// Milliseconds since 1970 UTC of a time the user typed: a date "2026-12-10", optionally
/// followed by "T" or a blank and "hh:mm", "hh:mm:ss" or "hh:mm:ss.fff" (1 to 3 digits), and
/// optionally a zone "Z" or "+hh:mm" / "-hh:mm" / "+hhmm". A time without a zone is UTC, as
/// the log stores it. Anything else (or an impossible date such as 2026-02-30) gives nothing.
std::optional<std::int64_t> ParseUserTime(std::string_view text);

/// Milliseconds since 1970 UTC now.
std::int64_t UtcNowMs();

}  // namespace orvane::playlog
