// One partition: growth, lookups, removal, both sort branches and the in-place merge.
#include "database/TSubMediumDB.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "base/Errors.h"

namespace orvane::database {
namespace {

/// Appends one entry per key; entry i gets song number songBase + i and position i.
void Fill(TSubMediumDB& sub, const std::vector<std::uint32_t>& keys, std::int32_t songBase = 0) {
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const auto n = static_cast<std::int32_t>(i);
        sub.Add(TDBItem::Pack(keys[i], n, songBase + n));
    }
}

std::vector<std::uint32_t> KeysOf(const TSubMediumDB& sub) {
    std::vector<std::uint32_t> keys;
    for (std::int32_t i = 0; i < sub.Count(); ++i) {
        keys.push_back(sub.Item(i).EntryKey());
    }
    return keys;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> EntriesOf(const TSubMediumDB& sub) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
    for (std::int32_t i = 0; i < sub.Count(); ++i) {
        entries.emplace_back(sub.Item(i).Data1, sub.Item(i).Data2);
    }
    return entries;
}

std::vector<std::uint32_t> RandomKeys(std::size_t count, std::uint32_t range, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::uint32_t> dist(0, range - 1);
    std::vector<std::uint32_t> keys(count);
    for (auto& k : keys) {
        k = dist(rng);
    }
    return keys;
}

TEST(TSubMediumDB, StartsWithoutSectionsAndGrowsBySections) {
    TSubMediumDB sub;
    EXPECT_EQ(sub.Count(), 0);
    EXPECT_EQ(sub.Size(), 0);
    sub.Add(TDBItem::Pack(1, 0, 0));
    EXPECT_EQ(sub.Size(), 2048);
    for (int i = 1; i < 2048; ++i) {
        sub.Add(TDBItem::Pack(1, i, 0));
    }
    EXPECT_EQ(sub.Size(), 2048);
    EXPECT_EQ(sub.Add(TDBItem::Pack(7, 2048, 3)), 2048);  // the 2049th entry
    EXPECT_EQ(sub.Size(), 4096);
    EXPECT_EQ(sub.Count(), 2049);
    EXPECT_EQ(sub.Item(2048), TDBItem::Pack(7, 2048, 3));
    EXPECT_EQ(sub.Item(2047), TDBItem::Pack(1, 2047, 0));
}

TEST(TSubMediumDB, WritingSizeRoundsUpToSectionsKeepsContentsAndCount) {
    TSubMediumDB sub(1);
    EXPECT_EQ(sub.Size(), 2048);
    Fill(sub, {5, 6, 7});
    sub.SetSize(5000);
    EXPECT_EQ(sub.Size(), 6144);
    EXPECT_EQ(sub.Count(), 3);
    sub.SetSize(3);
    EXPECT_EQ(sub.Size(), 2048);
    EXPECT_EQ(KeysOf(sub), (std::vector<std::uint32_t>{5, 6, 7}));
    sub.Expand();
    EXPECT_EQ(sub.Size(), 4096);
    sub.Clear();
    EXPECT_EQ(sub.Size(), 0);
    EXPECT_EQ(sub.Count(), 0);
    sub.SetSize(0);
    EXPECT_EQ(sub.Size(), 0);
}

TEST(TSubMediumDB, RefusesACapacityBelowTheCountAndIndexesOutsideTheEntries) {
    TSubMediumDB sub;
    Fill(sub, std::vector<std::uint32_t>(3000, 9));
    EXPECT_THROW(sub.SetSize(2048), EInvalidOperation);
    EXPECT_EQ(sub.Size(), 4096);
    EXPECT_THROW(sub.Item(3000), EInvalidOperation);
    EXPECT_THROW(sub.Item(-1), EInvalidOperation);
    EXPECT_THROW(sub.SetItem(3000, TDBItem{}), EInvalidOperation);
}

TEST(TSubMediumDB, LookupReturnsTheHitThenTheEntriesAfterThenThoseBefore) {
    // Keys 3,5,5,5,5,5,8: the binary search on 7 entries probes index 3 first.
    TSubMediumDB sub;
    Fill(sub, {3, 5, 5, 5, 5, 5, 8});
    std::vector<TDBItem> buffer(10);
    ASSERT_EQ(sub.GetFromDB(buffer, 5), 5);
    const std::int32_t expectedLines[] = {3, 4, 5, 2, 1};
    for (int n = 0; n < 5; ++n) {
        EXPECT_EQ(buffer[static_cast<std::size_t>(n)].LineNo(), expectedLines[n]) << n;
        EXPECT_EQ(buffer[static_cast<std::size_t>(n)].EntryKey(), 5u);
    }
}

TEST(TSubMediumDB, LookupIsCappedByTheBuffer) {
    struct TCase {
        std::size_t Length;
        std::int32_t Expected;
        std::vector<std::int32_t> Lines;
    };
    // Keys: 1, ten times 4, 9. The first probe (index 5) hits; after it 6..10, before it 4..1.
    std::vector<std::uint32_t> keys{1};
    keys.insert(keys.end(), 10, 4);
    keys.push_back(9);
    TSubMediumDB sub;
    Fill(sub, keys);
    const TCase cases[] = {
        {0, 0, {}},
        {1, 1, {5}},
        {4, 4, {5, 6, 7, 8}},
        {7, 7, {5, 6, 7, 8, 9, 10, 4}},
        {10, 10, {5, 6, 7, 8, 9, 10, 4, 3, 2, 1}},
        {4112, 10, {5, 6, 7, 8, 9, 10, 4, 3, 2, 1}},
    };
    for (const auto& c : cases) {
        std::vector<TDBItem> buffer(c.Length, TDBItem{0xDEADBEEFu, 0xDEADBEEFu});
        ASSERT_EQ(sub.GetFromDB(buffer, 4), c.Expected) << c.Length;
        for (std::size_t n = 0; n < c.Lines.size(); ++n) {
            EXPECT_EQ(buffer[n].EntryKey(), 4u);
            EXPECT_EQ(buffer[n].LineNo(), c.Lines[n]) << c.Length << " " << n;
        }
        for (std::size_t n = c.Lines.size(); n < c.Length; ++n) {
            EXPECT_EQ(buffer[n].Data1, 0xDEADBEEFu) << "wrote past the result";
        }
    }
}

TEST(TSubMediumDB, LookupOfAnAbsentKeyOrInAnEmptyPartitionFindsNothing) {
    TSubMediumDB sub;
    std::vector<TDBItem> buffer(4);
    EXPECT_EQ(sub.GetFromDB(buffer, 0), 0);
    Fill(sub, {2, 4, 6});
    for (std::uint32_t key : {0u, 1u, 3u, 5u, 7u, 0xFFFFFu}) {
        EXPECT_EQ(sub.GetFromDB(buffer, key), 0) << key;
    }
    EXPECT_EQ(sub.GetFromDB(buffer, 6), 1);
    EXPECT_EQ(sub.GetFromDB(buffer, 0x12300006u), 1) << "only the low 20 bits count";
}

TEST(TSubMediumDB, DelSongKeepsOrderAndCapacity) {
    TSubMediumDB sub;
    for (int i = 0; i < 3000; ++i) {
        sub.Add(TDBItem::Pack(static_cast<std::uint32_t>(i), i, i % 3));
    }
    sub.DelSong(1);
    EXPECT_EQ(sub.Count(), 2000);
    EXPECT_EQ(sub.Size(), 4096);
    for (std::int32_t i = 0; i < sub.Count(); ++i) {
        const auto item = sub.Item(i);
        EXPECT_NE(item.SongNo(), 1);
        if (i > 0) {
            EXPECT_LT(sub.Item(i - 1).LineNo(), item.LineNo());
        }
    }
}

TEST(TSubMediumDB, DelSongsRemovesEveryListedSongAndShrinksCapacity) {
    struct TCase {
        std::vector<std::int32_t> Songs;
        std::int32_t Count;
        std::int32_t Size;
    };
    const TCase cases[] = {
        {{}, 3000, 4096},
        {{1}, 2000, 2048},  // a partition shrinks even for one song
        {{0, 2}, 1000, 2048},
        {{2, 0, 2, 77}, 1000, 2048},
        {{0, 1, 2}, 0, 0},
    };
    for (const auto& c : cases) {
        TSubMediumDB sub;
        for (int i = 0; i < 3000; ++i) {
            sub.Add(TDBItem::Pack(static_cast<std::uint32_t>(i), i, i % 3));
        }
        sub.SetSize(8192);
        sub.DelSongs(c.Songs);
        EXPECT_EQ(sub.Count(), c.Count);
        EXPECT_EQ(sub.Size(), c.Size);
        for (std::int32_t i = 0; i < sub.Count(); ++i) {
            EXPECT_EQ(std::count(c.Songs.begin(), c.Songs.end(), sub.Item(i).SongNo()), 0);
            if (i > 0) {
                EXPECT_LT(sub.Item(i - 1).LineNo(), sub.Item(i).LineNo());
            }
        }
    }
}

TEST(TSubMediumDB, SortChoosesHeapSortForRisingRangesAndPartitionOtherwise) {
    struct TCase {
        const char* Name;
        std::vector<std::uint32_t> Keys;
        bool HeapFirst;
    };
    std::vector<std::uint32_t> rising(500);
    for (std::size_t i = 0; i < rising.size(); ++i) {
        rising[i] = static_cast<std::uint32_t>(i * 3);
    }
    const TCase cases[] = {
        {"ascending", rising, true},
        {"first<middle<last only", {1, 9, 2, 5, 8, 3, 7}, true},
        {"all equal", std::vector<std::uint32_t>(300, 42), false},
        {"descending", {9, 8, 7, 6, 5, 4, 3}, false},
        {"middle equals last", {1, 7, 7}, false},
    };
    for (const auto& c : cases) {
        TSubMediumDB sub;
        Fill(sub, c.Keys);
        TSortStats stats;
        sub.Sort(&stats);
        auto expected = c.Keys;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(KeysOf(sub), expected) << c.Name;
        if (c.HeapFirst) {
            EXPECT_EQ(stats.HeapSorts, 1) << c.Name;
            EXPECT_EQ(stats.Partitions, 0) << c.Name;
        } else {
            EXPECT_GE(stats.Partitions, 1) << c.Name;
        }
        EXPECT_EQ(stats.DepthLimited, 0) << c.Name;
    }
}

TEST(TSubMediumDB, SortKeepsEveryEntryOfEqualKeys) {
    // Many equal keys with distinct payloads: the multiset of whole entries must survive.
    for (std::uint32_t range : {1u, 3u, 50u, 1u << 20}) {
        TSubMediumDB sub;
        Fill(sub, RandomKeys(10000, range, range));
        auto before = EntriesOf(sub);
        sub.Sort();
        const auto keys = KeysOf(sub);
        EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end())) << range;
        EXPECT_TRUE(sub.IsSortedByKey());
        auto after = EntriesOf(sub);
        std::sort(before.begin(), before.end());
        std::sort(after.begin(), after.end());
        EXPECT_EQ(before, after) << range;
    }
}

