// orvane3-cli: the headless face of orvane3 — fingerprint audio files, list their line keys,
// inspect fingerprint files.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <unistd.h>
#include <variant>
#include <vector>

#include "CliLive.h"
#include "CliMonitor.h"
#include "CliPlays.h"
#include "app/RegStuff.h"
#include "audio/FptExtract.h"
#include "audio/uOpenAudio.h"
#include "base/Errors.h"
#include "base/RegularFile.h"
#include "base/TimeText.h"
#include "database/DBTabl.h"
#include "database/TFptLibrary.h"
#include "database/TMemorySongListView.h"
#include "database/TPlainLibraryUi.h"
#include "database/TStandaloneLibrary.h"
#include "snapshot/IndexSnapshot.h"
#include "fingerprint/FptAux.h"
#include "fingerprint/FptFile.h"
#include "platform/PlatformAudio.h"
#include "recognition/TFileRecognizer.h"
#include "signal/QnFFT.h"
#include "tracking/TActivityHistory.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TSystemClock.h"
#include "tracking/TSystemMemoryStatus.h"

namespace {

using namespace orvane;

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

const char* const MainUsage =
    "usage: orvane3-cli COMMAND [OPTIONS] ...\n"
    "\n"
    "Commands:\n"
    "  fingerprint [--out DIR] FILE...   write one .qnf fingerprint per WAV/MP3 file\n"
    "  keys FILE                         print the line keys of a WAV/MP3 file\n"
    "  inspect FILE.qnf [--keys]         show a fingerprint file's header (and keys)\n"
    "  inspect --library DIR [--csv FILE] load a fingerprint folder, show the index\n"
    "  devices                           list the capture devices\n"
    "  listen [--device NAME] [--library DIR] [--side both|left|right] [--compat]\n"
    "                                    recognise clips live until interrupted\n"
    "  match [--library DIR] FILE...     recognise fingerprinted clips in recordings\n"
    "  monitor --library DIR [NAME=]SOURCE...\n"
    "                                    recognise clips in many streams at once\n"
    "  plays [--db FILE] [--summary] ... report the plays of the play log\n"
    "\n"
    "Run 'orvane3-cli COMMAND --help' for the options of a command.\n";

const char* const FingerprintUsage =
    "usage: orvane3-cli fingerprint [--out DIR] FILE...\n"
    "\n"
    "Fingerprints each WAV or MP3 file into DIR (default: the current folder) as\n"
    "<title>.qnf. The title is the file name without extension, or for an MP3 file with\n"
    "an ID3v1 tag \"artist - song\". A fingerprint that exists already is skipped.\n"
    "Exit status: 0 all files done, 1 some failed, 2 bad usage.\n";

const char* const KeysUsage =
    "usage: orvane3-cli keys FILE\n"
    "\n"
    "Prints the 32-bit line keys of a WAV or MP3 file, one 8-digit upper-case hex key per\n"
    "line, in fingerprint order (86.13 keys per second of audio).\n";

const char* const InspectUsage =
    "usage: orvane3-cli inspect FILE.qnf [--keys]\n"
    "       orvane3-cli inspect --library DIR [--csv FILE]\n"
    "\n"
    "Prints the title, the number of keys, the duration and the header fields of a\n"
    "fingerprint file; --keys also prints its keys as 'keys' does.\n"
    "\n"
    "With --library, loads every .qnf file of DIR as the application's reload does (more\n"
    "than 48 files load in bulk and the index is sorted once), reports the loading\n"
    "messages on stderr, and prints the number loaded, the key index statistics and the\n"
    "memory listing (one line per fingerprint: tag;title;file;00:length). --csv FILE also\n"
    "writes the memory listing export to FILE. A file that cannot be read is reported\n"
    "and skipped.\n"
    "Exit status: 0 at least one fingerprint loaded, 1 nothing loaded (missing or empty\n"
    "folder, no readable fingerprint) or the listing could not be written, 2 bad usage.\n";

const char* const MatchUsage =
    "usage: orvane3-cli match [--library DIR] [--deep|--no-deep] [--high-integrity]\n"
    "                         [--keep longest|shortest] [--robust] [--format text|csv] FILE...\n"
    "\n"
    "Loads the fingerprints of DIR (default: the configured fingerprint folder, at first\n"
    "~/Documents/My Fingerprints/; deep search, high integrity and which duplicate to keep\n"
    "also come from the settings unless given here)\n"
    "and plays each WAV or MP3 file through a file channel as fast as the engine goes,\n"
    "printing one line per clip heard: where in the file it was first heard (m:ss.s)\n"
    "and the log line \"channel: title [begin - end] (duration)\". The results depend\n"
    "only on the audio, not on the machine's speed.\n"
    "\n"
    "  --deep, --no-deep    look up all 96 newest keys per search (default) or every third\n"
    "  --high-integrity     age penalty 12 instead of 4: a clip is dropped sooner\n"
    "  --keep WHICH         of duplicate fingerprints keep the longest (default) or shortest\n"
    "  --robust             robust recognition for noisy input: hears clips under loud noise\n"
    "                       by comparing up to 9 s of keys (also from the settings)\n"
    "  --format csv         file;start_in_file;end_in_file;title;clip_begin;clip_end\n"
    "                       (seconds with one decimal), after a header row\n"
    "\n"
    "Fingerprints disabled as duplicates and errors are reported on stderr.\n"
    "Exit status: 0 it ran, 1 a file could not be read or no library could be loaded,\n"
    "2 bad usage.\n";

bool IsHelp(const char* arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

int Usage(const char* text, const char* complaint = nullptr) {
    if (complaint != nullptr) std::fprintf(stderr, "orvane3-cli: %s\n", complaint);
    std::fputs(text, stderr);
    return ExitUsage;
}

/// Reports a fingerprinting run on stderr, with a progress bar when stderr is a terminal.
class TCliExtractHost : public audio::IExtractHost {
public:
    TCliExtractHost() : FTerminal(isatty(STDERR_FILENO) == 1) {}

    void Report(const std::string& text, int icon) override {
        EndBar();
        const char* tag = icon == 4 ? "error: " : icon == 3 ? "warning: " : "";
        std::fprintf(stderr, "%s%s\n", tag, text.c_str());
    }
    void ShowStats(const std::string& caption) override {
        FCaption = caption;
        FLastPercent = -1;
        SetState(0.0f);
    }
    void SetState(float share) override {
        if (!FTerminal) return;
        int percent = static_cast<int>(share * 100.0f + 0.5f);
        if (percent == FLastPercent) return;
        FLastPercent = percent;
        constexpr int Width = 30;
        int filled = percent * Width / 100;
        std::fprintf(stderr, "\r[%.*s%*s] %3d%% %s", filled, "##############################",
                     Width - filled, "", percent, FCaption.c_str());
        std::fflush(stderr);
        FBarShown = true;
    }
    void HideStats() override { EndBar(); }
    void HideDialog() override { EndBar(); }

private:
    void EndBar() {
        if (FBarShown) std::fputs("\r\033[K", stderr);
        FBarShown = false;
    }
    bool FTerminal;
    bool FBarShown = false;
    int FLastPercent = -1;
    std::string FCaption;
};

void PrintKey(std::uint32_t key) { std::printf("%08" PRIX32 "\n", key); }

int CmdFingerprint(int argc, char** argv) {
    std::string outDir = ".";
    std::vector<std::string> files;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(FingerprintUsage, stdout);
            return ExitOk;
        }
        if (std::strcmp(argv[i], "--out") == 0) {
            if (i + 1 >= argc) return Usage(FingerprintUsage, "--out needs a folder");
            outDir = argv[++i];
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return Usage(FingerprintUsage, (std::string("unknown option ") + argv[i]).c_str());
        } else {
            files.emplace_back(argv[i]);
        }
    }
    if (files.empty()) return Usage(FingerprintUsage, "no audio file given");
    std::error_code ec;
    if (!std::filesystem::is_directory(outDir, ec)) {
        std::fprintf(stderr, "Error: Could not find folder \"%s\".\n", outDir.c_str());
        return ExitFailed;
    }
    std::string folder = outDir;
    if (folder.back() != std::filesystem::path::preferred_separator)
        folder += std::filesystem::path::preferred_separator;

