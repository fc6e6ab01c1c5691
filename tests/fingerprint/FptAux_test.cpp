#include "fingerprint/FptAux.h"

#include <cstring>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace orvane::fingerprint {
namespace {

std::vector<std::uint32_t> Sequence(std::uint32_t first, std::size_t count) {
    std::vector<std::uint32_t> keys(count);
    std::iota(keys.begin(), keys.end(), first);
    return keys;
}

TRefPtr<TSongServer> GrowingWith(std::size_t count, std::uint32_t first = 1) {
    auto song = MakeRef<TSongServer>();
    const auto keys = Sequence(first, count);
    song->Add(keys.data(), static_cast<std::int32_t>(keys.size()));
    return song;
}

struct TRun {
    std::int32_t Block, Start, End;
    bool Last;
    bool operator==(const TRun&) const = default;
};

std::vector<TRun> Runs(const TSongServer& song, std::int32_t start, std::int32_t stop) {
    std::vector<TRun> runs;
    TIterator it = song.startIterator(start, stop);
    for (;;) {
        runs.push_back({it.currentBlock, it.blockStart, it.blockEnd, it.break_});
        if (it.break_) break;
        song.continueIterator(it);
    }
    return runs;
}

TSongBuffer RecordWith(std::int32_t length, std::size_t size) {
    TSongBuffer record(size);
    std::memcpy(record.Data() + 128, &length, 4);
    return record;
}

TEST(TSongServer, StartsEmptyGrowingAndEnabledWithEveryHeaderFieldZero) {
    auto song = MakeRef<TSongServer>();
    EXPECT_EQ(song->Length(), 0);
    EXPECT_FALSE(song->IsAligned());
    EXPECT_TRUE(song->GetEnabled());
    EXPECT_EQ(song->alignedSize(), 132);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(song->SongFile());
    for (int i = 0; i < 136; ++i) EXPECT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(TSongServer, AddOfOneFullBlockMakesOneFullBlockAndNoPartialOne) {
    auto song = GrowingWith(4096);
    EXPECT_EQ(song->numFullBlocks(), 1);
    EXPECT_FALSE(song->hasLastBlock());
    EXPECT_EQ(song->lastBlockSize(), 0);
    EXPECT_EQ(song->Blocks().size(), 1u);
    EXPECT_EQ(song->Key(4095), 4096u);
}

TEST(TSongServer, AddOfNoKeysChangesNothing) {
    auto song = GrowingWith(10);
    song->Add(nullptr, 0);
    EXPECT_EQ(song->Length(), 10);
    EXPECT_EQ(song->Blocks().size(), 1u);
}

TEST(TSongServer, AddFillsTheLastBlockBeforeAllocatingTheNext) {
    auto song = GrowingWith(1);
    std::uint32_t* firstBlock = song->Blocks()[0];
    const auto more = Sequence(100, 4096);
    song->Add(more.data(), 4096);
    ASSERT_EQ(song->Blocks().size(), 2u);
    EXPECT_EQ(song->Blocks()[0], firstBlock);  // stored keys never move
    EXPECT_EQ(song->numFullBlocks(), 1);
    EXPECT_EQ(song->lastBlockSize(), 1);
    EXPECT_EQ(song->Key(0), 1u);
    EXPECT_EQ(song->Key(1), 100u);
    EXPECT_EQ(song->Key(4095), 100u + 4094);
    EXPECT_EQ(song->Key(4096), 100u + 4095);
}

TEST(TSongServer, AddRefusesNegativeCountsAndAlignedContainers) {
    auto song = GrowingWith(3);
    const std::uint32_t key = 7;
    EXPECT_THROW(song->Add(&key, -1), EInvalidOperation);
    song->serialize();
    EXPECT_THROW(song->Add(&key, 1), EInvalidOperation);
    EXPECT_EQ(song->Length(), 3);
}

TEST(TSongServer, ManyAddsOfOddSizesKeepEveryKeyInOrder) {
    auto song = MakeRef<TSongServer>();
    std::vector<std::uint32_t> expected;
    std::uint32_t next = 1;
    for (std::int32_t count : {1, 4095, 3, 8192, 0, 4097, 17}) {
        const auto keys = Sequence(next, static_cast<std::size_t>(count));
        next += static_cast<std::uint32_t>(count);
        song->Add(keys.data(), count);
        expected.insert(expected.end(), keys.begin(), keys.end());
    }
    EXPECT_EQ(song->CopyKeys(), expected);
    song->serialize();
    EXPECT_EQ(song->CopyKeys(), expected);
}

TEST(TSongServer, IteratorRunsFollowTheBlocks) {
    auto song = GrowingWith(10000);
    EXPECT_EQ(Runs(*song, 0, 4095), (std::vector<TRun>{{0, 0, 4095, true}}));
    EXPECT_EQ(Runs(*song, 0, 4096), (std::vector<TRun>{{0, 0, 4095, false}, {1, 0, 0, true}}));
    EXPECT_EQ(Runs(*song, 5000, 5001), (std::vector<TRun>{{1, 904, 905, true}}));
    EXPECT_EQ(Runs(*song, 10, 9999),
              (std::vector<TRun>{{0, 10, 4095, false}, {1, 0, 4095, false}, {2, 0, 1807, true}}));
    // A range that ends before it starts inside one block is one empty run.
    EXPECT_EQ(Runs(*song, 0, -1), (std::vector<TRun>{{0, 0, -1, true}}));
}

TEST(TSongServer, ContinueOutsideABlockStartIsRefused) {
    auto song = GrowingWith(10000);
    TIterator it = song->startIterator(0, 9000);
    it.Position = 5;
    try {
        song->continueIterator(it);
        FAIL() << "no exception";
    } catch (const EIteratorError& e) {
        EXPECT_STREQ(e.what(), "Block starting-value invalid.");
    }
}

TEST(TSongServer, SerializeGivesOneContiguousRecordWithTheHeader) {
    auto song = GrowingWith(5000);
    song->SongFile()->Title.Assign("abc");
    song->SongFile()->Source = 7;
    song->serialize();
    EXPECT_TRUE(song->IsAligned());
    EXPECT_EQ(song->alignedSize(), 132 + 4 * 5000);
    const TSong* record = song->SongFile();
    EXPECT_EQ(record->Title.View(), "abc");
    EXPECT_EQ(record->Source, 7);
    EXPECT_EQ(record->Length, 5000);
    ASSERT_EQ(song->Blocks().size(), 2u);
    EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(song->Blocks()[1]),
              reinterpret_cast<const std::uint8_t*>(record) + 132 + 16384);
    EXPECT_EQ(record->Keys()[4999], 5000u);
}

TEST(TSongServer, ImportTakesARecordOfExactlyItsSize) {
    auto song = MakeRef<TSongServer>();
    TSongBuffer record = RecordWith(2, 140);
    record.Song()->Keys()[1] = 42;
    song->import(std::move(record));
    EXPECT_EQ(song->Length(), 2);
    EXPECT_EQ(song->Key(1), 42u);
}

TEST(TSongServer, ImportRefusesAnyRecordThatDoesNotMatchItsHeader) {
    struct TCase {
        const char* Name;
        std::int32_t Length;
        std::size_t Size;
        std::uint8_t TitleLength;
    };
    const TCase cases[] = {
        {"one byte short", 3, 4 * 3 + 131, 0},
        {"one byte long", 3, 4 * 3 + 133, 0},
        {"length wraps in 32 bits", 1 << 30, 132, 0},
        {"length wraps to a small size", 0x40000001, 136, 0},
        {"negative length", -1, 128, 0},
        {"shorter than the header", 0, 131, 0},
        {"empty", 0, 0, 0},
        {"title longer than 108 bytes", 0, 132, 109},
    };
    for (const TCase& c : cases) {
        auto song = GrowingWith(5);
        TSongBuffer record(c.Size);
        if (c.Size >= 132) {
            std::memcpy(record.Data() + 128, &c.Length, 4);
            record.Data()[0] = c.TitleLength;
        }
        try {
            song->import(std::move(record));
            ADD_FAILURE() << c.Name << ": accepted";
        } catch (const EWrongHeader& e) {
            EXPECT_STREQ(e.what(), "Wrong header in fingerprint.") << c.Name;
        }
        EXPECT_EQ(song->Length(), 5) << c.Name << ": container changed";
        EXPECT_EQ(song->Key(4), 5u) << c.Name;
    }
}

TEST(TSongServer, ConstructorFromABadRecordThrowsWrongHeader) {
    EXPECT_THROW(MakeRef<TSongServer>(RecordWith(1, 132)), EWrongHeader);
}

TEST(TSongServer, ResetOnAnAlignedFingerprintKeepsTheTitleAndAllowsAdd) {
    auto song = GrowingWith(5000);
    song->SongFile()->Title.Assign("Kept");
    song->serialize();
    song->Reset();
    EXPECT_FALSE(song->IsAligned());
    EXPECT_EQ(song->Length(), 0);
    EXPECT_EQ(song->SongFile()->Title.View(), "Kept");
    EXPECT_TRUE(song->Blocks().empty());
    const std::uint32_t keys[] = {9, 8};
    song->Add(keys, 2);
    EXPECT_EQ(song->CopyKeys(), (std::vector<std::uint32_t>{9, 8}));
}

TEST(TSongServer, AddPartialSongServerAppendsTheRangeAcrossBlocks) {
    auto source = GrowingWith(10000);
    source->serialize();
    auto target = GrowingWith(2, 500000);
    target->AddPartialSongServer(*source, 4000, 8200);
    const auto keys = target->CopyKeys();
    ASSERT_EQ(keys.size(), 2u + 4201u);
    EXPECT_EQ(keys[2], 4001u);
    EXPECT_EQ(keys.back(), 8201u);
    EXPECT_THROW(target->AddPartialSongServer(*source, 5, 10000), EInvalidOperation);
    EXPECT_THROW(target->AddPartialSongServer(*source, 6, 5), EInvalidOperation);
}

TEST(TSongServer, AddPartialSongServerOfItselfAppendsACopy) {
    auto song = GrowingWith(4100);
    song->AddPartialSongServer(*song, 0, 4099);
    const auto keys = song->CopyKeys();
    ASSERT_EQ(keys.size(), 8200u);
    EXPECT_EQ(keys[4100], 1u);
    EXPECT_EQ(keys[8199], 4100u);
}

TEST(TSongServer, AddSongServerAppendsAllKeys) {
    auto source = GrowingWith(3, 10);
    auto target = GrowingWith(1, 1);
    target->AddSongServer(*source);
    EXPECT_EQ(target->CopyKeys(), (std::vector<std::uint32_t>{1, 10, 11, 12}));
}

TEST(TSongServer, EnabledChangesReachTheHandlerOnceEachAndFreeingReEnables) {
    std::vector<bool> calls;
    TSongServer::SetEnabledChangeHandler([&calls](bool enabled) { calls.push_back(enabled); });
    {
        auto song = MakeRef<TSongServer>();
        song->SetEnabled(true);
        song->SetEnabled(false);
        song->SetEnabled(false);
        EXPECT_FALSE(song->GetEnabled());
    }
    TSongServer::SetEnabledChangeHandler(nullptr);
    EXPECT_EQ(calls, (std::vector<bool>{false, true}));
}

TEST(TSongServer, TagHoldsAReferenceToAnotherFingerprint) {
    auto winner = MakeRef<TSongServer>();
    auto loser = MakeRef<TSongServer>();
    loser->Tag = winner;
    EXPECT_EQ(winner->RefCount(), 2);
    loser.reset();
    EXPECT_EQ(winner->RefCount(), 1);
}

}  // namespace
}  // namespace orvane::fingerprint
