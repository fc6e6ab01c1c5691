// The key index: adding, looking up, removing, sorting and merging across the 4096 partitions.
// Thread: see TMediumDB.h.
#include "database/TMediumDB.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "database/TSortThread.h"

namespace orvane::database {

void TMediumDB::AddToDB(std::uint32_t hashValue, std::int32_t lineNo, std::int32_t songNo) {
    if (hashValue == 0) {
        return;
    }
    // Out-of-range numbers would spill into neighbouring fields of the packed entry.
    if (songNo < 0 || songNo > MaxSongNo) {
        throw EDBError("Song number " + std::to_string(songNo) + " is out of range");
    }
    if (lineNo < 0 || lineNo > MaxLineNo) {
        throw EDBError("Key position " + std::to_string(lineNo) + " is out of range");
    }
    FSorted = false;
    FEmpty = false;
    SubDBs[hashValue >> 20].Add(TDBItem::Pack(hashValue, lineNo, songNo));
}

std::int32_t TMediumDB::GetFromDB(TDBItem* matches, std::int32_t length,
                                  std::uint32_t hashValue) const noexcept {
    if (matches == nullptr || length <= 0) {
        return 0;
    }
    return GetFromDB(std::span<TDBItem>(matches, static_cast<std::size_t>(length)), hashValue);
}

std::int32_t TMediumDB::GetFromDB(std::span<TDBItem> matches,
                                  std::uint32_t hashValue) const noexcept {
    if (hashValue == 0) {
        return 0;
    }
    return SubDBs[hashValue >> 20].GetFromDB(matches, hashValue & EntryKeyMask);
}

void TMediumDB::UpdateEmpty() noexcept {
    FEmpty = std::all_of(SubDBs.begin(), SubDBs.end(),
                         [](const TSubMediumDB& sub) { return sub.Count() == 0; });
}

void TMediumDB::DelSong(std::int32_t songNo) noexcept {
    for (auto& sub : SubDBs) {
        sub.DelSong(songNo);
    }
    UpdateEmpty();
}

void TMediumDB::DelSongs(std::span<const std::int32_t> songNos) {
    if (songNos.size() == 1) {
        DelSong(songNos[0]);
        return;
    }
    std::vector<std::int32_t> sorted(songNos.begin(), songNos.end());
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (auto& sub : SubDBs) {
        sub.RemoveSortedSongs(sorted);
        // Shrinking to the count never allocates, so this cannot fail.
        sub.SetSize(sub.Count());
    }
    UpdateEmpty();
}

void TMediumDB::Sort() {
    if (FSorted) {
        return;
    }
    std::vector<std::unique_ptr<TIndexShare>> shares;
    for (std::int32_t n = 0; n < ShareCount; ++n) {
        shares.push_back(std::make_unique<TSortThread>(*this, n, ShareCount));
    }
    const auto errors = RunShares(shares, FShareMode);
    if (!errors.empty()) {
        throw EDBError(ComposeShareErrors("Error during optimization: \r\n", errors));
    }
    FSorted = true;
}

void TMediumDB::MergeInto(TMediumDB& target) {
    if (&target == this) {
        throw EInvalidOperation("An index cannot be merged into itself");
    }
    std::vector<std::unique_ptr<TIndexShare>> shares;
    for (std::int32_t n = 0; n < ShareCount; ++n) {
        shares.push_back(std::make_unique<TSortAndMergeThread>(*this, target, n, ShareCount));
    }
    const auto errors = RunShares(shares, FShareMode);
    if (!errors.empty()) {
        throw EDBError(ComposeShareErrors("Error during merging: \r\n", errors));
    }
}

void TMediumDB::FastMoveOrMergeInto(TMediumDB& target) {
    if (&target == this) {
        throw EInvalidOperation("An index cannot be merged into itself");
    }
    if (!target.FEmpty) {
        MergeInto(target);
        return;
    }
    Sort();
    for (std::size_t p = 0; p < SubDBs.size(); ++p) {
        std::swap(SubDBs[p], target.SubDBs[p]);
    }
    std::swap(FEmpty, target.FEmpty);
}

void TMediumDB::RenumberSongs(std::span<const std::int32_t> newSongNo) noexcept {
    for (auto& sub : SubDBs) {
        sub.RenumberSongs(newSongNo);
    }
    UpdateEmpty();
}

void TMediumDB::Clear() noexcept {
    for (auto& sub : SubDBs) {
        sub.Clear();
    }
    FSorted = true;
    FEmpty = true;
}

TSubMediumDB& TMediumDB::SubDB(std::int32_t p) {
    if (p < 0 || p >= PartitionCount) {
        throw EInvalidOperation("Index partition " + std::to_string(p) + " does not exist");
    }
    return SubDBs[static_cast<std::size_t>(p)];
}

const TSubMediumDB& TMediumDB::SubDB(std::int32_t p) const {
    if (p < 0 || p >= PartitionCount) {
        throw EInvalidOperation("Index partition " + std::to_string(p) + " does not exist");
    }
    return SubDBs[static_cast<std::size_t>(p)];
}

std::int64_t TMediumDB::TotalCount() const noexcept {
    std::int64_t total = 0;
    for (const auto& sub : SubDBs) {
        total += sub.Count();
    }
    return total;
}

std::size_t TMediumDB::AllocatedBytes() const noexcept {
    std::size_t bytes = sizeof(TMediumDB);
    for (const auto& sub : SubDBs) {
        bytes += sub.AllocatedBytes();
    }
    return bytes;
}

}  // namespace orvane::database
