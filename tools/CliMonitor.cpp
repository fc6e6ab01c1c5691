#include "CliMonitor.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <signal.h>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "app/RegStuff.h"
#include "database/TStandaloneLibrary.h"
#include "playlog/TPlayLogRecorder.h"
#include "snapshot/IndexSnapshot.h"
#include "playlog/sqlite/TSqlitePlayLog.h"
#include "stream/StreamList.h"
#include "stream/TStreamMonitor.h"
#include "stream/UtcTime.h"
#include "streamio/StreamSources.h"

namespace orvane::cli {

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

const char* const MonitorUsage =
    "usage: orvane3-cli monitor --library DIR [--db FILE] [--streams FILE] [--threads N]\n"
    "                           [--shard K/N] [--format text|jsonl] [--deep|--no-deep]\n"
    "                           [--high-integrity] [--robust] [--fast] [NAME=]SOURCE...\n"
    "\n"
    "Recognises the fingerprinted clips in many streams at once and prints each heard clip\n"
    "when it ends: \"NAME: title [begin - end] (duration)\", or one JSON object per line\n"
    "with --format jsonl. Runs until SIGINT or SIGTERM, then logs every clip still playing\n"
    "and exits 0; when every source is a local file, it ends once all are played.\n"
    "\n"
    "SOURCE: an http:// or https:// stream (Icecast/SHOUTcast MP3, AAC, Ogg, HLS), rtsp://\n"
    "or rtmp://, pulse:SOURCENAME or pulse:default for a sound input, or a local audio file\n"
    "(played once, in real time). NAME names the stream in the log (default: taken from the\n"
    "source, made unique). A stream that cannot be opened, ends, fails or brings no audio\n"
    "for 10 s is reopened after 1 s, then 2, 4 ... up to 60 s, for ever; connections and\n"
    "failures are reported on stderr.\n"
    "  --library DIR   the fingerprint folder (default: the one in the settings)\n"
    "  --db FILE       the play log (default: $XDG_DATA_HOME/orvane3/plays.sqlite): every\n"
    "                  clip when it is first recognised and when it ends, every outage\n"
    "  --streams FILE  one [NAME=]SOURCE per line, '#' comments; added to the arguments\n"
    "  --threads N     recognition threads sharing the index (default: the number of cores)\n"
    "  --shard K/N     only the streams whose name hashes to K of N (1 <= K <= N)\n"
    "  --format F      text (default) or jsonl\n"
    "  --deep, --no-deep, --high-integrity   the search options (default: the settings)\n"
    "  --robust        robust recognition for noisy input (default: the settings)\n"
    "  --fast          play local files as fast as the engine goes (tests, benchmarks)\n"
    "With --fast a file that cannot be played ends its stream instead of being retried.\n"
    "Exit status: 0 ended by a signal or all files played, 1 no fingerprint loaded, no\n"
    "stream to monitor, the play log cannot be opened or (--fast) a file could not be\n"
    "played, 2 bad usage.\n";

std::atomic<bool> StopRequested{false};

extern "C" void OnMonitorStopSignal(int) { StopRequested.store(true); }

int Usage(const std::string& complaint) {
    std::fprintf(stderr, "orvane3-cli: %s\n", complaint.c_str());
    std::fputs(MonitorUsage, stderr);
    return ExitUsage;
}

/// `text` as a JSON string literal.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (ch) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", c);
                    out += esc;
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

std::string MinSec(std::int64_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

std::string JsonLine(const stream::TMonitorClip& clip) {
    const auto& l = clip.Logged;
    return "{\"stream\":" + JsonString(clip.Stream) + ",\"title\":" + JsonString(l.Title) +
           ",\"begin\":\"" + MinSec(l.Begin) + "\",\"end\":\"" + MinSec(l.End) +
           "\",\"duration\":\"" + MinSec(l.End - l.Begin) +
           "\",\"clip_begin_s\":" + std::to_string(l.Begin) +
           ",\"clip_end_s\":" + std::to_string(l.End) +
           ",\"duration_s\":" + std::to_string(l.End - l.Begin) + ",\"started_at\":\"" +
           stream::UtcIsoText(clip.StartedAtMs) + "\",\"ended_at\":\"" +
           stream::UtcIsoText(clip.EndedAtMs) +
           "\",\"stream_title\":" + JsonString(clip.StreamTitle) +
           ",\"line\":" + JsonString(l.Line) + "}";
}

bool ParseCount(const std::string& text, int& value) {
    if (text.empty() || text.size() > 4) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1;
}

}  // namespace

int CmdMonitor(int argc, char** argv) {
    app::TSettingsStore store(app::TSettingsLocation::User());
    store.FolderChecks = false;
    store.RegStuff(false);
    for (const std::string& error : store.LastErrors()) {
        std::fprintf(stderr, "warning: %s\n", error.c_str());
    }
    stream::TMonitorOptions options;
    options.Recognition.Form3Checkbox2checked = store.Settings.DeepSearch;
    options.Recognition.Form3highIntegChecked = store.Settings.Highquality;
    options.Recognition.Form3KeepLongest = store.Settings.DuplicateKeep == 1;
    options.Recognition.RobustSearch = store.Settings.RobustSearch;
    options.IdleTimeout = store.Settings.IdleTimeout;
    options.Threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::string libraryDir;
    std::string dbPath;
    std::string shard;
    bool jsonl = false;
    std::vector<stream::TStreamEntry> streams;
    try {
        for (int i = 0; i < argc; ++i) {
            const std::string arg = argv[i];
            auto value = [&](const char* what) -> std::string {
                if (i + 1 >= argc) throw stream::EStreamList(arg + " needs " + what);
                return argv[++i];
            };
            if (arg == "--help" || arg == "-h") {
                std::fputs(MonitorUsage, stdout);
                return ExitOk;
            }
            if (arg == "--library") {
                libraryDir = value("a folder");
            } else if (arg == "--db") {
                dbPath = value("a file");
            } else if (arg == "--streams") {
                auto listed = stream::ReadStreamList(value("a file"));
                streams.insert(streams.end(), listed.begin(), listed.end());
            } else if (arg == "--threads") {
                if (!ParseCount(value("a number"), options.Threads))
                    return Usage("--threads takes a number from 1 to 9999");
            } else if (arg == "--shard") {
                shard = value("K/N");
            } else if (arg == "--format") {
                const std::string format = value("text or jsonl");
                if (format != "text" && format != "jsonl")
                    return Usage("--format takes text or jsonl");
                jsonl = format == "jsonl";
            } else if (arg == "--deep") {
                options.Recognition.Form3Checkbox2checked = true;
            } else if (arg == "--no-deep") {
                options.Recognition.Form3Checkbox2checked = false;
            } else if (arg == "--high-integrity") {
                options.Recognition.Form3highIntegChecked = true;
            } else if (arg == "--robust") {
                options.Recognition.RobustSearch = true;
            } else if (arg == "--fast") {
                options.Fast = true;
            } else if (arg.size() > 1 && arg[0] == '-' && arg.find('=') == std::string::npos) {
                return Usage("unknown option " + arg);
            } else {
                streams.push_back(stream::ParseStreamArgument(arg));
            }
        }
        if (streams.empty()) return Usage("no stream given");
        stream::AssignStreamNames(streams);
        if (!shard.empty()) {
            std::uint32_t index = 0;
            std::uint32_t count = 1;
            stream::ParseShard(shard, index, count);
            std::erase_if(streams, [&](const stream::TStreamEntry& s) {
                return stream::ShardOf(s.Name, count) != index;
            });
            if (streams.empty()) {
                std::fprintf(stderr, "error: no stream of the list falls into shard %s\n",
                             shard.c_str());
                return ExitFailed;
            }
        }
    } catch (const stream::EStreamList& e) {
        return Usage(e.what());
    }
    if (libraryDir.empty()) libraryDir = store.Settings.FpFolder;
    if (!libraryDir.empty() && libraryDir.back() != '/') libraryDir += '/';

    database::TStandaloneLibrary standalone(libraryDir);
    auto& [poster, clock, memory, posting, guard, pause, view, songs, index, progress, window,
           library] = standalone;
    snapshot::ReloadWithSnapshot(library, nullptr);
    for (auto& message : poster.TakeAll()) {
        const auto* entry = std::get_if<tracking::TActivityData>(&message);
        if (entry == nullptr || entry->Icon == tracking::TActivityIcon::aiInformation) continue;
        std::fprintf(stderr, "%s%s\n",
                     entry->Icon == tracking::TActivityIcon::aiError ? "error: " : "warning: ",
                     entry->Str.c_str());
    }
    for (const auto& text : window.Messages) std::fprintf(stderr, "%s\n", text.c_str());
    if (songs.Count() == 0) {
        std::fprintf(stderr, "error: no fingerprint could be loaded from \"%s\"\n",
                     libraryDir.c_str());
        return ExitFailed;
    }
    if (!index.Sorted()) library.OptimizeIndex(false);

    if (dbPath.empty()) dbPath = playlog::DefaultPlayLogPath();
    std::unique_ptr<playlog::TSqlitePlayLog> playLog;
    try {
        playLog = playlog::OpenSqlitePlayLog(dbPath);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: the play log \"%s\" cannot be opened: %s\n", dbPath.c_str(),
                     e.what());
        return ExitFailed;
    }
    // Each stream's tracker feeds the play log; its clip times are UTC stamps.
    auto makeRecorder =
        [&playLog, &songs](
            const std::string& name,
            std::function<std::string()> title) -> std::unique_ptr<tracking::IClipObserver> {
        auto recorder =
            std::make_unique<playlog::TPlayLogRecorder>(*playLog, name, std::move(title));
        recorder->ToUtcMs = stream::MsOfStamp;
        // The library does not change while the monitor runs.
        recorder->FileOf = [&songs](std::int64_t uniqueId) {
            const database::TSongEntry* entry = songs.Entry(songs.indexOf(uniqueId));
            return entry != nullptr ? entry->Filename : std::string();
        };
        recorder->OnError = [name](const std::string& message) {
            std::fprintf(stderr, "error: %s: the play log: %s\n", name.c_str(), message.c_str());
        };
        return recorder;
    };
    stream::TStreamMonitor monitor(songs, index, streams, options, streamio::MakeSourceFactory(),
                                   playLog.get(), makeRecorder);
    monitor.OnClip = [jsonl](const stream::TMonitorClip& clip) {
        const std::string line = jsonl ? JsonLine(clip) : clip.Logged.Line;
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    };
    monitor.OnNotice = [](const std::string& name, stream::TNoticeKind kind,
                          const std::string& text) {
        const char* tag = kind == stream::TNoticeKind::nkError     ? "error: "
                          : kind == stream::TNoticeKind::nkWarning ? "warning: "
                                                                   : "";
        if (name.empty()) {
            std::fprintf(stderr, "%s%s\n", tag, text.c_str());
        } else {
            std::fprintf(stderr, "%s%s: %s\n", tag, name.c_str(), text.c_str());
        }
    };

    struct sigaction action {};
    action.sa_handler = OnMonitorStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    const int threads = std::min(options.Threads, static_cast<int>(streams.size()));
    std::fprintf(stderr,
                 "Monitoring %zu stream%s with %d fingerprints on %d thread%s; Ctrl+C ends.\n",
                 streams.size(), streams.size() == 1 ? "" : "s", songs.Count(), threads,
                 threads == 1 ? "" : "s");
    std::fflush(stderr);
    monitor.Start();
    while (!StopRequested.load() && !monitor.AllFilesEnded()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    monitor.Stop();
    return !StopRequested.load() && monitor.FailedFiles() > 0 ? ExitFailed : ExitOk;
}

}  // namespace orvane::cli
