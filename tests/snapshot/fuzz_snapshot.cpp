// Feeds arbitrary bytes to the snapshot reader as a snapshot image. The checksum is set to the
// one the bytes need, so the reader's checks of the table and the entries are reached; every
// input must be refused with ESnapshotError or taken over into a searchable index.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "database/DBTabl.h"
#include "snapshot/IndexSnapshot.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orvane;
    std::vector<std::uint8_t> image(data, data + size);
    if (image.size() >= snapshot::SnapshotHeaderSize) {
        // Magic, version and byte order from the input's first bytes only when it asks for it.
        if ((image[0] & 1) == 0) {
            std::memcpy(image.data(), "ORV3SNAP", 8);
            const std::uint32_t version = snapshot::SnapshotVersion;
            const std::uint32_t mark = snapshot::ByteOrderMark;
            const std::uint64_t bytes = image.size();
            std::memcpy(image.data() + 8, &version, 4);
            std::memcpy(image.data() + 12, &mark, 4);
            std::memcpy(image.data() + 16, &bytes, 8);
        }
        const std::uint64_t sum = snapshot::ImageChecksum(image.data(), image.size());
        std::memcpy(image.data() + 24, &sum, 8);
    }
    try {
        auto snap = snapshot::IndexSnapshot::fromImage(std::move(image), "");
        for (std::int32_t s = 0; s < snap->SlotCount(); ++s) {
            try {
                (void)snap->Fingerprint(s);
            } catch (const EError&) {
            }
        }
        database::TMediumDB index;
        snap->TakeIndex(index);
        std::vector<database::TDBItem> hits(16);
        for (std::int32_t p = 0; p < database::PartitionCount; ++p) {
            const auto& sub = index.SubDB(p);
            if (sub.Count() > 0) {
                const auto key = (static_cast<std::uint32_t>(p) << 20) | sub.Item(0).EntryKey();
                if (index.GetFromDB(hits, key) == 0) __builtin_trap();
            }
        }
    } catch (const snapshot::ESnapshotError&) {
    }
    return 0;
}
