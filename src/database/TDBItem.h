// One packed entry of the key index and the 16 KiB section that holds 2048 of them.
// Thread: plain values; whoever owns the index owns its entries.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace orvane::database {

/// Largest song number an entry can carry (20 bits).
constexpr std::int32_t MaxSongNo = 0xFFFFF;
/// Largest key position an entry can carry (24 bits): about 54 hours of audio.
constexpr std::int32_t MaxLineNo = 0xFFFFFF;
/// Mask of the entry key: the low 20 bits of a line key.
constexpr std::uint32_t EntryKeyMask = 0xFFFFF;
/// Number of partitions; a line key's partition is its top 12 bits (key >> 20).
constexpr std::int32_t PartitionCount = 4096;
/// Entries per section.
constexpr std::int32_t SectionSize = 2048;
/// log2(SectionSize): entry i lives in section i >> SectionShift, slot i & (SectionSize - 1).
constexpr std::int32_t SectionShift = 11;

/// One index entry, 8 bytes: the low 20 bits of a line key, the 20-bit song number and the
/// 24-bit position of the key in its fingerprint. The top 12 bits of the line key are not
/// stored: they are the number of the partition that holds the entry.
///
///   Data1: bits  0-19 entry key (line key & $FFFFF)
///          bits 20-31 song number bits 0-11
///   Data2: bits  0- 7 song number bits 12-19
///          bits  8-31 position (0 .. 16,777,215)
///
/// Worked example: line key $ABC12345, song number 70,000 ($11170), position 1,000 ($3E8):
///   partition  = $ABC12345 >> 20                       = $ABC (2748)
///   Data1      = $12345 | ($11170 & $FFF) << 20        = $17012345
///   Data2      = ($11170 >> 12) | ($3E8 << 8)          = $0003E811
/// and back: key = $17012345 & $FFFFF = $12345; song = (($0003E811 & $FF) << 12) |
/// ($17012345 >> 20) = $11000 | $170 = $11170; position = $0003E811 >> 8 = $3E8.
struct TDBItem {
    std::uint32_t Data1;
    std::uint32_t Data2;

    /// Packs an entry. songNo must lie in 0..MaxSongNo and lineNo in 0..MaxLineNo (the index
    /// checks this before it packs); the bits above are cut off here.
    static constexpr TDBItem Pack(std::uint32_t hashValue, std::int32_t lineNo,
                                  std::int32_t songNo) noexcept {
        const auto song = static_cast<std::uint32_t>(songNo) & 0xFFFFFu;
        const auto line = static_cast<std::uint32_t>(lineNo) & 0xFFFFFFu;
        return TDBItem{(hashValue & EntryKeyMask) | (song << 20), (song >> 12) | (line << 8)};
    }
    /// The low 20 bits of the line key.
    constexpr std::uint32_t EntryKey() const noexcept { return Data1 & EntryKeyMask; }
    /// Song number, 0..1,048,575.
    constexpr std::int32_t SongNo() const noexcept {
        return static_cast<std::int32_t>(((Data2 & 0xFFu) << 12) | (Data1 >> 20));
    }
    /// Position of the key in its fingerprint (0-based key index), 0..16,777,215.
    constexpr std::int32_t LineNo() const noexcept { return static_cast<std::int32_t>(Data2 >> 8); }

    friend constexpr bool operator==(const TDBItem&, const TDBItem&) = default;
};
static_assert(sizeof(TDBItem) == 8, "an entry is 8 bytes, no padding");

/// 2048 entries (16,384 bytes), allocated and freed as one block.
using TSection = std::array<TDBItem, SectionSize>;
static_assert(sizeof(TSection) == 16384);

/// Releases a section: frees one the index allocated, leaves alone one that lives in memory the
/// index only borrows (a mapped snapshot file); `Backing` keeps that memory alive until the last
/// of its sections goes.
struct TSectionRelease {
    std::shared_ptr<const void> Backing;
    void operator()(TSection* section) const noexcept {
        if (!Backing) std::default_delete<TSection>{}(section);
    }
};
/// A partition's hold on one section.
using TSectionPtr = std::unique_ptr<TSection, TSectionRelease>;

/// Allocates one section with undefined contents. Throws std::bad_alloc when memory is short
/// (or when a test made it fail, see TSectionFailureInjection). Thread safe.
TSectionPtr NewSection();

/// Test hook: while an instance lives, the first `allowedSections` section allocations (from
/// any thread) succeed and every later one throws std::bad_alloc. Not nestable; tests only.
class TSectionFailureInjection {
public:
    explicit TSectionFailureInjection(std::int64_t allowedSections);
    ~TSectionFailureInjection();
    TSectionFailureInjection(const TSectionFailureInjection&) = delete;
    TSectionFailureInjection& operator=(const TSectionFailureInjection&) = delete;
};

}  // namespace orvane::database
