// One entry of the activity history and the icon kinds it carries.
// Thread: a plain value; built by any poster, handed over by moving it into a posted message.
#pragma once

#include <cstdint>
#include <string>

#include "tracking/TDateTime.h"

namespace orvane::tracking {

/// Index of a row's icon in the small image list (which the song list shares). Any other
/// value is allowed and exports with the empty tag "[]".
enum class TActivityIcon : std::int32_t {
    aiInformation = 2,  ///< welcome lines, successful actions
    aiAttention = 3,    ///< warnings: a duplicate disabled, an unsupported file type
    aiError = 4,        ///< errors, out-of-memory refusals, file errors
    aiArrow = 5,        ///< log lines of recognised clips
};

/// One activity entry.
struct TActivityData {
    /// Local time of the entry (days since 1899-12-30); the posting operations never leave 0.
    TDateTime DT = 0.0;
    /// The message, UTF-8.
    std::string Str;
    TActivityIcon Icon = TActivityIcon::aiInformation;

    friend bool operator==(const TActivityData&, const TActivityData&) = default;
};

}  // namespace orvane::tracking
