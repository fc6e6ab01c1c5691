// A tiny headless application for the single-instance tests: it does the start-up check, and as
// the running instance it handles its own and forwarded commands with the real command handler
// and library. Every happening is one line on stdout:
//   FORWARDED | PRIMARY | SECONDARY     the outcome of the start-up check
//   NOTE <text>                         why it went on as an instance of its own
//   READY                               the event loop runs
//   COMMANDS <n>                        a forwarded record with n strings arrived
//   ENTRY <text>                        an activity entry the commands posted
//   LOADED <n>                          fingerprints loaded after handling commands
//   FRONT                               a later start asked to bring the window to front
//   REFUSED <text>                      a record was refused
// usage: orvane3-instance-probe --name NAME --folder DIR [--magic HEX] [--] PARAMETERS...
#include <cstdio>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "app/TCommandHandler.h"
#include "database/TMemorySongListView.h"
#include "database/TPlainLibraryUi.h"
#include "database/TStandaloneLibrary.h"
#include "ipc/TSingleInstance.h"
#include "platform/PlatformAudio.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TSystemClock.h"
#include "tracking/TSystemMemoryStatus.h"

namespace {

using namespace orvane;

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void SayEntries(tracking::TQueuePoster& poster) {
    for (auto& message : poster.TakeAll()) {
        if (const auto* entry = std::get_if<tracking::TActivityData>(&message))
            Say("ENTRY " + entry->Str);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString name;
    std::string folder;
    std::uint32_t magic = ipc::CopyDataMagic;
    QStringList parameters;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--name") && i + 1 < args.size()) {
            name = args[++i];
        } else if (args[i] == QStringLiteral("--folder") && i + 1 < args.size()) {
            folder = args[++i].toStdString();
        } else if (args[i] == QStringLiteral("--magic") && i + 1 < args.size()) {
            magic = args[++i].toUInt(nullptr, 16);
        } else if (args[i] == QStringLiteral("--")) {
            parameters = args.mid(i + 1);
            break;
        } else {
            parameters.append(args[i]);
        }
    }
    if (name.isEmpty() || folder.empty()) {
        std::fputs(
            "usage: orvane3-instance-probe --name NAME --folder DIR [--magic HEX] [--] "
            "PARAMETERS...\n",
            stderr);
        return 2;
    }

    ipc::TSingleInstance instance(name);
    instance.SetForwardMagic(magic);
    switch (instance.Start(app::ResolveForwardedParameters(parameters))) {
        case ipc::TSingleInstance::TStart::stForwarded:
            Say("FORWARDED");
            return 0;
        case ipc::TSingleInstance::TStart::stPrimary:
            Say("PRIMARY");
            break;
        case ipc::TSingleInstance::TStart::stSecondary:
            Say("SECONDARY");
            break;
    }
    if (!instance.Note().isEmpty()) Say("NOTE " + instance.Note().toStdString());

    platform::InstallAudioConversion();
    database::TStandaloneLibrary standalone(folder);
    auto& [poster, clock, memory, posting, guard, pause, view, songs, index, progress, window,
           library] = standalone;
    signal::QnKeyConversion converter;
    app::TCommandHandler handler(app::TCommandParts{&library, &songs, &index, pause, posting, guard,
                                                    progress, window, converter});

    std::vector<std::string> own;
    for (const QString& p : parameters) own.push_back(p.toStdString());
    handler.HandleCommandLine(own);
    library.OptimizeIndex(false);
    SayEntries(poster);
    Say("LOADED " + std::to_string(songs.Count()));

    instance.OnCommands = [&](const QStringList& commands) {
        Say("COMMANDS " + std::to_string(commands.size()));
        handler.HandleForwardedCommands(commands);
        SayEntries(poster);
        Say("LOADED " + std::to_string(songs.Count()));
    };
    QObject::connect(&instance, &ipc::TSingleInstance::bringToFront, [] { Say("FRONT"); });
    QObject::connect(&instance, &ipc::TSingleInstance::protocolError,
                     [](const QString& text) { Say("REFUSED " + text.toStdString()); });
    Say("READY");
    return QCoreApplication::exec();
}
