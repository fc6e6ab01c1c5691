// Draws the main window with a recognised clip into a PNG (offscreen platform): a settings store
// and a fingerprint folder of its own, a few fingerprints of generated music, one of them played
// through a file channel until the window shows it with its running position. Not a test.
// Usage: ui_mainwindow_screenshot <out.png>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTest>

#include "UiTestKit.h"
#include "audio/FptExtract.h"
#include "platform/PlatformAudio.h"
#include "signal/QnFFT.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"
#include "ui/TForm1.h"

namespace {

using namespace orvane;
using ui::test::TSilentCapture;

constexpr int SampleRate = 11025;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ui_mainwindow_screenshot <out.png>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::InstallAudioConversion();

    test::TTempDir dir;
    const std::string fpFolder = dir.Folder() + "Fingerprints/";
    std::filesystem::create_directories(fpFolder);
    const auto location = app::TSettingsLocation::File(
        QString::fromStdString(dir.File("settings.conf")), QString::fromStdString(dir.Folder()),
        QString::fromStdString(dir.Folder()));
    {
        app::TSettingsStore store(location);
        store.RegStuff(false);
        store.Settings.FpFolder = fpFolder;
        store.Settings.ActiveOnLoad = true;
        store.RegStuff(true);
    }

    // The library: a few clips fingerprinted before the start, loaded by it.
    const std::vector<std::string> library = {"Evening Bells - Harbour Lights",
                                              "Morning Jingle (Station ID)", "News Intro 2024",
                                              "The Weather Report Theme"};
    signal::QnKeyConversion converter;
    struct TQuietHost final : audio::IExtractHost {
        void Report(const std::string&, int) override {}
    } host;
    for (std::size_t i = 0; i < library.size(); ++i) {
        const std::string wav = dir.File(library[i] + ".wav");
        test::WriteWav(wav, test::Music(static_cast<std::uint32_t>(100 + i), 12 * SampleRate),
                       SampleRate);
        audio::ExtractFingerprint(wav, audio::TAudioFileType::ftWav, fpFolder, converter, host,
                                  false);
    }

    app::TMainFormOptions options;
    options.Location = location;
    options.MakeCapture = [] { return std::make_unique<TSilentCapture>(); };
    ui::TForm1 window(options);
    window.Prompts.FirstSteps = [] {};
    window.Init();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 1;
    QTest::qWait(200);

    // Taken through the window's own menu command, as a user does.
    const std::string title = "Sunday Drive - Open Roads";
    const std::vector<std::int16_t> clip = test::Music(42, 200 * SampleRate);
    const std::string clipWav = dir.File(title + ".wav");
    test::WriteWav(clipWav, clip, SampleRate);
    window.Prompts.OpenAudioFile = [&] { return QString::fromStdString(clipWav); };
    window.findChild<QAction*>(QStringLiteral("MenuItemExtractWav"))->trigger();
    QTest::qWait(200);

    // The file channel reads far faster than real time: the grab is taken while the clip is
    // heard, without handing the window's queue the channel's end.
    // What the channel hears: the song's first 70 seconds.
    const std::string heardWav = dir.File("heard.wav");
    test::WriteWav(heardWav,
                   std::vector<std::int16_t>(clip.begin(), clip.begin() + 70 * SampleRate),
                   SampleRate);
    window.Form().PlayFile(heardWav);
    window.Form().SetChannelActive(true);
    window.PanelRefresh();
    QElapsedTimer clock;
    clock.start();
    const QString expected = QString::fromStdString(title) + QStringLiteral(" [");
    bool recognised = false;
    while (clock.elapsed() < 60000) {
        // The first moment the clip is named is the one drawn.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        window.TimerCaptionTimer();
        const QString text = window.LabelCurrSong()->text();
        if (text.startsWith(expected) && !text.endsWith(QStringLiteral("[0:00]"))) {
            recognised = true;
            break;
        }
    }
    if (!recognised) {
        std::fprintf(stderr, "the clip was not recognised\n");
        return 1;
    }
    const QPixmap shot = window.grab();
    if (!shot.save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    window.close();
    return 0;
}
