// Feeds arbitrary bytes to the unpacker and, when they unpack, to the fingerprint container and
// the key and title decoding. Half of the inputs get their checksum fixed so the fuzzer reaches
// the code table and the stream.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fingerprint/FptFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orvane::fingerprint;
    std::vector<std::uint8_t> image(data, data + size);
    if (size >= PackedHeaderSize && (size % 2) == 1) {
        const std::uint32_t sum = PackedChecksum(image.data(), image.size());
        std::memcpy(image.data() + 24, &sum, 4);
    }
    try {
        std::vector<std::uint8_t> payload = Unpack(image.data(), image.size());
        auto song = orvane::MakeRef<TSongServer>(TSongBuffer(std::move(payload)));
        DecodeKeyDeltas(*song);
        const std::string title = TitleOf(*song->SongFile());
        const auto keys = song->CopyKeys();
        if (keys.size() != static_cast<std::size_t>(song->Length())) __builtin_trap();
        (void)title;
    } catch (const orvane::EError&) {
    }
    return 0;
}
