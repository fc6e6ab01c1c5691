#include "CliLive.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <signal.h>
#include <string>
#include <thread>
#include <variant>

#include "app/RegStuff.h"
#include "database/TFptLibrary.h"
#include "database/TMemorySongListView.h"
#include "database/TPlainLibraryUi.h"
#include "database/TStandaloneLibrary.h"
#include "snapshot/IndexSnapshot.h"
#include "platform/PulseCapture.h"
#include "platform/PulseDevices.h"
#include "recognition/QnChServer.h"
#include "recognition/QnCheckKey.h"
#include "recognition/TChannel.h"
#include "recognition/TSearch.h"
#include "signal/QnFFT.h"
#include "tracking/IRecognitionPause.h"
#include "tracking/TLogSystem.h"
#include "tracking/TMemoryGuard.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TSystemClock.h"
#include "tracking/TSystemMemoryStatus.h"

namespace orvane::cli {

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

/// The text the device dialog shows for the default device.
constexpr const char* DefaultDeviceText = "Microsoft Wave Mapper";

const char* const DevicesUsage =
    "usage: orvane3-cli devices\n"
    "\n"
    "Lists the capture devices (the PulseAudio sources) as the device dialog does, one per\n"
    "line: first the default device (\"Microsoft Wave Mapper\", the server's default\n"
    "source), then every source by name; after a tab, the source's description. A name\n"
    "goes to 'listen --device'.\n"
    "Exit status: 0 listed, 1 the sound server could not be reached (nothing is listed;\n"
    "the error says what failed).\n";

const char* const ListenUsage =
    "usage: orvane3-cli listen [--device NAME] [--library DIR] [--side both|left|right]\n"
    "                          [--compat] [--robust]\n"
    "\n"
    "Loads the fingerprint library, switches channel 0 on for the capture device and\n"
    "prints each log line \"channel: title [begin - end] (duration)\" as the song tracker\n"
    "writes it; the other activity entries go to stderr. Runs until interrupted; on\n"
    "SIGINT or SIGTERM the clip being tracked is logged before the tool ends.\n"
    "\n"
    "Reads the application's settings: fingerprint folder, the channel's device, side\n"
    "and caption, compatibility mode, idle timeout and search options.\n"
    "  --device NAME   a device of 'orvane3-cli devices' (\"\" is the default device)\n"
    "  --library DIR   the fingerprint folder instead of the one in the settings\n"
    "  --side SIDE     both (mono mix), left or right side of a stereo input\n"
    "  --compat        record at 22050 Hz (compatibility mode)\n"
    "  --robust        robust recognition for noisy input (also from the settings)\n"
    "Exit status: 0 ended by a signal, 1 no fingerprint loaded or the device could not be\n"
    "started, 2 bad usage.\n";

bool IsHelp(const char* arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

int Usage(const char* text, const std::string& complaint) {
    std::fprintf(stderr, "orvane3-cli: %s\n", complaint.c_str());
    std::fputs(text, stderr);
    return ExitUsage;
}

std::atomic<bool> StopRequested{false};

extern "C" void OnStopSignal(int) { StopRequested.store(true); }

/// Log lines to stdout, every other activity entry to stderr; actions are the window's.
void PrintPosted(tracking::TQueuePoster& poster) {
    for (auto& message : poster.TakeAll()) {
        const auto* entry = std::get_if<tracking::TActivityData>(&message);
        if (entry == nullptr) continue;
        if (entry->Icon == tracking::TActivityIcon::aiArrow) {
            std::printf("%s\n", entry->Str.c_str());
            std::fflush(stdout);
            continue;
        }
        const char* tag = entry->Icon == tracking::TActivityIcon::aiError       ? "error: "
                          : entry->Icon == tracking::TActivityIcon::aiAttention ? "warning: "
                                                                                : "";
        std::fprintf(stderr, "%s%s\n", tag, entry->Str.c_str());
    }
}

}  // namespace

int CmdDevices(int argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(DevicesUsage, stdout);
            return ExitOk;
        }
        return Usage(DevicesUsage, std::string("unknown argument ") + argv[i]);
    }
    platform::QnDevices devices;
    if (!devices.ErrorMessage.empty()) {
        // Without a server no device can record, not even the default one.
        std::fprintf(stderr, "error: %s\n",
                     platform::ListingFailureText(devices.ErrorMessage).c_str());
        return ExitFailed;
    }
    for (const audio::TLInfo& info : devices.LInfos) {
        if (info.DevName.empty()) {
            std::printf("%s\t%s\n", DefaultDeviceText,
                        devices.Sources.DefaultSource.empty()
                            ? "default source"
                            : ("default source: " + devices.Sources.DefaultSource).c_str());
            continue;
        }
        std::string description;
        for (const platform::TPulseSource& source : devices.Sources.Sources) {
            if (source.Index == info.DevNo) description = source.Description;
        }
        std::printf("%s\t%s\n", info.DevName.c_str(), description.c_str());
    }
    return ExitOk;
}

