// Start-up and matching figures of orvane3-cli as a user runs it, with and without the index
// snapshot, and fingerprinting speed beside the Chromaprint tool (fpcalc -length 0) on the same
// files in the same run. Every figure comes from a child process: wall time, CPU time (user +
// system) and peak resident memory (ru_maxrss).
//   - library of 105 fingerprints of generated music (3.5 minutes each), made once;
//   - start: inspect --library without a snapshot (cache cleared first) and with one;
//   - match of one 10 s clip against the 105, without and with the snapshot;
//   - match of 20 clips of 10 s in one call: wall against CPU;
//   - fingerprinting 12 tracks (44.1 kHz stereo WAV and their 192 kbit/s MP3) against fpcalc;
//   - fingerprint quality: bit agreement of the keys of each WAV and of its MP3 (best offset
//     within 8 keys), and recognition of 72 noisy 10 s WAV clips at each of three noise
//     levels against the fingerprints of the MP3s;
//   - ORVANE_BENCH_BIG=1 adds the start with 10,000 synthetic fingerprints (18,000 keys each).
// Files live under $ORVANE_BENCH_DIR (default /tmp)/orvane-snapshot-bench/. ORVANE_BENCH_CLI
// names another orvane3-cli to measure (an older build, for before-and-after figures).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <bit>
#include <iterator>
#include <string>
#include <vector>

#include "fingerprint/FptAux.h"
#include "fingerprint/FptFile.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"

