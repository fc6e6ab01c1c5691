#include "database/TFptLibrary.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "LibraryTestKit.h"
#include "database/TMediumDBKeys.h"

namespace orvane::database {
namespace {

using test::TLibraryKit;
namespace fs = std::filesystem;

/// Every key of every loaded fingerprint is found with its slot and position.
void ExpectEveryKeyFound(TLibraryKit& kit) {
    ASSERT_TRUE(kit.MainDB.Sorted());
    std::vector<TDBItem> hits(4096);
    for (std::int32_t slot = 0; slot < kit.Songs.SlotCount(); ++slot) {
        auto* song = kit.Songs.SongServer(slot);
        if (song == nullptr) continue;
        const auto keys = song->getClass()->CopyKeys();
        for (std::size_t p = 0; p < keys.size(); p += 37) {
            const std::int32_t n = kit.MainDB.GetFromDB(hits, keys[p]);
            bool found = false;
            for (std::int32_t i = 0; i < n; ++i) {
                found |= hits[static_cast<std::size_t>(i)].SongNo() == slot &&
                         hits[static_cast<std::size_t>(i)].LineNo() == static_cast<std::int32_t>(p);
            }
            ASSERT_TRUE(found) << "slot " << slot << " position " << p;
        }
    }
}

/// title -> keys found for the first key of every loaded fingerprint (slot-independent).
std::map<std::string, std::int64_t> Lookups(TLibraryKit& kit) {
    std::map<std::string, std::int64_t> result;
    std::vector<TDBItem> hits(4096);
    for (std::int32_t slot = 0; slot < kit.Songs.SlotCount(); ++slot) {
        auto* song = kit.Songs.SongServer(slot);
        if (song == nullptr) continue;
        std::int64_t total = 0;
        for (std::uint32_t key : song->getClass()->CopyKeys()) total += kit.MainDB.GetFromDB(hits, key);
        result[fingerprint::TitleOf(*song->SongFile())] = total;
    }
    return result;
}

TEST(AddToDatabase, EntersEveryKeyWithItsPosition) {
    class TRecordingIndex final : public fingerprint::IKeyIndex {
    public:
        void AddToDB(std::uint32_t key, std::int32_t lineNo, std::int32_t songNo) override {
            Keys.push_back(key);
            Lines.push_back(lineNo);
            Songs.insert(songNo);
        }
        std::vector<std::uint32_t> Keys;
        std::vector<std::int32_t> Lines;
        std::set<std::int32_t> Songs;
    } index;
    auto song = MakeRef<fingerprint::TSongServer>();
    const auto keys = test::ClipKeys(3, 10000);
    song->Add(keys.data(), 10000);
    song->AddToDatabase(index, 77, 0);
    EXPECT_EQ(index.Keys, keys);
    ASSERT_EQ(index.Lines.size(), 10000u);
    for (std::int32_t p = 0; p < 10000; ++p) ASSERT_EQ(index.Lines[static_cast<std::size_t>(p)], p);
    EXPECT_EQ(index.Songs, std::set<std::int32_t>{77});

    TRecordingIndex empty;
    MakeRef<fingerprint::TSongServer>()->AddToDatabase(empty, 1, 0);
    EXPECT_TRUE(empty.Keys.empty());
}

TEST(AddToDatabase, RefusesAFingerprintTooLongForThePositionFieldBeforeEnteringAnyKey) {
    TMediumDB db;
    auto song = MakeRef<fingerprint::TSongServer>();
    const auto keys = test::ClipKeys(3, 100);
    song->Add(keys.data(), 100);
    EXPECT_THROW(AddToDatabase(*song, db, 1, MaxLineNo - 50), EDBError);
    EXPECT_THROW(AddToDatabase(*song, db, MaxSongNo + 1, 0), EDBError);
    EXPECT_TRUE(db.Empty());
    AddToDatabase(*song, db, MaxSongNo, MaxLineNo - 99);
    EXPECT_EQ(db.TotalCount(), 100);
}

TEST(TFptLibrary, ReloadOf48FilesMergesAnd49LoadInBulkBothFindingTheSameKeys) {
    TLibraryKit merged;
    TLibraryKit bulk;
    for (int i = 0; i < 49; ++i) {
        const std::string title = "Clip " + std::to_string(i);
        if (i < 48) merged.AddClip(title, static_cast<std::uint32_t>(i));
        bulk.AddClip(title, static_cast<std::uint32_t>(i));
    }
    merged.Library.MenuItemLoadFingerprintsClick(nullptr);
    bulk.Library.MenuItemLoadFingerprintsClick(nullptr);

    EXPECT_EQ(merged.Songs.Count(), 48);
    EXPECT_EQ(bulk.Songs.Count(), 49);
    // Only the bulk load needed the optimisation.
    EXPECT_EQ(merged.Progress.Shown(), std::vector<std::string>{"Reading fingerprints from hard disk..."});
    EXPECT_EQ(bulk.Progress.Shown(), (std::vector<std::string>{"Reading fingerprints from hard disk...",
                                                               "Optimizing database..."}));
    EXPECT_FALSE(bulk.Progress.Showing());
    EXPECT_TRUE(bulk.Progress.CancelEnabled());
    EXPECT_EQ(merged.Activities(), std::vector<std::string>{"48 fingerprints were loaded into memory"});
    EXPECT_EQ(bulk.Activities(), std::vector<std::string>{"49 fingerprints were loaded into memory"});
    ExpectEveryKeyFound(merged);
    ExpectEveryKeyFound(bulk);
    auto bulkLookups = Lookups(bulk);
    bulkLookups.erase("Clip 48");
    // Clip 48's keys may collide with others; compare the others only where it had no part.
    auto mergedLookups = Lookups(merged);
    ASSERT_EQ(mergedLookups.size(), bulkLookups.size());
    EXPECT_EQ(merged.MainDB.TotalCount() + bulk.Songs.SongServer(bulk.Songs.indexOf("Clip 48"))->getClass()->Length(),
              bulk.MainDB.TotalCount());
    EXPECT_EQ(merged.Pause.PauseCount(), 0);
    EXPECT_EQ(bulk.Pause.PauseCount(), 0);
}

TEST(TFptLibrary, DuplicateTitleIsReportedInBulkModeAndSkippedSilentlyWhenMerging) {
    for (bool bulkMode : {true, false}) {
        TLibraryKit kit;
        const std::string first = kit.AddClip("Same", 1);
        const std::string second = kit.Dir.File("copy.qnf");
        test::WriteClip(second, "Same", test::ClipKeys(2, 300));
        kit.MainDB.SetSorted(!bulkMode);
        kit.Library.LoadFingerprintFile(first, nullptr);
        kit.Library.LoadFingerprintFile(second, nullptr);
        EXPECT_EQ(kit.Songs.Count(), 1);
        const auto texts = kit.Activities();
        if (bulkMode) {
            EXPECT_EQ(texts, std::vector<std::string>{
                                 "Skipping \"copy.qnf\": \"Same\" already in memory (loaded from file "
                                 "\"Same.qnf\")"});
        } else {
            EXPECT_TRUE(texts.empty());
        }
    }
}

TEST(TFptLibrary, AnUnreadableFileIsReportedAndTheRestOfTheFolderLoads) {
    TLibraryKit kit;
    kit.AddClip("Good", 1);
    orvane::test::WriteBytes(kit.Dir.File("broken.qnf"), "FINGERPRINT but not really");
    kit.Library.MenuItemLoadFingerprintsClick(nullptr);
    EXPECT_EQ(kit.Songs.Count(), 1);
    const auto entries = kit.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].Str, "\"broken.qnf\" does not have the right file format");
    EXPECT_EQ(entries[0].Icon, tracking::TActivityIcon::aiAttention);
    EXPECT_EQ(entries[1].Str, "1 fingerprint was loaded into memory");
    EXPECT_EQ(entries[1].Icon, tracking::TActivityIcon::aiInformation);
}