    signal::QnKeyConversion converter;
    TCliExtractHost host;
    int failed = 0;
    for (const auto& file : files) {
        auto type = audio::AudioFileTypeOf(file);
        if (type == audio::TAudioFileType::ftOther) {
            host.Report("Only .mp3 and .wav files are supported for fingerprint extraction", 3);
            ++failed;
            continue;
        }
        try {
            auto result = audio::ExtractFingerprint(file, type, folder, converter, host);
            if (result == audio::TExtractResult::erFailed) ++failed;
        } catch (const std::exception& e) {
            host.Report(std::string(e.what()), 4);
            ++failed;
        }
    }
    return failed == 0 ? ExitOk : ExitFailed;
}

int CmdKeys(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(KeysUsage, stdout);
            return ExitOk;
        }
        if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return Usage(KeysUsage, (std::string("unknown option ") + argv[i]).c_str());
        }
        files.emplace_back(argv[i]);
    }
    if (files.size() != 1) return Usage(KeysUsage, "give exactly one audio file");
    auto type = audio::AudioFileTypeOf(files[0]);
    if (type == audio::TAudioFileType::ftOther) {
        std::fprintf(stderr, "Only .mp3 and .wav files are supported for fingerprint extraction\n");
        return ExitFailed;
    }
    try {
        auto reader = audio::OpenAudioReader(files[0], type);
        signal::QnKeyConversion converter;
        auto song = MakeRef<fingerprint::TSongServer>();
        audio::ComputeLineKeys(*reader, converter, *song, nullptr);
        auto it = song->startIterator(0, song->Length() - 1);
        if (song->Length() > 0) {
            for (;;) {
                const std::uint32_t* block =
                    song->Blocks()[static_cast<std::size_t>(it.currentBlock)];
                for (std::int32_t k = it.blockStart; k <= it.blockEnd; ++k) PrintKey(block[k]);
                if (it.break_) break;
                song->continueIterator(it);
            }
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return ExitFailed;
    }
    return ExitOk;
}

