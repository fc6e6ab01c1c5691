#include "tracking/TSystemClock.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace orvane::tracking {

TDateTime TSystemClock::Now() const {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto sinceEpochMs = duration_cast<milliseconds>(now.time_since_epoch()).count();
    const auto seconds = static_cast<std::time_t>(sinceEpochMs >= 0 ? sinceEpochMs / 1000
                                                                    : (sinceEpochMs - 999) / 1000);
    const auto ms = static_cast<int>(sinceEpochMs - static_cast<long long>(seconds) * 1000);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) {
        return 0.0;
    }
    TDateTimeFields f;
    f.Year = local.tm_year + 1900;
    f.Month = local.tm_mon + 1;
    f.Day = local.tm_mday;
    f.Hour = local.tm_hour;
    f.Minute = local.tm_min;
    f.Second = std::min(local.tm_sec, 59);  // a leap second shows as :59
    f.Millisecond = ms;
    return EncodeDateTime(f);
}

std::int64_t TSystemClock::MonotonicMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace orvane::tracking
