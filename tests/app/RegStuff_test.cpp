#include "app/RegStuff.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSettings>
#include <chrono>
#include <filesystem>
#include <future>
#include <ostream>
#include <string>
#include <vector>

#include "SettingsTestUtil.h"
#include "recognition/TChannelBasic.h"
#include "recognition/TRecognitionLock.h"
#include "support/TempDir.h"
#include "tracking/TEventServe.h"
#include "tracking/TLogSystem.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TSystemClock.h"

namespace orvane::app {
namespace {

using orvane::test::TTempDir;
using test::ReadText;
using test::TempLocation;

class RegStuffTest : public ::testing::Test {
protected:
    std::string Documents() const { return Dir.File("Documents") + "/"; }
    std::string DefaultFolder() const { return Documents() + "My Fingerprints/"; }
    std::string StoreFile() const { return Dir.File("OrvanePro3.conf"); }
    /// Replaces the store by an INI text written by hand.
    /// Replaces the store file. Its time stamp moves on by a minute each time: the settings cache
    /// knows a file by size and time stamp, and a value of the same length written within the same
    /// second would otherwise be taken for the cached content.
    void WriteStore(const std::string& text) const {
        const std::string path = StoreFile();
        const bool existed = std::filesystem::exists(path);
        const auto before = existed ? std::filesystem::last_write_time(path)
                                    : std::filesystem::file_time_type::clock::now();
        orvane::test::WriteBytes(path, text);
        std::filesystem::last_write_time(path, before + std::chrono::minutes(1));
    }