/// Prints the activity entries posted so far on stderr, tagged like the fingerprint messages.
void PrintActivities(tracking::TQueuePoster& poster) {
    for (auto& message : poster.TakeAll()) {
        const auto* entry = std::get_if<tracking::TActivityData>(&message);
        if (entry == nullptr) continue;
        const char* tag = entry->Icon == tracking::TActivityIcon::aiError       ? "error: "
                          : entry->Icon == tracking::TActivityIcon::aiAttention ? "warning: "
                                                                                : "";
        std::fprintf(stderr, "%s%s\n", tag, entry->Str.c_str());
    }
}

int InspectLibrary(const std::string& folder, const std::string& csvFile) {
    database::TStandaloneLibrary standalone(folder);
    auto& [poster, clock, memory, posting, guard, pause, view, songs, index, progress, window,
           library] = standalone;

    snapshot::ReloadWithSnapshot(library, nullptr);
    PrintActivities(poster);
    for (const auto& text : window.Messages) std::fprintf(stderr, "%s\n", text.c_str());

    std::int32_t usedPartitions = 0;
    std::int32_t largest = 0;
    for (std::int32_t p = 0; p < database::PartitionCount; ++p) {
        const std::int32_t count = index.SubDB(p).Count();
        if (count > 0) ++usedPartitions;
        largest = std::max(largest, count);
    }
    const std::int64_t entries = index.TotalCount();
    const std::size_t bytes = index.AllocatedBytes();
    std::printf("Fingerprints loaded: %d\n", songs.Count());
    std::printf("Index entries: %" PRId64 "\n", entries);
    std::printf("Partitions used: %d of %d\n", usedPartitions, database::PartitionCount);
    std::printf("Largest partition: %d entries\n", largest);
    std::printf("Index memory: %zu bytes", bytes);
    if (entries > 0)
        std::printf(" (%.2f bytes per entry)",
                    static_cast<double>(bytes) / static_cast<double>(entries));
    std::printf("\nIndex sorted: %s\n\n", index.Sorted() ? "yes" : "no");

    const auto rows = songs.ListingRows();
    std::string listing = tracking::TActivityHistory::ListingText(rows);
    // The export's lines end with CR LF; the terminal gets plain line ends.
    std::string plain;
    plain.reserve(listing.size());
    for (char c : listing) {
        if (c != '\r') plain += c;
    }
    std::fputs(plain.c_str(), stdout);

    int status = songs.Count() > 0 ? ExitOk : ExitFailed;
    if (!csvFile.empty()) {
        tracking::TActivityHistory history(clock.Now(), posting);
        try {
            if (!history.SaveListingAs(csvFile, rows)) status = ExitFailed;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "error: %s\n", e.what());
            status = ExitFailed;
        }
        PrintActivities(poster);
    }
    return status;
}