TEST(TFptLibrary, AReloadThatLoadsNothingNewSaysZero) {
    TLibraryKit kit;
    orvane::test::WriteBytes(kit.Dir.File("broken.qnf"), "");
    kit.Library.MenuItemLoadFingerprintsClick(nullptr);
    EXPECT_EQ(kit.Activities(), (std::vector<std::string>{
                                    "\"broken.qnf\" does not have the right file format",
                                    "0 fingerprints were loaded into memory"}));
}

TEST(TFptLibrary, ReloadClearsTheMemoryFirst) {
    TLibraryKit kit;
    kit.AddClip("One", 1);
    kit.Library.MenuItemLoadFingerprintsClick(nullptr);
    kit.Activities();
    kit.Library.MenuItemLoadFingerprintsClick(nullptr);
    EXPECT_EQ(kit.Activities(), (std::vector<std::string>{"Memory cleared",
                                                         "1 fingerprint was loaded into memory"}));
    EXPECT_EQ(kit.Songs.Count(), 1);
    EXPECT_EQ(kit.Songs.Entry(0)->UniqueNo, 1025);
}

TEST(TFptLibrary, AnEmptyFolderIsReported) {
    TLibraryKit kit;
    orvane::test::WriteBytes(kit.Dir.File("notes.txt"), "x");
    kit.Library.MenuItemLoadFingerprintsClick(nullptr);
    const auto entries = kit.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Str, "The fingerprinting folder does not contain any fingerprints");
    EXPECT_EQ(entries[0].Icon, tracking::TActivityIcon::aiAttention);
    EXPECT_TRUE(kit.Progress.Shown().empty());
    EXPECT_EQ(kit.Pause.PauseCount(), 0);
}

