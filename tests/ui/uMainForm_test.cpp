// The composition root with a plain window side: the start sequence with a settings store and a
// fingerprint folder of the test's own, the caption texts, the action handlers and the shutdown
// that logs the clip still tracked. No sound server: channel 0 gets a capture that hears nothing.
#include "app/uMainForm.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "UiTestApp.h"
#include "UiTestKit.h"
#include "audio/FptExtract.h"
#include "database/TMemorySongListView.h"
#include "database/TPlainLibraryUi.h"
#include "database/TSongList.h"
#include "platform/PlatformAudio.h"
#include "playlog/PlayTime.h"
#include "playlog/TPlayLogRecorder.h"
#include "playlog/sqlite/TSqlitePlayLog.h"
#include "recognition/TChannel.h"
#include "signal/QnFFT.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"
#include "tracking/TActivityHistory.h"
#include "tracking/TSystemClock.h"

namespace orvane::app {
namespace {

using ui::test::TNullTray;
using ui::test::TPlainView;
using ui::test::TQuietHost;
using ui::test::TSilentCapture;

/// A settings store and a fingerprint folder in a temporary folder.
class TMainFormTest : public ui::test::TUiTest {
protected:
    void SetUp() override {
        platform::InstallAudioConversion();
        FpFolder = Dir.Folder() + "fp/";
        std::filesystem::create_directories(FpFolder);
        Location = TSettingsLocation::File(QString::fromStdString(Dir.File("settings.conf")),
                                           QString::fromStdString(Dir.Folder()),
                                           QString::fromStdString(Dir.Folder()));
        TSettingsStore store(Location);
        store.Settings.FpFolder = FpFolder;
        store.RegStuff(true);
    }

    void Fingerprint(const std::string& title, std::uint32_t seed) {
        const std::string wav = Dir.File(title + ".wav");
        test::WriteWav(wav, test::Music(seed, 8 * 11025), 11025);
        signal::QnKeyConversion converter;
        TQuietHost host;
        ASSERT_EQ(audio::ExtractFingerprint(wav, audio::TAudioFileType::ftWav, FpFolder,
                                            converter, host, false),
                  audio::TExtractResult::erWritten);
    }

    std::unique_ptr<TMainForm> Start() {
        TMainFormOptions options;
        options.Location = Location;
        options.MakeCapture = [] { return std::make_unique<TSilentCapture>(); };
        auto form = std::make_unique<TMainForm>(View, options);
        form->Init();
        QCoreApplication::processEvents();
        return form;
    }

    std::vector<std::string> Messages(TMainForm& form) {
        QCoreApplication::processEvents();
        std::vector<std::string> messages;
        for (const auto& row : form.History().Rows()) messages.push_back(row.Message);
        return messages;
    }