int CmdInspect(int argc, char** argv) {
    std::vector<std::string> files;
    bool withKeys = false;
    std::string libraryDir;
    std::string csvFile;
    bool library = false;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(InspectUsage, stdout);
            return ExitOk;
        }
        if (std::strcmp(argv[i], "--library") == 0) {
            if (i + 1 >= argc) return Usage(InspectUsage, "--library needs a folder");
            library = true;
            libraryDir = argv[++i];
        } else if (std::strcmp(argv[i], "--csv") == 0) {
            if (i + 1 >= argc) return Usage(InspectUsage, "--csv needs a file name");
            csvFile = argv[++i];
        } else if (std::strcmp(argv[i], "--keys") == 0) {
            withKeys = true;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return Usage(InspectUsage, (std::string("unknown option ") + argv[i]).c_str());
        } else {
            files.emplace_back(argv[i]);
        }
    }
    if (library) {
        if (!files.empty() || withKeys) return Usage(InspectUsage, "--library takes a folder only");
        return InspectLibrary(libraryDir, csvFile);
    }
    if (!csvFile.empty()) return Usage(InspectUsage, "--csv goes with --library");
    if (files.size() != 1) return Usage(InspectUsage, "give exactly one fingerprint file");
    TRefPtr<fingerprint::TSongServer> song;
    try {
        song = fingerprint::ReadFingerprintFile(files[0]);
    } catch (const ENotRegularFile& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return ExitFailed;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "\"%s\" does not have the right file format\n",
                     audio::FileNameOnly(files[0]).c_str());
        if (e.what()[0] != '\0') std::fprintf(stderr, "(%s)\n", e.what());
        return ExitFailed;
    }
    const fingerprint::TSong& h = *song->SongFile();
    const std::int32_t n = h.Length;
    std::printf("Title: %s\n", fingerprint::TitleOf(h).c_str());
    std::printf("Keys: %d\n", n);
    std::printf("Duration: %s\n", MinSecText(n * 128.0 / 11025.0).c_str());
    std::printf("UniqueID: %" PRId64 "\n", static_cast<std::int64_t>(h.UniqueID));
    std::printf("ChunkStartRecTime: %.9g\n", static_cast<double>(h.ChunkStartRecTime));
    std::printf("Options: %u\n", static_cast<unsigned>(h.Options));
    std::printf("FirstChunk: %u\n", static_cast<unsigned>(h.FirstChunk));
    std::printf("Source: %u\n", static_cast<unsigned>(h.Source));
    if (withKeys && n > 0) {
        auto it = song->startIterator(0, n - 1);
        for (;;) {
            const std::uint32_t* block = song->Blocks()[static_cast<std::size_t>(it.currentBlock)];
            for (std::int32_t k = it.blockStart; k <= it.blockEnd; ++k) PrintKey(block[k]);
            if (it.break_) break;
            song->continueIterator(it);
        }
    }
    return ExitOk;
}

/// Seconds as m:ss.s (tenths rounded; never negative).
std::string FilePosText(double seconds) {
    const long long tenths = std::max(0LL, std::llround(seconds * 10.0));
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld.%lld", tenths / 600, (tenths % 600) / 10,
                  tenths % 10);
    return text;
}

/// Seconds with one decimal, never negative.
std::string TenthsText(double seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f", std::max(0.0, std::round(seconds * 10.0) / 10.0));
    return text;
}

/// A CSV field, quoted when it holds the separator, a quote or a line break.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(";\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

