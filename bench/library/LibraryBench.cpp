// How fast the fingerprint library reloads a folder (reading, unpacking, undoing the deltas,
// entering the keys, sorting once), what a loaded key costs in memory, how long one more
// fingerprint takes to merge into the sorted library, and how fast lookups are.
// Libraries: synthetic ones of 1,000 fingerprints of 3.5 minutes (18,000 keys each, consecutive
// keys differing in a few bits as real ones do, written as real .qnf files) and a small real one
// fingerprinted from generated audio. ORVANE_BENCH_BIG=1 adds 10,000 fingerprints (180 M keys).
// The synthetic folders are made once under $ORVANE_BENCH_DIR (default /tmp) and reused.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "audio/FptExtract.h"
#include "database/DBTabl.h"
#include "database/TFptLibrary.h"
#include "database/TMemorySongListView.h"
#include "database/TPlainLibraryUi.h"
#include "fingerprint/FptFile.h"
#include "platform/PlatformAudio.h"
#include "signal/QnFFT.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TSystemClock.h"
#include "tracking/TSystemMemoryStatus.h"

namespace {

using namespace orvane;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::int32_t KeysPerFingerprint = 18000;  // 3.5 minutes at 86.13 keys per second

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/// Resident set of this process in bytes (VmRSS of /proc/self/status).
std::int64_t ResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
    }
    return 0;
}

/// A clip's keys: a random walk that flips one to three bits per key.
std::vector<std::uint32_t> SyntheticKeys(std::uint32_t seed, std::int32_t count) {
    std::mt19937 random(seed);
    std::vector<std::uint32_t> keys(static_cast<std::size_t>(count));
    std::uint32_t key = random() | 1u;
    for (auto& k : keys) {
        const std::uint32_t flips = 1 + random() % 3;
        for (std::uint32_t f = 0; f < flips; ++f) key ^= 1u << (random() % 32);
        k = key == 0 ? 1u : key;
    }
    return keys;
}

void WriteSynthetic(const std::string& folder, std::int32_t index) {
    const auto keys = SyntheticKeys(static_cast<std::uint32_t>(index) * 7919u + 17u, KeysPerFingerprint);
    auto song = MakeRef<fingerprint::TSongServer>();
    song->Add(keys.data(), KeysPerFingerprint);
    const std::string title = "Synthetic clip " + std::to_string(index);
    fingerprint::WriteFingerprintFile(*song, title, fingerprint::FingerprintFileName(folder, title));
}

/// The folder of `count` synthetic fingerprints, made in a child process the first time so the
/// measuring process starts with a clean heap.
std::string SyntheticLibrary(std::int32_t count) {
    const char* base = std::getenv("ORVANE_BENCH_DIR");
    const std::string folder = std::string(base != nullptr ? base : "/tmp") +
                               "/orvane-library-bench-" + std::to_string(count) + "/";
    if (fs::exists(folder + ".complete")) return folder;
    std::printf("making %d synthetic fingerprints in %s ...\n", count, folder.c_str());
    std::fflush(stdout);
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        fs::create_directories(folder);
        for (std::int32_t i = 0; i < count; ++i) WriteSynthetic(folder, i);
        std::ofstream(folder + ".complete") << "done\n";
        std::_Exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::printf("  made in %.1f s\n", Since(start));
    return folder;
}

/// A few fingerprints made from generated music the way the CLI's fingerprint command does.
std::string RealLibrary() {
    const std::string folder = (fs::temp_directory_path() / "orvane-library-bench-real/").string();
    if (fs::exists(folder + ".complete")) return folder;
    fs::create_directories(folder + "wav");
    platform::InstallAudioConversion();
    signal::QnKeyConversion converter;
    struct THost final : audio::IExtractHost {
        void Report(const std::string&, int) override {}
    } host;
    for (std::uint32_t i = 0; i < 6; ++i) {
        const std::string wav = folder + "wav/Music " + std::to_string(i) + ".wav";
        test::WriteWav(wav, test::Music(100 + i, 11025 * 210), 11025);
        audio::ExtractFingerprint(wav, audio::TAudioFileType::ftWav, folder, converter, host, false);
    }
    std::ofstream(folder + ".complete") << "done\n";
    return folder;
}

/// One library as the application wires it, with plain stand-ins for the windows.
struct TBenchLibrary {
    tracking::TQueuePoster Poster;
    tracking::TSystemClock SystemClock;
    tracking::TSystemMemoryStatus Memory;
    tracking::TPosting Posting{Poster, SystemClock};
    tracking::TMemoryGuard Guard{Memory, SystemClock, Posting};
    tracking::TCountingRecognitionPause Pause;
    database::TMemorySongListView View;
    database::TSongList Songs{Pause, Posting, View};
    database::TMediumDB MainDB;
    database::TPlainProgressDialog Progress;
    database::TScriptedLibraryWindow Window;
    database::TFptLibrary Library;

