// The key index: every line key of every loaded fingerprint with its song number and position,
// split by the top 12 key bits into 4096 partitions kept sorted for binary search.
// Thread: no lock of its own. Changed on the main thread while recognition is paused, read by
// the recognition thread otherwise; Sort and MergeInto may run their four work shares on worker
// threads, each on its own partitions, and return only when all have finished.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "base/Errors.h"
#include "database/TDBItem.h"
#include "database/TSubMediumDB.h"

namespace orvane::database {

/// Raised by the index: aggregated share failures of Sort and MergeInto, entries out of range.
class EDBError : public EError {
public:
    using EError::EError;
};

/// How the four work shares of Sort and MergeInto run.
enum class TShareMode {
    smThreads,     ///< one worker thread per share (the default); falls back to the caller's
                   ///< thread for a share whose thread cannot be started
    smSequential,  ///< one after another on the calling thread
};

class TMediumDB {
public:
    /// 4096 empty partitions; sorted and empty.
    TMediumDB() = default;
    TMediumDB(const TMediumDB&) = delete;
    TMediumDB& operator=(const TMediumDB&) = delete;
    ~TMediumDB() = default;

    /// Every partition is in entry-key order (lookups need it). Thread safe to read while the
    /// index is not being changed.
    bool Sorted() const noexcept { return FSorted; }
    /// Marks the index sorted or unsorted without touching entries: a bulk load marks it
    /// unsorted so that loads append and one Sort follows. Marking it sorted is the caller's
    /// promise.
    void SetSorted(bool sorted) noexcept { FSorted = sorted; }
    /// The index holds no entries (set again only by DelSong, DelSongs and Clear).
    bool Empty() const noexcept { return FEmpty; }

    /// Records line key hashValue of fingerprint songNo (0..1,048,575) at position lineNo
    /// (0..16,777,215). Key 0 means "no key": nothing happens, flags included. Otherwise the
    /// index becomes unsorted and non-empty and the entry is appended to partition
    /// hashValue >> 20. Throws EDBError for a song number or position out of range (nothing
    /// stored) and std::bad_alloc when memory is short.
    void AddToDB(std::uint32_t hashValue, std::int32_t lineNo, std::int32_t songNo);

    /// Copies into matches (capacity `length` entries) the entries of line key hashValue: the
    /// binary-search hit, then the equal entries after it, then those before it. Returns the
    /// count: 0 for key 0, for length <= 0 and when the key is absent. Needs a sorted index.
    /// Allocates nothing; thread safe while the index is not being changed.
    std::int32_t GetFromDB(TDBItem* matches, std::int32_t length,
                           std::uint32_t hashValue) const noexcept;
    /// The same with the buffer as a span.
    std::int32_t GetFromDB(std::span<TDBItem> matches, std::uint32_t hashValue) const noexcept;

    /// Removes every entry of songNo from every partition (capacities unchanged); the index
    /// becomes empty when nothing is left. Keeps the sort order.
    void DelSong(std::int32_t songNo) noexcept;
    /// Removes the entries of all listed songs. Exactly one song: as DelSong. Otherwise every
    /// partition also shrinks its capacity to its count. Empty as for DelSong.
    void DelSongs(std::span<const std::int32_t> songNos);

    /// Sorts every partition; does nothing when Sorted() is true. The four shares each
    /// sort the partitions p with p mod 4 = share. Throws EDBError "Error during optimization:
    /// \r\n" plus one line (with CR LF) per failed share; then the index stays unsorted and a
    /// failed share's remaining partitions stay as they were.
    void Sort();
    /// Merges this index's entries into target, partition by partition: each partition of this
    /// index and of target is sorted first unless it already is in order, then merged in place
    /// (on equal keys target's former entries first). No flags change on either index; this
    /// index keeps its entries. Throws EDBError "Error during merging: \r\n" plus one line per
    /// failed share (target may then lack some entries), EInvalidOperation for target == this.
    void MergeInto(TMediumDB& target);
    /// Into an empty target: sorts this index and hands its partitions over to target without
    /// copying (this index receives target's empty ones, the Empty flags are exchanged, the
    /// Sorted flags are not). Into a non-empty target: MergeInto. Throws as Sort / MergeInto.
    void FastMoveOrMergeInto(TMediumDB& target);

    /// Renumbers the songs of every partition (TSubMediumDB::RenumberSongs); Empty is updated,
    /// Sorted not (the order of the kept entries does not change).
    void RenumberSongs(std::span<const std::int32_t> newSongNo) noexcept;
    /// After the partitions were filled through SubDB(p).AdoptSections: Empty from the counts,
    /// Sorted as the caller promises.
    void PartitionsAdopted(bool sorted) noexcept {
        FSorted = sorted;
        UpdateEmpty();
    }

    /// Kept for the callers that ask for it: checks nothing and never fails.
    void CheckIntegrity() const noexcept {}
    /// Frees every partition's sections; sorted and empty.
    void Clear() noexcept;

    /// Partition p (0..4095), for tests, diagnostics and the work shares. Throws
    /// EInvalidOperation for p outside.
    TSubMediumDB& SubDB(std::int32_t p);
    const TSubMediumDB& SubDB(std::int32_t p) const;

    /// Entries stored in all partitions.
    std::int64_t TotalCount() const noexcept;
    /// Bytes held by the index object and all its sections.
    std::size_t AllocatedBytes() const noexcept;

    /// How Sort and MergeInto run their shares; results do not depend on it.
    TShareMode ShareMode() const noexcept { return FShareMode; }
    void SetShareMode(TShareMode mode) noexcept { FShareMode = mode; }

private:
    friend class TSortThread;
    friend class TSortAndMergeThread;

    bool FSorted = true;
    bool FEmpty = true;
    TShareMode FShareMode = TShareMode::smThreads;
    std::array<TSubMediumDB, PartitionCount> SubDBs;

    void UpdateEmpty() noexcept;
};

}  // namespace orvane::database
