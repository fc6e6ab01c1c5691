// The match verifier: the error of a hypothesis, the missing-key rule, which entries it skips,
// the candidate cap, and the comparison loop against a plain count.
#include "recognition/QnCheckKey.h"

#include <bit>
#include <gtest/gtest.h>
#include <random>

#include "SearchTestKit.h"

namespace orvane::recognition::test {
namespace {

constexpr std::int32_t QuerySlot = 700;

class QnCheckKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        Keys = SeededKeys(7, 5000);
        Slot = Kit.AddClip("Clip A", Keys);
        Kit.Verifier.SetRing(Kit.Channel.RingBuffer.data(), &KPos, &LPos);
    }
    /// Checks the one entry "song `slot` at `position`".
    std::int32_t CheckEntry(std::int32_t slot, std::int32_t position) {
        const database::TDBItem entry =
            database::TDBItem::Pack(Keys[static_cast<std::size_t>(position)], position, slot);
        return Kit.Verifier.Check(0, &entry, 1);
    }

    TSearchKit Kit;
    std::vector<std::uint32_t> Keys;
    std::int32_t Slot = 0;
    std::int32_t KPos = QuerySlot;
    std::int32_t LPos = -5;
};

TEST_F(QnCheckKeyTest, FillsTheBitCountTable) {
    for (unsigned i = 0; i < 256; ++i) EXPECT_EQ(Kit.Verifier.BitsTable[i], std::popcount(i));
}

TEST_F(QnCheckKeyTest, APerfectMatchGivesOneCandidateWithErrorZero) {
    Kit.Align(Keys, 1000, QuerySlot);
    EXPECT_EQ(CheckEntry(Slot, 1000), 1);
    ASSERT_EQ(Kit.Verifier.Candidates.Count(), 1);
    const FoundItem& c = Kit.Verifier.Candidates[0];
    EXPECT_EQ(c.Error, 0.0f);
    EXPECT_EQ(c.Penalty, 0.0f);
    EXPECT_FALSE(c.Priority);
    EXPECT_EQ(c.SongServer.get(), &Kit.Song(Slot));
    EXPECT_EQ(c.InitPos, QuerySlot + 2048);
    EXPECT_EQ(c.CheckFrom, 1000);
    EXPECT_EQ(c.NegativeShift, -5);
}

TEST_F(QnCheckKeyTest, KeysMissingBeforeTheFingerprintCountHalfAKeyEach) {
    struct Case {
        std::int32_t Position;
        std::int32_t Result;
        float Error;
    };
    // 156 missing keys x 16 bits of 8192: 30.46875 %. Position 52: 204 x 16 = 3264 bits.
    for (const Case& c : {Case{100, 1, 30.46875f}, Case{52, 1, 3264.0f / 8192.0f * 100.0f},
                          Case{256, 1, 0.0f}, Case{255, 1, 16.0f / 8192.0f * 100.0f},
                          Case{51, -1, 0.0f}, Case{0, -1, 0.0f}, Case{1, -1, 0.0f}}) {
        SCOPED_TRACE(c.Position);
        Kit.Verifier.Candidates.Clear();
        Kit.Align(Keys, c.Position, QuerySlot);
        EXPECT_EQ(CheckEntry(Slot, c.Position), c.Result);
        if (c.Result == 1) {
            ASSERT_EQ(Kit.Verifier.Candidates.Count(), 1);
            EXPECT_FLOAT_EQ(Kit.Verifier.Candidates[0].Error, c.Error);
        } else {
            EXPECT_EQ(Kit.Verifier.Candidates.Count(), 0);
        }
    }
}

TEST_F(QnCheckKeyTest, PositionZeroIsNeverCompared) {
    // Key 0 of the fingerprint meets a slot that differs in every bit: it does not count.
    Kit.Align(Keys, 300, QuerySlot);
    Kit.Channel.RingBuffer[QuerySlot - 300] = ~Keys[0];
    EXPECT_EQ(CheckEntry(Slot, 300), 1);  // the 256 keys compared are 45 ... 300
    Kit.Verifier.Candidates.Clear();
    Kit.Align(Keys, 200, QuerySlot);
    Kit.Channel.RingBuffer[QuerySlot - 200] = ~Keys[0];
    ASSERT_EQ(CheckEntry(Slot, 200), 1);
    EXPECT_FLOAT_EQ(Kit.Verifier.Candidates[0].Error, 56.0f * 16.0f / 8192.0f * 100.0f);
}

TEST_F(QnCheckKeyTest, AcceptsUpTo3277DifferingBitsAndNoMore) {
    for (const std::int32_t bits : {3277, 3278}) {
        SCOPED_TRACE(bits);
        Kit.Verifier.Candidates.Clear();
        Kit.Align(Keys, 2000, QuerySlot);
        // Whole keys inverted from the oldest compared slot on, then the rest in one key.
        std::int32_t left = bits;
        for (std::int32_t j = 255; left > 0; --j) {
            const std::int32_t n = std::min(left, 32);
            const std::uint32_t mask = n == 32 ? 0xFFFFFFFFu : (1u << n) - 1u;
            Kit.Channel.RingBuffer[static_cast<std::size_t>(QuerySlot - j)] ^= mask;
            left -= n;
        }
        EXPECT_EQ(CheckEntry(Slot, 2000), bits == 3277 ? 1 : -1);
        if (bits == 3277) {
            EXPECT_FLOAT_EQ(Kit.Verifier.Candidates[0].Error, 3277.0f / 8192.0f * 100.0f);
        }
    }
}

