#include "app/TCommandHandler.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "database/TMemorySongListView.h"
#include "database/TPlainLibraryUi.h"
#include "platform/PlatformAudio.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TSystemClock.h"

namespace orvane::app {
namespace {

namespace fs = std::filesystem;
using tracking::TActivityIcon;

class TPlentyOfMemory final : public tracking::IMemoryStatus {
public:
    std::uint64_t AvailablePhysicalBytes() const override { return 1ull << 33; }
    std::uint64_t ProcessWorkingSetBytes() const override { return 1ull << 20; }
};

class TRecordingAnswer final : public tracking::IAnswerChannel {
public:
    void CreateAnswer(std::string_view text) override { Texts.emplace_back(text); }
    std::vector<std::string> Texts;
};

std::string TestData(const std::string& name) {
    const char* dir = std::getenv("ORVANE_TEST_DATA");
    // Without the variable (the test run by hand), the data folder beside this file's folder.
    const std::string root =
        dir != nullptr ? std::string(dir)
                       : (fs::path(__FILE__).parent_path().parent_path() / "data").string();
    return root + "/" + name;
}

/// A library on a temporary fingerprint folder "fp/" and a folder "audio/" beside it.
class TCommandHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::InstallAudioConversion();
        fs::create_directory(FDir.Path() / "fp");
        fs::create_directory(FDir.Path() / "audio");
    }

    std::string Fp(const std::string& name = {}) const { return FDir.Folder() + "fp/" + name; }
    std::string Audio(const std::string& name) const { return FDir.Folder() + "audio/" + name; }
    void WriteClip(const std::string& path, std::uint32_t seed = 3) {
        test::WriteWav(path, test::Music(seed, 11025 * 2), 11025);
    }
    /// The checked-in fingerprint, copied to `path`; its title is "chirp-11025".
    void CopyFingerprint(const std::string& path) {
        fs::copy_file(TestData("cli/chirp-11025.qnf"), path);
    }

    std::vector<tracking::TActivityData> Entries() {
        std::vector<tracking::TActivityData> entries;
        for (auto& message : FPoster.TakeAll()) {
            if (auto* entry = std::get_if<tracking::TActivityData>(&message))
                entries.push_back(*entry);
        }
        return entries;
    }
    std::vector<std::string> Texts() {
        std::vector<std::string> texts;
        for (const auto& e : Entries()) texts.push_back(e.Str);
        return texts;
    }

    test::TTempDir FDir;
    tracking::TQueuePoster FPoster;
    tracking::TSystemClock FClock;
    TPlentyOfMemory FMemory;
    tracking::TPosting FPosting{FPoster, FClock};
    tracking::TMemoryGuard FGuard{FMemory, FClock, FPosting};
    tracking::TCountingRecognitionPause FPause;
    database::TMemorySongListView FView;
    database::TSongList FSongs{FPause, FPosting, FView};
    database::TMediumDB FIndex;
    database::TPlainProgressDialog FProgress;
    database::TScriptedLibraryWindow FWindow;
    database::TFptLibrary FLibrary{
        database::TLibraryParts{FSongs, FIndex, FPause, FPosting, FGuard, FProgress, FWindow},
        database::TLibrarySettings{FDir.Folder() + "fp/"}};
    signal::QnKeyConversion FConverter;
    TCommandHandler FHandler{TCommandParts{&FLibrary, &FSongs, &FIndex, FPause, FPosting, FGuard,
                                           FProgress, FWindow, FConverter}};
    TRecordingAnswer FAnswer;
};

TEST(TCommandHandlerRules, ExtensionsAndSwitchesAreRecognised) {
    struct TCase {
        const char* Path;
        const char* Extension;
    };
    const TCase cases[] = {{"a.mp3", ".MP3"}, {"/x/Song.Wav", ".WAV"}, {"x.tar.QnF", ".QNF"},
                           {"noext", ""},     {"dir.d/noext", ""},     {"/x/.hidden", ".HIDDEN"},
                           {"trailing.", "."}};
    for (const auto& c : cases) EXPECT_EQ(UpperExtension(c.Path), c.Extension) << c.Path;
    EXPECT_TRUE(IsSwitchParameter("/min"));
    EXPECT_TRUE(IsSwitchParameter("-v"));
    EXPECT_TRUE(IsSwitchParameter("--quiet"));
    EXPECT_FALSE(IsSwitchParameter("/home/me/song.mp3"));
    EXPECT_FALSE(IsSwitchParameter("song.mp3"));
    EXPECT_FALSE(IsSwitchParameter(""));
}

