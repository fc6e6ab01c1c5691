// The whole index: adding and finding keys, removal, sorting and merging through the four
// work shares, and the aggregation of their failures.
#include "database/DBTabl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <random>
#include <vector>

namespace orvane::database {
namespace {

/// A fingerprint-like key stream: each key flips a few bits of the previous one.
std::vector<std::uint32_t> KeyStream(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint32_t> keys(count);
    std::uint32_t key = rng();
    for (auto& k : keys) {
        for (int flips = 2 + static_cast<int>(rng() % 3); flips > 0; --flips) {
            key ^= 1u << (rng() % 32);
        }
        k = key;
    }
    return keys;
}

void AddFingerprint(TMediumDB& db, const std::vector<std::uint32_t>& keys, std::int32_t songNo) {
    for (std::size_t i = 0; i < keys.size(); ++i) {
        db.AddToDB(keys[i], static_cast<std::int32_t>(i), songNo);
    }
}

/// True when a lookup of key returns an entry of songNo at position lineNo.
bool Finds(const TMediumDB& db, std::uint32_t key, std::int32_t lineNo, std::int32_t songNo) {
    std::vector<TDBItem> buffer(4112);
    const auto n = db.GetFromDB(buffer.data(), static_cast<std::int32_t>(buffer.size()), key);
    return std::any_of(buffer.begin(), buffer.begin() + n, [&](const TDBItem& item) {
        return item.SongNo() == songNo && item.LineNo() == lineNo;
    });
}

/// Every partition's entries, whole, in order.
std::vector<std::vector<TDBItem>> Snapshot(const TMediumDB& db) {
    std::vector<std::vector<TDBItem>> all(PartitionCount);
    for (std::int32_t p = 0; p < PartitionCount; ++p) {
        const auto& sub = db.SubDB(p);
        for (std::int32_t i = 0; i < sub.Count(); ++i) {
            all[static_cast<std::size_t>(p)].push_back(sub.Item(i));
        }
    }
    return all;
}

bool AllPartitionsSorted(const TMediumDB& db) {
    for (std::int32_t p = 0; p < PartitionCount; ++p) {
        if (!db.SubDB(p).IsSortedByKey()) {
            return false;
        }
    }
    return true;
}

TEST(TMediumDB, StartsSortedAndEmpty) {
    TMediumDB db;
    EXPECT_TRUE(db.Sorted());
    EXPECT_TRUE(db.Empty());
    EXPECT_EQ(db.TotalCount(), 0);
}

TEST(TMediumDB, KeyZeroIsNeverStoredAndNeverFound) {
    TMediumDB db;
    db.AddToDB(0, 5, 1);
    EXPECT_TRUE(db.Sorted());
    EXPECT_TRUE(db.Empty());
    EXPECT_EQ(db.TotalCount(), 0);
    EXPECT_EQ(db.SubDB(0).Size(), 0);

    db.AddToDB(0x00000001u, 0, 1);
    db.AddToDB(0x00100000u, 1, 1);
    db.Sort();
    std::vector<TDBItem> buffer(8);
    EXPECT_EQ(db.GetFromDB(buffer, 0), 0);
    EXPECT_EQ(db.GetFromDB(buffer.data(), 8, 0), 0);
}

TEST(TMediumDB, KeyFFF00000IsStoredInTheLastPartitionWithEntryKeyZeroAndFound) {
    TMediumDB db;
    db.AddToDB(0xFFF00000u, 7, 3);
    EXPECT_FALSE(db.Sorted());
    EXPECT_FALSE(db.Empty());
    ASSERT_EQ(db.SubDB(4095).Count(), 1);
    EXPECT_EQ(db.SubDB(4095).Item(0).EntryKey(), 0u);
    EXPECT_EQ(db.SubDB(0).Count(), 0);
    db.Sort();
    EXPECT_TRUE(Finds(db, 0xFFF00000u, 7, 3));
    std::vector<TDBItem> buffer(4);
    EXPECT_EQ(db.GetFromDB(buffer, 0x00000000u), 0);
    EXPECT_EQ(db.GetFromDB(buffer, 0xFFE00000u), 0);
}

TEST(TMediumDB, LookupWithLengthZeroOrLessReturnsNothing) {
    TMediumDB db;
    db.AddToDB(0x12345678u, 0, 0);
    db.Sort();
    TDBItem item{};
    EXPECT_EQ(db.GetFromDB(&item, 0, 0x12345678u), 0);
    EXPECT_EQ(db.GetFromDB(&item, -4, 0x12345678u), 0);
    EXPECT_EQ(db.GetFromDB(nullptr, 4, 0x12345678u), 0);
    EXPECT_EQ(db.GetFromDB(&item, 1, 0x12345678u), 1);
}

TEST(TMediumDB, TenEntriesOfOneKeyComeBackFourAtATime) {
    TMediumDB db;
    for (int song = 0; song < 10; ++song) {
        db.AddToDB(0xCAFE1234u, song * 10, song);
    }
    db.AddToDB(0xCAFE1233u, 0, 99);
    db.AddToDB(0xCAFE1235u, 0, 99);
    db.Sort();
    std::vector<TDBItem> buffer(4);
    ASSERT_EQ(db.GetFromDB(buffer, 0xCAFE1234u), 4);
    for (const auto& item : buffer) {
        EXPECT_EQ(item.EntryKey(), 0xE1234u);
        EXPECT_NE(item.SongNo(), 99);
    }
}

TEST(TMediumDB, FindsEveryKeyOfALoadedFingerprint) {
    TMediumDB db;
    std::vector<std::vector<std::uint32_t>> songs;
    for (int song = 0; song < 5; ++song) {
        songs.push_back(KeyStream(3000, static_cast<unsigned>(song)));
        AddFingerprint(db, songs.back(), song);
    }
    db.Sort();
    EXPECT_TRUE(db.Sorted());
    for (int song = 0; song < 5; ++song) {
        const auto& keys = songs[static_cast<std::size_t>(song)];
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] != 0) {
                ASSERT_TRUE(Finds(db, keys[i], static_cast<std::int32_t>(i), song)) << song << " " << i;
            }
        }
    }
}

