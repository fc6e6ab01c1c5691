#include "snapshot/IndexSnapshot.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "database/LibraryTestKit.h"
#include "database/TMediumDBKeys.h"
#include "support/TempDir.h"

namespace orvane::snapshot {
namespace {

using database::test::TLibraryKit;
namespace fs = std::filesystem;

/// What a reload leaves that a user or the recogniser sees.
struct TLoaded {
    std::vector<std::string> Messages;  // icon and text of every activity entry
    std::vector<database::TSongRow> Rows;
    std::vector<std::string> FileOfSlot;
    std::vector<std::vector<database::TDBItem>> Partitions;  // entries sorted by their words
    bool Sorted = false;
};

TLoaded Observe(TLibraryKit& kit) {
    TLoaded loaded;
    for (const auto& entry : kit.Entries()) {
        loaded.Messages.push_back(std::to_string(static_cast<int>(entry.Icon)) + " " + entry.Str);
    }
    loaded.Rows = kit.View.Rows();
    for (std::int32_t s = 0; s < kit.Songs.SlotCount(); ++s) {
        const auto* entry = kit.Songs.Entry(s);
        loaded.FileOfSlot.push_back(entry != nullptr && kit.Songs.SongServer(s) != nullptr
                                        ? entry->Filename
                                        : std::string("-"));
    }
    for (std::int32_t p = 0; p < database::PartitionCount; ++p) {
        const auto& sub = kit.MainDB.SubDB(p);
        std::vector<database::TDBItem> items;
        std::uint32_t previous = 0;
        for (std::int32_t i = 0; i < sub.Count(); ++i) {
            items.push_back(sub.Item(i));
            EXPECT_GE(items.back().EntryKey(), previous) << "partition " << p << " unsorted";
            previous = items.back().EntryKey();
        }
        std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) {
            return a.Data1 != b.Data1 ? a.Data1 < b.Data1 : a.Data2 < b.Data2;
        });
        loaded.Partitions.push_back(std::move(items));
    }
    loaded.Sorted = kit.MainDB.Sorted();
    return loaded;
}

void ExpectSameLoad(const TLoaded& actual, const TLoaded& expected) {
    EXPECT_EQ(actual.Messages, expected.Messages);
    EXPECT_EQ(actual.Rows, expected.Rows);
    EXPECT_EQ(actual.FileOfSlot, expected.FileOfSlot);
    EXPECT_TRUE(actual.Sorted);
    EXPECT_EQ(actual.Sorted, expected.Sorted);
    for (std::size_t p = 0; p < expected.Partitions.size(); ++p) {
        ASSERT_EQ(actual.Partitions[p], expected.Partitions[p]) << "partition " << p;
    }
}

/// A kit that reloads `folder` as if it were its own fingerprint folder.
std::unique_ptr<TLibraryKit> KitOn(const std::string& folder) {
    auto kit = std::make_unique<TLibraryKit>();
    kit->Library.SetSettings(database::TLibrarySettings{folder});
    return kit;
}

/// Reloads `folder` without any cache: what every reload has to give.
TLoaded FullLoad(const std::string& folder) {
    auto kit = KitOn(folder);
    kit->Library.MenuItemLoadFingerprintsClick(nullptr);
    return Observe(*kit);
}

struct TSnapshotTest : ::testing::Test {
    orvane::test::TTempDir Library;
    orvane::test::TTempDir CacheDir;
    IndexSnapshotCache Cache{CacheDir.Folder()};

    void AddClip(const std::string& title, std::uint32_t seed, const std::string& name = {}) {
        const std::string path = name.empty()
                                     ? fingerprint::FingerprintFileName(Library.Folder(), title)
                                     : Library.File(name);
        database::test::WriteClip(path, title, database::test::ClipKeys(seed, 300 + seed % 200));
    }
    /// A reload through the cache; `savedFiles` gets the fingerprints taken from it.
    TLoaded CachedLoad(std::int64_t* savedFiles = nullptr) {
        auto kit = KitOn(Library.Folder());
        kit->Library.SetCache(&Cache);
        kit->Library.MenuItemLoadFingerprintsClick(nullptr);
        if (savedFiles != nullptr) *savedFiles = kit->Library.Phases().SavedFiles;
        return Observe(*kit);
    }
    std::string SnapshotPath() const { return SnapshotFileFor(CacheDir.Folder(), Library.Folder()); }
};

