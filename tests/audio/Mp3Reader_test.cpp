#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "AudioTestUtil.h"
#include "audio/Mp3Probe.h"
#include "audio/uOpenAudio.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"

namespace orvane::audio {
namespace {

using test::TSamples;

class TMP3ReaderTest : public ::testing::Test {
protected:
    void SetUp() override { test::EnsureAudioConversion(); }

    std::string Write(const std::string& bytes, const std::string& name = "a.mp3") {
        const std::string path = FDir.File(name);
        test::WriteBytes(path, bytes);
        return path;
    }

    test::TTempDir FDir;
};

std::string Data(const std::string& name) { return test::ReadBytes(test::AudioDataFile(name)); }

// Synthetic MPEG 2.5 layer III frames of 8 kbit/s at 8000 Hz, mono: 72 bytes each.
std::string TinyFrames(int count) {
    std::string frame(72, '\0');
    frame[0] = static_cast<char>(0xFF);
    frame[1] = static_cast<char>(0xE3);
    frame[2] = static_cast<char>(0x18);
    frame[3] = static_cast<char>(0xC0);
    std::string out;
    for (int i = 0; i < count; ++i) out += frame;
    return out;
}

std::string Id3v2Tag(std::uint32_t size, bool footer) {
    std::string tag = std::string("ID3\x04\x00", 5) + static_cast<char>(footer ? 0x10 : 0);
    for (int shift : {21, 14, 7, 0}) tag += static_cast<char>((size >> shift) & 0x7F);
    for (std::uint32_t i = 0; i < size; ++i) tag += static_cast<char>(i % 2 == 0 ? 0xFF : 0xFB);
    if (footer) tag += std::string("3DI\x04\x00\x10", 6) + tag.substr(6, 4);
    return tag;
}

TEST_F(TMP3ReaderTest, DecodesToneFilesOfEveryRateToTheEngineFormat) {
    struct TCase {
        const char* file;
        std::uint32_t rate;
        bool conv16;
    };
    const TCase cases[] = {{"tone1k_44100_stereo.mp3", 44100, false},
                           {"tone1k_48000_mono.mp3", 48000, true},
                           {"tone1k_32000_mono.mp3", 32000, true},
                           {"tone1k_22050_mono.mp3", 22050, false}};
    for (const TCase& c : cases) {
        TMP3Reader reader(test::AudioDataFile(c.file), 2048);
        EXPECT_EQ(reader.ProbedSampleRate(), c.rate) << c.file;
        bool allFull = false;
        const std::vector<std::int16_t> out = test::ReadAll(reader, &allFull);
        EXPECT_TRUE(allFull) << c.file;
        EXPECT_EQ(reader.Conv16(), c.conv16) << c.file;
        // One second, less what the partial last block held.
        EXPECT_NEAR(static_cast<double>(out.size()), 11025.0, 1200.0) << c.file;
        EXPECT_NEAR(test::ToneFrequency(out, 1500), 1000.0, 3.0) << c.file;
        // Half scale would be RMS 11585; the encoded files come out near 11000, and the linear
        // interpolation from 16000 Hz takes about 1.3 % more at 1000 Hz.
        EXPECT_NEAR(test::Rms(out, 1500), 11000.0, 400.0) << c.file;
        EXPECT_EQ(reader.getPos(), 1.0f);
        EXPECT_EQ(reader.filePos(), test::ReadBytes(test::AudioDataFile(c.file)).size());
    }
}

TEST_F(TMP3ReaderTest, DecodesATaggedFileLikeTheUntaggedOne) {
    const std::string mp3 = Data("tone1k_44100_stereo.mp3");
    TMP3Reader plain(Write(mp3, "plain.mp3"), 8192);
    const std::vector<std::int16_t> reference = test::ReadAll(plain);
    for (std::uint32_t size : {200u, 7000u}) {
        for (bool footer : {false, true}) {
            TMP3Reader tagged(Write(Id3v2Tag(size, footer) + mp3, "tagged.mp3"), 8192);
            // Only the partial last block differs: it holds other bytes now.
            const std::vector<std::int16_t> out = test::ReadAll(tagged);
            const std::size_t common = std::min(out.size(), reference.size()) - 2000;
            ASSERT_GT(out.size(), 5000u);
            EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(common),
                                   reference.begin()))
                << size << " " << footer;
        }
    }
}