TEST(TMediumDB, RefusesSongNumbersAndPositionsThatDoNotFitTheEntry) {
    struct TCase {
        std::int32_t LineNo;
        std::int32_t SongNo;
        bool Accepted;
    };
    const TCase cases[] = {
        {0, 0, true},           {16777215, 1048575, true}, {16777216, 0, false},
        {0, 1048576, false},    {-1, 0, false},            {0, -1, false},
    };
    for (const auto& c : cases) {
        TMediumDB db;
        if (c.Accepted) {
            db.AddToDB(0xABCDEF01u, c.LineNo, c.SongNo);
            db.Sort();
            EXPECT_TRUE(Finds(db, 0xABCDEF01u, c.LineNo, c.SongNo));
        } else {
            EXPECT_THROW(db.AddToDB(0xABCDEF01u, c.LineNo, c.SongNo), EDBError);
            EXPECT_TRUE(db.Empty());
            EXPECT_TRUE(db.Sorted());
        }
    }
}

TEST(TMediumDB, DelSongRemovesASongFromEveryPartitionAndKeepsTheOthers) {
    TMediumDB db;
    const auto keysA = KeyStream(5000, 11);
    const auto keysB = KeyStream(5000, 12);
    AddFingerprint(db, keysA, 1);
    AddFingerprint(db, keysB, 2);
    db.Sort();
    db.DelSong(1);
    EXPECT_FALSE(db.Empty());
    EXPECT_TRUE(db.Sorted());
    EXPECT_TRUE(AllPartitionsSorted(db));
    for (std::size_t i = 0; i < keysA.size(); ++i) {
        EXPECT_FALSE(Finds(db, keysA[i], static_cast<std::int32_t>(i), 1));
        if (keysB[i] != 0) {
            EXPECT_TRUE(Finds(db, keysB[i], static_cast<std::int32_t>(i), 2));
        }
    }
    db.DelSong(2);
    EXPECT_TRUE(db.Empty());
    EXPECT_EQ(db.TotalCount(), 0);
}