TEST(TSubMediumDB, SortLeavesZeroOrOneEntryAlone) {
    TSubMediumDB empty;
    empty.Sort();
    EXPECT_EQ(empty.Count(), 0);
    TSubMediumDB one;
    Fill(one, {12345});
    one.Sort();
    EXPECT_EQ(one.Item(0), TDBItem::Pack(12345, 0, 0));
}

TEST(TSubMediumDB, SortOfAnAdversarialOrderStaysShallowAndCorrect) {
    // Descending keys make every first-key partition step peel off one entry; the sort must
    // neither run out of stack nor take quadratic time.
    std::vector<std::uint32_t> keys(200000);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        keys[i] = static_cast<std::uint32_t>(keys.size() - i);
    }
    TSubMediumDB sub;
    Fill(sub, keys);
    TSortStats stats;
    sub.Sort(&stats);
    EXPECT_TRUE(sub.IsSortedByKey());
    EXPECT_GT(stats.DepthLimited, 0);
    EXPECT_EQ(sub.Count(), 200000);
}

TEST(TSubMediumDB, SortIfUnsortedSkipsARangeInOrder) {
    TSubMediumDB sub;
    Fill(sub, {1, 2, 2, 3});
    TSortStats stats;
    EXPECT_FALSE(sub.SortIfUnsorted(&stats));
    EXPECT_EQ(stats.HeapSorts + stats.Partitions, 0);
    EXPECT_EQ(sub.Item(1).LineNo(), 1);
    sub.SetItem(0, TDBItem::Pack(9, 0, 0));
    EXPECT_TRUE(sub.SortIfUnsorted(&stats));
    EXPECT_EQ(KeysOf(sub), (std::vector<std::uint32_t>{2, 2, 3, 9}));
}