    test::TTempDir Dir;
    std::string FpFolder;
    TSettingsLocation Location;
    TPlainView View;
};

TEST_F(TMainFormTest, StartsWithTheWelcomeLinesAndLoadsTheFolderWhenActiveOnLoad) {
    Fingerprint("First Clip", 1);
    Fingerprint("Second Clip", 2);
    auto form = Start();

    const auto messages = Messages(*form);
    ASSERT_GE(messages.size(), 3U);
    EXPECT_EQ(messages[0], WelcomeText());
    EXPECT_EQ(messages[1], HelpAboutText);
    EXPECT_EQ(messages.back(), "Listening to 1 channels...");
    ASSERT_NE(form->SongList(), nullptr);
    EXPECT_EQ(form->SongList()->Count(), 2);
    ASSERT_EQ(View.Songs.RowCount(), 2);
    EXPECT_EQ(View.Songs.Row(0).Caption, "First Clip");
    EXPECT_EQ(View.Songs.Row(1).Caption, "Second Clip");
    EXPECT_TRUE(form->ChannelActive());
    EXPECT_TRUE(form->LogTimer().isActive());
    EXPECT_EQ(View.Tips, 0);
    form->Shutdown();
}

TEST_F(TMainFormTest, AnEmptyFolderAsksForTheFirstStepsTip) {
    auto form = Start();
    EXPECT_EQ(form->SongList()->Count(), 0);
    EXPECT_EQ(View.Tips, 1);
}

TEST_F(TMainFormTest, WithoutActiveOnLoadNothingIsLoadedAndTheChannelStaysOff) {
    Fingerprint("Clip", 3);
    {
        TSettingsStore store(Location);
        store.RegStuff(false);
        store.Settings.ActiveOnLoad = false;
        store.RegStuff(true);
    }
    auto form = Start();
    EXPECT_EQ(form->SongList()->Count(), 0);
    EXPECT_FALSE(form->ChannelActive());
    const std::string caption =
        form->RefreshCaption([](const std::string&) { return 10; }, 400).Text;
    EXPECT_EQ(caption, ChannelNotActiveText);
}

TEST_F(TMainFormTest, ShutdownWritesTheLogLineOfTheClipStillTracked) {
    auto form = Start();
    ASSERT_TRUE(form->ChannelActive());
    const double now = tracking::TSystemClock().Now();
    tracking::capInfo cap;
    cap.Caption = "Tracked Clip";
    cap.UniqueID = 2000;
    cap.Pos = 10.0f;
    cap.length = 60.0f;
    cap.TimeStamp = now;
    form->Channel()->WriteCap(cap);
    form->LogStep();
    cap.Pos = 20.0f;
    form->Channel()->WriteCap(cap);
    form->LogStep();
    form->Shutdown();

    const auto messages = Messages(*form);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "Channel01: Tracked Clip [0:08 - 0:20] (0:12)");
}

TEST_F(TMainFormTest, EveryLogLineAlsoGoesToThePlayLogUnderTheChannelCaption) {
    auto form = Start();
    ASSERT_TRUE(form->ChannelActive());
    ASSERT_NE(form->PlayLog(), nullptr);
    EXPECT_EQ(form->PlayLog()->Path(), Dir.File("plays.sqlite"));  // beside the settings
    const double now = tracking::TSystemClock().Now();
    const auto hear = [&](const char* title, std::int64_t id, float pos, double secondsLater) {
        tracking::capInfo cap;
        cap.Caption = title;
        cap.UniqueID = id;
        cap.Pos = pos;
        cap.length = 60.0f;
        cap.TimeStamp = now + secondsLater / 86400.0;
        form->Channel()->WriteCap(cap);
        form->LogStep();
    };
    hear("Tracked Clip", 2000, 10.0f, 0);
    hear("Tracked Clip", 2000, 20.0f, 10);
    hear("Next Clip", 2001, 5.0f, 11);
    hear("Next Clip", 2001, 9.0f, 15);

    const auto read = [&] {
        const playlog::TSqlitePlayLog log(Dir.File("plays.sqlite"),
                                          playlog::TSqlitePlayLog::TOpenMode::omRead);
        std::vector<std::string> rows;
        for (const auto& r : log.Plays({})) {
            rows.push_back(r.Stream + "|" + r.Title + "|" + playlog::UtcIsoText(r.StartedAtMs) +
                           "|" + (r.EndedAtMs ? playlog::UtcIsoText(*r.EndedAtMs) : "open") +
                           "|" + std::to_string(static_cast<int>(r.ClipBeginS)) + "|" +
                           std::to_string(static_cast<int>(r.ClipEndS)) + "|" +
                           std::to_string(static_cast<int>(r.DurationS)));
        }
        return rows;
    };
    const auto at = [&](double secondsLater) {
        return playlog::UtcIsoText(playlog::LocalDateTimeToUtcMs(now + secondsLater / 86400.0));
    };
    // While the window runs, the ended clip is already committed; the playing one is open.
    EXPECT_EQ(read(), (std::vector<std::string>{
                          "Channel01|Tracked Clip|" + at(0) + "|" + at(10) + "|8|20|12",
                          "Channel01|Next Clip|" + at(11) + "|open|4|0|0"}));
    form->Shutdown();
    EXPECT_EQ(read(), (std::vector<std::string>{
                          "Channel01|Tracked Clip|" + at(0) + "|" + at(10) + "|8|20|12",
                          "Channel01|Next Clip|" + at(11) + "|" + at(15) + "|4|9|5"}));

    // The in-memory history keeps its log lines as before.
    const auto messages = Messages(*form);
    ASSERT_GE(messages.size(), 2U);
    EXPECT_EQ(messages[messages.size() - 2], "Channel01: Tracked Clip [0:08 - 0:20] (0:12)");
    EXPECT_EQ(messages.back(), "Channel01: Next Clip [0:04 - 0:09] (0:05)");
}

TEST_F(TMainFormTest, APlayOfAFileChannelIsLoggedAtTheWallTimeItWasHeard) {
    auto form = Start();
    const std::int64_t before = playlog::UtcNowMs();
    tracking::capInfo cap;
    cap.Caption = "File Clip";
    cap.UniqueID = 2002;
    cap.Pos = 10.0f;
    cap.TimeStamp = 12.0 / 86400.0;  // 12 s into the file, as a file channel stamps it
    form->Channel()->WriteCap(cap);
    form->LogStep();
    cap.Pos = 20.0f;
    cap.TimeStamp = 22.0 / 86400.0;
    form->Channel()->WriteCap(cap);
    form->LogStep();
    form->Shutdown();
    const playlog::TSqlitePlayLog log(Dir.File("plays.sqlite"),
                                      playlog::TSqlitePlayLog::TOpenMode::omRead);
    const auto plays = log.Plays({});
    ASSERT_EQ(plays.size(), 1U);
    EXPECT_GE(plays[0].StartedAtMs, before);
    EXPECT_LE(plays[0].StartedAtMs, playlog::UtcNowMs());
    ASSERT_TRUE(plays[0].EndedAtMs.has_value());
    EXPECT_GE(*plays[0].EndedAtMs, plays[0].StartedAtMs);
    EXPECT_EQ(plays[0].DurationS, 12.0);
}

TEST_F(TMainFormTest, APlayLogThatCannotBeOpenedIsAnErrorEntryAndTheWindowRunsOn) {
    test::WriteBytes(Dir.File("not-a-folder"), "x");
    TMainFormOptions options;
    options.Location = Location;
    options.MakeCapture = [] { return std::make_unique<TSilentCapture>(); };
    options.PlayLogPath = Dir.File("not-a-folder/plays.sqlite");
    TMainForm form(View, options);
    form.Init();
    QCoreApplication::processEvents();
    EXPECT_EQ(form.PlayLog(), nullptr);
    const auto messages = Messages(form);
    bool reported = false;
    for (const auto& m : messages) {
        reported = reported || m.find("not-a-folder/plays.sqlite") != std::string::npos;
    }
    EXPECT_TRUE(reported);
    EXPECT_TRUE(form.ChannelActive());
    form.Shutdown();
}

TEST_F(TMainFormTest, AnUnknownActionAndAFailingOneBecomeErrorEntries) {
    auto form = Start();
    form->UndefinedAction(5);
    EXPECT_EQ(Messages(*form).back(), "Unhandled action: 5/0");
    form->DuplicateDisabled(nullptr);
    EXPECT_EQ(Messages(*form).back(),
              "Error while executing action. (@8:The disabled fingerprint is missing.)");
}

TEST_F(TMainFormTest, ABalloonIsShownAndHiddenByItsTimer) {
    auto form = Start();
    form->ShowBalloon({"Now playing on Channel01", "Some Clip"});
    ASSERT_EQ(View.Tray.Balloons.size(), 1U);
    EXPECT_TRUE(form->BalloonTimer().isActive());
    EXPECT_EQ(form->BalloonTimer().interval(), 6000);
    form->BalloonTimerTick();
    EXPECT_EQ(View.Tray.Hidden, 1);
    EXPECT_EQ(View.Tray.Hint, "ORVANE3");
}

TEST_F(TMainFormTest, RenamingTheChannelKeepsAmpersandsLiteralAndSavesIt) {
    auto form = Start();
    form->RenameChannel("Rock & Roll");
    EXPECT_EQ(form->ChannelNameForEdit(), "Rock & Roll");
    form->Shutdown();
    TSettingsStore store(Location);
    store.RegStuff(false);
    ASSERT_FALSE(store.Settings.Channels.empty());
    EXPECT_EQ(store.Settings.Channels[0].Caption, "Rock && Roll");
}

// The caption texts: every character is 10 pixels wide; the room is 100 pixels.
struct TCaptionCase {
    const char* Name;
    const char* Title;
    float Pos;
    float Length;
    double SecondsAgo;
    const char* Text;
    std::int32_t Slider;
};

class TCaptionRefresh : public ::testing::TestWithParam<TCaptionCase> {};

TEST_P(TCaptionRefresh, ShowsTheTitleWithItsRunningPosition) {
    const TCaptionCase& c = GetParam();
    tracking::capInfo cap;
    cap.Caption = c.Title;
    cap.UniqueID = 1024;
    cap.Pos = c.Pos;
    cap.length = c.Length;
    const double now = 45000.0;
    cap.TimeStamp = now - c.SecondsAgo / 86400.0;
    const auto width = [](const std::string& text) { return static_cast<int>(text.size()) * 10; };
    const TChannelCaption caption = CaptionRefresh(cap, true, now, width, 100);
    EXPECT_EQ(caption.Text, c.Text);
    EXPECT_EQ(caption.SliderPos, c.Slider);
    EXPECT_TRUE(caption.Bold);
    EXPECT_TRUE(caption.SliderVisible);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TCaptionRefresh,
    ::testing::Values(
        TCaptionCase{"Short", "Song", 61.0f, 200.0f, 0.0, "Song [1:01]", 610},
        TCaptionCase{"RunsOn", "Song", 10.0f, 200.0f, 5.0, "Song [0:15]", 150},
        TCaptionCase{"Ended", "Song", 30.0f, 30.0f, 2.0, "Song [ended]", 1999},
        TCaptionCase{"CutTitle", "A very long title", 0.0f, 100.0f, 0.0,
                     "A very lon... [0:00]", 0},
        TCaptionCase{"OneCharacterNeverCut", "X", 0.0f, 100.0f, 0.0, "X [0:00]", 0},
        TCaptionCase{"Ampersand", "Rock & Roll", 0.0f, 100.0f, 0.0, "Rock && Rol... [0:00]", 0}),
    [](const ::testing::TestParamInfo<TCaptionCase>& param) { return std::string(param.param.Name); });

TEST(TCaptionRefreshIdle, ReadsNotActiveOrNoClipInItalics) {
    const auto width = [](const std::string&) { return 0; };
    const TChannelCaption off = CaptionRefresh(tracking::capInfo{}, false, 0.0, width, 100);
    EXPECT_EQ(off.Text, "Channel is not active  ");
    EXPECT_FALSE(off.Bold);
    EXPECT_FALSE(off.SliderVisible);
    EXPECT_EQ(off.SliderPos, 0);
    EXPECT_EQ(CaptionRefresh(tracking::capInfo{}, true, 0.0, width, 100).Text,
              "No sound clip detected  ");
}

}  // namespace
}  // namespace orvane::app
