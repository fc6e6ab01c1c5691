// Feeds arbitrary text to the report's time reader: it must never crash, and every time it
// accepts must survive a round trip through the log's own text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "playlog/PlayTime.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto ms = orvane::playlog::ParseUserTime(text);
    if (ms) {
        const auto again = orvane::playlog::ParseUserTime(orvane::playlog::UtcIsoText(*ms));
        if (!again || *again != *ms) std::abort();
    }
    return 0;
}