TEST(TSubMediumDB, OrderCheckSeesAFallAnywhereIncludingAcrossSections) {
    for (std::int32_t fallAt : {1, 2047, 2048, 2049, 4095}) {
        TSubMediumDB sub;
        std::vector<std::uint32_t> keys(4096);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            keys[i] = static_cast<std::uint32_t>(i + 10);
        }
        Fill(sub, keys);
        EXPECT_TRUE(sub.IsSortedByKey());
        sub.SetItem(fallAt, TDBItem::Pack(0, 0, 0));
        EXPECT_FALSE(sub.IsSortedByKey()) << fallAt;
    }
}

TEST(TSubMediumDB, MergePutsTheTargetsFormerEntriesBeforeTheSourcesOnEqualKeys) {
    TSubMediumDB source;
    Fill(source, {1, 3, 3}, 100);  // songs 100, 101, 102
    TSubMediumDB target;
    Fill(target, {2, 3}, 200);  // songs 200, 201
    source.MergeInto(target);
    EXPECT_EQ(KeysOf(target), (std::vector<std::uint32_t>{1, 2, 3, 3, 3}));
    std::vector<std::int32_t> songs;
    for (std::int32_t i = 0; i < target.Count(); ++i) {
        songs.push_back(target.Item(i).SongNo());
    }
    EXPECT_EQ(songs, (std::vector<std::int32_t>{100, 200, 201, 101, 102}));
    EXPECT_EQ(KeysOf(source), (std::vector<std::uint32_t>{1, 3, 3})) << "source unchanged";
}

