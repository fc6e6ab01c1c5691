#include "audio/Mp3Probe.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace orvane::audio {
namespace {

// Header bytes: version bits (3 MPEG 1, 2 MPEG 2, 0 MPEG 2.5, 1 reserved), layer bits (1 III,
// 2 II, 3 I, 0 reserved), bitrate index, sample rate index, padding, channel mode.
std::string Header(int version, int layer, int bitrate, int rate, int padding, int mode) {
    std::string h(4, '\0');
    h[0] = static_cast<char>(0xFF);
    h[1] = static_cast<char>(0xE0 | (version << 3) | (layer << 1) | 1);
    h[2] = static_cast<char>((bitrate << 4) | (rate << 2) | (padding << 1));
    h[3] = static_cast<char>(mode << 6);
    return h;
}

const std::uint8_t* Bytes(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

// `count` frames of the given header, each padded with zeros to its length.
std::string Frames(const std::string& header, int count) {
    const auto info = DecodeMp3Header(Bytes(header));
    std::string frame = header;
    frame.resize(info ? info->FrameLength : 4, '\0');
    std::string out;
    for (int i = 0; i < count; ++i) out += frame;
    return out;
}

std::string Id3v2(std::uint32_t size, bool footer) {
    std::string tag = "ID3";
    tag += '\x04';
    tag += '\0';
    tag += static_cast<char>(footer ? 0x10 : 0x00);
    for (int shift : {21, 14, 7, 0}) tag += static_cast<char>((size >> shift) & 0x7F);
    // Tag contents: bytes that look like frame syncs must not be taken for audio.
    for (std::uint32_t i = 0; i < size; ++i) tag += static_cast<char>(i % 2 == 0 ? 0xFF : 0xFB);
    if (footer) tag += std::string("3DI\x04\0\x10", 6) + tag.substr(6, 4);
    return tag;
}

std::optional<TMp3FrameInfo> ProbeBytes(const std::string& bytes) {
    test::TTempDir dir;
    const std::string path = dir.File("probe.mp3");
    test::WriteBytes(path, bytes);
    TAudioFile file(path);
    return ProbeMp3(file);
}

TEST(DecodeMp3Header, DecodesVersionsLayersRatesAndFrameLengths) {
    struct TCase {
        int version, layer, bitrate, rate, padding, mode;
        int expVersion, expLayer;
        std::uint32_t expBitrate, expRate, expLength;
    };
    const TCase cases[] = {
        {3, 1, 9, 0, 0, 1, 1, 3, 128000, 44100, 417},  // 144 * 128000 / 44100
        {3, 1, 9, 0, 1, 1, 1, 3, 128000, 44100, 418},
        {3, 1, 14, 1, 0, 0, 1, 3, 320000, 48000, 960},
        {3, 1, 1, 2, 0, 3, 1, 3, 32000, 32000, 144},
        {2, 1, 4, 0, 0, 3, 2, 3, 32000, 22050, 104},  // 72 * 32000 / 22050
        {2, 1, 14, 1, 1, 0, 2, 3, 160000, 24000, 481},
        {0, 1, 1, 2, 0, 3, 25, 3, 8000, 8000, 72},
        {0, 1, 8, 0, 0, 3, 25, 3, 64000, 11025, 417},
        {3, 2, 8, 0, 0, 0, 1, 2, 128000, 44100, 417},  // layer II: 144 in every version
        {2, 2, 8, 1, 0, 0, 2, 2, 64000, 24000, 384},
        {3, 3, 1, 0, 0, 0, 1, 1, 32000, 44100, 32},  // layer I: 4 * (12 * 32000 / 44100)
        {3, 3, 14, 1, 1, 0, 1, 1, 448000, 48000, 452},
        {2, 3, 14, 2, 0, 0, 2, 1, 256000, 16000, 768},
    };
    for (const TCase& c : cases) {
        const std::string h = Header(c.version, c.layer, c.bitrate, c.rate, c.padding, c.mode);
        const auto info = DecodeMp3Header(Bytes(h));
        ASSERT_TRUE(info.has_value()) << c.version << c.layer << c.bitrate;
        EXPECT_EQ(info->Version, c.expVersion);
        EXPECT_EQ(info->Layer, c.expLayer);
        EXPECT_EQ(info->Bitrate, c.expBitrate);
        EXPECT_EQ(info->SampleRate, c.expRate);
        EXPECT_EQ(info->FrameLength, c.expLength) << c.version << c.layer << c.bitrate;
        EXPECT_EQ(info->Mono(), c.mode == 3);
    }
}

TEST(DecodeMp3Header, RejectsReservedValuesFreeFormatAndForbiddenLayerIICombinations) {
    struct TCase {
        int version, layer, bitrate, rate, mode;
        bool accepted;
    };
    const TCase cases[] = {
        {1, 1, 9, 0, 0, false},   // reserved version
        {3, 0, 9, 0, 0, false},   // reserved layer
        {3, 1, 9, 3, 0, false},   // reserved sample rate
        {3, 1, 15, 0, 0, false},  // bad bitrate
        {3, 1, 0, 0, 0, false},   // free format: no length to check the next header with
        {3, 2, 1, 0, 0, false},   // MPEG 1 layer II 32 kbit/s stereo
        {3, 2, 2, 0, 1, false},   // 48 kbit/s joint stereo
        {3, 2, 3, 0, 2, false},   // 56 kbit/s dual channel
        {3, 2, 5, 0, 0, false},   // 80 kbit/s stereo
        {3, 2, 1, 0, 3, true},    // 32 kbit/s mono
        {3, 2, 5, 0, 3, true},   {3, 2, 11, 0, 3, false},  // 224 kbit/s mono
        {3, 2, 12, 0, 3, false}, {3, 2, 13, 0, 3, false},
        {3, 2, 14, 0, 3, false},                          // 384 kbit/s mono
        {3, 2, 14, 0, 0, true},  {3, 2, 10, 0, 3, true},  // 192 kbit/s mono
        {2, 2, 4, 0, 0, true},  // MPEG 2 layer II has no such restrictions
        {3, 1, 1, 0, 0, true},  // layer III 32 kbit/s stereo is fine
    };
    for (const TCase& c : cases) {
        const std::string h = Header(c.version, c.layer, c.bitrate, c.rate, 0, c.mode);
        EXPECT_EQ(DecodeMp3Header(Bytes(h)).has_value(), c.accepted)
            << c.version << " " << c.layer << " " << c.bitrate << " " << c.rate << " " << c.mode;
    }
    EXPECT_FALSE(DecodeMp3Header(Bytes(std::string("\xFF\xD0\x90\x00", 4))).has_value());
}

TEST(Id3v2TagSize, CountsHeaderSizeAndFooter) {
    EXPECT_EQ(Id3v2TagSize(Bytes(Id3v2(0, false)), 10), 10u);
    EXPECT_EQ(Id3v2TagSize(Bytes(Id3v2(300, false)), 10), 310u);
    EXPECT_EQ(Id3v2TagSize(Bytes(Id3v2(300, true)), 10), 320u);
    // Size bytes are 7-bit: 0x7F 0x7F 0x7F 0x7F.
    const std::string big("ID3\x04\x00\x00\x7F\x7F\x7F\x7F", 10);
    EXPECT_EQ(Id3v2TagSize(Bytes(big), 10), 10u + 0x0FFFFFFFu);
    EXPECT_EQ(Id3v2TagSize(Bytes(big), 9), 0u);
    EXPECT_EQ(Id3v2TagSize(Bytes(std::string("ID4\x04\0\0\0\0\0\0", 10)), 10), 0u);
}

TEST(ProbeMp3, FindsTheFirstFrameOfAPlainStream) {
    const std::string h = Header(3, 1, 9, 0, 0, 3);
    const auto info = ProbeBytes(Frames(h, 5));
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->Offset, 0u);
    EXPECT_EQ(info->SampleRate, 44100u);
    EXPECT_TRUE(info->Mono());
}

TEST(ProbeMp3, SkipsID3v2TagsWithAndWithoutFooterAndLongerThanTheProbeBuffer) {
    const std::string frames = Frames(Header(3, 1, 9, 1, 0, 0), 4);
    for (std::uint32_t size : {0u, 100u, 5990u, 6500u, 20000u}) {
        for (bool footer : {false, true}) {
            const std::string tag = Id3v2(size, footer);
            const auto info = ProbeBytes(tag + frames);
            ASSERT_TRUE(info.has_value()) << size << footer;
            EXPECT_EQ(info->Offset, tag.size()) << size << footer;
            EXPECT_EQ(info->SampleRate, 48000u);
        }
    }
}

TEST(ProbeMp3, SkipsGarbageAndFalseSyncsBeforeTheFirstFrame) {
    const std::string frames = Frames(Header(2, 1, 8, 0, 0, 1), 3);
    // A lone sync whose successor is not where its length says, a reserved header, and a
    // free-format header (whose successor check would test the header against itself).
    std::string garbage = "junk" + Header(3, 1, 9, 0, 0, 0) + "xxxx" + Header(1, 1, 9, 0, 0, 0) +
                          Header(3, 1, 0, 0, 0, 0) + std::string(50, '\x00');
    const auto info = ProbeBytes(garbage + frames);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->Offset, garbage.size());
    EXPECT_EQ(info->Version, 2);
    EXPECT_EQ(info->SampleRate, 22050u);
}