TEST_F(TMP3ReaderTest, FollowsAChangeOfRateAndChannelsInTheMiddleOfTheStream) {
    // 44.1 kHz stereo, then 48 kHz mono: the stream goes on at the engine rate.
    const std::string bytes = Data("tone1k_44100_stereo.mp3") + Data("tone1k_48000_mono.mp3");
    TMP3Reader reader(Write(bytes), 8192);
    const std::vector<std::int16_t> out = test::ReadAll(reader);
    EXPECT_FALSE(reader.Conv16());  // decided by the first format
    EXPECT_NEAR(static_cast<double>(out.size()), 2 * 11025.0, 1500.0);
    const std::vector<std::int16_t> secondHalf(out.begin() + 13000, out.end());
    EXPECT_NEAR(test::ToneFrequency(secondHalf, 500), 1000.0, 3.0);
    EXPECT_NEAR(test::Rms(secondHalf, 500), 11000.0, 500.0);
}

TEST_F(TMP3ReaderTest, CountsChunksAndReportsPositionAndFileOffset) {
    TMP3Reader reader(test::AudioDataFile("tone1k_48000_mono.mp3"), 4096);
    EXPECT_EQ(reader.filePos(), 0u);
    EXPECT_EQ(reader.ReadChunk(), 4096);
    EXPECT_GT(reader.filePos(), 0u);
    EXPECT_EQ(reader.filePos() % Mp3BlockSize, 0u);
    EXPECT_EQ(reader.Position(), 0);
    EXPECT_EQ(reader.ReadChunk(), 4096);
    EXPECT_EQ(reader.ReadChunk(), 4096);
    EXPECT_EQ(reader.Position(), 1);  // 12288 / 22050 = 0.56
}

TEST_F(TMP3ReaderTest, RaisesErrorInMp3FormatWhenNoFrameIsFound) {
    for (const std::string& bytes :
         {std::string(), std::string("hello"), test::ReadBytes(test::AudioDataFile("README.md")),
          Id3v2Tag(3000, true), std::string(5000, '\xFF')}) {
        try {
            TMP3Reader reader(Write(bytes), 8192);
            ADD_FAILURE() << "accepted " << bytes.size() << " bytes";
        } catch (const EOpenMP3& e) {
            EXPECT_STREQ(e.what(), "Error in mp3 format.");
        }
    }
}

TEST_F(TMP3ReaderTest, RaisesErrorInMp3FileWhenTheFirstChunkIsEmpty) {
    // Frames the probe accepts, but less than one 522-byte block in all.
    const std::string bytes = TinyFrames(7);
    ASSERT_LT(bytes.size(), Mp3BlockSize);
    TMP3Reader reader(Write(bytes), 8192);
    try {
        reader.ReadChunk();
        ADD_FAILURE() << "an empty first chunk was delivered";
    } catch (const EOpenMP3& e) {
        EXPECT_STREQ(e.what(), "Error in mp3 file.");
    }
}

TEST_F(TMP3ReaderTest, SurvivesTruncatedAndCorruptedFiles) {
    const std::string mp3 = Data("tone1k_44100_stereo.mp3");
    std::vector<std::string> variants;
    for (std::size_t cut : {600u, 1000u, 4000u, 9999u}) variants.push_back(mp3.substr(0, cut));
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        std::string bad = mp3;
        const TSamples noise = test::Noise(seed, 200, 32767.0);
        for (std::size_t i = 0; i < noise.size(); ++i) {
            const std::size_t at =
                (static_cast<std::size_t>(noise[i] + 32768) * 7 + i * 131) % bad.size();
            bad[at] = static_cast<char>(noise[(i + 1) % noise.size()] & 0xFF);
        }
        variants.push_back(bad);
    }
    variants.push_back(TinyFrames(200));
    for (const std::string& bytes : variants) {
        try {
            TMP3Reader reader(Write(bytes), 8192);
            test::ReadAll(reader);
        } catch (const EError&) {
            // A clear error is fine; a crash is not.
        }
    }
}

}  // namespace
}  // namespace orvane::audio
