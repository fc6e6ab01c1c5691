#include "fingerprint/Huff.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/RegularFile.h"
#include "support/TempDir.h"

namespace orvane::fingerprint {
namespace {

using TBytes = std::vector<std::uint8_t>;

TBytes BytesOf(std::string_view s) { return TBytes(s.begin(), s.end()); }

std::ptrdiff_t EntriesIn(const std::filesystem::path& folder) {
    return std::distance(std::filesystem::directory_iterator(folder),
                         std::filesystem::directory_iterator{});
}

TBytes PackBytes(const TBytes& data) { return Pack(data.data(), data.size()); }

TBytes UnpackBytes(const TBytes& image) { return Unpack(image.data(), image.size()); }

void FixChecksum(TBytes& image) {
    const std::uint32_t sum = PackedChecksum(image.data(), image.size());
    std::memcpy(image.data() + 24, &sum, 4);
}

// A packed image put together by hand: the header, the given valid-bits byte, T (the table's
// size unless given), table and stream, with a correct checksum.
TBytes Image(std::uint8_t validBits, const TBytes& table, const TBytes& stream,
             std::int64_t tableLength = -1) {
    // Signature, 0, version 2.0f (00 00 00 40), then zeros up to the checksum and through it.
    TBytes image = BytesOf(std::string_view("FINGERPRINT\0\0\0\0\x40", 16));
    image.resize(28, 0);
    image.push_back(validBits);
    const auto t = static_cast<std::uint32_t>(
        tableLength < 0 ? static_cast<std::int64_t>(table.size()) : tableLength);
    for (int i = 0; i < 4; ++i) image.push_back(static_cast<std::uint8_t>(t >> (8 * i)));
    image.insert(image.end(), table.begin(), table.end());
    image.insert(image.end(), stream.begin(), stream.end());
    FixChecksum(image);
    return image;
}

std::string ErrorOf(const TBytes& image) {
    try {
        UnpackBytes(image);
    } catch (const EError& e) {
        return e.what();
    }
    return "<accepted>";
}

void SetVersion(TBytes& image, float version) {
    std::memcpy(image.data() + 12, &version, 4);
    FixChecksum(image);
}

// "abaca": a = 0x61 three times, b and c once.
//   Tree: the lightest unused nodes are b (98) and c (99), weight 1 each; on the tie the lower
//   number b is picked first -> node 256 = (left b, right c), weight 2. Next node 256 (2) and
//   a (3) -> node 257 = (left 256, right a), weight 5; then only 257 is left, so it is the root.
//   Codes: a = 1, b = 00, c = 01.
//   Table (increasing value): 61 01 80 | 62 02 00 | 63 02 40, T = 9.
//   Stream: a b a c a = 1 00 1 01 1 = 1001011, left-aligned 1001 0110 = 96, 7 valid bits.
//   Image: 33 + 9 + 1 = 43 bytes. Checksum over the 10 words at 0 ... 39 (the tail 02 40 96 is
//   left out, the checksum word is 0):
//     474E4946 + 52505245 + 00544E49 + 40000000 + 0 + 0 + 0 + 00000907 + 80016100 + 63000262
//     = BCF4563D (mod 2^32), stored little-endian 3D 56 F4 BC.
TEST(Huff, PacksASmallBlockToTheBytesDerivedByHand) {
    const TBytes expected = {
        0x46, 0x49, 0x4E, 0x47, 0x45, 0x52, 0x50, 0x52, 0x49, 0x4E, 0x54,  // FINGERPRINT
        0x00,                                                              //
        0x00, 0x00, 0x00, 0x40,                                            // 2.0f
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,                    //
        0x3D, 0x56, 0xF4, 0xBC,                                            // checksum
        0x07,                                                              // valid bits
        0x09, 0x00, 0x00, 0x00,                                            // T
        0x61, 0x01, 0x80, 0x62, 0x02, 0x00, 0x63, 0x02, 0x40,              // table
        0x96,                                                              // stream
    };
    EXPECT_EQ(PackBytes(BytesOf("abaca")), expected);
    EXPECT_EQ(UnpackBytes(expected), BytesOf("abaca"));
}

TEST(Huff, AllByteValuesWithEqualCountsGetEightBitCodesInA768ByteTable) {
    TBytes data;
    for (int round = 0; round < 3; ++round) {
        for (int v = 0; v < 256; ++v) data.push_back(static_cast<std::uint8_t>(v));
    }
    const TBytes image = PackBytes(data);
    std::int32_t t = 0;
    std::memcpy(&t, image.data() + 29, 4);
    ASSERT_EQ(t, 768);
    // Pairing neighbours level by level makes each value's code its own binary digits.
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(image[33 + 3 * v], v);
        EXPECT_EQ(image[33 + 3 * v + 1], 8);
        EXPECT_EQ(image[33 + 3 * v + 2], v);
    }
    EXPECT_EQ(image[28], 0);
    EXPECT_EQ(image.size(), 33u + 768u + data.size());
    EXPECT_EQ(UnpackBytes(image), data);
}

TEST(Huff, TwoValuesGetTheOneBitCodesZeroForTheRarerAndOneForTheOther) {
    // 0x20 is the rarer one: code 0; 0x10 code 1. Stream 1 0 1 1 -> B0, 4 valid bits.
    EXPECT_EQ(PackBytes({0x10, 0x20, 0x10, 0x10}),
              Image(4, {0x10, 0x01, 0x80, 0x20, 0x01, 0x00}, {0xB0}));
    // Equal counts: the lower value gets 0.
    EXPECT_EQ(PackBytes({0x20, 0x10}), Image(2, {0x10, 0x01, 0x00, 0x20, 0x01, 0x80}, {0x80}));
}

TEST(Huff, AStreamThatFillsItsLastByteStoresZeroValidBits) {
    const TBytes data = {1, 2, 2, 1, 1, 1, 2, 2};  // codes 1 = 0, 2 = 1: 0110 0011
    const TBytes image = PackBytes(data);
    EXPECT_EQ(image, Image(0, {0x01, 0x01, 0x00, 0x02, 0x01, 0x80}, {0x63}));
    EXPECT_EQ(UnpackBytes(image), data);
}

TEST(Huff, ASingleValueGetsTheOneBitCodeZero) {
    EXPECT_EQ(PackBytes(BytesOf("aaa")), Image(3, {0x61, 0x01, 0x00}, {0x00}));
    EXPECT_EQ(UnpackBytes(PackBytes(BytesOf("aaa"))), BytesOf("aaa"));
    const TBytes eight(8, 0xFF);
    EXPECT_EQ(PackBytes(eight), Image(0, {0xFF, 0x01, 0x00}, {0x00}));
    EXPECT_EQ(UnpackBytes(PackBytes(eight)), eight);
}

TEST(Huff, EmptyDataPacksToAnEmptyTableAndNoStream) {
    const TBytes image = Pack(nullptr, 0);
    EXPECT_EQ(image, Image(0, {}, {}));
    EXPECT_EQ(image.size(), 33u);
    EXPECT_TRUE(UnpackBytes(image).empty());
}

TEST(Huff, RandomDataOfManySizesAndSkewsRoundTrips) {
    std::mt19937 random(12345);
    for (std::size_t size :
         {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 31u, 100u, 1000u, 4099u, 65536u, 200001u}) {
        for (int skew : {0, 1, 3, 8}) {
            TBytes data(size);
            for (auto& b : data) {
                std::uint32_t v = random();
                // More skew: more leading zero bits, so a few values dominate and codes grow long.
                for (int i = 0; i < skew; ++i) v &= random();
                b = static_cast<std::uint8_t>(v);
            }
            EXPECT_EQ(UnpackBytes(PackBytes(data)), data) << "size " << size << " skew " << skew;
        }
    }
}

TEST(Huff, FibonacciCountsGiveLongCodesThatStillRoundTrip) {
    // Counts 1, 1, 2, 3, 5, ... make a chain: the rarest values get codes of 25+ bits, longer
    // than the decoder's lookup window.
    TBytes data;
    std::uint32_t a = 1, b = 1;
    for (int v = 0; v < 26; ++v) {
        data.insert(data.end(), a, static_cast<std::uint8_t>(v));
        const std::uint32_t next = a + b;
        a = b;
        b = next;
    }
    std::shuffle(data.begin(), data.end(), std::mt19937(7));
    const TBytes image = PackBytes(data);
    EXPECT_EQ(image[33 + 1], 25);  // value 0: the longest code
    EXPECT_EQ(UnpackBytes(image), data);
}

TEST(Huff, AnySingleByteChangeOutsideTheChecksumAndTheTailIsRefused) {
    const TBytes data = BytesOf("the quick brown fox jumps over the lazy dog");
    const TBytes image = PackBytes(data);
    const std::size_t covered = image.size() / 4 * 4;
    for (std::size_t i = 0; i < covered; ++i) {
        if (i >= 24 && i < 28) continue;
        for (std::uint8_t flip : {0x01, 0x80, 0xFF}) {
            TBytes changed = image;
            changed[i] ^= flip;
            const std::string error = ErrorOf(changed);
            if (i <= 10) {
                EXPECT_EQ(error, "Not a packed fingerprint file.") << "offset " << i;
            } else if (i >= 12 && i < 16 && error == "Version not supported.") {
                continue;
            } else {
                EXPECT_EQ(error, "Checksum mismatch.") << "offset " << i;
            }
        }
    }
}

TEST(Huff, OlderAndSlightlyHigherVersionsAreAcceptedButNewerOnesAreNot) {
    TBytes image = PackBytes(BytesOf("abaca"));
    for (float accepted : {2.04f, 2.05f, 1.0f, 2.0f, 0.0f, -3.0f}) {
        SetVersion(image, accepted);
        EXPECT_EQ(UnpackBytes(image), BytesOf("abaca")) << accepted;
    }
    for (float refused : {2.1f, 2.06f, 3.0f, 1e30f, std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::quiet_NaN()}) {
        SetVersion(image, refused);
        EXPECT_EQ(ErrorOf(image), "Version not supported.") << refused;
    }
}

TEST(Huff, BrokenImagesAreRefusedWithAClearError) {
    const TBytes good = {0x61, 0x02, 0x00, 0x62, 0x02, 0x40, 0x63, 0x01, 0x80};  // 00 01 1
    struct TCase {
        const char* Name;
        TBytes Image;
        const char* Error;
    };
    TBytes shortFile = Image(0, {}, {});
    shortFile.pop_back();
    TBytes bigTable(1493, 0);
    const TCase cases[] = {
        {"shorter than the header", shortFile, "Packed file too short."},
        {"nothing", {}, "Packed file too short."},
        {"valid bits over 7", Image(8, good, {0x00}), "Invalid count of valid bits."},
        {"negative table length", Image(0, good, {0x00}, 0xFFFFFFFF), "Invalid code table length."},
        {"table beyond the file", Image(0, good, {0x00}, 11), "Invalid code table length."},
        {"table over 1492 bytes", Image(0, bigTable, {}), "Invalid code table length."},
        {"entry of one byte", Image(0, {0x61}, {}), "Code table entry runs past the table."},
        {"code bytes past the table", Image(0, {0x61, 0x09, 0x00}, {}),
         "Code table entry runs past the table."},
        {"code length 0", Image(0, {0x61, 0x00, 0x62, 0x01, 0x00}, {}),
         "Code table holds a code of length 0."},
        {"duplicate value", Image(0, {0x61, 0x01, 0x00, 0x61, 0x01, 0x80}, {}),
         "Code table values are not in increasing order."},
        {"decreasing value", Image(0, {0x62, 0x01, 0x00, 0x61, 0x01, 0x80}, {}),
         "Code table values are not in increasing order."},
        {"earlier code is a prefix", Image(0, {0x61, 0x01, 0x00, 0x62, 0x02, 0x00}, {}),
         "Code table holds a code that is the prefix of another."},
        {"later code is a prefix", Image(0, {0x61, 0x02, 0x00, 0x62, 0x01, 0x00}, {}),
         "Code table holds a code that is the prefix of another."},
        {"equal codes", Image(0, {0x61, 0x01, 0x80, 0x62, 0x01, 0x80}, {}),
         "Code table holds a code that is the prefix of another."},
        {"bit path to no node", Image(2, {0x61, 0x01, 0x00}, {0x40}),
         "Code stream holds a code that is not in the table."},
        {"long path to no node", Image(0, {0x61, 0x0C, 0x00, 0x00}, {0x00, 0x08}),
         "Code stream holds a code that is not in the table."},
        {"stream but no table", Image(1, {}, {0x00}),
         "Code stream holds a code that is not in the table."},
        {"stream ends inside a code", Image(1, good, {0x00}), "Code stream ends inside a code."},
        {"stream ends inside a later code", Image(3, good, {0x00}),
         "Code stream ends inside a code."},
        {"stream ends inside a long code", Image(0, {0x61, 0x0C, 0x00, 0x00}, {0x00}),
         "Code stream ends inside a code."},
        {"valid bits but no stream", Image(3, good, {}), "Code stream missing."},
    };
    for (const TCase& c : cases) EXPECT_EQ(ErrorOf(c.Image), c.Error) << c.Name;
    EXPECT_EQ(UnpackBytes(Image(5, good, {0x18})), BytesOf("abc"));  // 00 01 1 = 00011(000)
}

TEST(Huff, TruncatedImagesAreRefused) {
    std::mt19937 random(99);
    TBytes data(3000);
    for (auto& b : data) b = static_cast<std::uint8_t>(random() & random() & 0x3F);
    const TBytes image = PackBytes(data);
    for (std::size_t cut = 0; cut < image.size(); ++cut) {
        const TBytes truncated(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_THROW(UnpackBytes(truncated), EError) << "cut at " << cut;
    }
}

TEST(Huff, ChangedImagesWithAFixedChecksumNeverReadOutOfBounds) {
    std::mt19937 random(5);
    TBytes data(2000);
    for (auto& b : data) b = static_cast<std::uint8_t>(random() & random());
    const TBytes image = PackBytes(data);
    int refused = 0;
    for (std::size_t i = 28; i < image.size(); ++i) {
        for (std::uint8_t flip : {0x01, 0x10, 0x80, 0xFF}) {
            TBytes changed = image;
            changed[i] ^= flip;
            FixChecksum(changed);
            try {
                const TBytes out = UnpackBytes(changed);
                EXPECT_LE(out.size(), 8 * changed.size());
            } catch (const EPackedFormat&) {
                ++refused;
            }
        }
    }
    EXPECT_GT(refused, 0);
}

TEST(Huff, PackToFileWritesTheImageAndLeavesNoTemporaryFile) {
    test::TTempDir dir;
    const std::string name = dir.File("song.qnf");
    const TBytes data = BytesOf("abaca");
    test::WriteBytes(name, "old contents that are longer than the new ones");
    PackToFile(data.data(), data.size(), name);
    const std::string written = test::ReadBytes(name);
    EXPECT_EQ(TBytes(written.begin(), written.end()), PackBytes(data));
    EXPECT_EQ(UnpackFromFile(name), data);
    EXPECT_EQ(EntriesIn(dir.Path()), 1);
}

TEST(Huff, PackToFileIntoAMissingFolderThrowsAFileErrorWithErrno) {
    test::TTempDir dir;
    const TBytes data = BytesOf("abc");
    try {
        PackToFile(data.data(), data.size(), dir.File("missing/song.qnf"));
        FAIL() << "no exception";
    } catch (const EFileError& e) {
        EXPECT_EQ(e.ErrorCode, ENOENT);
    }
}

TEST(Huff, PackToFileOntoAFolderRemovesItsTemporaryFile) {
    test::TTempDir dir;
    std::filesystem::create_directory(dir.Path() / "taken.qnf");
    std::filesystem::create_directory(dir.Path() / "taken.qnf" / "inside");
    const TBytes data = BytesOf("abc");
    EXPECT_THROW(PackToFile(data.data(), data.size(), dir.File("taken.qnf")), EFileError);
    EXPECT_EQ(EntriesIn(dir.Path()), 1);
}

TEST(Huff, UnpackFromFileOfAMissingFileIsAnInvalidFilename) {
    test::TTempDir dir;
    try {
        UnpackFromFile(dir.File("nothing.qnf"));
        FAIL() << "no exception";
    } catch (const EFileError&) {
        FAIL() << "a missing file is not a read error";
    } catch (const EError& e) {
        EXPECT_STREQ(e.what(), "Invalid Filename");
    }
}

TEST(Huff, PackToFileWritesANameOfTheLongestLengthAndLeavesNothingElse) {
    test::TTempDir dir;
    const std::string name = dir.File(std::string(251, 'x') + ".qnf");  // 255 bytes
    const TBytes data = BytesOf("abcabc");
    PackToFile(data.data(), data.size(), name);
    PackToFile(data.data(), data.size(), name);
    EXPECT_EQ(UnpackFromFile(name), data);
    EXPECT_EQ(EntriesIn(dir.Path()), 1);
}

TEST(Huff, UnpackFromFileOfAFolderOrFifoRefusesItByKind) {
    test::TTempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("fifo.qnf").c_str(), 0600), 0);
    for (const std::string& name : {dir.Path().string(), dir.File("fifo.qnf")}) {
        try {
            UnpackFromFile(name);  // a FIFO would block a plain open for good
            ADD_FAILURE() << "no exception for " << name;
        } catch (const ENotRegularFile& e) {
            EXPECT_NE(std::string(e.what()).find("is not a regular file"), std::string::npos);
        }
    }
}

