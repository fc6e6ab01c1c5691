// One partition of the key index: growth, lookup, removal, sorting and the in-place merge.
// Thread: see TSubMediumDB.h.
#include "database/TSubMediumDB.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "base/Errors.h"

namespace orvane::database {

namespace {

std::atomic<bool> GInjectionActive{false};
std::atomic<std::int64_t> GSectionsAllowed{0};

constexpr std::int64_t MaxEntries = std::numeric_limits<std::int32_t>::max();

}  // namespace

TSectionPtr NewSection() {
    if (GInjectionActive.load(std::memory_order_relaxed) &&
        GSectionsAllowed.fetch_sub(1, std::memory_order_relaxed) <= 0) {
        throw std::bad_alloc();
    }
    // Contents stay undefined: every slot is written before it is counted.
    return TSectionPtr(std::make_unique_for_overwrite<TSection>().release());
}

TSectionFailureInjection::TSectionFailureInjection(std::int64_t allowedSections) {
    GSectionsAllowed.store(allowedSections, std::memory_order_relaxed);
    GInjectionActive.store(true, std::memory_order_seq_cst);
}

TSectionFailureInjection::~TSectionFailureInjection() {
    GInjectionActive.store(false, std::memory_order_seq_cst);
}

TSubMediumDB::TSubMediumDB(std::int32_t initSize) { SetSize(initSize); }

void TSubMediumDB::SetSize(std::int32_t size) {
    if (size < FCount) {
        // A capacity below the count would leave counted entries without storage.
        throw EInvalidOperation("Index partition capacity " + std::to_string(size) +
                                " is below its entry count " + std::to_string(FCount));
    }
    if (size == 0) {
        FPSection.clear();
        FPSection.shrink_to_fit();
        return;
    }
    const auto sections = (static_cast<std::size_t>(size) + SectionSize - 1) / SectionSize;
    if (sections < FPSection.size()) {
        FPSection.resize(sections);
        return;
    }
    FPSection.reserve(sections);
    while (FPSection.size() < sections) {
        FPSection.push_back(NewSection());
    }
}

void TSubMediumDB::Expand() {
    if (static_cast<std::int64_t>(Size()) + SectionSize > MaxEntries) {
        throw EInvalidOperation("Index partition is full");
    }
    FPSection.push_back(NewSection());
}

std::int32_t TSubMediumDB::Add(TDBItem item) {
    if (FCount == Size()) {
        Expand();
    }
    At(FCount) = item;
    return FCount++;
}

TDBItem TSubMediumDB::Item(std::int32_t index) const {
    if (index < 0 || index >= FCount) {
        throw EInvalidOperation("Index entry " + std::to_string(index) + " is out of range");
    }
    return At(index);
}

void TSubMediumDB::SetItem(std::int32_t index, TDBItem item) {
    if (index < 0 || index >= FCount) {
        throw EInvalidOperation("Index entry " + std::to_string(index) + " is out of range");
    }
    At(index) = item;
}

bool TSubMediumDB::IsSortedByKey() const noexcept {
    // Section by section over raw pointers: this scan runs over the whole library on every
    // merge of one fingerprint, so it has to go at memory speed.
    std::uint32_t previous = 0;
    for (std::int32_t base = 0; base < FCount; base += SectionSize) {
        const TDBItem* items = FPSection[static_cast<std::size_t>(base >> SectionShift)]->data();
        const std::int32_t n = std::min(SectionSize, FCount - base);
        bool falling = items[0].EntryKey() < previous;
        for (std::int32_t k = 1; k < n; ++k) {
            falling |= items[k].EntryKey() < items[k - 1].EntryKey();
        }
        if (falling) {
            return false;
        }
        previous = items[n - 1].EntryKey();
    }
    return true;
}

bool TSubMediumDB::SortIfUnsorted(TSortStats* stats) {
    if (IsSortedByKey()) {
        return false;
    }
    Sort(stats);
    return true;
}

void TSubMediumDB::Sort(TSortStats* stats) {
    if (FCount > 0) {
        // Partitioning never goes deeper than this on any ordinary input; a crafted one that
        // would (quadratic time) has its remaining range heap-sorted instead.
        const auto depth = 4 * static_cast<std::int32_t>(std::bit_width(
                                   static_cast<std::uint32_t>(FCount))) + 32;
        SortRange(0, FCount - 1, depth, stats);
    }
    CheckIntegrity();
}

void TSubMediumDB::SortRange(std::int32_t lo, std::int32_t hi, std::int32_t depthLeft,
                             TSortStats* stats) {
    // The smaller side recurses, the larger one loops: the stack stays O(log n) deep. The two
    // sides are disjoint, so the order they are done in does not change the result.
    for (;;) {
        const auto mid = static_cast<std::int32_t>((static_cast<std::int64_t>(lo) + hi) / 2);
        if (Key(lo) < Key(mid) && Key(mid) < Key(hi)) {
            // Already (nearly) in order: a first-key pivot would degrade, the heap does not.
            if (stats != nullptr) {
                ++stats->HeapSorts;
            }
            HeapSort(lo, hi);
            return;
        }
        if (depthLeft <= 0) {
            if (stats != nullptr) {
                ++stats->DepthLimited;
            }
            HeapSort(lo, hi);
            return;
        }
        --depthLeft;
        if (stats != nullptr) {
            ++stats->Partitions;
        }
        const std::uint32_t pivot = Key(lo);
        std::int32_t i = lo;
        std::int32_t j = hi;
        do {
            while (Key(i) < pivot) {
                ++i;
            }
            while (Key(j) > pivot) {
                --j;
            }
            if (i <= j) {
                Exchange(i, j);
                ++i;
                --j;
            }
        } while (i <= j);
        const bool left = lo < j;
        const bool right = i < hi;
        if (left && right) {
            if (j - lo < hi - i) {
                SortRange(lo, j, depthLeft, stats);
                lo = i;
            } else {
                SortRange(i, hi, depthLeft, stats);
                hi = j;
            }
        } else if (left) {
            hi = j;
        } else if (right) {
            lo = i;
        } else {
            return;
        }
    }
}

void TSubMediumDB::SiftDown(std::int32_t lo, std::int32_t node, std::int32_t heapEnd) noexcept {
    for (;;) {
        const std::int64_t leftChild = lo + 2 * (static_cast<std::int64_t>(node) - lo) + 1;
        std::int32_t pick = node;
        if (leftChild <= heapEnd && Key(static_cast<std::int32_t>(leftChild)) > Key(pick)) {
            pick = static_cast<std::int32_t>(leftChild);
        }
        if (leftChild + 1 <= heapEnd &&
            Key(static_cast<std::int32_t>(leftChild + 1)) > Key(pick)) {
            pick = static_cast<std::int32_t>(leftChild + 1);
        }
        if (pick == node) {
            return;
        }
        Exchange(node, pick);
        node = pick;
    }
}

void TSubMediumDB::HeapSort(std::int32_t lo, std::int32_t hi) noexcept {
    const auto firstParent =
        static_cast<std::int32_t>((static_cast<std::int64_t>(lo) + hi + 1) / 2 - 1);
    for (std::int32_t a = firstParent; a >= lo; --a) {
        SiftDown(lo, a, hi);
    }
    for (std::int32_t e = hi; e > lo; --e) {
        Exchange(lo, e);
        SiftDown(lo, lo, e - 1);
    }
}

std::int32_t TSubMediumDB::GetFromDB(std::span<TDBItem> matches,
                                     std::uint32_t hashValue) const noexcept {
    const std::uint32_t wanted = hashValue & EntryKeyMask;
    if (FCount == 0) {
        return 0;
    }
    std::int32_t lo = 0;
    std::int32_t hi = FCount - 1;
    std::int32_t mid = -1;
    while (lo <= hi) {
        const std::int32_t probe = lo + (hi - lo) / 2;
        const std::uint32_t key = Key(probe);
        if (key == wanted) {
            mid = probe;
            break;
        }
        if (wanted < key) {
            hi = probe - 1;
        } else {
            lo = probe + 1;
        }
    }
    if (mid < 0 || matches.empty()) {
        return 0;
    }
    const auto length = matches.size();
    std::size_t n = 0;
    matches[n++] = At(mid);
    for (std::int32_t i = mid + 1; i < FCount && Key(i) == wanted; ++i) {
        if (n == length) {
            return static_cast<std::int32_t>(n);
        }
        matches[n++] = At(i);
    }
    for (std::int32_t j = mid - 1; j >= 0 && Key(j) == wanted; --j) {
        if (n == length) {
            return static_cast<std::int32_t>(n);
        }
        matches[n++] = At(j);
    }
    return static_cast<std::int32_t>(n);
}

void TSubMediumDB::DelSong(std::int32_t songNo) noexcept {
    std::int32_t w = 0;
    for (std::int32_t i = 0; i < FCount; ++i) {
        const TDBItem item = At(i);
        if (item.SongNo() != songNo) {
            At(w++) = item;
        }
    }
    FCount = w;
}

void TSubMediumDB::RemoveSortedSongs(std::span<const std::int32_t> sortedSongNos) noexcept {
    std::int32_t w = 0;
    for (std::int32_t i = 0; i < FCount; ++i) {
        const TDBItem item = At(i);
        if (!std::binary_search(sortedSongNos.begin(), sortedSongNos.end(), item.SongNo())) {
            At(w++) = item;
        }
    }
    FCount = w;
}

void TSubMediumDB::DelSongs(std::span<const std::int32_t> songNos) {
    std::vector<std::int32_t> sorted(songNos.begin(), songNos.end());
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    RemoveSortedSongs(sorted);
    SetSize(FCount);
}

void TSubMediumDB::MergeInto(TSubMediumDB& target) {
    if (&target == this) {
        throw EInvalidOperation("An index partition cannot be merged into itself");
    }
    const std::int32_t t = target.FCount;
    const std::int32_t s = FCount;
    if (static_cast<std::int64_t>(t) + s > MaxEntries) {
        throw EInvalidOperation("Index partition is full");
    }
    target.SetSize(t + s);

    // Filled from the back: each source entry, last first, goes directly behind the target
    // entries whose keys are not above its own, and the target entries above it move up as one
    // block. On equal keys the target's former entries thus come before the source's. Once the
    // source is used up the remaining target entries already stand in their own slots.
    std::int32_t unmerged = t;  // target entries 0..unmerged-1 have not moved yet
    for (std::int32_t j = s - 1; j >= 0; --j) {
        const TDBItem item = At(j);
        const std::int32_t pos = target.UpperBound(item.EntryKey(), unmerged);
        target.MoveUp(pos, unmerged, j + 1);
        target.At(pos + j) = item;
        unmerged = pos;
    }
    target.FCount = t + s;
}

std::int32_t TSubMediumDB::UpperBound(std::uint32_t key, std::int32_t end) const noexcept {
    std::int32_t lo = 0;
    std::int32_t hi = end;
    while (lo < hi) {
        const std::int32_t mid = lo + (hi - lo) / 2;
        if (Key(mid) > key) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return lo;
}

void TSubMediumDB::MoveUp(std::int32_t first, std::int32_t last, std::int32_t shift) noexcept {
    // Backwards in runs that stay inside one source and one destination section.
    while (last > first) {
        const std::int32_t src = last - 1;
        const std::int32_t dst = src + shift;
        const std::int32_t n = std::min({src - first + 1, (src & (SectionSize - 1)) + 1,
                                         (dst & (SectionSize - 1)) + 1});
        std::memmove(&At(dst - n + 1), &At(src - n + 1),
                     static_cast<std::size_t>(n) * sizeof(TDBItem));
        last -= n;
    }
}

void TSubMediumDB::RenumberSongs(std::span<const std::int32_t> newSongNo) noexcept {
    std::int32_t w = 0;
    for (std::int32_t i = 0; i < FCount; ++i) {
        const TDBItem item = At(i);
        const auto old = static_cast<std::size_t>(item.SongNo());
        const std::int32_t song = old < newSongNo.size() ? newSongNo[old] : -1;
        if (song >= 0) {
            At(w++) = TDBItem::Pack(item.EntryKey(), item.LineNo(), song);
        }
    }
    FCount = w;
}

void TSubMediumDB::AdoptSections(TDBItem* entries, std::int32_t count,
                                 const std::shared_ptr<const void>& backing) {
    if (count < 0) throw EInvalidOperation("Negative entry count");
    const std::int32_t whole = count / SectionSize;
    const std::int32_t rest = count % SectionSize;
    std::vector<TSectionPtr> adopted;
    adopted.reserve(static_cast<std::size_t>(whole + (rest > 0 ? 1 : 0)));
    for (std::int32_t i = 0; i < whole; ++i) {
        // A section is nothing but 2048 consecutive entries.
        adopted.emplace_back(reinterpret_cast<TSection*>(entries + std::ptrdiff_t{i} * SectionSize),
                             TSectionRelease{backing});
    }
    if (rest > 0) {
        // The entries behind the last partial section belong to the next partition.
        TSectionPtr tail = NewSection();
        std::memcpy(tail->data(), entries + std::ptrdiff_t{whole} * SectionSize,
                    static_cast<std::size_t>(rest) * sizeof(TDBItem));
        adopted.push_back(std::move(tail));
    }
    FPSection = std::move(adopted);
    FCount = count;
}

void TSubMediumDB::Clear() noexcept {
    FPSection.clear();
    FPSection.shrink_to_fit();
    FCount = 0;
}

std::size_t TSubMediumDB::AllocatedBytes() const noexcept {
    return FPSection.size() * sizeof(TSection) +
           FPSection.capacity() * sizeof(TSectionPtr);
}

}  // namespace orvane::database