TEST(TMediumDB, DelSongsOfOneSongKeepsCapacitiesOfSeveralShrinksThem) {
    struct TCase {
        std::vector<std::int32_t> Songs;
        std::int64_t Left;
        std::int32_t SizeOfPartition7;
        bool Empty;
    };
    // Partition 7 holds 3000 entries per song, songs 0..2.
    const TCase cases[] = {
        {{1}, 6000, 10240, false},       // one element: DelSong, capacity unchanged
        {{1, 2}, 3000, 4096, false},     // several: capacities shrink to the count
        {{}, 9000, 10240, false},        // none: nothing removed, capacities shrink
        {{0, 1, 2}, 0, 0, true},
    };
    for (const auto& c : cases) {
        TMediumDB db;
        for (int song = 0; song < 3; ++song) {
            for (int i = 0; i < 3000; ++i) {
                db.AddToDB(0x00700000u | static_cast<std::uint32_t>(i + 1), i, song);
            }
        }
        db.SubDB(7).SetSize(10240);
        db.DelSongs(c.Songs);
        EXPECT_EQ(db.TotalCount(), c.Left);
        EXPECT_EQ(db.SubDB(7).Size(), c.SizeOfPartition7);
        EXPECT_EQ(db.Empty(), c.Empty);
        for (std::int32_t i = 0; i < db.SubDB(7).Count(); ++i) {
            EXPECT_EQ(std::count(c.Songs.begin(), c.Songs.end(), db.SubDB(7).Item(i).SongNo()), 0);
        }
    }
}

TEST(TMediumDB, SortOfAnIndexMarkedSortedDoesNothing) {
    TMediumDB db;
    db.AddToDB(0x00100002u, 0, 0);
    db.AddToDB(0x00100001u, 1, 0);
    db.SetSorted(true);
    db.Sort();
    EXPECT_EQ(db.SubDB(1).Item(0).EntryKey(), 2u);
    db.SetSorted(false);
    db.Sort();
    EXPECT_EQ(db.SubDB(1).Item(0).EntryKey(), 1u);
    EXPECT_TRUE(db.Sorted());
}

TEST(TMediumDB, ThreadedAndSequentialSharesGiveIdenticalPartitions) {
    auto build = [](TMediumDB& db) {
        for (int song = 0; song < 8; ++song) {
            AddFingerprint(db, KeyStream(4000, static_cast<unsigned>(100 + song)), song);
        }
        // Many equal keys, so the exact order among them shows any difference.
        for (int i = 0; i < 3000; ++i) {
            db.AddToDB(0x42000000u | static_cast<std::uint32_t>(i % 7 + 1), i, 9);
        }
    };
    TMediumDB threaded;
    threaded.SetShareMode(TShareMode::smThreads);
    build(threaded);
    threaded.Sort();
    TMediumDB sequential;
    sequential.SetShareMode(TShareMode::smSequential);
    build(sequential);
    sequential.Sort();
    EXPECT_TRUE(AllPartitionsSorted(threaded));
    EXPECT_EQ(Snapshot(threaded), Snapshot(sequential));

    for (auto mode : {TShareMode::smThreads, TShareMode::smSequential}) {
        TMediumDB extra;
        extra.SetShareMode(mode);
        AddFingerprint(extra, KeyStream(4000, 999), 20);
        if (mode == TShareMode::smThreads) {
            extra.MergeInto(threaded);
        } else {
            extra.MergeInto(sequential);
        }
    }
    EXPECT_TRUE(AllPartitionsSorted(threaded));
    EXPECT_EQ(Snapshot(threaded), Snapshot(sequential));
}

TEST(TMediumDB, MergeIntoASortedIndexMakesTheNewFingerprintFindableAndKeepsFlags) {
    TMediumDB main;
    const auto old = KeyStream(6000, 1);
    AddFingerprint(main, old, 0);
    main.Sort();
    TMediumDB temp;
    const auto fresh = KeyStream(6000, 2);
    AddFingerprint(temp, fresh, 1);
    const auto before = main.TotalCount();
    temp.MergeInto(main);
    EXPECT_TRUE(main.Sorted());
    EXPECT_FALSE(temp.Sorted()) << "merging does not change the source's flags";
    EXPECT_FALSE(temp.Empty());
    EXPECT_EQ(temp.TotalCount(), static_cast<std::int64_t>(std::count_if(
                                     fresh.begin(), fresh.end(), [](auto k) { return k != 0; })));
    EXPECT_EQ(main.TotalCount(), before + temp.TotalCount());
    EXPECT_TRUE(AllPartitionsSorted(main));
    for (std::size_t i = 0; i < fresh.size(); ++i) {
        if (fresh[i] != 0) {
            ASSERT_TRUE(Finds(main, fresh[i], static_cast<std::int32_t>(i), 1));
        }
        if (old[i] != 0) {
            ASSERT_TRUE(Finds(main, old[i], static_cast<std::int32_t>(i), 0));
        }
    }
}

