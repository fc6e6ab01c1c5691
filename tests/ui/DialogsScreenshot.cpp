// Draws the about box and the fingerprint properties dialog into PNGs (offscreen platform), the
// properties filled as the rename flow fills them. Not a test.
// Usage: ui_dialogs_screenshot <about.png> <properties.png>
#include <cstdio>

#include <QApplication>
#include <QCoreApplication>
#include <QPixmap>

#include "database/ILibraryUi.h"
#include "ui/TForm4.h"
#include "ui/TForm5.h"

namespace {

bool Save(QWidget& window, const char* path) {
    window.show();
    QCoreApplication::processEvents();
    const bool saved = window.grab().save(QString::fromLocal8Bit(path), "PNG");
    if (!saved) std::fprintf(stderr, "could not write %s\n", path);
    window.hide();
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: ui_dialogs_screenshot <about.png> <properties.png>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    orvane::ui::TForm4 about;
    orvane::ui::TForm5 properties;
    orvane::database::TFptProperties fields;
    fields.SongNo = 3;
    fields.EditName = "Morning Jingle (Radio Edit)";
    fields.LabelDuration = "3:07";
    fields.FileLabel = "/home/user/Music/Fingerprints/Morning Jingle (Radio Edit).qnf";
    properties.SetProperties(fields);

    const bool ok = Save(about, argv[1]) && Save(properties, argv[2]);
    return ok ? 0 : 1;
}
