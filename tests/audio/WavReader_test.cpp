#include <cerrno>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "AudioTestUtil.h"
#include "audio/uOpenAudio.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"

namespace orvane::audio {
namespace {

using test::TSamples;

class TWavReaderTest : public ::testing::Test {
protected:
    void SetUp() override { test::EnsureAudioConversion(); }

    std::string Write(const std::string& bytes, const std::string& name = "a.wav") {
        const std::string path = FDir.File(name);
        test::WriteBytes(path, bytes);
        return path;
    }

    std::vector<std::int16_t> Decode(const std::string& bytes, std::uint32_t chunk = 8192,
                                     bool* allFull = nullptr) {
        TWavReader reader(Write(bytes), chunk);
        return test::ReadAll(reader, allFull);
    }

    test::TTempDir FDir;
};

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

std::string Le32(std::uint32_t v) {
    std::string s(4, '\0');
    Put32(s, 0, v);
    return s;
}

// A canonical WAV with the RIFF size fixed after appending `tail` (extra chunks).
std::string WithTail(std::string wav, const std::string& tail) {
    wav += tail;
    Put32(wav, 4, static_cast<std::uint32_t>(wav.size() - 8));
    return wav;
}

// Samples the reader delivers for a 16-bit mono source when nothing is converted: those of
// the whole 512-byte blocks.
TSamples WholeBlocks(const TSamples& s) {
    return TSamples(s.begin(), s.begin() + (s.size() / 256) * 256);
}

TSamples AsSamples(const std::string& bytes) {
    TSamples s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

TEST_F(TWavReaderTest, DeliversThe16BitMonoSamplesOfAn11025HzFileExactly) {
    const TSamples in = test::Noise(11, 50000, 32767.0);
    const std::vector<std::int16_t> out = Decode(test::MakeWav(in, 11025));
    EXPECT_EQ(out, WholeBlocks(in));
}

TEST_F(TWavReaderTest, Resamples16000HzContinuouslyByTheIntegerFormula) {
    const TSamples in = test::Noise(12, 160001, 32767.0);
    TWavReader reader(Write(test::MakeWav(in, 16000)), 8192);
    EXPECT_TRUE(reader.Conv16());
    const std::vector<std::int16_t> out = test::ReadAll(reader);
    const TSamples used = WholeBlocks(in);
    ASSERT_EQ(out.size(), ResampledCount(used.size()));
    for (std::uint64_t n = 0; n < out.size(); ++n) {
        const std::uint64_t pos = 16000 * n;
        const std::uint64_t k = pos / 11025;
        const std::int64_t r = static_cast<std::int64_t>(pos % 11025);
        const std::int64_t num = used[k] * (11025 - r) + used[k + 1] * r;
        ASSERT_EQ(out[n],
                  static_cast<std::int16_t>(std::llround(static_cast<double>(num) / 11025.0)))
            << n;
    }
}

TEST_F(TWavReaderTest, DecodesATrailingChunkAfterDataAsAudio) {
    const TSamples in = test::Noise(13, 1024, 20000.0);
    std::string tail = "LIST" + Le32(508) + std::string(508, 'x');
    const std::string wav = WithTail(test::MakeWav(in, 11025), tail);
    const std::vector<std::int16_t> out = Decode(wav);
    TSamples expected = in;
    const TSamples tailSamples = AsSamples(tail);
    expected.insert(expected.end(), tailSamples.begin(), tailSamples.end());
    EXPECT_EQ(out, WholeBlocks(expected));
    EXPECT_GT(out.size(), in.size());
}

TEST_F(TWavReaderTest, AcceptsOddChunksWithoutPaddingAndLongFmtChunks) {
    const TSamples in = test::Noise(14, 512, 20000.0);
    std::string wav = test::MakeWav(in, 11025);
    // Rebuild: RIFF WAVE, an odd "junk" chunk with no pad byte, an 18-byte "fmt ", then data.
    const std::string fmt = wav.substr(12, 24);
    std::string longFmt = "fmt " + Le32(18) + fmt.substr(8) + std::string(2, '\0');
    const std::string data = wav.substr(36);
    std::string rebuilt = "RIFF" + Le32(0) + "WAVE" + "junk" + Le32(3) + "abc" + longFmt + data;
    Put32(rebuilt, 4, static_cast<std::uint32_t>(rebuilt.size() - 8));
    EXPECT_EQ(Decode(rebuilt), in);
}

struct TBadWav {
    const char* what;
    std::string bytes;
};

std::vector<TBadWav> BadWavs() {
    const TSamples in = test::Noise(15, 2048, 20000.0);
    const std::string good = test::MakeWav(in, 11025);
    auto patched = [&](std::size_t at, const std::string& bytes) {
        std::string s = good;
        s.replace(at, bytes.size(), bytes);
        return s;
    };
    auto field16 = [&](std::size_t at, std::uint16_t v) {
        return patched(at, std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)});
    };
    std::vector<TBadWav> cases = {
        {"empty file", ""},
        {"shorter than the RIFF header", good.substr(0, 11)},
        {"not RIFF", patched(0, "RIFX")},
        {"not WAVE", patched(8, "AVI ")},
        {"RIFF size one too big", patched(4, Le32(static_cast<std::uint32_t>(good.size() - 7)))},
        {"RIFF size one too small", patched(4, Le32(static_cast<std::uint32_t>(good.size() - 9)))},
        {"one byte appended", good + "x"},
        {"chunk size 0", WithTail(good, "LIST" + Le32(0))},
        {"chunk size negative", WithTail(good, "LIST" + Le32(0x80000000u) + "abcd")},
        {"chunk past the end", WithTail(good, "LIST" + Le32(100) + "abcd")},
        {"chunk header cut", WithTail(good, "LIST")},
        {"odd chunk with pad byte",
         WithTail(good, "LIST" + Le32(3) + "abc" + std::string(1, '\0'))},
        {"fmt shorter than 16", patched(16, Le32(14))},
        {"format tag 3 (float)", field16(20, 3)},
        {"format tag extensible", field16(20, 0xFFFE)},
        {"no channels", field16(22, 0)},
        {"nine channels", field16(22, 9)},
        {"rate 0", patched(24, Le32(0))},
        {"rate absurd", patched(24, Le32(1000001))},
        {"block alignment wrong", field16(32, 4)},
        {"12 bits", field16(34, 12)},
        {"64 bits", field16(34, 64)},
        {"0 bits", field16(34, 0)},
        {"no data chunk", patched(36, "dat_")},
        {"no fmt chunk", patched(12, "fmt_")},
    };
    // An odd chunk before "data" followed by a pad byte misaligns the walk.
    std::string padded = "RIFF" + Le32(0) + "WAVE" + "junk" + Le32(3) + "abc" +
                         std::string(1, '\0') + good.substr(12);
    Put32(padded, 4, static_cast<std::uint32_t>(padded.size() - 8));
    cases.push_back({"odd chunk and pad byte before fmt", padded});
    return cases;
}

TEST_F(TWavReaderTest, RejectsEveryMalformedOrUnsupportedFileWithErrorInWavFile) {
    for (const TBadWav& c : BadWavs()) {
        try {
            TWavReader reader(Write(c.bytes), 8192);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const EOpenWAV& e) {
            EXPECT_STREQ(e.what(), "Error in wav file.") << c.what;
        } catch (const std::exception& e) {
            ADD_FAILURE() << c.what << ": " << e.what();
        }
    }
}

TEST_F(TWavReaderTest, ReportsAMissingFileThroughTheFileLayer) {
    try {
        TWavReader reader(FDir.File("missing.wav"), 8192);
        ADD_FAILURE() << "opened a missing file";
    } catch (const EFileError& e) {
        EXPECT_EQ(e.ErrorCode, ENOENT);
    }
    EXPECT_THROW(TWavReader(FDir.Folder(), 8192), EFileError);
}

TEST_F(TWavReaderTest, RefusesAChunkSizeOfZero) {
    const std::string path = Write(test::MakeWav(test::Silence(1000), 11025));
    EXPECT_THROW(TWavReader(path, 0), EInvalidOperation);
    EXPECT_THROW(TWavReader(path, MaxChunkSize + 1), EInvalidOperation);
}

TEST_F(TWavReaderTest, SaysSoWhenNoConversionIsInstalled) {
    const std::string path = Write(test::MakeWav(test::Silence(1000), 11025));
    SetAudioConversion(nullptr);
    try {
        TWavReader reader(path, 8192);
        ADD_FAILURE() << "opened without conversion";
    } catch (const EOpenWAV& e) {
        EXPECT_STREQ(e.what(), "No audio conversion is installed.");
    }
    test::EnsureAudioConversion();
}

TEST_F(TWavReaderTest, ReportsPositionInRoundedSecondsAndTheShareOfTheFileRead) {
    const TSamples in = test::Noise(16, 11 * 4096 + 300, 10000.0);
    TWavReader reader(Write(test::MakeWav(in, 11025)), 8192);
    EXPECT_EQ(reader.Size(), 8192u);
    EXPECT_EQ(reader.Position(), 0);
    // Before the first chunk the file stands at the "data" body: 44 bytes in.
    EXPECT_FLOAT_EQ(reader.getPos(), 44.0f / static_cast<float>(44 + in.size() * 2));
    float lastPos = reader.getPos();
    const std::int32_t expected[] = {0, 1, 1, 1, 2, 2, 3, 3, 3, 4};  // 8192 k / 22050 rounded
    for (std::int32_t seconds : expected) {
        ASSERT_EQ(reader.ReadChunk(), 8192);
        EXPECT_EQ(reader.Position(), seconds);
        EXPECT_GT(reader.getPos(), lastPos);
        lastPos = reader.getPos();
    }
    EXPECT_EQ(reader.ReadChunk(), 8192);
    EXPECT_EQ(reader.ReadChunk(), 512);  // the last whole block; the 44-byte rest is dropped
    EXPECT_EQ(reader.getPos(), 1.0f);
    EXPECT_EQ(reader.ReadChunk(), 0);
}

TEST_F(TWavReaderTest, DeliversNothingForAFileShorterThanOneBlock) {
    TWavReader reader(Write(test::MakeWav(test::Noise(1, 255), 11025)), 8192);
    EXPECT_EQ(reader.ReadChunk(), 0);
    EXPECT_EQ(reader.Position(), 0);
}

TEST_F(TWavReaderTest, CutsTheSameStreamIntoChunksOfAnySize) {
    const TSamples in = test::Noise(17, 30000, 30000.0);
    for (int rate : {11025, 16000, 44100}) {
        const std::string wav = test::MakeWav(in, rate);
        const std::vector<std::int16_t> reference = Decode(wav, 8192);
        for (std::uint32_t chunk : {1u, 2u, 7u, 512u, 8191u, 100000u}) {
            bool allFull = false;
            EXPECT_EQ(Decode(wav, chunk, &allFull), reference) << rate << " " << chunk;
            EXPECT_TRUE(allFull) << rate << " " << chunk;
        }
    }
}

TEST_F(TWavReaderTest, ConvertsMultiplesOf8000HzThrough16000Hz) {
    struct TCase {
        int rate;
        bool conv16;
    };
    for (TCase c : {TCase{44100, false}, TCase{22050, false}, TCase{11025, false},
                    TCase{48000, true}, TCase{32000, true}, TCase{8000, true}, TCase{16000, true},
                    TCase{96000, true}, TCase{12000, false}}) {
        const std::size_t count = static_cast<std::size_t>(c.rate) * 2;
        TWavReader reader(Write(test::MakeWav(test::Tone(1000.0, count, c.rate), c.rate)), 8192);
        EXPECT_EQ(reader.Conv16(), c.conv16) << c.rate;
        const std::vector<std::int16_t> out = test::ReadAll(reader);
        // Two seconds of audio, less the partial last block.
        EXPECT_NEAR(static_cast<double>(out.size()), 22050.0, 300.0) << c.rate;
        EXPECT_NEAR(test::ToneFrequency(out, 500), 1000.0, 2.0) << c.rate;
        EXPECT_NEAR(test::Rms(out, 500), 8000.0 / std::sqrt(2.0), 120.0) << c.rate;
    }
}

TEST_F(TWavReaderTest, AveragesTheChannelsOfEveryBitDepthExactlyAtTheEngineRate) {
    const TSamples left = test::Noise(18, 3000, 32767.0);
    const TSamples right = test::Noise(19, 3000, 32767.0);
    for (int bits : {8, 16, 24, 32}) {
        for (int channels = 1; channels <= 8; ++channels) {
            std::vector<TSamples> parts;
            for (int c = 0; c < channels; ++c) parts.push_back(c % 2 == 0 ? left : right);
            const std::vector<std::int16_t> out =
                Decode(test::MakeWav(test::Interleave(parts), 11025, channels, bits));
            const std::size_t blockBytes = 512;
            const std::size_t frameBytes = static_cast<std::size_t>(channels * bits / 8);
            const std::size_t frames =
                (left.size() * frameBytes / blockBytes) * blockBytes / frameBytes;
            ASSERT_EQ(out.size(), frames) << bits << " bits, " << channels << " channels";
            for (std::size_t i = 0; i < frames; ++i) {
                auto quantised = [&](std::int16_t s) {
                    return bits == 8 ? static_cast<double>((s >> 8) * 256) : static_cast<double>(s);
                };
                const int lefts = (channels + 1) / 2;
                const double mean =
                    (quantised(left[i]) * lefts + quantised(right[i]) * (channels - lefts)) /
                    channels;
                ASSERT_EQ(out[i], static_cast<std::int16_t>(std::nearbyint(mean)))
                    << bits << " bits, " << channels << " channels, frame " << i;
            }
        }
    }
}

TEST_F(TWavReaderTest, KeepsToneFrequencyAndLevelForEveryFormatAndRate) {
    for (int rate : {44100, 48000, 22050, 8000}) {
        for (int bits : {8, 16, 24, 32}) {
            for (int channels : {1, 2, 3, 6, 8}) {
                const std::size_t count = static_cast<std::size_t>(rate);
                const TSamples tone = test::Tone(440.0, count, rate, 12000.0);
                std::vector<TSamples> parts(static_cast<std::size_t>(channels), tone);
                const std::vector<std::int16_t> out =
                    Decode(test::MakeWav(test::Interleave(parts), rate, channels, bits));
                // 6-byte and 18-byte frames do not divide the 512-byte blocks; none is lost.
                const double expectedCount = static_cast<double>(count) * 11025.0 / rate;
                EXPECT_NEAR(static_cast<double>(out.size()), expectedCount,
                            512.0 * 11025.0 / (rate * channels * bits / 8.0) + 3.0)
                    << rate << " " << bits << " " << channels;
                EXPECT_NEAR(test::ToneFrequency(out, 300), 440.0, 1.5)
                    << rate << " " << bits << " " << channels;
                EXPECT_NEAR(test::Rms(out, 300), 12000.0 / std::sqrt(2.0), 200.0)
                    << rate << " " << bits << " " << channels;
            }
        }
    }
}

TEST_F(TWavReaderTest, ConvertsTheExtremeRatesItAccepts) {
    struct TCase {
        int rate;
        std::size_t samples;
    };
    for (TCase c : {TCase{4000, 6000}, TCase{4001, 6000}, TCase{1000000, 200000},
                    TCase{999999, 100000}}) {
        const std::vector<std::int16_t> out =
            Decode(test::MakeWav(test::Noise(2, c.samples), c.rate));
        const double used = static_cast<double>((c.samples * 2 / 512) * 256);
        EXPECT_NEAR(static_cast<double>(out.size()), used * 11025.0 / c.rate,
                    0.01 * used * 11025.0 / c.rate + 2.0)
            << c.rate;
    }
}

TEST_F(TWavReaderTest, RefusesRatesBelow4000HzAsNotConvertible) {
    for (int rate : {1, 7, 1000, 3999}) {
        try {
            TWavReader reader(Write(test::MakeWav(test::Noise(2, 100000), rate)), 8192);
            ADD_FAILURE() << rate << " Hz was accepted";
        } catch (const EOpenWAV& e) {
            EXPECT_STREQ(e.what(), "This wav format cannot be converted.") << rate;
        }
    }
}

TEST_F(TWavReaderTest, FlushesTheRateChangeSoTheTailArrives) {
    // A 44.1 kHz file: the output length matches the input duration within a sample or two.
    const TSamples in = test::Tone(500.0, 44100, 44100);
    const std::vector<std::int16_t> out = Decode(test::MakeWav(in, 44100));
    const double used = static_cast<double>((in.size() * 2 / 512) * 256);
    EXPECT_NEAR(static_cast<double>(out.size()), used / 4.0, 2.0);
    // The tone is present right up to the end.
    const std::vector<std::int16_t> last(out.end() - 200, out.end() - 20);
    EXPECT_GT(test::Rms(last, 0), 4000.0);
}

}  // namespace
}  // namespace orvane::audio