TEST(TMediumDB, MergeKeepsTheTargetsEntriesFirstOnEqualKeys) {
    TMediumDB source;
    TMediumDB target;
    source.AddToDB(0x00500001u, 0, 1);
    source.AddToDB(0x00500003u, 1, 1);
    source.AddToDB(0x00500003u, 2, 1);
    target.AddToDB(0x00500003u, 0, 2);
    target.AddToDB(0x00500002u, 1, 2);  // unsorted: the merge sorts it first
    source.MergeInto(target);
    const auto& sub = target.SubDB(5);
    ASSERT_EQ(sub.Count(), 5);
    const std::uint32_t keys[] = {1, 2, 3, 3, 3};
    const std::int32_t songs[] = {1, 2, 2, 1, 1};
    for (std::int32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(sub.Item(i).EntryKey(), keys[i]);
        EXPECT_EQ(sub.Item(i).SongNo(), songs[i]);
    }
    EXPECT_FALSE(target.Sorted()) << "merging does not change the target's flags";
}

TEST(TMediumDB, MergeOfAnEmptySourceLeavesTheTargetsEntries) {
    TMediumDB source;
    TMediumDB target;
    AddFingerprint(target, KeyStream(1000, 5), 3);
    target.Sort();
    const auto before = Snapshot(target);
    target.SubDB(9).SetSize(3 * 2048);
    source.MergeInto(target);
    EXPECT_EQ(Snapshot(target), before);
    EXPECT_EQ(target.SubDB(9).Size(), target.SubDB(9).Count() == 0 ? 0 : 2048);
    EXPECT_THROW(target.MergeInto(target), EInvalidOperation);
}

TEST(TMediumDB, FastMoveIntoAnEmptyTargetHandsOverSortedPartitions) {
    TMediumDB source;
    const auto keys = KeyStream(5000, 8);
    AddFingerprint(source, keys, 4);
    const auto count = source.TotalCount();
    TMediumDB target;
    target.SetSorted(false);
    source.FastMoveOrMergeInto(target);
    EXPECT_TRUE(source.Empty());
    EXPECT_EQ(source.TotalCount(), 0);
    EXPECT_TRUE(source.Sorted());
    EXPECT_FALSE(target.Empty());
    EXPECT_FALSE(target.Sorted()) << "Sorted flags are not exchanged";
    EXPECT_EQ(target.TotalCount(), count);
    EXPECT_TRUE(AllPartitionsSorted(target));
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] != 0) {
            ASSERT_TRUE(Finds(target, keys[i], static_cast<std::int32_t>(i), 4));
        }
    }
}

TEST(TMediumDB, FastMoveIntoANonEmptyTargetMerges) {
    TMediumDB source;
    AddFingerprint(source, KeyStream(2000, 1), 1);
    TMediumDB target;
    AddFingerprint(target, KeyStream(2000, 2), 2);
    target.Sort();
    TMediumDB reference;
    AddFingerprint(reference, KeyStream(2000, 2), 2);
    reference.Sort();
    TMediumDB referenceSource;
    AddFingerprint(referenceSource, KeyStream(2000, 1), 1);
    referenceSource.MergeInto(reference);

    source.FastMoveOrMergeInto(target);
    EXPECT_FALSE(source.Empty());
    EXPECT_EQ(source.TotalCount(), referenceSource.TotalCount());
    EXPECT_EQ(Snapshot(target), Snapshot(reference));
}

TEST(TMediumDB, ClearMakesTheIndexEmptyAndSortedAndFreesSections) {
    TMediumDB db;
    AddFingerprint(db, KeyStream(1000, 3), 0);
    db.Clear();
    EXPECT_TRUE(db.Empty());
    EXPECT_TRUE(db.Sorted());
    EXPECT_EQ(db.AllocatedBytes(), sizeof(TMediumDB));
}