int CmdListen(int argc, char** argv) {
    std::string device;
    bool deviceGiven = false;
    std::string libraryDir;
    int side = -1;
    bool compat = false;
    bool robust = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (IsHelp(argv[i])) {
            std::fputs(ListenUsage, stdout);
            return ExitOk;
        }
        if (arg == "--device") {
            if (i + 1 >= argc) return Usage(ListenUsage, "--device needs a name");
            device = argv[++i];
            deviceGiven = true;
        } else if (arg == "--library") {
            if (i + 1 >= argc) return Usage(ListenUsage, "--library needs a folder");
            libraryDir = argv[++i];
        } else if (arg == "--side") {
            if (i + 1 >= argc) return Usage(ListenUsage, "--side needs both, left or right");
            const std::string which = argv[++i];
            if (which == "both") {
                side = 0;
            } else if (which == "left") {
                side = 1;
            } else if (which == "right") {
                side = 2;
            } else {
                return Usage(ListenUsage, "--side takes both, left or right");
            }
        } else if (arg == "--compat") {
            compat = true;
        } else if (arg == "--robust") {
            robust = true;
        } else {
            return Usage(ListenUsage, "unknown argument " + arg);
        }
    }

    // The application's settings; the tool never writes them.
    app::TSettingsStore store(app::TSettingsLocation::User());
    store.FolderChecks = false;
    store.RegStuff(false);
    for (const std::string& error : store.LastErrors()) {
        std::fprintf(stderr, "warning: %s\n", error.c_str());
    }
    const app::TSettings& settings = store.Settings;
    app::TChannelSettings channelSettings;
    if (!settings.Channels.empty()) channelSettings = settings.Channels[0];
    if (channelSettings.Caption.empty()) {
        channelSettings.Caption = app::TSettings::DefaultChannelCaption(0);
    }
    if (!deviceGiven) device = channelSettings.Device;
    if (side < 0)
        side = channelSettings.Mode >= 0 && channelSettings.Mode <= 2 ? channelSettings.Mode : 0;
    if (!compat) compat = settings.Compatibility;
    if (libraryDir.empty()) libraryDir = settings.FpFolder;

    platform::QnDevices devices;
    audio::TLInfo soundDevice;
    if (const std::string problem = platform::SoundServerProblem(devices.ErrorMessage);
        !problem.empty()) {
        // As the window says it: the channel, the input, what is wrong.
        std::fprintf(
            stderr, "error: %s\n",
            platform::CaptureFailureText(channelSettings.Caption, device, devices.ErrorMessage)
                .c_str());
        return ExitFailed;
    }
    if (const audio::TLInfo* found = devices.FindByName(device)) {
        soundDevice = *found;
    } else {
        std::fprintf(stderr, "error: no capture device \"%s\"%s%s; see 'orvane3-cli devices'\n",
                     device.c_str(), devices.ErrorMessage.empty() ? "" : ": ",
                     devices.ErrorMessage.c_str());
        return ExitFailed;
    }

    database::TStandaloneLibrary standalone(libraryDir);
    auto& [poster, clock, memory, posting, guard, pause, view, songs, index, progress, window,
           library] = standalone;
    snapshot::ReloadWithSnapshot(library, nullptr);
    PrintPosted(poster);
    for (const auto& text : window.Messages) std::fprintf(stderr, "%s\n", text.c_str());
    if (songs.Count() == 0) {
        std::fprintf(stderr, "error: no fingerprint could be loaded from \"%s\"\n",
                     libraryDir.c_str());
        return ExitFailed;
    }
    if (!index.Sorted()) library.OptimizeIndex(false);

    signal::QnKeyConversion converter;
    recognition::QnCheckKey verifier(songs);
    recognition::TRecognitionLock lock;
    recognition::TSearchSettings searchSettings;
    recognition::TSearch search(converter, verifier, index, posting, searchSettings);
    recognition::QnChServer recognitionThread(lock, search, converter, searchSettings);
    recognition::TRecognitionOptions options;
    options.Form3CheckBoxBalloonChecked = settings.Balloon;
    options.Form3highIntegChecked = settings.Highquality;
    options.Form3Checkbox2checked = settings.DeepSearch;
    options.Form3KeepLongest = settings.DuplicateKeep == 1;
    options.RobustSearch = robust || settings.RobustSearch;
    recognitionThread.PublishSettings(options);

    recognition::TChannel channel(0, side, channelSettings.Caption, lock, posting,
                                  platform::MakePulseCapture());
    channel.SoundDevice = soundDevice;
    channel.SetCompatibility(compat);
    std::string captureError;
    channel.OnCaptureError = [&](const std::string& message) { captureError = message; };
    tracking::TLogSystem logSystem(posting, clock);
    logSystem.AddChannel(channel);
    logSystem.SetIdleTimeout(settings.IdleTimeout);
    channel.SetLogSystem(&logSystem);
    recognitionThread.AddChannel(channel);

    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    recognitionThread.Start();
    channel.SetActive(true);
    if (!captureError.empty()) {
        if (platform::SoundServerProblem(captureError).empty()) {
            std::fprintf(
                stderr, "error: %s: %s\n",
                soundDevice.DevName.empty() ? DefaultDeviceText : soundDevice.DevName.c_str(),
                captureError.c_str());
        } else {
            std::fprintf(stderr, "error: %s\n",
                         platform::CaptureFailureText(channelSettings.Caption, soundDevice.DevName,
                                                      captureError)
                             .c_str());
        }
        recognitionThread.Terminate();
        channel.SetLogSystem(nullptr);
        channel.SetActive(false);
        return ExitFailed;
    }
    std::fprintf(stderr, "Listening on %s with %d fingerprints; Ctrl+C ends.\n",
                 soundDevice.DevName.empty() ? DefaultDeviceText : soundDevice.DevName.c_str(),
                 songs.Count());

    // The main loop: the tracker's 500 ms timer and the posted entries.
    auto nextStep = std::chrono::steady_clock::now();
    while (!StopRequested.load()) {
        if (std::chrono::steady_clock::now() >= nextStep) {
            logSystem.LogHandler();
            nextStep += std::chrono::milliseconds(tracking::TLogSystem::LogIntervalMs);
        }
        PrintPosted(poster);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    // As the window's shutdown: recognition stops for good, the tracker logs the clip it
    // tracks, then the thread ends and the channel goes off.
    {
        std::lock_guard guardLock(lock);
        lock.PauseRequested.store(true);
    }
    logSystem.Shutdown();
    recognitionThread.Terminate();
    channel.SetLogSystem(nullptr);
    channel.SetActive(false);
    PrintPosted(poster);
    return ExitOk;
}

}  // namespace orvane::cli
