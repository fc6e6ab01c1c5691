// The main window as a new user meets it, on a private sound server: a folder of songs is
// fingerprinted from the menu, the channel is activated on the server's monitor, a song is
// played into the server, the window shows it with its running position, its log line comes
// after it ends, and the history is exported.
#include <filesystem>
#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTreeWidget>
#include <fstream>
#include <memory>
#include <sstream>

#include "UiTestApp.h"
#include "app/RegStuff.h"
#include "platform/PlatformAudio.h"
#include "support/PulseServer.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"
#include "tracking/TActivityHistory.h"
#include "ui/TForm1.h"

namespace orvane::ui {
namespace {

class TMainWindowLive : public test::TUiTest {
protected:
    /// Pumps the event loop until `done` or `seconds` passed; returns `done()`.
    static bool PumpUntil(const std::function<bool()>& done, int seconds) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < seconds * 1000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        return done();
    }
};

TEST_F(TMainWindowLive, ASongPlayedIntoTheInputIsShownLoggedAndExported) {
    platform::InstallAudioConversion();
    orvane::test::TPulseServer server;
    if (!server.Running()) GTEST_SKIP() << "no sound server: " << server.Error();

    orvane::test::TTempDir dir;
    const std::string batch = dir.Folder() + "Music/";
    std::filesystem::create_directories(batch);
    const orvane::test::TSamples song = orvane::test::Music(77, 14 * 11025);
    orvane::test::WriteWav(batch + "Night Train - Blue Signal.wav", song, 11025);
    orvane::test::WriteWav(batch + "Other Song.wav", orvane::test::Music(78, 10 * 11025), 11025);
    const auto location = app::TSettingsLocation::File(
        QString::fromStdString(dir.File("OrvanePro3.conf")),
        QString::fromStdString(dir.File("Documents")), QString::fromStdString(dir.File("Music")));
    {
        app::TSettingsStore store(location);
        store.Settings.BatFolder = batch;
        store.Settings.ActiveOnLoad = false;
        store.Settings.IdleTimeout = 2;
        store.Settings.Channels.resize(1);
        store.Settings.Channels[0].Device = orvane::test::TPulseServer::MonitorName();
        store.Settings.Channels[0].Caption = "Channel01";
        ASSERT_TRUE(store.RegStuff(true));
    }

    app::TMainFormOptions options;  // the sound server's capture, as in the application
    options.Location = location;
    TForm1 window(options, nullptr, [] { return false; });
    std::vector<std::string> boxes;
    window.Prompts.Message = [&](const QString& text) { boxes.push_back(text.toStdString()); };
    window.Prompts.FirstSteps = [] {};
    const std::string exported = dir.File("history.csv");
    window.Prompts.SaveCsvFile = [&](const QString&, const QString&) {
        return QString::fromStdString(exported);
    };
    window.Init();
    window.show();

    // 1. Fingerprint the folder.
    window.Action(QStringLiteral("MenuItemExtractAllWav"))->trigger();
    ASSERT_EQ(window.SonglistListview()->topLevelItemCount(), 2);
    EXPECT_TRUE(boxes.empty()) << boxes.front();

    // 2. Activate the channel.
    window.Action(QStringLiteral("Listentoallchannels1"))->trigger();
    ASSERT_TRUE(window.Form().ChannelActive());

    // 3. Play the song: recognised with a running position, then logged once it ended.
    const auto logged = [&] {
        for (const tracking::TMemoRow& row : window.Form().History().Rows()) {
            if (row.Icon == tracking::TActivityIcon::aiArrow &&
                row.Message.find("Night Train - Blue Signal") != std::string::npos) {
                return true;
            }
        }
        return false;
    };
    // The input goes on after the song, quietly, as a real input does (the server would
    // otherwise suspend an idle sink and its monitor would deliver nothing at all).
    orvane::test::TSamples played = song;
    const orvane::test::TSamples quiet = orvane::test::Silence(20 * 11025);
    played.insert(played.end(), quiet.begin(), quiet.end());
    QString shown;
    {
        auto player = std::make_unique<orvane::test::TPlayer>(played, 11025);
        EXPECT_TRUE(PumpUntil(
            [&] {
                window.TimerCaptionTimer();
                shown = window.LabelCurrSong()->text();
                return shown.startsWith(QStringLiteral("Night Train - Blue Signal [0:"));
            },
            30))
            << shown.toStdString();
        EXPECT_TRUE(PumpUntil(logged, 30));
        EXPECT_EQ(player->Wait(), "");
    }

    // 4. Export the history.
    window.findChild<QAction*>(QStringLiteral("Savehistoryas1"))->trigger();
    std::ifstream file(exported);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_NE(text.str().find("Night Train - Blue Signal"), std::string::npos) << text.str();
    window.close();
}

}  // namespace
}  // namespace orvane::ui