TEST(TSubMediumDB, MergeBothWaysAndAgainstAReferenceMerge) {
    struct TCase {
        std::vector<std::uint32_t> Source;
        std::vector<std::uint32_t> Target;
    };
    const TCase cases[] = {
        {{1, 3, 3}, {2, 3}},
        {{2, 3}, {1, 3, 3}},
        {{0, 0, 5}, {0, 5, 5}},  // entry key 0 meets the merge's own "nothing left" value 0
        {{7, 8, 9}, {1, 2}},
        {{1, 2}, {7, 8, 9}},
        {{4}, {}},
        {{}, {4}},
    };
    for (const auto& c : cases) {
        TSubMediumDB source;
        Fill(source, c.Source, 1000);
        TSubMediumDB target;
        Fill(target, c.Target, 2000);
        // Reference: a stable merge where target entries precede source entries on ties.
        auto expected = EntriesOf(target);
        const auto sourceEntries = EntriesOf(source);
        std::vector<std::pair<std::uint32_t, std::uint32_t>> merged;
        std::merge(expected.begin(), expected.end(), sourceEntries.begin(), sourceEntries.end(),
                   std::back_inserter(merged), [](const auto& x, const auto& y) {
                       return (x.first & 0xFFFFFu) < (y.first & 0xFFFFFu);
                   });
        source.MergeInto(target);
        EXPECT_EQ(EntriesOf(target), merged);
    }
}