TEST(TFptLibrary, AMissingFolderOrARunningTaskIsRefusedToUserAndProgramAlike) {
    TLibraryKit kit;
    test::TRecordingAnswer answer;
    kit.Library.SetSettings(TLibrarySettings{kit.Dir.Folder() + "missing"});
    const std::string missing = "Error: Could not find folder \"" + kit.Dir.Folder() + "missing/\".";
    kit.Library.MenuItemLoadFingerprintsClick(nullptr);
    kit.Library.MenuItemLoadFingerprintsClick(&answer);
    EXPECT_EQ(kit.Window.Messages, std::vector<std::string>{missing});
    EXPECT_EQ(answer.Answers, std::vector<std::string>{missing});

    kit.Library.SetSettings(TLibrarySettings{kit.Dir.Folder()});
    kit.Progress.ShowStats("Fingerprinting...");
    kit.Library.MenuItemLoadFingerprintsClick(nullptr);
    kit.Library.MenuItemLoadFingerprintsClick(&answer);
    EXPECT_EQ(kit.Window.Messages.back(), "There are currently other tasks running");
    EXPECT_EQ(answer.Answers.back(), "There are currently other tasks running");
}

TEST(TFptLibrary, AnotherProgramGetsEveryMessageAsAnswer) {
    TLibraryKit kit;
    test::TRecordingAnswer answer;
    kit.AddClip("One", 1);
    kit.Library.MenuItemLoadFingerprintsClick(&answer);
    EXPECT_EQ(answer.Answers, (std::vector<std::string>{"Reading fingerprints from hard disk...",
                                                       "1 fingerprint was loaded into memory",
                                                       "Optimizing database..."}));
    EXPECT_TRUE(kit.Progress.Shown().empty());
    kit.Library.MenuItemClearSonglistClick(&answer);
    EXPECT_EQ(answer.Answers.back(), "Memory cleared");
    EXPECT_TRUE(kit.Activities().empty());
}

TEST(TFptLibrary, CancellingTheReloadStopsAfterTheFileInHand) {
    TLibraryKit kit;
    for (int i = 0; i < 60; ++i) kit.AddClip("C" + std::to_string(i), static_cast<std::uint32_t>(i), 50);
    kit.Progress.OnProgress = [&](int) { kit.Progress.PressCancel(); };
    kit.Library.MenuItemLoadFingerprintsClick(nullptr);
    EXPECT_EQ(kit.Songs.Count(), 7);
    EXPECT_EQ(kit.Activities(), std::vector<std::string>{"7 fingerprints were loaded into memory"});
    ExpectEveryKeyFound(kit);
}