TEST_F(QnCheckKeyTest, ADisabledFingerprintIsNeverAccepted) {
    Kit.Align(Keys, 1000, QuerySlot);
    Kit.Song(Slot).SetEnabled(false);
    EXPECT_EQ(CheckEntry(Slot, 1000), -1);
    EXPECT_EQ(Kit.Verifier.Candidates.Count(), 0);
}

TEST_F(QnCheckKeyTest, SkipsFreeSlotsSongNumbersBeyondTheListAndPositionsBeyondTheFingerprint) {
    const std::int32_t second = Kit.AddClip("Clip B", Keys);
    Kit.Songs.freeSong(second, false);
    Kit.Align(Keys, 1000, QuerySlot);
    const database::TDBItem entries[] = {
        database::TDBItem::Pack(Keys[1000], 1000, second),  // free slot
        database::TDBItem::Pack(Keys[1000], 1000, 5000),    // beyond the list
        database::TDBItem::Pack(Keys[1000], 999999, Slot),  // beyond the fingerprint
        database::TDBItem::Pack(Keys[1000], 1000, Slot),    // the real one
    };
    EXPECT_EQ(Kit.Verifier.Check(0, entries, 4), 1);
    ASSERT_EQ(Kit.Verifier.Candidates.Count(), 1);
    EXPECT_EQ(Kit.Verifier.Candidates[0].SongServer.get(), &Kit.Song(Slot));
}

TEST_F(QnCheckKeyTest, AnEmptyBufferReturnsMinusOneAndLeavesTheListAlone) {
    Kit.Align(Keys, 1000, QuerySlot);
    ASSERT_EQ(CheckEntry(Slot, 1000), 1);
    EXPECT_EQ(Kit.Verifier.Check(0, nullptr, 0), -1);
    EXPECT_EQ(Kit.Verifier.Candidates.Count(), 1);
}

TEST_F(QnCheckKeyTest, AFullListStillReportsAcceptanceButAddsNothing) {
    Kit.Align(Keys, 1000, QuerySlot);
    for (std::int32_t i = 0; i < MaxCandidates; ++i) Kit.Verifier.Candidates.Append(FoundItem{});
    EXPECT_EQ(CheckEntry(Slot, 1000), 1);
    EXPECT_EQ(Kit.Verifier.Candidates.Count(), MaxCandidates);
    Kit.Verifier.Candidates.Clear();
    EXPECT_EQ(Kit.Verifier.Candidates.Count(), 0);
}

TEST_F(QnCheckKeyTest, OneFingerprintMayBeListedOncePerAcceptedEntry) {
    Kit.Align(Keys, 1000, QuerySlot);
    const database::TDBItem entry = database::TDBItem::Pack(Keys[1000], 1000, Slot);
    const database::TDBItem entries[] = {entry, entry, entry};
    EXPECT_EQ(Kit.Verifier.Check(0, entries, 3), 1);
    EXPECT_EQ(Kit.Verifier.Candidates.Count(), 3);
}

TEST(QnCheckKeyCountBits, MatchesAPlainCountAcrossRingWrapsAndFingerprintBlocks) {
    std::mt19937 random(42);
    std::vector<std::uint32_t> keys(9000);
    for (auto& k : keys) k = static_cast<std::uint32_t>(random());
    auto song = MakeRef<fingerprint::TSongServer>();
    song->Add(keys.data(), static_cast<std::int32_t>(keys.size()));
    std::vector<std::uint32_t> ring(KeyRingSize);
    // Ring keys close to the fingerprint's, so the sums stay below the limit.
    for (auto& k : ring) k = static_cast<std::uint32_t>(random());
    struct Case {
        std::int32_t First;
        std::int32_t Last;
        std::int32_t Slot;
    };
    for (const Case& c : {Case{4000, 4255, 1900}, Case{1, 255, 2047}, Case{8000, 8255, 0},
                          Case{4090, 4101, 2040}, Case{100, 100, 5}}) {
        for (std::int32_t q = c.First; q <= c.Last; ++q) {
            ring[static_cast<std::size_t>((c.Slot + q - c.First) % KeyRingSize)] =
                keys[static_cast<std::size_t>(q)] ^ (1u << (q % 32)) ^ (q % 3 == 0 ? 0x300u : 0u);
        }
        std::int32_t plain = 0;
        for (std::int32_t q = c.First; q <= c.Last; ++q) {
            plain +=
                std::popcount(keys[static_cast<std::size_t>(q)] ^
                              ring[static_cast<std::size_t>((c.Slot + q - c.First) % KeyRingSize)]);
        }
        EXPECT_EQ(QnCheckKey::CountBits(*song, c.First, c.Last, ring.data(), c.Slot, 7, 1 << 30),
                  plain + 7);
        // With a limit the count stops early, somewhere above it.
        if (plain > 10) {
            EXPECT_GT(QnCheckKey::CountBits(*song, c.First, c.Last, ring.data(), c.Slot, 0, 10),
                      10);
        }
    }
}

}  // namespace
}  // namespace orvane::recognition::test
