// Draws the capture dialog "Generate fingerprint from audio in" while a capture runs (offscreen
// platform), 42 seconds into it with a title being typed. Usage: ui_capture_screenshot <out.png>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QLineEdit>
#include <QPixmap>

#include "recognition/FptRecorder.h"
#include "tracking/IRecognitionPause.h"
#include "ui/TForm2.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ui_capture_screenshot <out.png>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    orvane::tracking::TCountingRecognitionPause pause;
    orvane::recognition::FptRecorder recorder(pause);
    auto capture = orvane::MakeRef<orvane::recognition::TRecInfo>();
    recorder.registerRecording(capture, 0);
    // 42 s of keys at 86.13 keys per second.
    const std::vector<std::uint32_t> keys(3618, 0x5A5A5A5Au);
    recorder.AddKeys(0, keys.data(), static_cast<std::int32_t>(keys.size()));

    orvane::ui::TForm2 dialog;
    dialog.Prepare(capture, &recorder);
    dialog.show();
    dialog.Edit1->setText(QStringLiteral("Artist - Song tit"));
    QApplication::processEvents();
    const bool saved = dialog.grab().save(QString::fromLocal8Bit(argv[1]));
    dialog.hide();
    if (!saved) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