TEST(TFptLibrary, ClearingTheMemoryLeavesAnEmptySortedIndex) {
    TLibraryKit kit;
    kit.MainDB.SetSorted(false);
    kit.Library.LoadFingerprintFile(kit.AddClip("A", 1), nullptr);
    kit.Library.MenuItemClearSonglistClick(nullptr);
    EXPECT_TRUE(kit.MainDB.Sorted());
    EXPECT_TRUE(kit.MainDB.Empty());
    EXPECT_EQ(kit.Songs.Count(), 0);
    EXPECT_EQ(kit.Activities(), std::vector<std::string>{"Memory cleared"});
}

TEST(TFptLibrary, DelAsksAndTheMenuItemRemovesWithoutAsking) {
    TLibraryKit kit;
    const std::string path = kit.AddClip("A", 1);
    kit.Library.LoadFingerprintFile(path, nullptr);
    kit.Select("A");
    kit.Window.Answers = {false};
    kit.Library.ListviewKeyDown(TListKey::lkDelete, false, true);
    EXPECT_EQ(kit.Window.Questions,
              std::vector<std::string>{"Remove this fingerprint from memory?\r\nTo delete a "
                                       "fingerprint from harddisk, use shift+del instead."});
    EXPECT_EQ(kit.Songs.Count(), 1);
    kit.Library.ListviewKeyDown(TListKey::lkDelete, false, false);
    EXPECT_EQ(kit.Window.Questions.size(), 1u);
    EXPECT_EQ(kit.Songs.Count(), 0);
    EXPECT_TRUE(kit.MainDB.Empty());
    EXPECT_TRUE(fs::exists(path));
}

TEST(TFptLibrary, AReloadRefusesFifosAndFoldersNamedLikeFingerprintsWithoutBlocking) {
    TLibraryKit kit;
    kit.AddClip("A", 1);
    ASSERT_EQ(::mkfifo(kit.Dir.File("x.qnf").c_str(), 0600), 0);
    fs::create_directory(kit.Dir.File("folder.qnf"));
    fs::create_symlink("/dev/zero", kit.Dir.File("zero.qnf"));
    kit.Library.MenuItemLoadFingerprintsClick(nullptr);
    EXPECT_EQ(kit.Songs.Count(), 1);
    std::vector<std::string> texts = kit.Activities();
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "\"folder.qnf\" (a folder) is not a regular file",
                         "\"x.qnf\" (a FIFO) is not a regular file",
                         "\"zero.qnf\" (a character device) is not a regular file",
                         "1 fingerprint was loaded into memory"}));
}

TEST(TFptLibrary, ShiftDelDeletesTheFileAndMovesItsWavToTheTrashAfterAsking) {
    TLibraryKit kit;
    const std::string path = kit.AddClip("A", 1);
    const std::string wav = kit.Dir.File("A.wav");
    orvane::test::WriteBytes(wav, "RIFF");
    const std::string trash = kit.Dir.File("trash");
    fs::create_directory(trash);
    kit.Library.SetTrash([&](const std::string& file) {
        fs::rename(file, trash + "/" + fs::path(file).filename().string());
        return true;
    });
    kit.Library.LoadFingerprintFile(path, nullptr);
    kit.Activities();
    kit.Select("A");
    kit.Window.Answers = {true};
    kit.Library.ListviewKeyDown(TListKey::lkDelete, true, true);
    EXPECT_EQ(kit.Window.Questions, std::vector<std::string>{"Permanently remove this fingerprint?"});
    EXPECT_FALSE(fs::exists(path));
    EXPECT_FALSE(fs::exists(wav));
    EXPECT_EQ(orvane::test::ReadBytes(trash + "/A.wav"), "RIFF");
    EXPECT_EQ(kit.Songs.Count(), 0);
    const auto entries = kit.Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Str, "\"" + wav + "\" was moved to the trash");
    EXPECT_EQ(entries[0].Icon, tracking::TActivityIcon::aiInformation);
}