TEST_F(TCommandHandlerTest, AWavFileIsFingerprintedIntoTheFolderAndLoaded) {
    WriteClip(Audio("First Song.wav"));
    FHandler.HandleCommand(Audio("First Song.wav"), nullptr);
    EXPECT_TRUE(fs::exists(Fp("First Song.qnf")));
    EXPECT_EQ(FSongs.Count(), 1);
    const auto texts = Texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "Extracting fingerprint from \"First Song.wav\"");
    EXPECT_GE(FWindow.ProcessedMessages, 1) << "pending events are processed after a command";
    EXPECT_EQ(FPause.PauseCount(), 0);
}

TEST_F(TCommandHandlerTest, MessagesOfAFingerprintForAnotherProgramGoToItsAnswerChannel) {
    WriteClip(Audio("Asked.WAV"));
    FHandler.HandleCommand(Audio("Asked.WAV"), &FAnswer);
    EXPECT_EQ(FSongs.Count(), 1);
    ASSERT_FALSE(FAnswer.Texts.empty());
    EXPECT_EQ(FAnswer.Texts.front(), "Extracting fingerprint from \"Asked.WAV\"");
    EXPECT_TRUE(Texts().empty());
}

TEST_F(TCommandHandlerTest, AnAudioFileThatCannotBeOpenedIsReportedAsAFileError) {
    FHandler.HandleCommand(Audio("missing.Mp3"), nullptr);
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Str, "Error accessing mp3 file \"missing.Mp3\": Path not found");
    EXPECT_EQ(entries[0].Icon, TActivityIcon::aiError);
    FHandler.HandleCommand(Audio("missing.wav"), &FAnswer);
    EXPECT_EQ(FAnswer.Texts,
              std::vector<std::string>{"Error accessing wav file \"missing.wav\": Path not found"});
}

