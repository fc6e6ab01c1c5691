// The robust search for noisy input, end to end through files: it hears clips under noise that
// the standard search misses, and audio that is not in the library stays unreported.
#include "recognition/TRobustSearch.h"

#include <cmath>
#include <gtest/gtest.h>

#include "ClipKeysKit.h"
#include "SearchTestKit.h"
#include "audio/FptExtract.h"
#include "audio/uOpenAudio.h"
#include "platform/PlatformAudio.h"
#include "recognition/TFileRecognizer.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"

namespace orvane::recognition::test {
namespace {

using orvane::test::TSamples;

constexpr int Rate = 11025;
constexpr std::uint32_t LibrarySeeds[] = {11, 22, 33, 44, 55, 66};

using orvane::test::FingerprintKeys;
using orvane::test::WithNoise;

/// A library of six 40 s songs of generated music, "Song 11" ... "Song 66".
class TRobustSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const std::uint32_t seed : LibrarySeeds) {
            Songs.push_back(orvane::test::Music(seed, 40 * Rate));
            Keys.push_back(FingerprintKeys(Dir, Songs.back()));
            Slots.push_back(Kit.AddClip("Song " + std::to_string(seed), Keys.back()));
        }
    }

    /// The titles heard in `samples`, with the standard or the robust search (deep search on).
    std::vector<std::string> Heard(const TSamples& samples, bool robust) {
        const std::string file = Dir.File("query.wav");
        orvane::test::WriteWav(file, samples, Rate);
        TRecognitionOptions options;
        options.Form3Checkbox2checked = true;
        options.RobustSearch = robust;
        TFileRecognizer recognizer(Kit.Songs, Kit.Index, options);
        const TFileRecognition result = recognizer.Recognize(file);
        EXPECT_TRUE(result.Read) << result.Error;
        std::vector<std::string> titles;
        for (const auto& clip : result.Clips) titles.push_back(clip.Logged.Title);
        return titles;
    }

    orvane::test::TTempDir Dir;
    TSearchKit Kit;
    std::vector<TSamples> Songs;
    std::vector<std::vector<std::uint32_t>> Keys;
    std::vector<std::int32_t> Slots;
};

TEST_F(TRobustSearchTest, HearsAClipUnderNoiseThatTheStandardSearchMisses) {
    struct TCase {
        std::size_t Song;
        double StartSeconds;
        double SnrDb;
    };
    for (const TCase c : {TCase{0, 5.0, 5.0}, TCase{2, 13.0, 5.0}, TCase{4, 21.0, 3.0}}) {
        const auto start = static_cast<std::ptrdiff_t>(c.StartSeconds * Rate);
        const TSamples excerpt(Songs[c.Song].begin() + start,
                               Songs[c.Song].begin() + start + 12 * Rate);
        const TSamples query = WithNoise(excerpt, c.SnrDb, 7 + static_cast<std::uint32_t>(c.Song));
        const std::string title = "Song " + std::to_string(LibrarySeeds[c.Song]);
        EXPECT_TRUE(Heard(query, false).empty()) << title;
        EXPECT_EQ(Heard(query, true), std::vector<std::string>{title}) << c.SnrDb;
    }
}

TEST_F(TRobustSearchTest, AudioNotInTheLibraryStaysUnreportedCleanOrNoisy) {
    for (const std::uint32_t seed : {901u, 902u, 903u}) {
        const TSamples other = orvane::test::Music(seed, 15 * Rate);
        for (const double snr : {100.0, 15.0, 5.0, 0.0}) {
            EXPECT_TRUE(Heard(WithNoise(other, snr, seed), true).empty()) << seed << " " << snr;
        }
    }
}

TEST_F(TRobustSearchTest, ACleanClipIsHeardAsWithTheStandardSearch) {
    const TSamples excerpt(Songs[1].begin() + 3 * Rate, Songs[1].begin() + 15 * Rate);
    EXPECT_EQ(Heard(excerpt, true), Heard(excerpt, false));
    EXPECT_EQ(Heard(excerpt, true), std::vector<std::string>{"Song 22"});
}

// Every monitored stream is channel 0 of its own tracker, and one search serves several streams:
// what the search follows belongs to the channel object, not to its number.
TEST_F(TRobustSearchTest, WhatOneChannelFollowsIsNotLostToAnotherChannelOfTheSameSearch) {
    constexpr std::int32_t RingKeys = 2048;
    // A ring whose newest slot holds key `newest` of song 0, and one of silence.
    auto ringAt = [&](std::int32_t newest) {
        std::vector<std::uint32_t> ring(RingKeys, 0);
        for (std::int32_t k = 0; k < RingKeys && newest - k >= 0; ++k) {
            ring[static_cast<std::size_t>(RingKeys - 1 - k)] =
                Keys[0][static_cast<std::size_t>(newest - k)];
        }
        return ring;
    };
    const std::vector<std::uint32_t> quiet(RingKeys, 0);
    TRobustSearch search(Kit.Songs);
    TCandidateList candidates;
    // Two streams' channels: both are number 0.
    TChannelBasic other{0, 0, "Stream02", Kit.Lock, Kit.Posting};
    ASSERT_EQ(Kit.Channel.Id(), other.Id());
    const std::uint64_t first = Kit.Channel.Serial();
    const std::uint64_t second = other.Serial();

    const std::int32_t newest = 900;
    std::vector<std::uint32_t> ring = ringAt(newest);
    search.Begin();
    const database::TDBItem hit = database::TDBItem::Pack(Keys[0][newest], newest, Slots[0]);
    search.Note(&hit, 1, -1);
    search.Verify(first, ring.data(), RingKeys - 1, candidates, false);
    ASSERT_FALSE(search.Scores().empty());
    EXPECT_EQ(search.Scores().front().SongNo, Slots[0]);

    // The other channel searches in between and has nothing to follow.
    search.Begin();
    search.Verify(second, quiet.data(), RingKeys - 1, candidates, false);
    EXPECT_TRUE(search.Scores().empty());

    // The first channel, 96 keys on, still follows its song without a new index hit.
    ring = ringAt(newest + SearchKeysPerStep);
    search.Begin();
    search.Verify(first, ring.data(), RingKeys - 1, candidates, false);
    ASSERT_FALSE(search.Scores().empty());
    EXPECT_EQ(search.Scores().front().SongNo, Slots[0]);
    EXPECT_EQ(search.Scores().front().Streak, 2);
}

}  // namespace
}  // namespace orvane::recognition::test