    explicit TBenchLibrary(const std::string& folder)
        : Library(database::TLibraryParts{Songs, MainDB, Pause, Posting, Guard, Progress, Window},
                  database::TLibrarySettings{folder}) {}
};

/// Nanoseconds per lookup of keys that are in the index, over about half a second.
double LookupNanoseconds(const database::TMediumDB& index, const std::vector<std::uint32_t>& keys) {
    std::vector<database::TDBItem> hits(256);
    std::int64_t found = 0;
    std::int64_t lookups = 0;
    const auto start = Clock::now();
    do {
        for (std::uint32_t key : keys) found += index.GetFromDB(hits, key);
        lookups += static_cast<std::int64_t>(keys.size());
    } while (Since(start) < 0.5);
    benchmark::DoNotOptimize(found);
    return Since(start) * 1e9 / static_cast<double>(lookups);
}

void Measure(const char* name, const std::string& folder, bool lookups) {
    const std::int64_t rssBefore = ResidentBytes();
    auto lib = std::make_unique<TBenchLibrary>(folder);
    const auto start = Clock::now();
    lib->Library.MenuItemLoadFingerprintsClick(nullptr);
    const double reload = Since(start);
    const std::int64_t rssAfter = ResidentBytes();
    const auto& ph = lib->Library.Phases();
    const double keys = static_cast<double>(lib->MainDB.TotalCount());
    std::printf("\n%s: %s\n", name, folder.c_str());
    std::printf("  fingerprints %d, keys %.0f, index sorted %s\n", lib->Songs.Count(), keys,
                lib->MainDB.Sorted() ? "yes" : "no");
    std::printf("  reload + optimisation  %8.2f s   %6.1f M keys/s\n", reload, keys / reload / 1e6);
    std::printf("    listing %.2f s, read %.2f s, unpack %.2f s, deltas %.2f s, add %.2f s, "
                "sort %.2f s, other %.2f s\n",
                ph.List, ph.Read, ph.Unpack, ph.Decode, ph.Add, ph.Sort,
                reload - (ph.List + ph.Read + ph.Unpack + ph.Decode + ph.Add + ph.Sort));
    std::printf("  index memory per key   %8.2f bytes (entry 8)\n",
                static_cast<double>(lib->MainDB.AllocatedBytes()) / keys);
    std::printf("  process memory per key %8.2f bytes (RSS %.0f MB -> %.0f MB)\n",
                static_cast<double>(rssAfter - rssBefore) / keys, rssBefore / 1048576.0,
                rssAfter / 1048576.0);

    // One more fingerprint into the sorted library.
    const std::string extra = (fs::temp_directory_path() / "orvane-library-bench-extra.qnf").string();
    {
        const auto extraKeys = SyntheticKeys(4242, KeysPerFingerprint);
        auto song = MakeRef<fingerprint::TSongServer>();
        song->Add(extraKeys.data(), KeysPerFingerprint);
        fingerprint::WriteFingerprintFile(*song, "Extra clip", extra);
    }
    const auto mergeStart = Clock::now();
    lib->Library.LoadFingerprintFile(extra, nullptr);
    std::printf("  merge one more         %8.3f s (%d fingerprints now)\n", Since(mergeStart),
                lib->Songs.Count());
    fs::remove(extra);

    if (lookups) {
        std::mt19937 random(5);
        std::vector<std::uint32_t> lookupKeys;
        for (int i = 0; i < 4096; ++i) {
            auto* song = lib->Songs.SongServer(static_cast<std::int32_t>(random() % lib->Songs.SlotCount()));
            if (song == nullptr) continue;
            const auto* keysOf = song->SongFile()->Keys();
            lookupKeys.push_back(keysOf[random() % static_cast<std::uint32_t>(song->SongFile()->Length)]);
        }
        std::printf("  lookup per key         %8.0f ns (hits copied into a 256-entry buffer)\n",
                    LookupNanoseconds(lib->MainDB, lookupKeys));
    }
    const auto freeStart = Clock::now();
    lib.reset();
    std::printf("  freeing the library    %8.2f s\n", Since(freeStart));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const char* big = std::getenv("ORVANE_BENCH_BIG");
    const bool bigRuns = big != nullptr && big[0] == '1';
    const std::string real = RealLibrary();
    const std::string small = SyntheticLibrary(1000);
    const std::string large = bigRuns ? SyntheticLibrary(10000) : std::string();
    Measure("real (generated music, CLI fingerprinting)", real, false);
    Measure("synthetic 1,000", small, true);
    if (bigRuns) Measure("synthetic 10,000", large, true);
    return 0;
}