TEST_F(TCommandHandlerTest, ForwardedFifosAreRefusedByKindWithoutBlockingTheWindow) {
    struct TCase {
        std::string Command;
        std::string Message;
    };
    ASSERT_EQ(::mkfifo(Audio("live.wav").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(Audio("live.mp3").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(Fp("x.qnf").c_str(), 0600), 0);
    for (const TCase& c : {TCase{Audio("live.wav"), "\"live.wav\" (a FIFO) is not a regular file"},
                           TCase{Audio("live.mp3"), "\"live.mp3\" (a FIFO) is not a regular file"},
                           // Not a file to load: the name finds no fingerprint file.
                           TCase{Fp("x.qnf"), "Could not find fingerprint file."}}) {
        FAnswer.Texts.clear();
        FHandler.HandleCommand(c.Command, &FAnswer);
        EXPECT_EQ(FAnswer.Texts, std::vector<std::string>{c.Message}) << c.Command;
    }
    EXPECT_EQ(FSongs.Count(), 0);
}

TEST_F(TCommandHandlerTest, AMissingFingerprintFolderStopsFingerprintingWithItsMessage) {
    FLibrary.SetSettings(database::TLibrarySettings{FDir.Folder() + "nowhere/"});
    WriteClip(Audio("a.wav"));
    FHandler.HandleCommand(Audio("a.wav"), nullptr);
    EXPECT_EQ(FWindow.Messages, std::vector<std::string>{"Error: Could not find folder \"" +
                                                         FDir.Folder() + "nowhere/\"."});
    FHandler.HandleCommand(Audio("a.wav"), &FAnswer);
    EXPECT_EQ(FAnswer.Texts, std::vector<std::string>{"Error: Could not find folder \"" +
                                                      FDir.Folder() + "nowhere/\"."});
    EXPECT_EQ(FSongs.Count(), 0);
}

TEST_F(TCommandHandlerTest, FingerprintNamesAreLoadedByTheRulesOfTheirExtension) {
    struct TCase {
        const char* What;
        std::string PlaceFile;  // where a copy of the fingerprint lies ("" = nowhere)
        std::string Command;
        bool WithAnswer;
        int Loaded;
        std::vector<std::string> Answers;
        std::vector<std::string> Entries;
    };
    const std::string only = OnlyMp3AndWavText;
    const TCase cases[] = {
        {"a .qnf path", Audio("x.qnf"), Audio("x.qnf"), false, 1, {}, {}},
        {"upper-case .QNF", Audio("X.QNF"), Audio("X.QNF"), false, 1, {}, {}},
        {"a .qnf name found in the folder", Fp("x.qnf"), "/no/such/place/x.qnf", false, 1, {}, {}},
        {"a bare .qnf name in the folder", Fp("x.qnf"), "x.qnf", false, 1, {}, {}},
        {"a .qnf found nowhere, with answer", "", "x.qnf", true, 0, {NoFingerprintFileText}, {}},
        {"a .qnf found nowhere, no answer", "", "x.qnf", false, 0, {}, {}},
        {"a name without extension", Fp("x.qnf"), "x", false, 1, {}, {}},
        {"another extension becomes .qnf", Fp("x.qnf"), "x.txt", false, 1, {}, {}},
        {"a folder keeps its folder", Audio("x.qnf"), Audio("x"), false, 1, {}, {}},
        {"a name found nowhere", "", "x", false, 0, {}, {only}},
        {"a name found nowhere, with answer", "", "x.doc", true, 0, {only}, {}},
        {"a name with folder is not looked up in the fingerprint folder",
         Fp("x.qnf"),
         Audio("x"),
         false,
         0,
         {},
         {only}},
    };
    for (const auto& c : cases) {
        FLibrary.MenuItemClearSonglistClick(&FAnswer);
        FAnswer.Texts.clear();
        Entries();
        fs::remove(Fp("x.qnf"));
        fs::remove(Audio("x.qnf"));
        fs::remove(Audio("X.QNF"));
        if (!c.PlaceFile.empty()) CopyFingerprint(c.PlaceFile);

        FHandler.HandleCommand(c.Command, c.WithAnswer ? &FAnswer : nullptr);
        EXPECT_EQ(FSongs.Count(), c.Loaded) << c.What;
        EXPECT_EQ(FAnswer.Texts, c.Answers) << c.What;
        EXPECT_EQ(Texts(), c.Entries) << c.What;
    }
}

TEST_F(TCommandHandlerTest, TheAttentionIconMarksAnUnsupportedName) {
    FHandler.HandleCommand("readme", nullptr);
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Icon, TActivityIcon::aiAttention);
}

TEST_F(TCommandHandlerTest, NothingHappensBeforeTheLibraryExists) {
    TCommandHandler early(TCommandParts{nullptr, nullptr, nullptr, FPause, FPosting, FGuard,
                                        FProgress, FWindow, FConverter});
    early.HandleCommand("anything", &FAnswer);
    early.HandleForwardedCommands({QStringLiteral("x.qnf")});
    EXPECT_TRUE(FAnswer.Texts.empty());
    EXPECT_TRUE(Texts().empty());
    EXPECT_EQ(FWindow.ProcessedMessages, 0);
}

TEST_F(TCommandHandlerTest, TheCommandLineSkipsSwitchesAndHandlesPathsInOrder) {
    WriteClip(Audio("Track.wav"));
    CopyFingerprint(Fp("x.qnf"));
    FHandler.HandleCommandLine({"/minimized", Audio("Track.wav"), "-q", "x"});
    EXPECT_EQ(FSongs.Count(), 2);
    const auto texts = Texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "Extracting fingerprint from \"Track.wav\"");
    EXPECT_EQ(std::count(texts.begin(), texts.end(), std::string(OnlyMp3AndWavText)), 0);
}

TEST_F(TCommandHandlerTest, MoreThanFortyEightParametersLoadIntoAnUnsortedIndex) {
    for (const std::size_t count : {std::size_t{48}, std::size_t{49}}) {
        FLibrary.MenuItemClearSonglistClick(&FAnswer);
        ASSERT_TRUE(FIndex.Sorted());
        std::vector<std::string> parameters(count, "/switch");
        FHandler.HandleCommandLine(parameters);
        EXPECT_EQ(FIndex.Sorted(), count <= 48) << count;
    }
}