TEST(TSubMediumDB, MergeOfAnEmptySourceRoundsTheTargetsCapacityToItsCount) {
    TSubMediumDB source;
    TSubMediumDB target;
    Fill(target, {1, 2, 3});
    target.SetSize(3 * 2048);
    source.MergeInto(target);
    EXPECT_EQ(KeysOf(target), (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(target.Size(), 2048);

    TSubMediumDB emptyTarget;
    emptyTarget.SetSize(2048);
    source.MergeInto(emptyTarget);
    EXPECT_EQ(emptyTarget.Size(), 0);
}

TEST(TSubMediumDB, MergeIntoAnEmptyTargetCopiesTheSourceInOrder) {
    TSubMediumDB source;
    Fill(source, {1, 1, 4, 4000, 0xFFFFF});
    TSubMediumDB target;
    source.MergeInto(target);
    EXPECT_EQ(EntriesOf(target), EntriesOf(source));
}

TEST(TSubMediumDB, MergeAcrossSectionBoundariesMatchesAReferenceMerge) {
    struct TCase {
        std::size_t SourceCount;
        std::size_t TargetCount;
        std::uint32_t KeyRange;
    };
    // Sizes around and across sections; small key ranges give long runs of equal keys.
    const TCase cases[] = {
        {3000, 5000, 5000}, {5000, 7000, 100}, {1, 2048, 2048}, {2048, 2048, 3},
        {4097, 1, 1u << 20}, {10, 9000, 1u << 20}, {9000, 10, 7},
    };
    for (const auto& c : cases) {
        auto sourceKeys = RandomKeys(c.SourceCount, c.KeyRange, 7);
        auto targetKeys = RandomKeys(c.TargetCount, c.KeyRange, 8);
        std::sort(sourceKeys.begin(), sourceKeys.end());
        std::sort(targetKeys.begin(), targetKeys.end());
        TSubMediumDB source;
        Fill(source, sourceKeys, 1);
        TSubMediumDB target;
        Fill(target, targetKeys, 100000);
        const auto targetEntries = EntriesOf(target);
        const auto sourceEntries = EntriesOf(source);
        std::vector<std::pair<std::uint32_t, std::uint32_t>> expected;
        std::merge(targetEntries.begin(), targetEntries.end(), sourceEntries.begin(),
                   sourceEntries.end(), std::back_inserter(expected),
                   [](const auto& x, const auto& y) {
                       return (x.first & 0xFFFFFu) < (y.first & 0xFFFFFu);
                   });
        source.MergeInto(target);
        EXPECT_EQ(EntriesOf(target), expected) << c.SourceCount << " into " << c.TargetCount;
        EXPECT_EQ(target.Size(),
                  static_cast<std::int32_t>((c.SourceCount + c.TargetCount + 2047) / 2048 * 2048));
    }
}

TEST(TSubMediumDB, MergeIntoItselfIsRefused) {
    TSubMediumDB sub;
    Fill(sub, {1, 2});
    EXPECT_THROW(sub.MergeInto(sub), EInvalidOperation);
    EXPECT_EQ(sub.Count(), 2);
}

TEST(TSubMediumDB, AdoptedEntriesAreUsedInPlaceAndGrowthNeverWritesBehindThem) {
    // 5000 entries of one partition followed by entries of the next one in the same memory.
    auto memory = std::make_shared<std::vector<TDBItem>>(5000 + 100);
    for (std::int32_t i = 0; i < 5100; ++i) {
        (*memory)[static_cast<std::size_t>(i)] = TDBItem::Pack(static_cast<std::uint32_t>(i), i, 7);
    }
    TSubMediumDB sub;
    sub.AdoptSections(memory->data(), 5000, memory);
    EXPECT_EQ(sub.Count(), 5000);
    EXPECT_EQ(sub.Size(), 3 * SectionSize);
    EXPECT_EQ(sub.SectionData(0), memory->data());             // whole sections in place
    EXPECT_EQ(sub.SectionData(1), memory->data() + SectionSize);
    EXPECT_NE(sub.SectionData(2), memory->data() + 2 * SectionSize);  // the rest is a copy
    sub.Add(TDBItem::Pack(0xFFFFF, 1, 9));
    sub.SetItem(10, TDBItem::Pack(10, 10, 8));
    EXPECT_EQ((*memory)[10].SongNo(), 8);  // changes of adopted entries land in place
    for (std::int32_t i = 5000; i < 5100; ++i) {
        EXPECT_EQ((*memory)[static_cast<std::size_t>(i)].LineNo(), i) << "entry behind overwritten";
    }
    EXPECT_EQ(sub.Item(4999).LineNo(), 4999);
    EXPECT_EQ(sub.Item(5000).SongNo(), 9);
    std::weak_ptr<std::vector<TDBItem>> alive = memory;
    memory.reset();
    EXPECT_FALSE(alive.expired()) << "the partition keeps its memory";
    sub.Clear();
    EXPECT_TRUE(alive.expired());
}

}  // namespace
}  // namespace orvane::database