TEST(Huff, DataLargerThanTheLimitIsRefusedInMemoryAndInAFile) {
    const TBytes data(5000, 0x41);  // one-bit codes: a 625-byte stream
    const TBytes image = Pack(data.data(), data.size());
    EXPECT_EQ(Unpack(image.data(), image.size(), 5000), data);
    EXPECT_THROW(Unpack(image.data(), image.size(), 4999), EPackedFormat);
    test::TTempDir dir;
    const std::string name = dir.File("a.qnf");
    PackToFile(data.data(), data.size(), name);
    EXPECT_EQ(UnpackFromFile(name, 5000), data);
    EXPECT_THROW(UnpackFromFile(name, 4999), EPackedFormat);
}

TEST(Huff, AFileLargerThanTheLargestFingerprintFileIsRefusedUnread) {
    test::TTempDir dir;
    const std::string name = dir.File("huge.qnf");
    test::WriteBytes(name, "");
    ASSERT_EQ(::truncate(name.c_str(), static_cast<off_t>(MaxPackedSizeFor(MaxUnpackedSize) + 1)), 0);
    try {
        UnpackFromFile(name);
        FAIL() << "no exception";
    } catch (const EPackedFormat& e) {
        EXPECT_STREQ(e.what(), "The file is larger than the largest fingerprint file.");
    }
}

}  // namespace
}  // namespace orvane::fingerprint
