#include "base/TimeText.h"

#include <cmath>
#include <cstdio>

namespace orvane {

long long RoundHalfEven(double value) {
    // nearbyint follows the current rounding mode, which is to-nearest-even by default.
    return static_cast<long long>(std::nearbyint(value));
}

std::string MinSecText(double seconds) {
    if (!(seconds > 0.0)) return "0:00";
    long long total = RoundHalfEven(seconds);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld:%02lld", total / 60, total % 60);
    return buf;
}

}  // namespace orvane
