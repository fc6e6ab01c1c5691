// orvane3-cli: the headless face of orvane3 — fingerprint audio files, list their line keys,
// inspect fingerprint files.
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <variant>
#include <string>
#include <vector>

#include "audio/FptExtract.h"
#include "audio/uOpenAudio.h"
#include "base/Errors.h"
#include "database/DBTabl.h"
#include "database/TFptLibrary.h"
#include "database/TMemorySongListView.h"
#include "database/TPlainLibraryUi.h"
#include "base/TimeText.h"
#include "fingerprint/FptAux.h"
#include "fingerprint/FptFile.h"
#include "platform/PlatformAudio.h"
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

bool IsHelp(const char* arg) { return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0; }

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
    if (folder.back() != std::filesystem::path::preferred_separator) folder += std::filesystem::path::preferred_separator;

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
                const std::uint32_t* block = song->Blocks()[static_cast<std::size_t>(it.currentBlock)];
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
    tracking::TQueuePoster poster;
    tracking::TSystemClock clock;
    tracking::TSystemMemoryStatus memory;
    tracking::TPosting posting(poster, clock);
    tracking::TMemoryGuard guard(memory, clock, posting);
    tracking::TCountingRecognitionPause pause;
    database::TMemorySongListView view;
    database::TSongList songs(pause, posting, view);
    database::TMediumDB index;
    database::TPlainProgressDialog progress;
    database::TScriptedLibraryWindow window;
    database::TFptLibrary library(
        database::TLibraryParts{songs, index, pause, posting, guard, progress, window},
        database::TLibrarySettings{folder});

    library.MenuItemLoadFingerprintsClick(nullptr);
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
    if (entries > 0) std::printf(" (%.2f bytes per entry)", static_cast<double>(bytes) / static_cast<double>(entries));
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
    };
    auto it = commands.find(argv[1]);
    if (it == commands.end()) return Usage(MainUsage, (std::string("unknown command ") + argv[1]).c_str());
    return it->second(argc - 2, argv + 2);
}
