// One partition of the key index: the entries whose line keys share their top 12 bits.
// Thread: no lock; changed by one thread at a time (the main thread or one sort/merge share),
// read by the recognition thread only while nobody changes it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "database/TDBItem.h"

namespace orvane::database {

/// What a sort did, for tests and benchmarks: how many ranges went to each branch.
struct TSortStats {
    std::int64_t HeapSorts = 0;   ///< ranges sorted by heap sort (first < middle < last)
    std::int64_t Partitions = 0;  ///< partition steps (first key as pivot)
    std::int64_t DepthLimited = 0;  ///< ranges heap-sorted because the partitioning went too deep
};

/// A growable array of entries in 16 KiB sections; sorted by entry key when its index says so.
class TSubMediumDB {
public:
    /// Empty: no sections, Count 0.
    TSubMediumDB() = default;
    /// Empty with capacity initSize entries (rounded up to sections). Throws std::bad_alloc.
    explicit TSubMediumDB(std::int32_t initSize);
    TSubMediumDB(TSubMediumDB&&) noexcept = default;
    TSubMediumDB& operator=(TSubMediumDB&&) noexcept = default;
    TSubMediumDB(const TSubMediumDB&) = delete;
    TSubMediumDB& operator=(const TSubMediumDB&) = delete;
    ~TSubMediumDB() = default;

    /// Entries in use, at indexes 0..Count()-1.
    std::int32_t Count() const noexcept { return FCount; }
    /// Capacity in entries: 2048 x number of sections.
    std::int32_t Size() const noexcept {
        return static_cast<std::int32_t>(FPSection.size()) * SectionSize;
    }
    /// Sets the capacity: 0 frees all sections, otherwise ceil(size / 2048) sections are kept,
    /// added or freed at the end; kept sections keep their contents; Count is not changed
    /// (a capacity below Count is refused with EInvalidOperation). Throws std::bad_alloc, in
    /// which case the sections allocated so far stay.
    void SetSize(std::int32_t size);
    /// Appends one section (capacity + 2048). Throws std::bad_alloc.
    void Expand();
    /// Appends an entry, expanding first when full; returns its index. Throws std::bad_alloc.
    std::int32_t Add(TDBItem item);
    /// Copy of the entry at index (0..Count()-1); throws EInvalidOperation outside.
    TDBItem Item(std::int32_t index) const;
    /// Overwrites the entry at index (0..Count()-1); throws EInvalidOperation outside.
    void SetItem(std::int32_t index, TDBItem item);

    /// Sorts entries 0..Count()-1 ascending by entry key, in place, not stable. Ranges whose
    /// first, middle and last keys rise strictly are heap-sorted, others partitioned with the
    /// first key as pivot. Allocates nothing.
    void Sort(TSortStats* stats = nullptr);
    /// True when the entry keys do not decrease with the index (one linear pass).
    bool IsSortedByKey() const noexcept;
    /// Sorts only when IsSortedByKey() is false; returns true when it sorted.
    bool SortIfUnsorted(TSortStats* stats = nullptr);

    /// Copies the entries whose entry key is hashValue & $FFFFF into matches, at most
    /// matches.size() of them: the binary-search hit, then the following equal entries, then
    /// the preceding ones. Needs a sorted partition. Returns the count; allocates nothing.
    std::int32_t GetFromDB(std::span<TDBItem> matches, std::uint32_t hashValue) const noexcept;

    /// Removes every entry of songNo, keeping the order of the others; capacity unchanged.
    void DelSong(std::int32_t songNo) noexcept;
    /// Removes every entry whose song number is listed, keeping the order of the others, then
    /// shrinks the capacity to the new count (rounded up to sections).
    void DelSongs(std::span<const std::int32_t> songNos);

    /// Merges this partition's entries into target, both sorted by entry key: target grows to
    /// hold both (one resize, whole sections) and is filled from the back in place, moving its
    /// entries above each source entry as blocks; on equal keys target's former entries come
    /// first. This partition is unchanged. Throws
    /// std::bad_alloc (target then keeps its entries) or EInvalidOperation for a merge into
    /// itself or past 2^31 entries.
    void MergeInto(TSubMediumDB& target);

    /// Gives every entry a new song number: an entry of song s is kept as song newSongNo[s]
    /// when that is 0 or more and dropped otherwise (also when s lies beyond the table). The
    /// kept entries keep their order, so a sorted partition stays sorted. Capacity unchanged.
    void RenumberSongs(std::span<const std::int32_t> newSongNo) noexcept;

    /// Number of sections and the entries of section i (0..SectionCount()-1), for writing the
    /// index out; entries beyond Count() in the last section are undefined.
    std::int32_t SectionCount() const noexcept { return static_cast<std::int32_t>(FPSection.size()); }
    const TDBItem* SectionData(std::int32_t i) const noexcept {
        return FPSection[static_cast<std::size_t>(i)]->data();
    }
    /// Replaces the contents by the `count` consecutive entries at `entries` (8-byte aligned,
    /// memory of `backing`): every whole section of 2048 is used where it lies (the partition
    /// keeps `backing` alive, never frees it and writes changes in place, so it must stay
    /// writable); the rest is copied into a section of its own, whose free slots the partition
    /// may fill. Throws std::bad_alloc (the partition is then unchanged).
    void AdoptSections(TDBItem* entries, std::int32_t count,
                       const std::shared_ptr<const void>& backing);

    /// Kept for the callers that ask for it: checks nothing and never fails.
    void CheckIntegrity() const noexcept {}
    /// Frees all sections; Count 0.
    void Clear() noexcept;

    /// Bytes held by this partition: its sections and its section table.
    std::size_t AllocatedBytes() const noexcept;

private:
    friend class TMediumDB;

    TDBItem& At(std::int32_t index) noexcept {
        return (*FPSection[static_cast<std::size_t>(index >> SectionShift)])
            [static_cast<std::size_t>(index & (SectionSize - 1))];
    }
    const TDBItem& At(std::int32_t index) const noexcept {
        return (*FPSection[static_cast<std::size_t>(index >> SectionShift)])
            [static_cast<std::size_t>(index & (SectionSize - 1))];
    }
    std::uint32_t Key(std::int32_t index) const noexcept { return At(index).EntryKey(); }

    void SortRange(std::int32_t lo, std::int32_t hi, std::int32_t depthLeft, TSortStats* stats);
    void HeapSort(std::int32_t lo, std::int32_t hi) noexcept;
    void SiftDown(std::int32_t lo, std::int32_t node, std::int32_t heapEnd) noexcept;
    void Exchange(std::int32_t a, std::int32_t b) noexcept { std::swap(At(a), At(b)); }
    /// First index in 0..end-1 whose entry key is above key (end when none); needs 0..end-1
    /// sorted.
    std::int32_t UpperBound(std::uint32_t key, std::int32_t end) const noexcept;
    /// Moves entries first..last-1 up by shift slots (all within the capacity), from the back.
    void MoveUp(std::int32_t first, std::int32_t last, std::int32_t shift) noexcept;
    /// Compaction with a sorted, duplicate-free list of song numbers.
    void RemoveSortedSongs(std::span<const std::int32_t> sortedSongNos) noexcept;

    std::int32_t FCount = 0;
    std::vector<TSectionPtr> FPSection;
};

}  // namespace orvane::database
