// The desktop application orvane3: the single-instance check (a later start hands its command
// line to the running window and ends), the main window, its start sequence, the event loop.
// Thread: the main thread.
#include <string>
#include <vector>

#include <QApplication>
#include <QStringList>

#include "app/TCommandHandler.h"
#include "app/uMainForm.h"
#include "ipc/TSingleInstance.h"
#include "platform/PlatformAudio.h"
#include "ui/TForm1.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvane3"));
    // No display name: the window system would append it to every caption, and each window
    // shows its own caption alone.

    QStringList parameters = QApplication::arguments();
    parameters.removeFirst();
    parameters = orvane::app::ResolveForwardedParameters(parameters);
    orvane::ipc::TSingleInstance instance;
    if (instance.Start(parameters) == orvane::ipc::TSingleInstance::TStart::stForwarded) return 0;

    orvane::platform::InstallAudioConversion();
    orvane::app::TMainFormOptions options;
    for (const QString& parameter : parameters) options.Parameters.push_back(parameter.toStdString());
    orvane::ui::TForm1 window(std::move(options));
    instance.OnCommands = [&window](const QStringList& commands) {
        std::vector<std::string> list;
        for (const QString& command : commands) list.push_back(command.toStdString());
        window.HandleForwardedCommands(list);
    };
    QObject::connect(&instance, &orvane::ipc::TSingleInstance::bringToFront, &window,
                     [&window] { window.BringToFront(); });
    window.Init();
    // A start that could not hand over its command line says why it runs by itself.
    if (!instance.Note().isEmpty()) {
        window.Form().PostActivity(instance.Note().toStdString(),
                                   orvane::tracking::TActivityIcon::aiAttention);
    }
    QApplication::processEvents();
    window.show();
    QApplication::processEvents();
    // What went wrong during the start (no sound server, say) is told over the window.
    window.Form().ShowDeferredMessages();
    return QApplication::exec();
}
