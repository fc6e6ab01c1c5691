#include "database/TSongList.h"

#include <gtest/gtest.h>

#include <vector>

#include "LibraryTestKit.h"

namespace orvane::database {
namespace {

using test::TLibraryKit;

/// A loaded fingerprint with `title` and `keyCount` keys, not in any file.
TRefPtr<fingerprint::ISongServer> MakeClip(const std::string& title, std::int32_t keyCount = 10) {
    auto song = MakeRef<fingerprint::TSongServer>();
    const auto keys = test::ClipKeys(7, keyCount);
    song->Add(keys.data(), keyCount);
    song->SongFile()->Title.Assign(fingerprint::EncodeTitle(title));
    return TRefPtr<fingerprint::ISongServer>(song.get());
}

/// Loads a fingerprint the way the library does (minus the index).
std::int32_t Load(TSongList& songs, const std::string& title, const std::string& file,
                  std::int32_t keyCount = 10) {
    const std::int32_t slot = songs.reserveSongIndex();
    songs.setFileName(slot, file);
    songs.setSongServer(slot, MakeClip(title, keyCount));
    songs.visualizeSong(slot);
    return slot;
}

class TRecordingHistories final : public ICandidateHistories {
public:
    explicit TRecordingHistories(const tracking::TCountingRecognitionPause& pause) : FPause(pause) {}
    void ForgetFingerprint(const fingerprint::ISongServer& song) override {
        for (auto& held : Held) {
            if (held.get() == &song) held.reset();
        }
    }
    void ReleaseAll() override {
        PausedDuringRelease = FPause.Paused();
        Held.clear();
    }
    std::vector<TRefPtr<fingerprint::ISongServer>> Held;
    bool PausedDuringRelease = false;

private:
    const tracking::TCountingRecognitionPause& FPause;
};

TEST(TSongList, FirstThreeLoadsTakeSlotsFromZeroWithUniqueNumbersFrom1024) {
    TLibraryKit kit;
    for (std::int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(kit.Songs.reserveSongIndex(), i);
        EXPECT_EQ(kit.Songs.Entry(i)->UniqueNo, 1024 + i);
        EXPECT_EQ(kit.Songs.Entry(i)->Index, i);
    }
    EXPECT_EQ(kit.Songs.Count(), 3);
    EXPECT_EQ(kit.Pause.PauseCount(), 0);
}

TEST(TSongList, AFreedSlotIsReusedWithANewUniqueNumber) {
    TLibraryKit kit;
    for (int i = 0; i < 3; ++i) Load(kit.Songs, "T" + std::to_string(i), "/f/t.qnf");
    kit.Songs.freeSong(1, true);
    EXPECT_EQ(kit.Songs.Count(), 2);
    EXPECT_EQ(kit.Songs.Entry(1), nullptr);
    EXPECT_EQ(kit.Songs.reserveSongIndex(), 1);
    EXPECT_EQ(kit.Songs.Entry(1)->UniqueNo, 1027);
    EXPECT_EQ(kit.Songs.Count(), 3);
}

TEST(TSongList, UniqueNumbersKeepCountingAcrossClear) {
    TLibraryKit kit;
    TRecordingHistories histories(kit.Pause);
    TSongList songs(kit.Pause, kit.Posting, kit.View, &histories);
    Load(songs, "A", "/f/a.qnf");
    Load(songs, "B", "/f/b.qnf");
    histories.Held.push_back(TRefPtr<fingerprint::ISongServer>(songs.SongServer(0)));
    songs.clear();
    EXPECT_TRUE(histories.PausedDuringRelease);
    EXPECT_TRUE(histories.Held.empty());
    EXPECT_EQ(songs.Count(), 0);
    EXPECT_EQ(songs.SlotCount(), 0);
    EXPECT_EQ(kit.View.RowCount(), 0);
    EXPECT_EQ(kit.View.SoundClipsCaption(), "Sound clips (0)");
    EXPECT_EQ(songs.reserveSongIndex(), 0);
    EXPECT_EQ(songs.Entry(0)->UniqueNo, 1026);
    EXPECT_EQ(kit.Pause.PauseCount(), 0);
}

TEST(TSongList, SetSongServerWritesTheSlotsUniqueNumberIntoTheFingerprint) {
    TLibraryKit kit;
    Load(kit.Songs, "A", "/f/a.qnf");
    const std::int32_t slot = Load(kit.Songs, "B", "/f/b.qnf");
    fingerprint::ISongServer* song = kit.Songs.SongServer(slot);
    EXPECT_EQ(song->SongFile()->UniqueID, 1025);
    EXPECT_EQ(kit.Songs.indexOf(std::int64_t{1025}), slot);
    EXPECT_EQ(kit.Songs.indexOf(song), slot);
    EXPECT_EQ(kit.Songs.indexOf(std::int64_t{999}), -1);
    EXPECT_EQ(kit.Songs.indexOf(static_cast<const fingerprint::ISongServer*>(nullptr)), -1);
}

TEST(TSongList, TitleLookupIsCaseSensitiveAndFindsTheLowestSlot) {
    TLibraryKit kit;
    Load(kit.Songs, "Song", "/f/a.qnf");
    EXPECT_EQ(kit.Songs.indexOf(std::string_view("Song")), 0);
    EXPECT_EQ(kit.Songs.indexOf(std::string_view("song")), -1);
    // Two slots of one title can only come from a caller that skipped the duplicate check.
    Load(kit.Songs, "Other", "/f/b.qnf");
    Load(kit.Songs, "Song", "/f/c.qnf");
    EXPECT_EQ(kit.Songs.indexOf(std::string_view("Song")), 0);
    kit.Songs.freeSong(0, false);
    EXPECT_EQ(kit.Songs.indexOf(std::string_view("Song")), 2);
}

TEST(TSongList, VisualizeShowsIconTitleDurationAndTheCount) {
    TLibraryKit kit;
    // 16,106 keys are 186.99 s: 3:07.
    Load(kit.Songs, "Hit", "/f/hit.qnf", 16106);
    ASSERT_EQ(kit.View.RowCount(), 1);
    EXPECT_EQ(kit.View.Row(0), (TSongRow{0, "Hit", "3:07", 0}));
    EXPECT_EQ(kit.View.SoundClipsCaption(), "Sound clips (1)");
    EXPECT_EQ(kit.Songs.getIndexFromListviewIndex(0), 0);
    EXPECT_EQ(kit.Songs.getIndexFromListviewIndex(1), -1);
}

TEST(TSongList, FreeingAFreeSlotChangesNothing) {
    TLibraryKit kit;
    Load(kit.Songs, "A", "/f/a.qnf");
    kit.View.SetSoundClipsCaption("untouched");
    kit.Songs.freeSong(1, true);
    kit.Songs.freeSong(-1, true);
    kit.Songs.freeSong(5, true);
    EXPECT_EQ(kit.View.RowCount(), 1);
    EXPECT_EQ(kit.View.SoundClipsCaption(), "untouched");
    EXPECT_EQ(kit.Songs.Count(), 1);
}

TEST(TSongList, FreeingWithFoundListsLeavesNoChannelHoldingTheFingerprint) {
    TLibraryKit kit;
    TRecordingHistories histories(kit.Pause);
    TSongList songs(kit.Pause, kit.Posting, kit.View, &histories);
    Load(songs, "A", "/f/a.qnf");
    Load(songs, "B", "/f/b.qnf");
    TRefPtr<fingerprint::ISongServer> a(songs.SongServer(0));
    TRefPtr<fingerprint::ISongServer> b(songs.SongServer(1));
    histories.Held = {a, b, a};
    songs.freeSong(0, true);
    EXPECT_EQ(histories.Held[0], nullptr);
    EXPECT_EQ(histories.Held[1], b);
    EXPECT_EQ(histories.Held[2], nullptr);
    EXPECT_EQ(a->RefCount(), 1);  // only the test's
    EXPECT_EQ(kit.View.RowCount(), 1);
    EXPECT_EQ(kit.View.SoundClipsCaption(), "Sound clips (1)");
}

struct TDuplicateCase {
    const char* LoadedFile;
    const char* NewFile;
    bool DoLog;
    const char* Expected;  // empty: no message
};

class TSongListDuplicates : public ::testing::TestWithParam<TDuplicateCase> {};

TEST_P(TSongListDuplicates, ReportsTheSkippingMessageForALoadedTitle) {
    const TDuplicateCase& c = GetParam();
    TLibraryKit kit;
    Load(kit.Songs, "Hit Song", c.LoadedFile);
    EXPECT_EQ(kit.Songs.CheckForDuplicateName_WithError("Hit Song", c.NewFile, nullptr, c.DoLog), 0);
    const auto entries = kit.Entries();
    if (std::string(c.Expected).empty()) {
        EXPECT_TRUE(entries.empty());
    } else {
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].Str, c.Expected);
        EXPECT_EQ(entries[0].Icon, tracking::TActivityIcon::aiAttention);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TSongListDuplicates,
    ::testing::Values(
        TDuplicateCase{"/one/hit.qnf", "/two/Hit.QNF", true,
                       "Skipping \"Hit.QNF\": \"Hit Song\" already in memory"},
        TDuplicateCase{"/one/other.qnf", "/two/Hit.QNF", true,
                       "Skipping \"Hit.QNF\": \"Hit Song\" already in memory (loaded from file "
                       "\"other.qnf\")"},
        TDuplicateCase{"/one/other.qnf", "/two/Hit.QNF", false, ""}));

TEST(TSongList, DuplicateMessageGoesToTheAnswerChannelWhenOneIsGiven) {
    TLibraryKit kit;
    test::TRecordingAnswer answer;
    Load(kit.Songs, "Hit", "/one/hit.qnf");
    EXPECT_EQ(kit.Songs.CheckForDuplicateName_WithError("Hit", "/x/hit.qnf", &answer, true), 0);
    EXPECT_EQ(kit.Songs.CheckForDuplicateName_WithError("Miss", "/x/miss.qnf", &answer, true), -1);
    EXPECT_EQ(answer.Answers, std::vector<std::string>{"Skipping \"hit.qnf\": \"Hit\" already in memory"});
    EXPECT_TRUE(kit.Entries().empty());
}

TEST(TSongList, RefusesASlotWhenAllSongNumbersAreTaken) {
    TLibraryKit kit;
    for (std::int32_t i = 0; i < MaxSongSlots; ++i) ASSERT_EQ(kit.Songs.reserveSongIndex(), i);
    EXPECT_EQ(kit.Songs.reserveSongIndex(), -1);
    EXPECT_EQ(kit.Songs.Count(), MaxSongSlots);
    EXPECT_EQ(kit.Pause.PauseCount(), 0);
    kit.Songs.freeSong(70000, false);
    EXPECT_EQ(kit.Songs.reserveSongIndex(), 70000);
}

TEST(TSongList, ListingRowsCarryTheSlotsFiles) {
    TLibraryKit kit;
    Load(kit.Songs, "b", "/f/b.qnf");
    Load(kit.Songs, "A", "/f/a.qnf");
    const auto rows = kit.Songs.ListingRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Caption, "A");
    EXPECT_EQ(rows[0].Filename, "/f/a.qnf");
    EXPECT_EQ(rows[1].Caption, "b");
    EXPECT_EQ(tracking::TActivityHistory::ListingText(rows),
              "Sound clips (2)\r\n[ENABLED];A;/f/a.qnf;00:0:00\r\n[ENABLED];b;/f/b.qnf;00:0:00\r\n");
}

}  // namespace
}  // namespace orvane::database
