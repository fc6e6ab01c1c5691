#include "stream/UtcTime.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace orvane::stream {

std::int64_t UtcNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::int64_t MsOfStamp(tracking::TDateTime stamp) {
    return static_cast<std::int64_t>(std::llround(stamp * 86400000.0));
}

std::string UtcIsoText(std::int64_t ms) {
    using namespace std::chrono;
    const sys_time<milliseconds> t{milliseconds{ms}};
    const auto day = floor<days>(t);
    const year_month_day ymd{day};
    const hh_mm_ss<milliseconds> time{t - day};
    char text[40];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(ymd.year()),
        static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
        static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
        static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

}  // namespace orvane::stream