TEST(TFptLibrary, ShiftDelWithoutATrashLeavesTheWavAndSaysSo) {
    for (const bool withTrash : {false, true}) {
        TLibraryKit kit;
        const std::string path = kit.AddClip("A", 1);
        const std::string wav = kit.Dir.File("A.wav");
        orvane::test::WriteBytes(wav, "RIFF");
        if (withTrash) kit.Library.SetTrash([](const std::string&) { return false; });
        kit.Library.LoadFingerprintFile(path, nullptr);
        kit.Activities();
        kit.Select("A");
        kit.Library.ListviewKeyDown(TListKey::lkDelete, true, false);
        EXPECT_FALSE(fs::exists(path));
        EXPECT_EQ(orvane::test::ReadBytes(wav), "RIFF");
        const auto entries = kit.Entries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].Str,
                  "\"" + wav + "\" was left in place: it could not be moved to the trash");
        EXPECT_EQ(entries[0].Icon, tracking::TActivityIcon::aiAttention);
    }
}

TEST(TFptLibrary, DeleteDoesNothingWhileTheClearMenuIsDisabled) {
    TLibraryKit kit;
    const std::string path = kit.AddClip("A", 1);
    kit.Library.LoadFingerprintFile(path, nullptr);
    kit.Select("A");
    kit.Window.ClearMemoryEnabled = false;
    kit.Library.ListviewKeyDown(TListKey::lkDelete, true, false);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(kit.Songs.Count(), 1);
}

TEST(TFptLibrary, AFileThatCannotBeDeletedIsReportedAndStaysLoaded) {
    TLibraryKit kit;
    const std::string path = kit.AddClip("A", 1);
    kit.Library.LoadFingerprintFile(path, nullptr);
    // Root may delete write-protected files; an immutable file (where the file system allows
    // the flag) or a non-empty folder in the file's place cannot be unlinked even by root.
    const std::string quoted = "'" + path + "'";
    const bool immutable = std::system(("chattr +i " + quoted + " 2>/dev/null").c_str()) == 0;
    if (!immutable) {
        fs::remove(path);
        fs::create_directory(path);
        orvane::test::WriteBytes(path + "/inside", "x");
    }
    kit.Select("A");
    kit.Library.ListviewKeyDown(TListKey::lkDelete, true, false);
    if (immutable) std::system(("chattr -i " + quoted + " 2>/dev/null").c_str());
    EXPECT_EQ(kit.Window.Messages, std::vector<std::string>{"Could not delete \"" + path + "\""});
    EXPECT_EQ(kit.Songs.Count(), 1);
    EXPECT_TRUE(fs::exists(path));
}

TEST(TFptLibrary, EnabledSwitchShowsTheRightIcon) {
    struct TCase {
        bool Marked;
        std::int32_t DisabledIcon;
        std::int32_t EnabledIcon;
    };
    for (const TCase c : {TCase{false, 1, 0}, TCase{true, 7, 6}}) {
        TLibraryKit kit;
        kit.Library.LoadFingerprintFile(kit.AddClip("A", 1), nullptr);
        kit.Select("A");
        kit.Songs.SongServer(0)->SongFile()->Options = c.Marked ? 1 : 0;
        kit.Library.FptEnabledClick();
        EXPECT_FALSE(kit.Songs.SongServer(0)->GetEnabled());
        EXPECT_EQ(kit.View.Row(0).ImageIndex, c.DisabledIcon);
        EXPECT_FALSE(kit.Window.EnabledChecked);
        kit.Library.FptEnabledClick();
        EXPECT_TRUE(kit.Songs.SongServer(0)->GetEnabled());
        EXPECT_EQ(kit.View.Row(0).ImageIndex, c.EnabledIcon);
        EXPECT_TRUE(kit.Window.EnabledChecked);
    }
}