int CmdMatch(int argc, char** argv) {
    // The application's settings give the defaults (the tool never writes them); options
    // given here override them.
    app::TSettingsStore store(app::TSettingsLocation::User());
    store.FolderChecks = false;
    const bool haveSettings = store.RegStuff(false);
    for (const std::string& error : store.LastErrors()) {
        std::fprintf(stderr, "warning: %s\n", error.c_str());
    }
    std::string libraryDir;
    recognition::TRecognitionOptions options;
    options.Form3Checkbox2checked = store.Settings.DeepSearch;
    options.Form3highIntegChecked = store.Settings.Highquality;
    options.Form3KeepLongest = store.Settings.DuplicateKeep == 1;
    options.RobustSearch = store.Settings.RobustSearch;
    bool csv = false;
    std::vector<std::string> files;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (IsHelp(argv[i])) {
            std::fputs(MatchUsage, stdout);
            return ExitOk;
        }
        if (arg == "--library") {
            if (i + 1 >= argc) return Usage(MatchUsage, "--library needs a folder");
            libraryDir = argv[++i];
        } else if (arg == "--deep") {
            options.Form3Checkbox2checked = true;
        } else if (arg == "--no-deep") {
            options.Form3Checkbox2checked = false;
        } else if (arg == "--high-integrity") {
            options.Form3highIntegChecked = true;
        } else if (arg == "--robust") {
            options.RobustSearch = true;
        } else if (arg == "--keep") {
            if (i + 1 >= argc) return Usage(MatchUsage, "--keep needs longest or shortest");
            const std::string which = argv[++i];
            if (which != "longest" && which != "shortest") {
                return Usage(MatchUsage, "--keep takes longest or shortest");
            }
            options.Form3KeepLongest = which == "longest";
        } else if (arg == "--format") {
            if (i + 1 >= argc) return Usage(MatchUsage, "--format needs text or csv");
            const std::string format = argv[++i];
            if (format != "text" && format != "csv")
                return Usage(MatchUsage, "--format takes text or csv");
            csv = format == "csv";
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage(MatchUsage, ("unknown option " + arg).c_str());
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return Usage(MatchUsage, "no audio file given");
    if (libraryDir.empty()) {
        const std::string folder = store.Settings.FpFolder;
        std::error_code ec;
        if (folder.empty() || !std::filesystem::is_directory(folder, ec)) {
            std::fprintf(stderr,
                         "No fingerprint library given, and the %s fingerprint folder \"%s\" does "
                         "not exist.\n"
                         "Make one with: orvane3-cli fingerprint --out DIR AUDIOFILE...\n"
                         "then recognise with: orvane3-cli match --library DIR FILE...\n",
                         haveSettings ? "configured" : "default", folder.c_str());
            return ExitFailed;
        }
        libraryDir = folder;
    }

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
        std::fprintf(stderr, "No fingerprint could be loaded from \"%s\".\n", libraryDir.c_str());
        return ExitFailed;
    }
    if (!index.Sorted()) library.OptimizeIndex(false);

    recognition::TFileRecognizer recognizer(songs, index, options);
    int status = ExitOk;
    if (csv) std::puts("file;start_in_file;end_in_file;title;clip_begin;clip_end");
    for (const std::string& file : files) {
        const recognition::TFileRecognition result = recognizer.Recognize(file);
        for (const auto& note : result.Notes) {
            std::fprintf(stderr, "%s%s: %s\n",
                         note.Icon == tracking::TActivityIcon::aiError ? "error: " : "warning: ",
                         file.c_str(), note.Str.c_str());
        }
        if (!result.Read) {
            std::fprintf(stderr, "error: %s: %s\n", file.c_str(),
                         result.Error.empty() ? "could not be read" : result.Error.c_str());
            status = ExitFailed;
        }
        if (!csv && files.size() > 1) std::printf("%s:\n", file.c_str());
        for (const auto& clip : result.Clips) {
            if (csv) {
                std::printf("%s;%s;%s;%s;%s;%s\n", CsvField(file).c_str(),
                            TenthsText(clip.StartInFile).c_str(),
                            TenthsText(clip.EndInFile).c_str(), CsvField(clip.Logged.Title).c_str(),
                            TenthsText(clip.ClipBegin).c_str(), TenthsText(clip.ClipEnd).c_str());
            } else {
                std::printf("%s  %s\n", FilePosText(clip.StartInFile).c_str(),
                            clip.Logged.Line.c_str());
            }
        }
        std::fflush(stdout);
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage(MainUsage);
    if (IsHelp(argv[1])) {
        std::fputs(MainUsage, stdout);
        return ExitOk;
    }
    orvane::platform::InstallAudioConversion();
    const std::map<std::string, std::function<int(int, char**)>> commands = {
        {"fingerprint", CmdFingerprint},
        {"keys", CmdKeys},
        {"inspect", CmdInspect},
        {"devices", orvane::cli::CmdDevices},
        {"listen", orvane::cli::CmdListen},
        {"match", CmdMatch},
        {"monitor", orvane::cli::CmdMonitor},
        {"plays", orvane::cli::CmdPlays},
    };
    auto it = commands.find(argv[1]);
    if (it == commands.end())
        return Usage(MainUsage, (std::string("unknown command ") + argv[1]).c_str());
    return it->second(argc - 2, argv + 2);
}
