// Any ICY metadata packet: the title parser must not crash, and what it returns is clean,
// bounded UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "stream/IcyMetadata.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view packet(reinterpret_cast<const char*>(data), size);
    const auto title = orvane::stream::ParseStreamTitle(packet);
    if (title) {
        if (title->size() > orvane::stream::MaxStreamTitleBytes) std::abort();
        if (orvane::stream::CleanTitleText(*title) != *title) std::abort();
    }
    return 0;
}