TEST(ProbeMp3, ReadsTheFollowingHeaderFromBeyondTheProbeBuffer) {
    // One frame near the end of the 6000-byte buffer whose successor lies beyond it.
    const std::string h = Header(3, 1, 14, 2, 0, 0);  // 320 kbit/s at 32 kHz: 1440 bytes
    std::string bytes(5000, '\x00');
    bytes += Frames(h, 3);
    const auto info = ProbeBytes(bytes);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->Offset, 5000u);
}

TEST(ProbeMp3, RejectsAFrameWhoseSuccessorWouldLieOutsideTheFile) {
    const std::string h = Header(3, 1, 9, 0, 0, 0);
    EXPECT_FALSE(ProbeBytes(Frames(h, 1)).has_value());
    // Two frames: the first is accepted, its successor lies inside the file.
    EXPECT_TRUE(ProbeBytes(Frames(h, 2)).has_value());
}

TEST(ProbeMp3, FindsNothingInEmptyTinyOrTagOnlyFiles) {
    for (const std::string& bytes :
         {std::string(), std::string("\xFF"), std::string("\xFF\xFB\x90"), std::string("ID3"),
          Id3v2(100, true), Id3v2(7000, false), std::string(10000, '\xFF')}) {
        EXPECT_FALSE(ProbeBytes(bytes).has_value()) << bytes.size();
    }
}

TEST(ProbeMp3, SurvivesATagWhoseSizeRunsPastTheEndOfTheFile) {
    std::string tag("ID3\x04\x00\x10\x7F\x7F\x7F\x7F", 10);
    tag += Frames(Header(3, 1, 9, 0, 0, 0), 3);
    EXPECT_FALSE(ProbeBytes(tag).has_value());
}

}  // namespace
}  // namespace orvane::audio