/// A folder of `clips` fingerprints, a second file of one title and a file that is no
/// fingerprint; more than 48 files take the bulk path, which reports the duplicate.
class UnchangedFolder : public TSnapshotTest, public ::testing::WithParamInterface<int> {};

TEST_P(UnchangedFolder, IsTakenFromTheSnapshotWithTheMessagesListAndIndexOfAFullLoad) {
    const int clips = GetParam();
    for (int i = 0; i < clips; ++i) AddClip("Clip " + std::to_string(i), static_cast<std::uint32_t>(i + 1));
    AddClip("Clip 3", 999, "again clip 3.qnf");
    orvane::test::WriteBytes(Library.File("broken.qnf"), "not a fingerprint");
    const TLoaded expected = FullLoad(Library.Folder());

    std::int64_t saved = -1;
    ExpectSameLoad(CachedLoad(&saved), expected);  // no snapshot yet: read, then saved
    EXPECT_EQ(saved, 0);
    ASSERT_TRUE(fs::exists(SnapshotPath()));
    const auto written = fs::last_write_time(SnapshotPath());

    ExpectSameLoad(CachedLoad(&saved), expected);
    EXPECT_EQ(saved, clips);
    EXPECT_EQ(fs::last_write_time(SnapshotPath()), written) << "an unchanged folder rewrote it";
}

INSTANTIATE_TEST_SUITE_P(FewAndMany, UnchangedFolder, ::testing::Values(5, 60));

/// What happens to the folder between the run that saved the snapshot and the next one.
struct TFolderChange {
    const char* Name;
    void (*Apply)(TSnapshotTest&);
    std::int64_t SavedFiles;  // fingerprints still taken from the snapshot
};

class ChangedFolder : public TSnapshotTest, public ::testing::WithParamInterface<TFolderChange> {};

TEST_P(ChangedFolder, LoadsWhatChangedAndEndsAsAFullLoad) {
    for (int i = 0; i < 52; ++i) AddClip("Clip " + std::to_string(i), static_cast<std::uint32_t>(i + 1));
    AddClip("Clip 7", 777, "zz clip 7 copy.qnf");  // skipped: "Clip 7" is loaded first or not
    CachedLoad();
    ASSERT_TRUE(fs::exists(SnapshotPath()));

    GetParam().Apply(*this);
    const TLoaded expected = FullLoad(Library.Folder());
    std::int64_t saved = -1;
    ExpectSameLoad(CachedLoad(&saved), expected);
    EXPECT_EQ(saved, GetParam().SavedFiles);
    // The snapshot written now describes the changed folder.
    ExpectSameLoad(CachedLoad(&saved), expected);
}

void AddNewFile(TSnapshotTest& test) { test.AddClip("A new clip", 4242); }
void RemoveFile(TSnapshotTest& test) { fs::remove(test.Library.File("Clip 20.qnf")); }
void RewriteFile(TSnapshotTest& test) {
    fs::remove(test.Library.File("Clip 30.qnf"));
    test.AddClip("Clip 30", 3030);
}
void ReplaceTitleWinner(TSnapshotTest& test) {
    // Whichever file of "Clip 7" was loaded goes; a new second file of the title comes.
    fs::remove(test.Library.File("Clip 7.qnf"));
    fs::remove(test.Library.File("zz clip 7 copy.qnf"));
    test.AddClip("Clip 7", 770, "zz clip 7 copy.qnf");
}
void LeaveFewFiles(TSnapshotTest& test) {
    for (int i = 10; i < 52; ++i) fs::remove(test.Library.File("Clip " + std::to_string(i) + ".qnf"));
}

template <typename T>
std::string NameOf(const ::testing::TestParamInfo<T>& param) {
    return param.param.Name;
}

