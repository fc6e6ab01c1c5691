// Draws the fingerprint picture window (offscreen platform) of a real clip: 220 seconds of
// synthetic music fingerprinted through the file path and loaded with two more clips, as the
// main window's "&Debug fingerprint..." shows it. The database report of that library goes to
// the standard output, for a look at its lines.
// Usage: ui_diagnostics_screenshot <out.png>
#include <cstdio>
#include <string>

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QPixmap>

#include "audio/FptExtract.h"
#include "audio/uOpenAudio.h"
#include "database/DBTabl.h"
#include "database/TMediumDBKeys.h"
#include "database/TMemorySongListView.h"
#include "database/TSongList.h"
#include "fingerprint/FptAux.h"
#include "platform/PlatformAudio.h"
#include "signal/QnFFT.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"
#include "tracking/IRecognitionPause.h"
#include "tracking/TPosting.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TSystemClock.h"
#include "ui/TDiagnostics.h"

namespace {

using namespace orvane;

TRefPtr<fingerprint::TSongServer> Fingerprint(const test::TTempDir& dir, std::uint32_t seed,
                                              int seconds) {
    const std::string wav = dir.File("clip" + std::to_string(seed) + ".wav");
    test::WriteWav(wav, test::Music(seed, static_cast<std::size_t>(seconds) * 11025), 11025);
    auto reader = audio::OpenAudioReader(wav, audio::TAudioFileType::ftWav);
    signal::QnKeyConversion converter;
    auto song = MakeRef<fingerprint::TSongServer>();
    audio::ComputeLineKeys(*reader, converter, *song, [](float) { return true; });
    song->serialize();
    return song;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <out.png>\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::InstallAudioConversion();

    test::TTempDir dir;
    tracking::TQueuePoster poster;
    tracking::TSystemClock clock;
    tracking::TPosting posting(poster, clock);
    tracking::TCountingRecognitionPause pause;
    database::TMemorySongListView view;
    database::TSongList songs(pause, posting, view);
    database::TMediumDB db;
    std::int32_t shown = -1;
    for (const auto& [seed, seconds] :
         {std::pair{11U, 220}, std::pair{12U, 90}, std::pair{13U, 60}}) {
        const auto song = Fingerprint(dir, seed, seconds);
        const std::int32_t slot = songs.reserveSongIndex();
        songs.setFileName(slot, dir.File("clip" + std::to_string(seed) + ".qnf"));
        database::AddToDatabase(*song, db, slot);
        songs.setSongServer(slot, song);
        songs.visualizeSong(slot);
        if (shown < 0) shown = slot;
    }
    db.Sort();

    const auto window = ui::MakeFingerprintWindow(nullptr, songs, db, shown);
    if (!window) return 1;
    window->show();
    QApplication::processEvents();
    const QImage shot = window->grab().toImage();
    const QString out = QString::fromLocal8Bit(argv[1]);
    if (!shot.save(out)) return 1;

    const QStringList lines =
        ui::DatabaseReport(ui::TDatabaseReportParts{db, songs, pause, {0}},
                           platform::ReadMemoryInfo(), QDateTime::currentDateTime());
    std::printf("%s\n", lines.join(QLatin1Char('\n')).toStdString().c_str());
    return 0;
}
