// Draws the preferences dialog into a PNG (offscreen platform) as a user sees it: the settings
// of a first start with typical folders, events switched on and three definitions in the list,
// one of them selected. With a second file name, also the help popup of the task priority.
// Usage: ui_preferences_screenshot <out.png> [<popup.png>]
#include <cstdio>

#include <QApplication>
#include <QImage>
#include <QListWidget>
#include <QPoint>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include "app/RegStuff.h"
#include "app/TEvents.h"
#include "tracking/TEventServe.h"
#include "ui/TForm3.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: ui_preferences_screenshot <out.png> [<popup.png>]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const auto location = orvane::app::TSettingsLocation::File(
        dir.filePath(QStringLiteral("OrvanePro3.conf")), QStringLiteral("/home/user/Documents/"),
        QStringLiteral("/home/user/Music/"));
    orvane::app::TSettingsStore store(location);
    store.FolderChecks = false;
    store.Settings.EventsEnabled = true;
    orvane::app::TEventReg eventStore(location);
    eventStore.add("Log every clip", {0, "sh -c 'echo %title >> ~/clips.txt'", true, 0});
    eventStore.add("Desktop notice", {0, "notify-send \"%title\" \"%channel\"", true, 1});
    eventStore.add("Duplicate report", {6, "echo %title %disabledby", true, 2});
    orvane::tracking::TEventServe events;

    orvane::ui::TForm3Context context(store, events, eventStore);
    orvane::ui::TForm3 dialog(context);
    dialog.Prepare();
    dialog.EvList()->setCurrentRow(1);
    dialog.show();
    QApplication::processEvents();
    const QImage image = dialog.grab().toImage();
    if (!image.save(QString::fromLocal8Bit(argv[1]))) {
        return 1;
    }
    if (argc == 3) {
        dialog.ShowHelp(17, dialog.mapToGlobal(QPoint(400, 150)));
        QApplication::processEvents();
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->isVisible() && window->inherits("QWhatsThat")) {
                return window->grab().toImage().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
            }
        }
        return 1;
    }
    return 0;
}