INSTANTIATE_TEST_SUITE_P(Changes, ChangedFolder,
                         ::testing::Values(TFolderChange{"NewFile", AddNewFile, 52},
                                           TFolderChange{"RemovedFile", RemoveFile, 51},
                                           TFolderChange{"RewrittenFile", RewriteFile, 51},
                                           TFolderChange{"RemovedTitleWinner", ReplaceTitleWinner,
                                                         51},
                                           TFolderChange{"FewFilesLeft", LeaveFewFiles, 10}),
                         NameOf<TFolderChange>);

/// A snapshot spoilt in some way, and the reason the history gives.
struct TSpoilt {
    const char* Name;
    void (*Spoil)(const std::string& path);
    const char* Reason;
};

void PatchBytes(const std::string& path, std::size_t offset, const void* bytes, std::size_t n) {
    std::string image = orvane::test::ReadBytes(path);
    std::memcpy(image.data() + offset, bytes, n);
    orvane::test::WriteBytes(path, image);
}

class SpoiltSnapshot : public TSnapshotTest, public ::testing::WithParamInterface<TSpoilt> {};

TEST_P(SpoiltSnapshot, IsRefusedWithAMessageAndTheFolderReadFromItsFiles) {
    for (int i = 0; i < 6; ++i) AddClip("Clip " + std::to_string(i), static_cast<std::uint32_t>(i + 1));
    const TLoaded expected = FullLoad(Library.Folder());
    CachedLoad();
    GetParam().Spoil(SnapshotPath());

    std::int64_t saved = -1;
    TLoaded loaded = CachedLoad(&saved);
    EXPECT_EQ(saved, 0);
    ASSERT_FALSE(loaded.Messages.empty());
    EXPECT_EQ(loaded.Messages.front(), "2 The index snapshot \"" + SnapshotPath() +
                                           "\" was not used: " + GetParam().Reason +
                                           ". The fingerprints are read from their files.");
    loaded.Messages.erase(loaded.Messages.begin());
    ExpectSameLoad(loaded, expected);
    // Replaced by a good one.
    ExpectSameLoad(CachedLoad(&saved), expected);
    EXPECT_EQ(saved, 6);
}

void FlipAByte(const std::string& path) {
    std::string image = orvane::test::ReadBytes(path);
    image[image.size() / 2] ^= 0x10;
    orvane::test::WriteBytes(path, image);
}
void Truncate(const std::string& path) { fs::resize_file(path, fs::file_size(path) - 100); }
void SetOtherVersion(const std::string& path) {
    const std::uint32_t version = 99;
    PatchBytes(path, 8, &version, 4);
}
void SetOtherByteOrder(const std::string& path) {
    const std::uint8_t mark[4] = {1, 2, 3, 4};
    PatchBytes(path, 12, mark, 4);
}
void Overwrite(const std::string& path) { orvane::test::WriteBytes(path, "hello"); }

INSTANTIATE_TEST_SUITE_P(
    Spoilt, SpoiltSnapshot,
    ::testing::Values(TSpoilt{"FlippedByte", FlipAByte, "it is damaged (checksum)"},
                      TSpoilt{"Truncated", Truncate, "it is incomplete"},
                      TSpoilt{"OtherVersion", SetOtherVersion,
                              "it was written by another version (99)"},
                      TSpoilt{"OtherByteOrder", SetOtherByteOrder,
                              "it was written with the other byte order"},
                      TSpoilt{"NotASnapshot", Overwrite, "it is not an index snapshot"}),
    NameOf<TSpoilt>);