TEST(TFptLibrary, PropertiesOfADisabledFingerprintOfferToEnableIt) {
    TLibraryKit kit;
    kit.Library.LoadFingerprintFile(kit.AddClip("A", 1, 16106), nullptr);
    kit.Select("A");
    kit.Library.FptEnabledClick();
    kit.Window.Answers = {true};
    kit.Library.ListViewDblClick();
    EXPECT_EQ(kit.Window.Questions, std::vector<std::string>{"This fingerprint is disabled. Enable?"});
    EXPECT_TRUE(kit.Songs.SongServer(0)->GetEnabled());
    EXPECT_EQ(kit.View.Row(0).ImageIndex, 0);
    ASSERT_EQ(kit.Window.PropertiesShown.size(), 1u);
    const TFptProperties& shown = kit.Window.PropertiesShown[0];
    EXPECT_EQ(shown.SongNo, 0);
    EXPECT_EQ(shown.EditName, "A");
    EXPECT_EQ(shown.LabelDuration, "3:07");
    EXPECT_EQ(shown.FileLabel, kit.Dir.File("A.qnf"));
}

TEST(TFptLibrary, RenamingToItsOwnTitleOnlyRenamesTheFile) {
    TLibraryKit kit;
    const std::string oldPath = kit.Dir.File("some other name.qnf");
    test::WriteClip(oldPath, "Hit Song", test::ClipKeys(5, 400));
    const std::string bytes = orvane::test::ReadBytes(oldPath);
    kit.Library.LoadFingerprintFile(oldPath, nullptr);
    kit.Activities();
    kit.Select("Hit Song");
    kit.Window.OnProperties = [](TFptProperties&) { return true; };
    kit.Library.ListViewDblClick();
    const std::string newPath = kit.Dir.File("Hit Song.qnf");
    EXPECT_FALSE(fs::exists(oldPath));
    EXPECT_EQ(orvane::test::ReadBytes(newPath), bytes);
    EXPECT_EQ(kit.Songs.Entry(0)->Filename, newPath);
    EXPECT_TRUE(kit.Window.Messages.empty());
    EXPECT_TRUE(kit.Activities().empty());
}

TEST(TFptLibrary, RenamingRewritesFileTitleRowAndLookup) {
    TLibraryKit kit;
    const std::string oldPath = kit.AddClip("Old", 5, 400);
    kit.Library.LoadFingerprintFile(oldPath, nullptr);
    kit.Activities();
    kit.Select("Old");
    kit.Window.OnProperties = [](TFptProperties& p) {
        p.EditName = "New: Title?";
        return true;
    };
    kit.Library.ListViewDblClick();
    const std::string newPath = kit.Dir.File("New_ Title_.qnf");
    EXPECT_FALSE(fs::exists(oldPath));
    auto reread = fingerprint::ReadFingerprintFile(newPath);
    EXPECT_EQ(fingerprint::TitleOf(*reread->SongFile()), "New: Title?");
    EXPECT_EQ(reread->CopyKeys(), test::ClipKeys(5, 400));
    EXPECT_EQ(kit.Activities(), std::vector<std::string>{"\"Old\" renamed to \"New: Title?\""});
    EXPECT_EQ(fingerprint::TitleOf(*kit.Songs.SongServer(0)->SongFile()), "New: Title?");
    EXPECT_EQ(kit.Songs.indexOf(std::string_view("New: Title?")), 0);
    EXPECT_EQ(kit.Songs.indexOf(std::string_view("Old")), -1);
    EXPECT_EQ(kit.View.Row(0).Caption, "New: Title?");
    EXPECT_EQ(kit.Pause.PauseCount(), 0);
    // No temporary file is left next to it.
    std::int32_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(kit.Dir.Path())) ++files;
    EXPECT_EQ(files, 1);
}