namespace orvane::audio {
namespace {

// The same file in the extensible form: a 40-byte "fmt " with tag 0xFFFE and a sub-format.
std::string AsExtensible(const std::string& plain, bool pcm) {
    std::string fmt = plain.substr(20, 16);
    fmt[0] = static_cast<char>(0xFE);
    fmt[1] = static_cast<char>(0xFF);
    std::string ext = fmt;
    ext += std::string("\x16\x00", 2);  // 22 more bytes
    ext += plain.substr(34, 2);         // valid bits = container bits
    ext += std::string("\x00\x00\x00\x00", 4);
    const char pcmGuid[] = "\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71";
    const char floatGuid[] = "\x03\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71";
    ext += std::string(pcm ? pcmGuid : floatGuid, 16);
    std::string out = "RIFF" + std::string(4, '\0') + "WAVEfmt " + Le32(40) + ext + plain.substr(36);
    Put32(out, 4, static_cast<std::uint32_t>(out.size() - 8));
    return out;
}

TEST_F(TWavReaderTest, ReadsExtensiblePcmLikePlainPcmAndRefusesOtherSubFormats) {
    const TSamples a = test::Music(3, 20000);
    const TSamples b = test::Music(4, 20000);
    for (int bits : {16, 24, 32}) {
        const std::string plain = test::MakeWav(test::Interleave({a, b, a}), 44100, 3, bits);
        EXPECT_EQ(Decode(AsExtensible(plain, true)), Decode(plain)) << bits;
        EXPECT_THROW(Decode(AsExtensible(plain, false)), EOpenWAV) << bits;
    }
}

}  // namespace
}  // namespace orvane::audio