TEST_F(TSnapshotTest, AFolderOfOneShortClipGivesTheLayoutOfTheFormatsWorkedExample) {
    const std::string folder = "/f/";
    TLibraryKit kit;
    const std::vector<std::uint32_t> keys = {0x00100001u, 0x00200002u, 0x00300003u};
    auto song = MakeRef<fingerprint::TSongServer>();
    song->Add(keys.data(), 3);
    song->serialize();
    const std::int32_t slot = kit.Songs.reserveSongIndex();
    kit.Songs.setSongServer(slot, song);
    database::AddToDatabase(*song, kit.MainDB, slot, 0);
    kit.MainDB.Sort();
    const std::string path = CacheDir.File("example.snapshot");
    WriteSnapshot(path, folder, {database::TFolderFile{"a.qnf", 1, 2, 3, 4, 5}}, {0}, kit.Songs,
                  kit.MainDB);

    const std::string image = orvane::test::ReadBytes(path);
    ASSERT_EQ(image.size(), 20504u);
    auto at64 = [&](std::size_t offset) {
        std::uint64_t v;
        std::memcpy(&v, image.data() + offset, 8);
        return v;
    };
    EXPECT_EQ(image.substr(0, 8), "ORV3SNAP");
    EXPECT_EQ(at64(16), 20504u);
    EXPECT_EQ(at64(32), 64u);
    EXPECT_EQ(at64(40), 16464u);
    EXPECT_EQ(at64(48), 20480u);
    EXPECT_EQ(at64(56), 24u);
    EXPECT_EQ(at64(64 + 4 + 3 + 4), 16528u);  // the record of slot 0
    EXPECT_EQ(at64(24), ImageChecksum(reinterpret_cast<const std::uint8_t*>(image.data()),
                                      image.size()));

    auto snapshot = IndexSnapshot::openFile(path, folder);
    EXPECT_EQ(snapshot->Files().front().Name, "a.qnf");
    EXPECT_EQ(snapshot->SlotOfFile(0), 0);
    EXPECT_EQ(snapshot->Fingerprint(0)->CopyKeys(), keys);
    database::TMediumDB index;
    snapshot->TakeIndex(index);
    snapshot.reset();  // the index keeps the mapping
    std::vector<database::TDBItem> hits(4);
    for (std::int32_t k = 0; k < 3; ++k) {
        ASSERT_EQ(index.GetFromDB(hits, keys[static_cast<std::size_t>(k)]), 1);
        EXPECT_EQ(hits[0].LineNo(), k);
    }
    EXPECT_THROW(IndexSnapshot::openFile(path, "/other/"), ESnapshotError);
}

TEST_F(TSnapshotTest, ATakenOverIndexChangesInMemoryOnlyAndStaysSearchable) {
    for (int i = 0; i < 55; ++i) AddClip("Clip " + std::to_string(i), static_cast<std::uint32_t>(i + 1));
    CachedLoad();
    const std::string before = orvane::test::ReadBytes(SnapshotPath());

    auto kit = KitOn(Library.Folder());
    kit->Library.SetCache(&Cache);
    kit->Library.MenuItemLoadFingerprintsClick(nullptr);
    ASSERT_EQ(kit->Library.Phases().SavedFiles, 55);
    // One more merged in, one removed: both write into the mapped sections.
    const std::string extra = Library.File("extra.qnf");
    database::test::WriteClip(extra, "Extra", database::test::ClipKeys(5555, 900));
    ASSERT_GE(kit->Library.MergeFingerprintFile(extra, nullptr), 0);
    kit->View.SelectSlot(kit->Songs.indexOf(std::string("Clip 3")));
    kit->Library.RemoveFromMemory();

    EXPECT_EQ(orvane::test::ReadBytes(SnapshotPath()), before);
    std::vector<database::TDBItem> hits(4096);
    for (std::int32_t slot = 0; slot < kit->Songs.SlotCount(); ++slot) {
        auto* song = kit->Songs.SongServer(slot);
        if (song == nullptr) continue;
        const auto keys = song->getClass()->CopyKeys();
        for (std::size_t p = 0; p < keys.size(); p += 29) {
            if (keys[p] == 0) continue;
            const std::int32_t n = kit->MainDB.GetFromDB(hits, keys[p]);
            EXPECT_TRUE(std::any_of(hits.begin(), hits.begin() + n, [&](const auto& h) {
                return h.SongNo() == slot && h.LineNo() == static_cast<std::int32_t>(p);
            })) << "slot " << slot << " key " << p;
        }
    }
    for (std::int32_t p = 0; p < database::PartitionCount; ++p) {
        const auto& sub = kit->MainDB.SubDB(p);
        for (std::int32_t i = 0; i < sub.Count(); ++i) {
            ASSERT_NE(kit->Songs.SongServer(sub.Item(i).SongNo()), nullptr);
        }
    }
}