TEST(TFptLibrary, RenamingKeepsAFullLengthTitleWhole) {
    TLibraryKit kit;
    kit.Library.LoadFingerprintFile(kit.AddClip("Short", 5, 100), nullptr);
    kit.Select("Short");
    // 3 bytes of byte-order mark and 105 letters fill all 108 title bytes.
    const std::string longName(105, 'x');
    kit.Window.OnProperties = [&](TFptProperties& p) {
        p.EditName = longName;
        return true;
    };
    kit.Library.ListViewDblClick();
    EXPECT_EQ(fingerprint::TitleOf(*kit.Songs.SongServer(0)->SongFile()), longName);
    EXPECT_EQ(kit.View.Row(0).Caption, longName);
}

TEST(TFptLibrary, RenamingRefusesALoadedTitleAndAnotherFilesName) {
    TLibraryKit kit;
    const std::string a = kit.AddClip("A", 1);
    const std::string b = kit.AddClip("B", 2);
    kit.Library.LoadFingerprintFile(a, nullptr);
    kit.Library.LoadFingerprintFile(b, nullptr);
    // A file of another title that is not loaded, whose safe name a new title would take.
    const std::string unloaded = kit.Dir.File("C_.qnf");
    test::WriteClip(unloaded, "C_", test::ClipKeys(3, 50));
    const std::string unloadedBytes = orvane::test::ReadBytes(unloaded);
    kit.Select("A");
    std::string name = "B";
    kit.Window.OnProperties = [&](TFptProperties& p) {
        p.EditName = name;
        return true;
    };
    kit.Library.ListViewDblClick();
    name = "C?";
    kit.Library.ListViewDblClick();
    EXPECT_EQ(kit.Window.Messages, (std::vector<std::string>{"Error: Duplicate fingerprint found.",
                                                            "Error: Could not rename fingerprint file."}));
    EXPECT_TRUE(fs::exists(a));
    EXPECT_EQ(orvane::test::ReadBytes(unloaded), unloadedBytes);
    EXPECT_EQ(fingerprint::TitleOf(*kit.Songs.SongServer(0)->SongFile()), "A");
}

TEST(TFptLibrary, DeletionListMarksMatchedTitlesAndKeepsTheOthers) {
    TLibraryKit kit;
    kit.Library.LoadFingerprintFile(kit.AddClip("Hit Song", 1), nullptr);
    kit.Library.LoadFingerprintFile(kit.AddClip("Other", 2), nullptr);
    kit.Select("Other");
    kit.Library.FptEnabledClick();  // disabled: icon 1
    bool cancel = false;
    auto result = kit.Library.ApplyDeletionList({"  hit song \t", "", "Not Loaded", "OTHER"}, cancel);
    EXPECT_EQ(result.Lines, std::vector<std::string>{"Not Loaded"});
    EXPECT_FALSE(result.Cancelled);
    EXPECT_EQ(kit.View.Row(0), (TSongRow{6, "Hit Song", "0:06", 0}));
    EXPECT_EQ(kit.View.Row(1).ImageIndex, 7);
    // Marked rows stay marked.
    result = kit.Library.ApplyDeletionList({"Hit Song"}, cancel);
    EXPECT_TRUE(result.Lines.empty());
    EXPECT_EQ(kit.View.Row(0).ImageIndex, 6);
}

TEST(TFptLibrary, DeletionListPumpsEventsAfterHalfASecondAndCanBeCancelled) {
    TLibraryKit kit;
    for (int i = 0; i < 5; ++i) kit.Library.LoadFingerprintFile(kit.AddClip("T" + std::to_string(i), static_cast<std::uint32_t>(i), 20), nullptr);
    test::TTickingClock clock;
    clock.Step = 200;  // ms per reading: the third row is past half a second
    int pumped = 0;
    bool cancel = false;
    auto result = ApplyDeletionList({"T4", "T0"}, kit.Songs, clock,
                                    [&] {
                                        if (++pumped == 2) cancel = true;
                                    },
                                    cancel);
    EXPECT_TRUE(result.Cancelled);
    EXPECT_FALSE(cancel);
    EXPECT_EQ(pumped, 2);
    // The walk stopped in the first line's rows before reaching T4's row.
    EXPECT_EQ(result.Lines, (std::vector<std::string>{"T4", "T0"}));
}

}  // namespace
}  // namespace orvane::database