TEST(TMediumDB, FailedSortSharesAreReportedTogetherAndLeaveTheIndexUnsorted) {
    struct TCase {
        TShareMode Mode;
        std::vector<std::int32_t> FailingPartitions;
        std::string Message;
    };
    const TCase cases[] = {
        {TShareMode::smSequential, {1}, "Error during optimization: \r\nOut of memory\r\n"},
        {TShareMode::smSequential, {0, 6, 3},
         "Error during optimization: \r\nOut of memory\r\nOut of memory\r\nOut of memory\r\n"},
        {TShareMode::smThreads, {4094, 4095},
         "Error during optimization: \r\nOut of memory\r\nOut of memory\r\n"},
    };
    for (const auto& c : cases) {
        TMediumDB db;
        db.SetShareMode(c.Mode);
        // Two descending entries in every partition.
        for (std::uint32_t p = 0; p < 4096; ++p) {
            db.AddToDB((p << 20) | 2u, 0, 0);
            db.AddToDB((p << 20) | 1u, 1, 0);
        }
        {
            TShareFaultInjection fault([&](std::int32_t p) {
                if (std::count(c.FailingPartitions.begin(), c.FailingPartitions.end(), p) > 0) {
                    throw std::bad_alloc();
                }
            });
            try {
                db.Sort();
                ADD_FAILURE() << "Sort did not report the failed shares";
            } catch (const EDBError& e) {
                EXPECT_EQ(std::string(e.what()), c.Message);
            }
        }
        EXPECT_FALSE(db.Sorted());
        // A failed share stops at its failing partition; the others finish theirs.
        for (std::int32_t p = 0; p < 4096; ++p) {
            bool stopped = false;
            for (auto failing : c.FailingPartitions) {
                stopped = stopped || (p % 4 == failing % 4 && p >= failing);
            }
            EXPECT_EQ(db.SubDB(p).IsSortedByKey(), !stopped) << p;
        }
        db.Sort();
        EXPECT_TRUE(db.Sorted());
        EXPECT_TRUE(AllPartitionsSorted(db));
    }
}

TEST(TMediumDB, ShareFailuresKeepTheirOwnMessagesInShareOrder) {
    TMediumDB db;
    db.SetShareMode(TShareMode::smThreads);
    db.AddToDB(0x12345678u, 0, 0);
    TShareFaultInjection fault([](std::int32_t p) {
        if (p == 2) {
            throw EDBError("share two failed");
        }
        if (p == 3) {
            throw std::bad_alloc();
        }
        if (p == 1) {
            throw 42;
        }
    });
    try {
        db.Sort();
        ADD_FAILURE() << "Sort did not report the failed shares";
    } catch (const EDBError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Error during optimization: \r\nUnknown error\r\nshare two failed\r\n"
                  "Out of memory\r\n");
    }
    EXPECT_FALSE(db.Sorted());
}

TEST(TMediumDB, FailedSectionAllocationsDuringAMergeAreReportedPerShare) {
    // Partitions 0..7 of the source hold one entry each and the target is empty, so every
    // partition's merge allocates one section. Shares run in order: share 0 allocates for
    // partitions 0 and 4, share 1 for 1 and then 5, which is the fourth allocation.
    TMediumDB source;
    source.SetShareMode(TShareMode::smSequential);
    for (std::uint32_t p = 0; p < 8; ++p) {
        source.AddToDB((p << 20) | 5u, static_cast<std::int32_t>(p), 1);
    }
    TMediumDB target;
    {
        TSectionFailureInjection failAfter(3);
        try {
            source.MergeInto(target);
            ADD_FAILURE() << "MergeInto did not report the failed shares";
        } catch (const EDBError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Error during merging: \r\nOut of memory\r\nOut of memory\r\n"
                      "Out of memory\r\n");
        }
    }
    const std::int32_t expectedCounts[] = {1, 1, 0, 0, 1, 0, 0, 0};
    for (std::int32_t p = 0; p < 8; ++p) {
        EXPECT_EQ(target.SubDB(p).Count(), expectedCounts[p]) << p;
    }
    EXPECT_EQ(source.TotalCount(), 8) << "the source keeps its entries";
}

TEST(TMediumDB, AllocationFailuresInThreadedSharesAreCaughtEvenWhenAllFail) {
    TMediumDB source;
    source.SetShareMode(TShareMode::smThreads);
    for (std::uint32_t p = 0; p < 16; ++p) {
        source.AddToDB((p << 20) | 5u, 0, 1);
    }
    TMediumDB target;
    TSectionFailureInjection failAll(0);
    try {
        source.MergeInto(target);
        ADD_FAILURE() << "MergeInto did not report the failed shares";
    } catch (const EDBError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Error during merging: \r\nOut of memory\r\nOut of memory\r\nOut of memory\r\n"
                  "Out of memory\r\n");
    }
    EXPECT_EQ(target.TotalCount(), 0);
    EXPECT_THROW(target.AddToDB(0x00000001u, 0, 0), std::bad_alloc);
}

}  // namespace
}  // namespace orvane::database