TEST_F(TCommandHandlerTest, ForwardedCommandsOptimiseTheIndexOnceWhenTheyLoadedSomething) {
    CopyFingerprint(Fp("x.qnf"));
    FIndex.SetSorted(false);
    FHandler.HandleForwardedCommands({QStringLiteral("nothing")});
    EXPECT_FALSE(FIndex.Sorted()) << "nothing loaded: no optimisation";
    FHandler.HandleForwardedCommands({QStringLiteral("x.qnf")});
    EXPECT_EQ(FSongs.Count(), 1);
    EXPECT_TRUE(FIndex.Sorted());
}

TEST_F(TCommandHandlerTest, AnAlreadyLoadedTitleIsSkippedWithTheSongListsMessage) {
    WriteClip(Audio("Same.wav"));
    FHandler.HandleCommand(Audio("Same.wav"), nullptr);
    ASSERT_EQ(FSongs.Count(), 1);
    Entries();
    FHandler.HandleCommand(Audio("Same.wav"), &FAnswer);
    EXPECT_EQ(FSongs.Count(), 1);
    ASSERT_EQ(FAnswer.Texts.size(), 1u);
    EXPECT_NE(FAnswer.Texts[0].find("Skipping"), std::string::npos) << FAnswer.Texts[0];
}

TEST(TCommandHandlerForwarding, RelativePathsOfExistingFilesBecomeAbsolute) {
    test::TTempDir dir;
    test::WriteBytes(dir.File("here.wav"), "x");
    const auto previous = fs::current_path();
    fs::current_path(dir.Path());
    const QStringList resolved = ResolveForwardedParameters(
        {QStringLiteral("here.wav"), QStringLiteral("absent.qnf"), QStringLiteral("/min"),
         QString::fromStdString(dir.File("here.wav"))});
    fs::current_path(previous);
    EXPECT_EQ(resolved, (QStringList{QString::fromStdString(dir.File("here.wav")),
                                     QStringLiteral("absent.qnf"), QStringLiteral("/min"),
                                     QString::fromStdString(dir.File("here.wav"))}));
}

}  // namespace
}  // namespace orvane::app

namespace orvane::app {
namespace {

TEST_F(TCommandHandlerTest, TheBatchStopsAfterTheFileInWhichTheUserCancelled) {
    WriteClip(Audio("A.wav"), 11);
    WriteClip(Audio("B.wav"), 12);
    WriteClip(Audio("C.wav"), 13);
    FProgress.OnProgress = [this](int) { FProgress.PressCancel(); };
    FHandler.MenuItemExtractAllWavClick(FDir.Folder() + "audio");
    // The file in hand is dropped unwritten and no further file is begun.
    std::int32_t written = 0;
    for (const auto& entry : fs::directory_iterator(Fp())) written += entry.is_regular_file();
    EXPECT_EQ(written, 0);
    EXPECT_EQ(FSongs.Count(), 0);
    EXPECT_FALSE(FProgress.Cancelled());
    EXPECT_FALSE(FPause.Paused());

    // Nothing is left over from the cancellation: the next batch runs through.
    FProgress.OnProgress = nullptr;
    FHandler.MenuItemExtractAllWavClick(FDir.Folder() + "audio");
    EXPECT_EQ(FSongs.Count(), 3);
    EXPECT_FALSE(FPause.Paused());
}

TEST_F(TCommandHandlerTest, TheSingleFileCommandLeavesNothingWhenTheChooserIsCancelled) {
    FHandler.MenuItemExtractWavClick([] { return std::string(); });
    EXPECT_TRUE(Texts().empty());
    EXPECT_EQ(FPause.PauseCount(), 0);
    WriteClip(Audio("Chosen.WAV"));
    FHandler.MenuItemExtractWavClick([this] { return Audio("Chosen.WAV"); });
    EXPECT_TRUE(fs::exists(Fp("Chosen.qnf")));
    EXPECT_EQ(FSongs.Count(), 1);
    EXPECT_FALSE(FPause.Paused());
}

}  // namespace
}  // namespace orvane::app
