// Draws the sound device dialog and the mixer parameters of its selected device into one PNG
// (offscreen platform), listing the sources of a private PulseAudio server: the null sink's
// monitor and a null source standing in for a microphone. Usage: ui_devices_screenshot <out.png>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "support/PulseServer.h"
#include "ui/TForm6.h"
#include "ui/TForm8.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ui_devices_screenshot <out.png>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    orvane::test::TPulseServer server;
    if (!server.Running()) {
        std::fprintf(stderr, "no PulseAudio server: %s\n", server.Error().c_str());
        return 1;
    }
    const int loaded = std::system(
        "pactl load-module module-null-source source_name=usb_microphone "
        "source_properties=device.description=USB-Microphone >/dev/null 2>&1");
    if (loaded != 0) std::fprintf(stderr, "the second source could not be loaded\n");
    const int leveled =
        std::system("pactl set-source-volume orvane_test_sink.monitor 100% 70% >/dev/null 2>&1");
    if (leveled != 0) std::fprintf(stderr, "the monitor's volume could not be set\n");

    orvane::ui::TForm8 devices;
    devices.reload(orvane::test::TPulseServer::MonitorName());
    devices.SetSide(0);
    devices.show();
    QApplication::processEvents();
    const QPixmap devicesShot = devices.grab();

    orvane::ui::TForm6 mixer;
    if (!mixer.OpenMixer({orvane::test::TPulseServer::MonitorName(), 0, 0})) return 1;
    mixer.show();
    QApplication::processEvents();
    const QPixmap mixerShot = mixer.grab();

    const int gap = 16;
    QImage image(devicesShot.width() + gap + mixerShot.width(),
                 std::max(devicesShot.height(), mixerShot.height()), QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.drawPixmap(0, 0, devicesShot);
        painter.drawPixmap(devicesShot.width() + gap, 0, mixerShot);
    }
    mixer.CloseMixer();
    return image.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