    TTempDir Dir;
};

TEST_F(RegStuffTest, FirstStartWithNoStoreKeepsTheDefaultsAndMakesTheFingerprintFolder) {
    TSettingsStore store(TempLocation(Dir));
    int snapshots = 0;
    store.OnSnapshot = [&](const TSettingsSnapshot&) { ++snapshots; };

    EXPECT_FALSE(store.RegStuff(false));

    const TSettings expected = TSettings::Defaults(DefaultFolder(), Dir.File("Music") + "/");
    EXPECT_EQ(store.Settings, expected);
    EXPECT_EQ(store.Settings.Channels.at(0).Caption, "Channel01");
    EXPECT_EQ(store.Settings.IdleTimeout, 5);
    EXPECT_EQ(store.Settings.Priority, -1);
    EXPECT_EQ(store.Settings.DuplicateKeep, 1);
    EXPECT_EQ(snapshots, 1);
    // A new user gets the folder the fingerprints go to, and the first-steps tip; nothing is
    // stored until the save that follows.
    EXPECT_TRUE(std::filesystem::is_directory(DefaultFolder()));
    EXPECT_TRUE(store.FirstStepsTip());
    EXPECT_FALSE(std::filesystem::exists(StoreFile()));
    EXPECT_TRUE(store.LastErrors().empty());
}

TEST_F(RegStuffTest, FirstStartReportsAFingerprintFolderThatCannotBeMade) {
    // A plain file where the documents folder should be: the folder cannot be made.
    orvane::test::WriteBytes(Dir.File("Documents"), "not a folder");
    TSettingsStore store(TempLocation(Dir));
    std::vector<std::string> reported;
    store.OnError = [&](const std::string& message) { reported.push_back(message); };

    EXPECT_FALSE(store.RegStuff(false));

    EXPECT_EQ(reported, std::vector<std::string>{"Directory could not be created."});
    EXPECT_TRUE(store.FirstStepsTip());
    EXPECT_EQ(store.Settings.FpFolder, DefaultFolder());
}

TEST_F(RegStuffTest, TheSaveAfterAFirstStartWritesEveryDefaultAndTheNextStartReadsThem) {
    {
        TSettingsStore first(TempLocation(Dir));
        ASSERT_FALSE(first.RegStuff(false));
        ASSERT_TRUE(first.RegStuff(true));
    }
    const std::string text = ReadText(StoreFile());
    for (const std::string& line :
         {"FpFolder=" + DefaultFolder(), "BatFolder=" + Dir.File("Music") + "/",
          std::string("DeepSearch=1"), std::string("Announce=0"), std::string("Systray=1"),
          std::string("Balloon=1"), std::string("Priority=-1"), std::string("DuplicateKeep=1"),
          std::string("Highquality=0"), std::string("RobustSearch=0"),
          std::string("EventsEnabled=0"),
          std::string("Compatibility=0"), std::string("ActiveOnLoad=1"),
          std::string("AutoFileName="), std::string("ChannelDevice0="),
          std::string("ChannelCap0=Channel01"), std::string("ChannelMode0=0"),
          std::string("IdleTimeout=5")}) {
        EXPECT_NE(text.find(line + "\n"), std::string::npos) << line << " in\n" << text;
    }
    EXPECT_EQ(text.find("Simult"), std::string::npos);

    TSettingsStore second(TempLocation(Dir));
    EXPECT_TRUE(second.RegStuff(false));
    EXPECT_EQ(second.Settings.FpFolder, DefaultFolder());
    // The load of an existing store creates the missing fingerprint folder.
    EXPECT_TRUE(std::filesystem::is_directory(DefaultFolder()));
    EXPECT_TRUE(second.FirstStepsTip());
}

TEST_F(RegStuffTest, EveryValueRoundTripsWithItsType) {
    TSettingsStore first(TempLocation(Dir));
    TSettings& s = first.Settings;
    s.FpFolder = Dir.File("prints, ünïcode") + "/";
    s.BatFolder = Dir.File("batch") + "/";
    s.DeepSearch = false;
    s.Announce = true;
    s.Systray = false;
    s.Balloon = false;
    s.Priority = 1;
    s.DuplicateKeep = 0;
    s.Highquality = true;
    s.RobustSearch = true;
    s.EventsEnabled = true;
    s.Compatibility = true;
    s.ActiveOnLoad = false;
    s.AutoFileName = "auto name.wav";
    s.Channels.at(0) = TChannelSettings{"Monitor of Null Output", "Studio", 2};
    s.IdleTimeout = 0;
    ASSERT_TRUE(first.RegStuff(true));

    // Numbers and Booleans are stored as numbers, texts as texts.
    QSettings raw(QString::fromStdString(StoreFile()), QSettings::IniFormat);
    EXPECT_EQ(raw.value(QStringLiteral("DeepSearch")).toString(), QStringLiteral("0"));
    EXPECT_EQ(raw.value(QStringLiteral("Announce")).toString(), QStringLiteral("1"));
    EXPECT_EQ(raw.value(QStringLiteral("Priority")).toString(), QStringLiteral("1"));
    EXPECT_EQ(raw.value(QStringLiteral("ChannelMode0")).toString(), QStringLiteral("2"));
    EXPECT_EQ(raw.value(QStringLiteral("IdleTimeout")).toString(), QStringLiteral("0"));
    EXPECT_EQ(raw.value(QStringLiteral("FpFolder")).toString().toStdString(), s.FpFolder);

    TSettingsStore second(TempLocation(Dir));
    ASSERT_TRUE(second.RegStuff(false));
    EXPECT_EQ(second.Settings, first.Settings);
    EXPECT_TRUE(second.LastErrors().empty());
    EXPECT_TRUE(second.CompatibilityFlag());
}

TEST_F(RegStuffTest, AStoreWithoutFpFolderUsesTheDocumentsFolderAndCreatesIt) {
    WriteStore("[General]\nAnnounce=1\n");
    std::filesystem::create_directories(Documents());
    TSettingsStore store(TempLocation(Dir));
    ASSERT_TRUE(store.RegStuff(false));
    EXPECT_EQ(store.Settings.FpFolder, DefaultFolder());
    EXPECT_TRUE(store.Settings.Announce);
    EXPECT_TRUE(std::filesystem::is_directory(DefaultFolder()));
    EXPECT_TRUE(store.FirstStepsTip());
    EXPECT_TRUE(store.LastErrors().empty());
}

TEST_F(RegStuffTest, FoldersWithoutATrailingSeparatorAreCompleted) {
    const std::string prints = Dir.File("prints");
    WriteStore("[General]\nFpFolder=" + prints + "\nBatFolder=" + Dir.File("batch") + "\n");
    TSettingsStore store(TempLocation(Dir));
    ASSERT_TRUE(store.RegStuff(false));
    EXPECT_EQ(store.Settings.FpFolder, prints + "/");
    EXPECT_EQ(store.Settings.BatFolder, Dir.File("batch") + "/");
    EXPECT_EQ(store.Snapshot().Form3FolderFilesEdit1Text, prints + "/");
}

TEST_F(RegStuffTest, AFolderHoldingFingerprintsShowsNoFirstStepsTip) {
    const std::string prints = Dir.File("prints");
    std::filesystem::create_directories(prints);
    orvane::test::WriteBytes(prints + "/song.qnf", "x");
    WriteStore("[General]\nFpFolder=" + prints + "/\n");
    TSettingsStore store(TempLocation(Dir));
    ASSERT_TRUE(store.RegStuff(false));
    EXPECT_FALSE(store.FirstStepsTip());
}

TEST_F(RegStuffTest, AFolderThatCannotBeCreatedIsReportedAndTheLoadGoesOn) {
    orvane::test::WriteBytes(Dir.File("plainfile"), "x");
    WriteStore("[General]\nFpFolder=" + Dir.File("plainfile") + "/prints/\nAnnounce=1\n");
    TSettingsStore store(TempLocation(Dir));
    std::vector<std::string> reported;
    store.OnError = [&](const std::string& message) { reported.push_back(message); };
    ASSERT_TRUE(store.RegStuff(false));
    EXPECT_EQ(reported, std::vector<std::string>{"Directory could not be created."});
    EXPECT_EQ(store.LastErrors(), reported);
    EXPECT_TRUE(store.Settings.Announce);
}

TEST_F(RegStuffTest, TheToolCanLoadWithoutTouchingTheFolder) {
    WriteStore("[General]\nFpFolder=" + Dir.File("prints") + "/\n");
    TSettingsStore store(TempLocation(Dir));
    store.FolderChecks = false;
    ASSERT_TRUE(store.RegStuff(false));
    EXPECT_FALSE(std::filesystem::exists(Dir.File("prints")));
}

struct TWrongValue {
    const char* Line;     // the stored line
    const char* Message;  // the error that names it
};

void PrintTo(const TWrongValue& value, std::ostream* os) { *os << value.Line; }

class RegStuffWrongValue : public RegStuffTest,
                           public ::testing::WithParamInterface<TWrongValue> {};

TEST_P(RegStuffWrongValue, GetsAClearErrorKeepsTheDefaultAndLoadsTheRest) {
    // Every value is first stored away from its default, so a kept default is visible.
    TSettingsStore writer(TempLocation(Dir));
    TSettings& s = writer.Settings;
    s.DeepSearch = false;
    s.Priority = 1;
    s.DuplicateKeep = 0;
    s.IdleTimeout = 9;
    s.Balloon = false;
    s.Channels.at(0) = TChannelSettings{"Dev", "Studio", 1};
    s.AutoFileName = "auto";
    s.Highquality = true;
    ASSERT_TRUE(writer.RegStuff(true));
    std::string text = ReadText(StoreFile());
    const std::string line = GetParam().Line;
    const std::string name = line.substr(0, line.find('='));
    const std::size_t at = text.find("\n" + name + "=");
    ASSERT_NE(at, std::string::npos);
    const std::size_t end = text.find('\n', at + 1);
    text.replace(at + 1, end - at - 1, line);
    WriteStore(text);

    TSettingsStore store(TempLocation(Dir));
    store.Settings.IdleTimeout = 77;  // a live value the failed load must not leave behind
    ASSERT_TRUE(store.RegStuff(false));
    ASSERT_EQ(store.LastErrors().size(), 1u) << text;
    EXPECT_EQ(store.LastErrors()[0], GetParam().Message);

    TSettings expected = writer.Settings;
    const TSettings defaults = TSettings::Defaults("", "");
    if (name == "DeepSearch") expected.DeepSearch = defaults.DeepSearch;
    if (name == "Priority") expected.Priority = defaults.Priority;
    if (name == "DuplicateKeep") expected.DuplicateKeep = defaults.DuplicateKeep;
    if (name == "IdleTimeout") expected.IdleTimeout = defaults.IdleTimeout;
    if (name == "ChannelMode0") expected.Channels[0].Mode = 0;
    if (name == "ChannelCap0") expected.Channels[0].Caption = "Channel01";
    if (name == "AutoFileName") expected.AutoFileName = "";
    EXPECT_EQ(store.Settings, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RegStuffWrongValue,
    ::testing::Values(
        TWrongValue{"IdleTimeout=abc",
                    "The setting \"IdleTimeout\" holds \"abc\", which is not a whole number; its "
                    "default 5 is used."},
        TWrongValue{"IdleTimeout=5s",
                    "The setting \"IdleTimeout\" holds \"5s\", which is not a whole number; its "
                    "default 5 is used."},
        TWrongValue{"IdleTimeout=-3",
                    "The setting \"IdleTimeout\" holds -3, which is out of range (0 or more); its "
                    "default 5 is used."},
        TWrongValue{"IdleTimeout=99999999999",
                    "The setting \"IdleTimeout\" holds 99999999999, which is out of range (0 or "
                    "more); its default 5 is used."},
        TWrongValue{"Priority=high",
                    "The setting \"Priority\" holds \"high\", which is not a whole number; its "
                    "default -1 is used."},
        TWrongValue{"Priority=2",
                    "The setting \"Priority\" holds 2, which is out of range (-1 to 1); its "
                    "default -1 is used."},
        TWrongValue{"DuplicateKeep=5",
                    "The setting \"DuplicateKeep\" holds 5, which is out of range (0 to 1); its "
                    "default 1 is used."},
        TWrongValue{"DeepSearch=yes",
                    "The setting \"DeepSearch\" holds \"yes\", which is not a Boolean (0 or 1); "
                    "its default 1 is used."},
        TWrongValue{"ChannelMode0=3",
                    "The setting \"ChannelMode0\" holds 3, which is out of range (0 to 2); its "
                    "default 0 is used."},
        TWrongValue{"ChannelCap0=@Point(1 2)",
                    "The setting \"ChannelCap0\" holds a value of type QPoint, which is not a "
                    "text; its default \"Channel01\" is used."},
        TWrongValue{"AutoFileName=a, b",
                    "The setting \"AutoFileName\" holds a value of type QStringList, which is not "
                    "a text; its default \"\" is used."}),
    [](const ::testing::TestParamInfo<TWrongValue>& testCase) {
        // The setting's name and the case number: "IdleTimeout_0".
        std::string line = testCase.param.Line;
        return line.substr(0, line.find('=')) + "_" + std::to_string(testCase.index);
    });

TEST_F(RegStuffTest, BooleansReadAsTrueWhenNotZero) {
    WriteStore("[General]\nAnnounce=7\nDeepSearch=0\nSystray=false\nBalloon=true\n");
    TSettingsStore store(TempLocation(Dir));
    ASSERT_TRUE(store.RegStuff(false));
    EXPECT_TRUE(store.Settings.Announce);
    EXPECT_FALSE(store.Settings.DeepSearch);
    EXPECT_FALSE(store.Settings.Systray);
    EXPECT_TRUE(store.Settings.Balloon);
    EXPECT_TRUE(store.LastErrors().empty());
}

TEST_F(RegStuffTest, SimultIsOnlyTestedForPresenceAndNeverWritten) {
    WriteStore("[General]\nSimult=whatever\n");
    TSettingsStore store(TempLocation(Dir));
    ASSERT_TRUE(store.RegStuff(false));
    EXPECT_TRUE(store.Settings.SimultPresent);
    EXPECT_TRUE(store.LastErrors().empty());
}

TEST_F(RegStuffTest, TheSnapshotFollowsEveryLoadAndSaveUnderTheRecognitionLock) {
    recognition::TRecognitionLock lock;
    TSettingsStore store(TempLocation(Dir));
    store.SetRecognitionLock(&lock);
    std::vector<TSettingsSnapshot> snapshots;
    std::vector<bool> lockHeld;
    store.OnSnapshot = [&](const TSettingsSnapshot& snapshot) {
        snapshots.push_back(snapshot);
        auto tryLock = std::async(std::launch::async, [&lock] {
            const bool got = lock.try_lock();
            if (got) lock.unlock();
            return got;
        });
        lockHeld.push_back(!tryLock.get());
    };
    store.Settings.Balloon = false;
    store.Settings.Highquality = true;
    store.Settings.DeepSearch = false;
    store.Settings.DuplicateKeep = 0;
    ASSERT_TRUE(store.RegStuff(true));
    store.Settings.DuplicateKeep = 1;
    ASSERT_TRUE(store.RegStuff(false));  // back to what was saved

    ASSERT_EQ(snapshots.size(), 2u);
    const TSettingsSnapshot expected{false, true, false, DefaultFolder(), false};
    EXPECT_EQ(snapshots[0], expected);
    EXPECT_EQ(snapshots[1], expected);
    EXPECT_EQ(lockHeld, (std::vector<bool>{true, true}));
}

TEST_F(RegStuffTest, ASaveThatCannotWriteReturnsFalseWithoutASnapshot) {
    orvane::test::WriteBytes(Dir.File("plainfile"), "x");
    TSettingsStore store(TSettingsLocation::File(
        QString::fromStdString(Dir.File("plainfile") + "/OrvanePro3.conf"),
        QString::fromStdString(Documents()), QString::fromStdString(Dir.File("Music"))));
    int snapshots = 0;
    store.OnSnapshot = [&](const TSettingsSnapshot&) { ++snapshots; };
    EXPECT_FALSE(store.RegStuff(true));
    EXPECT_EQ(snapshots, 0);
    ASSERT_EQ(store.LastErrors().size(), 1u);
    EXPECT_NE(store.LastErrors()[0].find("could not be saved"), std::string::npos);
}

class RegStuffChannelTest : public RegStuffTest {
protected:
    tracking::TQueuePoster Queue;
    tracking::TSystemClock Clock;
    tracking::TPosting Posting{Queue, Clock};
    recognition::TRecognitionLock Lock;
    recognition::TChannelBasic Channel{0, 0, "Channel01", Lock, Posting};
};

TEST_F(RegStuffChannelTest, TheChannelTakesItsDeviceNameCaptionAndSideAndGivesThemBack) {
    WriteStore("[General]\nChannelDevice0=USB Mic\nChannelCap0=Studio\nChannelMode0=1\n");
    TSettingsStore store(TempLocation(Dir));
    store.AttachChannel(0, &Channel);
    ASSERT_TRUE(store.RegStuff(false));
    EXPECT_EQ(Channel.SoundDevice.DevName, "USB Mic");
    EXPECT_EQ(Channel.Name(), "Studio");
    EXPECT_EQ(store.Settings.Channels.at(0).Mode, 1);
    // The stored side is the side the channel listens to, not only a remembered number.
    EXPECT_EQ(Channel.ChSide, 1);

    Channel.SetCaption("Renamed");
    Channel.SoundDevice.DevName = "Line In";
    Channel.SetChSide(2);
    ASSERT_TRUE(store.RegStuff(true));
    QSettings raw(QString::fromStdString(StoreFile()), QSettings::IniFormat);
    EXPECT_EQ(raw.value(QStringLiteral("ChannelCap0")).toString(), QStringLiteral("Renamed"));
    EXPECT_EQ(raw.value(QStringLiteral("ChannelDevice0")).toString(), QStringLiteral("Line In"));
    EXPECT_EQ(raw.value(QStringLiteral("ChannelMode0")).toString(), QStringLiteral("2"));
}

TEST_F(RegStuffChannelTest, LoadingAnotherSideRestartsAnActiveChannelOnIt) {
    test::EnsureApplication();
    WriteStore("[General]\nChannelMode0=2\n");
    TSettingsStore store(TempLocation(Dir));
    store.AttachChannel(0, &Channel);
    Channel.SetActive(true);

    ASSERT_TRUE(store.RegStuff(false));

    EXPECT_EQ(Channel.ChSide, 2);
    EXPECT_TRUE(Channel.Active());
}

TEST_F(RegStuffChannelTest, SwitchingCompatibilityRestartsAnActiveChannelAndLeavesItActive) {
    test::EnsureApplication();
    TSettingsStore store(TempLocation(Dir));
    store.AttachChannel(0, &Channel);
    Channel.SetActive(true);
    ASSERT_TRUE(Channel.Active());
    EXPECT_FALSE(Channel.Compatibility());

    store.Settings.Compatibility = true;
    ASSERT_TRUE(store.RegStuff(true));
    EXPECT_TRUE(store.CompatibilityFlag());
    EXPECT_TRUE(Channel.Compatibility());
    EXPECT_TRUE(Channel.Active());

    Channel.SetActive(false);
    store.Settings.Compatibility = false;
    ASSERT_TRUE(store.RegStuff(true));
    EXPECT_FALSE(Channel.Compatibility());
    EXPECT_FALSE(Channel.Active());
}

TEST_F(RegStuffChannelTest, IdleTimeoutReachesTheTrackerAndEventsEnabledTheEventTable) {
    tracking::TLogSystem tracker(Posting, Clock);
    tracking::TEventServe events;
    WriteStore("[General]\nIdleTimeout=12\nEventsEnabled=1\n");
    TSettingsStore store(TempLocation(Dir));
    store.SetLogSystem(&tracker);
    store.SetEventServe(&events);
    ASSERT_TRUE(store.RegStuff(false));
    EXPECT_EQ(tracker.IdleTimeout(), 12);
    EXPECT_TRUE(events.Enabled());
}

TEST(TSettingsStore, ADeviceNameResolvesToTheLastDeviceOfThatName) {
    const std::vector<recognition::TLInfo> devices{
        {"Default", 0xFFFFFFFF, 0}, {"USB Mic", 3, 7}, {"Line In", 4, 1}, {"USB Mic", 5, 9}};
    recognition::TLInfo device{"USB Mic", 1, 2};
    TSettingsStore::ResolveDevice(device, devices);
    EXPECT_EQ(device.DevNo, 5u);
    EXPECT_EQ(device.ManID, 9);

    recognition::TLInfo gone{"Unplugged", 2, 3};
    TSettingsStore::ResolveDevice(gone, devices);
    EXPECT_EQ(gone.DevName, "Unplugged");
    EXPECT_EQ(gone.DevNo, 2u);

    recognition::TLInfo unnamed{"", 6, 0};
    TSettingsStore::ResolveDevice(unnamed, {{"", 9, 9}});
    EXPECT_EQ(unnamed.DevNo, 6u);
}

TEST(TSettingsStore, TheUsersStoreIsTheOrganisationsNativeFileInTheConfigFolder) {
    // Only a temporary folder stands in for the user's configuration folder.
    static TTempDir config;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(config.Path().string()));
    const TSettingsLocation user = TSettingsLocation::User();
    TSettingsStore store(user);
    EXPECT_EQ(store.StoreName().toStdString(), config.File("OrvanePro3.conf"));
    EXPECT_TRUE(user.DocumentsFolder.endsWith(QDir::separator()));
    EXPECT_TRUE(user.MusicFolder.endsWith(QDir::separator()));
    EXPECT_EQ(store.Settings.FpFolder, (user.DocumentsFolder + QStringLiteral("My Fingerprints/"))
                                           .toStdString());
}

}  // namespace
}  // namespace orvane::app