namespace {

namespace fs = std::filesystem;
using namespace orvane;

constexpr int SongSeconds = 210;
constexpr int Songs = 105;
constexpr int ClipSeconds = 10;
constexpr int Clips = 20;
constexpr int Tracks = 12;
constexpr int ClipsPerTrack = 6;

std::string Cli() {
    const char* cli = std::getenv("ORVANE_BENCH_CLI");
    return cli != nullptr ? cli : ORVANE_CLI;
}

std::string Base() {
    const char* dir = std::getenv("ORVANE_BENCH_DIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/orvane-snapshot-bench/";
}

struct TFigures {
    double Wall = 0;
    double Cpu = 0;
    long PeakKiB = 0;
    int Status = 0;
};

/// Runs `args` (args[0] the program) with stdout and stderr to /dev/null.
TFigures Run(const std::vector<std::string>& args) {
    std::fflush(stdout);  // or the child's freopen would print our pending output again
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
        if (std::freopen("/dev/null", "w", stderr) == nullptr) _exit(126);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    TFigures f;
    f.Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    f.Cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    f.PeakKiB = usage.ru_maxrss;
    f.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return f;
}

/// Best wall (and its CPU) of `n` runs; `before` runs ahead of each (clearing the cache).
template <typename F>
TFigures Best(int n, const std::vector<std::string>& args, F before, bool anyStatus = false) {
    TFigures best;
    best.Wall = 1e9;
    for (int i = 0; i < n; ++i) {
        before();
        const TFigures f = Run(args);
        if (f.Status != 0 && !anyStatus) {
            std::fprintf(stderr, "failed (%d): %s ...\n", f.Status, args[1].c_str());
            std::exit(1);
        }
        if (f.Wall < best.Wall) best = f;
    }
    return best;
}

void Print(const char* what, const TFigures& f) {
    std::printf("  %-58s wall %8.3f s  cpu %8.3f s  peak RSS %8.1f MiB\n", what, f.Wall, f.Cpu,
                static_cast<double>(f.PeakKiB) / 1024.0);
    std::fflush(stdout);
}

std::string Cache() { return Base() + "cache/"; }
void ClearCache() { fs::remove_all(Cache() + "orvane3"); }
void KeepCache() {}

/// The library of generated songs and the 10 s clips cut from them (clip i from song 5i + 2,
/// starting at 30 + 7i seconds), made once.
void MakeLibrary() {
    const std::string lib = Base() + "lib105/";
    if (fs::exists(lib + ".complete")) return;
    std::printf("making %d songs and their fingerprints in %s ...\n", Songs, lib.c_str());
    std::fflush(stdout);
    fs::create_directories(lib);
    fs::create_directories(Base() + "clips");
    fs::create_directories(Base() + "tracks");
    for (int s = 0; s < Songs; ++s) {
        const auto song = test::Music(static_cast<std::uint32_t>(1000 + s), 11025u * SongSeconds);
        // The fingerprint command titles a fingerprint by its file name.
        const std::string wav = Base() + "Song " + std::to_string(s) + ".wav";
        test::WriteWav(wav, song, 11025);
        Run({Cli(), "fingerprint", "--out", lib, wav});
        fs::remove(wav);
        if (s % 5 == 2 && s / 5 < Clips) {
            const int i = s / 5;
            const std::size_t from = 11025u * static_cast<std::size_t>(30 + 7 * i);
            test::TSamples clip(song.begin() + static_cast<std::ptrdiff_t>(from),
                                song.begin() + static_cast<std::ptrdiff_t>(from + 11025u * ClipSeconds));
            test::WriteWav(Base() + "clips/clip" + std::to_string(i) + ".wav", clip, 11025);
        }
    }
    for (int t = 0; t < Tracks; ++t) {
        const auto left = test::Music(static_cast<std::uint32_t>(5000 + t), 44100u * SongSeconds, 44100);
        test::TSamples right(left.size());
        for (std::size_t k = 0; k < left.size(); ++k) right[k] = static_cast<std::int16_t>(left[k] * 3 / 4);
        const std::string wav = Base() + "tracks/track" + std::to_string(t) + ".wav";
        test::WriteWav(wav, test::Interleave({left, right}), 44100, 2);
        Run({"lame", "--quiet", "-b", "192", wav, Base() + "tracks/track" + std::to_string(t) + ".mp3"});
    }
    std::ofstream(lib + ".complete") << "done\n";
}

/// 10,000 synthetic fingerprints of 18,000 keys (consecutive keys differ in 1 to 3 bits).
std::string MakeBigLibrary() {
    const std::string lib = Base() + "lib10000/";
    if (fs::exists(lib + ".complete")) return lib;
    std::printf("making 10,000 synthetic fingerprints in %s ...\n", lib.c_str());
    std::fflush(stdout);
    fs::create_directories(lib);
    std::vector<std::uint32_t> keys(18000);
    for (int i = 0; i < 10000; ++i) {
        std::mt19937 random(static_cast<std::uint32_t>(i) * 7919u + 17u);
        std::uint32_t key = random() | 1u;
        for (auto& k : keys) {
            const std::uint32_t flips = 1 + random() % 3;
            for (std::uint32_t f = 0; f < flips; ++f) key ^= 1u << (random() % 32);
            k = key == 0 ? 1u : key;
        }
        auto song = MakeRef<fingerprint::TSongServer>();
        song->Add(keys.data(), static_cast<std::int32_t>(keys.size()));
        const std::string title = "Synthetic clip " + std::to_string(i);
        fingerprint::WriteFingerprintFile(*song, title, fingerprint::FingerprintFileName(lib, title));
    }
    std::ofstream(lib + ".complete") << "done\n";
    return lib;
}

/// Runs `args` and returns what it printed on stdout.
std::string Output(const std::vector<std::string>& args) {
    const std::string file = Base() + "output.txt";
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        if (std::freopen(file.c_str(), "w", stdout) == nullptr) _exit(126);
        if (std::freopen("/dev/null", "w", stderr) == nullptr) _exit(126);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::uint32_t> Keys(const std::string& file) {
    std::vector<std::uint32_t> keys;
    std::istringstream lines(Output({Cli(), "keys", file}));
    std::string line;
    while (std::getline(lines, line)) keys.push_back(static_cast<std::uint32_t>(std::stoul(line, nullptr, 16)));
    return keys;
}

/// Share of equal bits of two key sequences at the best offset within 8 keys.
double Agreement(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    double best = 0.0;
    for (int offset = -8; offset <= 8; ++offset) {
        std::int64_t bits = 0;
        std::int64_t equal = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            const std::int64_t j = static_cast<std::int64_t>(i) + offset;
            if (j < 0 || j >= static_cast<std::int64_t>(b.size())) continue;
            bits += 32;
            equal += 32 - std::popcount(a[i] ^ b[static_cast<std::size_t>(j)]);
        }
        if (bits > 0) best = std::max(best, static_cast<double>(equal) / static_cast<double>(bits));
    }
    return best;
}

void QualityFigures() {
    std::printf("fingerprint quality (44.1 kHz stereo WAV against its 192 kbit/s MP3):\n");
    double sum = 0.0;
    double worst = 1.0;
    for (int t = 0; t < Tracks; ++t) {
        const std::string track = Base() + "tracks/track" + std::to_string(t);
        const double a = Agreement(Keys(track + ".wav"), Keys(track + ".mp3"));
        sum += a;
        worst = std::min(worst, a);
    }
    std::printf("  key bit agreement: mean %.4f, worst %.4f\n", sum / Tracks, worst);

    // The MP3s fingerprinted as the library; noisy WAV clips cut from the tracks as the input.
    const std::string lib = Base() + "lib-mp3/";
    fs::remove_all(lib);
    fs::create_directories(lib);
    std::vector<std::string> fingerprint = {Cli(), "fingerprint", "--out", lib};
    for (int t = 0; t < Tracks; ++t) fingerprint.push_back(Base() + "tracks/track" + std::to_string(t) + ".mp3");
    Run(fingerprint);
    // Uniform noise of peak k times the clip's RMS: k = 1 is about 4.8 dB SNR; recognition
    // fades out between k = 1 and 2, where a change in fingerprint quality shows most.
    fs::create_directories(Base() + "noisy");
    const double levels[] = {1.0, 1.4, 1.8};
    std::vector<std::string> match = {Cli(), "match", "--library", lib, "--format", "csv"};
    for (int t = 0; t < Tracks; ++t) {
        const auto left = test::Music(static_cast<std::uint32_t>(5000 + t), 44100u * SongSeconds, 44100);
        for (int c = 0; c < ClipsPerTrack; ++c) {
            const std::size_t from = 44100u * static_cast<std::size_t>(15 + 30 * c + 2 * t);
            test::TSamples clip(left.begin() + static_cast<std::ptrdiff_t>(from),
                                left.begin() + static_cast<std::ptrdiff_t>(from + 44100u * ClipSeconds));
            double power = 0.0;
            for (auto v : clip) power += static_cast<double>(v) * v;
            const double rms = std::sqrt(power / static_cast<double>(clip.size()));
            for (int level = 0; level < 3; ++level) {
                const std::string name = Base() + "noisy/n" + std::to_string(level) + "-track" +
                                         std::to_string(t) + "-" + std::to_string(c) + ".wav";
                match.push_back(name);
                if (fs::exists(name)) continue;
                const test::TSamples noise =
                    test::Noise(static_cast<std::uint32_t>(77 + 9 * t + 3 * c + level), clip.size(),
                                levels[level] * rms);
                test::TSamples l(clip.size());
                test::TSamples r(clip.size());
                for (std::size_t k = 0; k < clip.size(); ++k) {
                    l[k] = static_cast<std::int16_t>(std::clamp(clip[k] + noise[k], -32768, 32767));
                    r[k] = static_cast<std::int16_t>(std::clamp(clip[k] * 3 / 4 + noise[k], -32768, 32767));
                }
                test::WriteWav(name, test::Interleave({l, r}), 44100, 2);
            }
        }
    }
    std::istringstream rows(Output(match));
    std::string row;
    // Clips recognised (at least one line with the right title) and wrong lines, per level.
    std::set<std::string> recognised[3];
    int wrong[3] = {};
    while (std::getline(rows, row)) {
        // file;start_in_file;end_in_file;title;clip_begin;clip_end
        const auto at = row.find("/noisy/n");
        if (at == std::string::npos) continue;
        const int level = row[at + 8] - '0';
        const auto track = row.find("track", at);
        const auto dash = row.find('-', track);
        if (level < 0 || level > 2 || track == std::string::npos || dash == std::string::npos) continue;
        const std::string wanted = ";" + row.substr(track, dash - track) + ";";
        if (row.find(wanted) != std::string::npos) {
            recognised[level].insert(row.substr(0, row.find(';')));
        } else {
            ++wrong[level];
        }
    }
    for (int level = 0; level < 3; ++level) {
        std::printf("  %d noisy 10 s clips (noise peak %.1f x RMS) against the MP3 fingerprints: "
                    "%zu recognised, %d wrong lines\n",
                    ClipsPerTrack * Tracks, levels[level], recognised[level].size(), wrong[level]);
    }
}

void StartFigures(const std::string& lib, const char* name, int runs) {
    std::printf("start (inspect --library) with %s:\n", name);
    Print("without snapshot (read, unpack, sort; snapshot written)",
          Best(runs, {Cli(), "inspect", "--library", lib}, ClearCache));
    Run({Cli(), "inspect", "--library", lib});  // leaves the snapshot
    Print("with snapshot (folder unchanged)",
          Best(runs, {Cli(), "inspect", "--library", lib}, KeepCache));
}

}  // namespace

int main() {
    fs::create_directories(Base());
    ::setenv("XDG_CACHE_HOME", Cache().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (Base() + "config").c_str(), 1);
    MakeLibrary();
    const std::string lib = Base() + "lib105/";

    StartFigures(lib, "105 fingerprints", 3);
    if (const char* big = std::getenv("ORVANE_BENCH_BIG"); big != nullptr && big[0] == '1') {
        StartFigures(MakeBigLibrary(), "10,000 fingerprints", 1);
    }

    std::printf("match of one 10 s clip against %d fingerprints:\n", Songs);
    const std::vector<std::string> one = {Cli(), "match", "--library", lib,
                                          Base() + "clips/clip0.wav"};
    Print("without snapshot", Best(5, one, ClearCache));
    Run(one);
    Print("with snapshot", Best(5, one, KeepCache));

    std::vector<std::string> many = {Cli(), "match", "--library", lib};
    for (int i = 0; i < Clips; ++i) many.push_back(Base() + "clips/clip" + std::to_string(i) + ".wav");
    std::printf("match of %d clips of 10 s in one call (with snapshot):\n", Clips);
    const TFigures m = Best(3, many, KeepCache);
    Print("all clips", m);
    std::printf("  wall / cpu = %.2f\n", m.Wall / m.Cpu);

    QualityFigures();

    std::printf("fingerprinting %d tracks of %d s (CPU seconds, fpcalc -length 0 beside):\n", Tracks,
                SongSeconds);
    for (const char* ext : {"wav", "mp3"}) {
        std::vector<std::string> ours = {Cli(), "fingerprint", "--out", Base() + "fp-out"};
        for (int t = 0; t < Tracks; ++t) {
            const std::string file = Base() + "tracks/track" + std::to_string(t) + "." + ext;
            ours.push_back(file);
        }
        const TFigures o = Best(3, ours, [] {
            fs::remove_all(Base() + "fp-out");
            fs::create_directories(Base() + "fp-out");
        });
        // fpcalc stops at the first file it reports "Error decoding audio frame (End of file)"
        // for (after printing its whole fingerprint), so it runs once per file.
        TFigures c;
        for (int t = 0; t < Tracks; ++t) {
            const std::string file = Base() + "tracks/track" + std::to_string(t) + "." + ext;
            c.Cpu += Best(3, {"fpcalc", "-length", "0", file}, KeepCache, true).Cpu;
        }
        std::printf("  %s: orvane3-cli %.2f s cpu, fpcalc %.2f s cpu: %.2fx its speed\n", ext, o.Cpu,
                    c.Cpu, c.Cpu / o.Cpu);
    }
    return 0;
}
