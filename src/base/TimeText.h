// Texts of durations and positions as the user sees them.
// Thread: any (pure functions).
#pragma once

#include <string>

namespace orvane {

/// Minute-second text of a duration in seconds: seconds rounded (halves to even), minutes
/// without leading zeros, two-digit seconds ("3:07", "0:00", "61:40"). Negative gives "0:00".
std::string MinSecText(double seconds);

/// Rounds halves to even, as every displayed time does.
long long RoundHalfEven(double value);

}  // namespace orvane
