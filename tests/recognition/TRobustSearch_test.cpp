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
            Kit.AddClip("Song " + std::to_string(seed), FingerprintKeys(Dir, Songs.back()));
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

}  // namespace
}  // namespace orvane::recognition::test