TEST_F(TSnapshotTest, LivesInTheUsersCacheFolderAndDropsThoseOfFoldersThatAreGone) {
    const char* old = std::getenv("XDG_CACHE_HOME");
    const std::string saved = old != nullptr ? old : "";
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome != nullptr ? oldHome : "";
    ::setenv("XDG_CACHE_HOME", CacheDir.Path().c_str(), 1);
    EXPECT_EQ(DefaultSnapshotFolder(), CacheDir.Path().string() + "/orvane3/");
    ::setenv("XDG_CACHE_HOME", "relative", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(DefaultSnapshotFolder(), "/home/someone/.cache/orvane3/");
    if (old != nullptr) {
        ::setenv("XDG_CACHE_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_CACHE_HOME");
    }
    if (oldHome != nullptr) {
        ::setenv("HOME", savedHome.c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }

    std::string goneSnapshot;
    {
        orvane::test::TTempDir gone;
        database::test::WriteClip(gone.File("g.qnf"), "G", database::test::ClipKeys(1, 100));
        auto kit = KitOn(gone.Folder());
        kit->Library.SetCache(&Cache);
        kit->Library.MenuItemLoadFingerprintsClick(nullptr);
        goneSnapshot = SnapshotFileFor(CacheDir.Folder(), gone.Folder());
        ASSERT_TRUE(fs::exists(goneSnapshot));
    }
    AddClip("Clip", 1);
    CachedLoad();
    EXPECT_FALSE(fs::exists(goneSnapshot));
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(CacheDir.Path())) names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{fs::path(SnapshotPath()).filename().string()})
        << "a temporary file was left";
}

TEST_F(TSnapshotTest, AnUnwritableCacheFolderIsReportedAndTheLibraryStillLoads) {
    AddClip("Clip", 1);
    const TLoaded expected = FullLoad(Library.Folder());
    orvane::test::WriteBytes(CacheDir.File("blocked"), "a file, not a folder");
    IndexSnapshotCache blocked(CacheDir.File("blocked") + "/inside/");
    auto kit = KitOn(Library.Folder());
    kit->Library.SetCache(&blocked);
    kit->Library.MenuItemLoadFingerprintsClick(nullptr);
    TLoaded loaded = Observe(*kit);
    ASSERT_EQ(loaded.Messages.size(), expected.Messages.size() + 1);
    EXPECT_EQ(loaded.Messages.back().rfind("2 The index snapshot was not saved: ", 0), 0u)
        << loaded.Messages.back();
    loaded.Messages.pop_back();
    ExpectSameLoad(loaded, expected);
}

TEST(IndexSnapshotImage, TheHandWrittenFuzzSeedIsReadOnceItsChecksumIsSet) {
    const std::string seed = orvane::test::ReadBytes(std::string(std::getenv("ORVANE_TEST_DATA")) +
                                                     "/fuzz/fuzz_snapshot/one-key.snapshot");
    std::vector<std::uint8_t> image(seed.begin(), seed.end());
    EXPECT_THROW(IndexSnapshot::fromImage(image, ""), ESnapshotError);  // checksum still zero
    const std::uint64_t sum = ImageChecksum(image.data(), image.size());
    std::memcpy(image.data() + 24, &sum, 8);
    auto snapshot = IndexSnapshot::fromImage(image, "/f/");
    ASSERT_EQ(snapshot->SlotCount(), 1);
    EXPECT_EQ(fingerprint::TitleOf(*snapshot->Fingerprint(0)->SongFile()), "a");
    database::TMediumDB index;
    snapshot->TakeIndex(index);
    std::vector<database::TDBItem> hits(2);
    ASSERT_EQ(index.GetFromDB(hits, 0x00100001u), 1);
    EXPECT_EQ(hits[0].SongNo(), 0);
    // An entry naming a key position beyond its fingerprint is refused.
    image[20480 + 5] = 1;  // position 1 of a one-key fingerprint
    const std::uint64_t spoilt = ImageChecksum(image.data(), image.size());
    std::memcpy(image.data() + 24, &spoilt, 8);
    EXPECT_THROW(IndexSnapshot::fromImage(image, "/f/"), ESnapshotError);
}

}  // namespace
}  // namespace orvane::snapshot
