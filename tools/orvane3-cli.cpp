// orvane3-cli: the headless face of orvane3 — fingerprint audio files, list their line keys,
// inspect fingerprint files.
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "audio/FptExtract.h"
#include "audio/uOpenAudio.h"
#include "base/Errors.h"
#include "base/TimeText.h"
#include "fingerprint/FptAux.h"
#include "fingerprint/FptFile.h"
#include "platform/PlatformAudio.h"
#include "signal/QnFFT.h"

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
    "\n"
    "Prints the title, the number of keys, the duration and the header fields of a\n"
    "fingerprint file; --keys also prints its keys as 'keys' does.\n";

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

int CmdInspect(int argc, char** argv) {
    std::vector<std::string> files;
    bool withKeys = false;
    for (int i = 0; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            std::fputs(InspectUsage, stdout);
            return ExitOk;
        }
        if (std::strcmp(argv[i], "--keys") == 0) {
            withKeys = true;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return Usage(InspectUsage, (std::string("unknown option ") + argv[i]).c_str());
        } else {
            files.emplace_back(argv[i]);
        }
    }
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
