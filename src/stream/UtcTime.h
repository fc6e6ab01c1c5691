// Wall-clock times of a monitor: UTC milliseconds since 1970, the stamps its channels carry
// (the same instant as days since 1970) and the ISO 8601 text of the play log.
// Thread: pure functions and the system clock, any thread.
#pragma once

#include <cstdint>
#include <string>

#include "tracking/TDateTime.h"

namespace orvane::stream {

/// The system's UTC time in milliseconds since 1970-01-01.
std::int64_t UtcNowMs();

/// A channel stamp of a monitored stream: UTC days since 1970 (ms / 86,400,000). Monitor
/// channels use these in place of local date-times, so every time of a stream is UTC.
inline tracking::TDateTime StampOfMs(std::int64_t ms) {
    return static_cast<double>(ms) / 86400000.0;
}
std::int64_t MsOfStamp(tracking::TDateTime stamp);

/// "2026-12-10T05:49:14.123Z".
std::string UtcIsoText(std::int64_t ms);

}  // namespace orvane::stream
