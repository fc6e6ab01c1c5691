#include "fingerprint/FptFile.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace orvane::fingerprint {
namespace {

using TBytes = std::vector<std::uint8_t>;

TRefPtr<TSongServer> SongOf(const std::vector<std::uint32_t>& keys) {
    auto song = MakeRef<TSongServer>();
    song->Add(keys.data(), static_cast<std::int32_t>(keys.size()));
    return song;
}

std::string ErrorOf(const std::string& fileName) {
    try {
        ReadFingerprintFile(fileName);
    } catch (const EError& e) {
        return e.what();
    }
    return "<accepted>";
}

TEST(FptFile, KeyDeltasStoreEachKeyXorItsPredecessor) {
    auto song = SongOf({5, 6, 6});
    song->serialize();
    EncodeKeyDeltas(*song);
    EXPECT_EQ(song->CopyKeys(), (std::vector<std::uint32_t>{5, 3, 0}));
    DecodeKeyDeltas(*song);
    EXPECT_EQ(song->CopyKeys(), (std::vector<std::uint32_t>{5, 6, 6}));
}

TEST(FptFile, KeyDeltasLeaveRecordsOfZeroOrOneKeyAlone) {
    for (const auto& keys :
         {std::vector<std::uint32_t>{}, std::vector<std::uint32_t>{0xDEADBEEF}}) {
        auto song = SongOf(keys);
        song->serialize();
        EncodeKeyDeltas(*song);
        EXPECT_EQ(song->CopyKeys(), keys);
        DecodeKeyDeltas(*song);
        EXPECT_EQ(song->CopyKeys(), keys);
    }
}

TEST(FptFile, KeyDeltasRefuseAGrowingContainer) {
    auto song = SongOf({1, 2});
    EXPECT_THROW(EncodeKeyDeltas(*song), EInvalidOperation);
}

TEST(FptFile, WrittenFileHoldsTheRecordWithBomTitleZeroFieldsAndDeltaKeys) {
    test::TTempDir dir;
    const std::string name = dir.File("Hi.qnf");
    auto song = SongOf({5, 6, 6});
    song->SongFile()->Options = 1;
    WriteFingerprintFile(*song, "Hi", name);

    TBytes expected(132 + 12, 0);
    const std::uint8_t title[] = {5, 0xEF, 0xBB, 0xBF, 'H', 'i'};
    std::memcpy(expected.data(), title, sizeof(title));
    expected[128] = 3;  // Length
    expected[132] = 5;  // 5
    expected[136] = 3;  // 6 xor 5
    // 6 xor 6 = 0, Options 0, everything unset 0.
    EXPECT_EQ(UnpackFromFile(name), expected);

    auto back = ReadFingerprintFile(name);
    EXPECT_EQ(back->CopyKeys(), (std::vector<std::uint32_t>{5, 6, 6}));
    EXPECT_EQ(TitleOf(*back->SongFile()), "Hi");
    EXPECT_TRUE(back->IsAligned());
}

TEST(FptFile, AFingerprintWithoutKeysIsWrittenAndReadBack) {
    test::TTempDir dir;
    const std::string name = dir.File("empty.qnf");
    auto song = MakeRef<TSongServer>();
    WriteFingerprintFile(*song, "", name);
    EXPECT_EQ(UnpackFromFile(name).size(), 132u);
    auto back = ReadFingerprintFile(name);
    EXPECT_EQ(back->Length(), 0);
    EXPECT_EQ(TitleOf(*back->SongFile()), "");
}

TEST(FptFile, ManyBlocksOfKeysRoundTripThroughAFile) {
    test::TTempDir dir;
    const std::string name = dir.File("long.qnf");
    std::mt19937 random(3);
    std::vector<std::uint32_t> keys(51679);
    std::uint32_t key = 0x12345678;
    for (auto& k : keys) {
        key ^= 1u << (random() % 32);  // neighbouring keys differ in a few bits
        k = key;
    }
    auto song = SongOf(keys);
    song->SongFile()->Source = 9;
    song->SongFile()->FirstChunk = 1;
    WriteFingerprintFile(*song, "Long one", name);
    auto back = ReadFingerprintFile(name);
    EXPECT_EQ(back->CopyKeys(), keys);
    EXPECT_EQ(back->SongFile()->Source, 9);
    EXPECT_EQ(back->SongFile()->FirstChunk, 1);
}

TEST(FptFile, ALongTitleIsCutToExactly108StoredBytesIncludingTheMark) {
    test::TTempDir dir;
    const std::string name = dir.File("t.qnf");
    std::string title;
    for (int i = 0; i < 60; ++i) title += "\xC3\xA9";  // é, 120 bytes
    auto song = SongOf({1});
    WriteFingerprintFile(*song, title, name);
    const TBytes payload = UnpackFromFile(name);
    EXPECT_EQ(payload[0], 108);
    EXPECT_EQ(payload[1], 0xEF);
    EXPECT_EQ(payload[108], 0xC3);  // the cut splits the 53rd character
    std::string expected;
    for (int i = 0; i < 52; ++i) expected += "\xC3\xA9";
    expected += "\xEF\xBF\xBD";  // the split character shows as U+FFFD
    EXPECT_EQ(TitleOf(*ReadFingerprintFile(name)->SongFile()), expected);
}

TEST(FptFile, TitlesWithoutTheMarkAreReadAsWindows1252) {
    EXPECT_EQ(DecodeTitle("Caf\xE9 \x80"), "Caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(DecodeTitle("\xEF\xBB"), "\xC3\xAF\xC2\xBB");  // too short for a mark
    EXPECT_EQ(DecodeTitle("\xEF\xBB\xBF"
                          "Caf\xC3\xA9"),
              "Caf\xC3\xA9");
    EXPECT_EQ(EncodeTitle("Caf\xC3\xA9"),
              "\xEF\xBB\xBF"
              "Caf\xC3\xA9");

    test::TTempDir dir;
    const std::string name = dir.File("old.qnf");
    TBytes payload(132, 0);
    const char old[] = "Caf\xE9";
    payload[0] = 4;
    std::memcpy(payload.data() + 1, old, 4);
    payload[125] = 1;  // Options: cleared on load
    PackToFile(payload.data(), payload.size(), name);
    auto back = ReadFingerprintFile(name);
    EXPECT_EQ(TitleOf(*back->SongFile()), "Caf\xC3\xA9");
    EXPECT_EQ(back->SongFile()->Options, 0);
}

TEST(FptFile, SafeFileNamesReplaceTheNineForbiddenCharacters) {
    EXPECT_EQ(MakeSafeFileName("Rock/Pop: Live?"), "Rock_Pop_ Live_");
    EXPECT_EQ(MakeSafeFileName("a\"b*c/d:e<f>g?h\\i|j"), "a_b_c_d_e_f_g_h_i_j");
    EXPECT_EQ(MakeSafeFileName("Caf\xC3\xA9 (live) & more."), "Caf\xC3\xA9 (live) & more.");
    EXPECT_EQ(FingerprintFileName("/music/fp/", "Rock/Pop: Live?"),
              "/music/fp/Rock_Pop_ Live_.qnf");
}

TEST(FptFile, ARecordWhoseLengthDoesNotMatchItsSizeIsRefused) {
    test::TTempDir dir;
    struct TCase {
        const char* Name;
        std::int32_t Length;
        std::size_t Size;
    };
    const TCase cases[] = {
        {"one key more", 4, 132 + 12},      {"one key less", 2, 132 + 12},
        {"wraps in 32 bits", 1 << 30, 132}, {"negative", -1, 132},
        {"shorter than a header", 0, 100},
    };
    for (const TCase& c : cases) {
        const std::string name = dir.File("bad.qnf");
        TBytes payload(c.Size, 0);
        if (c.Size >= 132) std::memcpy(payload.data() + 128, &c.Length, 4);
        PackToFile(payload.data(), payload.size(), name);
        EXPECT_EQ(ErrorOf(name), "Wrong header in fingerprint.") << c.Name;
    }
}

TEST(FptFile, FilesThatAreNotFingerprintsAreRefused) {
    test::TTempDir dir;
    EXPECT_EQ(ErrorOf(dir.File("none.qnf")), "Invalid Filename");
    const std::string text = dir.File("text.qnf");
    test::WriteBytes(text, "this is not a packed fingerprint file at all");
    EXPECT_THROW(ReadFingerprintFile(text), EPackedFormat);
}

TEST(FptFile, RewritingWithAShorterTitleLeavesNoOldTitleBytes) {
    auto song = SongOf({1, 2});
    test::TTempDir dir;
    WriteFingerprintFile(*song, "A much longer first title", dir.File("a.qnf"));
    auto back = ReadFingerprintFile(dir.File("a.qnf"));
    WriteFingerprintFile(*back, "B", dir.File("b.qnf"));
    const TBytes payload = UnpackFromFile(dir.File("b.qnf"));
    EXPECT_EQ(payload[0], 4);
    for (std::size_t i = 5; i < 109; ++i) EXPECT_EQ(payload[i], 0) << "byte " << i;
}

}  // namespace
}  // namespace orvane::fingerprint
