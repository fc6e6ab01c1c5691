// How many streams one core can monitor, and what a stream costs in memory: 128 kbit/s MP3
// streams (44.1 kHz stereo, as radio sends them) decoded by FFmpeg, converted, keyed and
// searched against a library of 1,000 fingerprints (ORVANE_BENCH_BIG=1: 10,000) with deep
// search, by one recognition thread, files played as fast as the engine goes (as
// `monitor --fast` does). Prints:
//   - streams per core: seconds of audio handled per second of process CPU time (decoding on
//     the workers plus recognition), with and without deep search, FFmpeg and mpg123 decoding;
//   - memory per stream: the growth of the resident set from 1 to 41 streams, per stream;
//   - a long run of 20 streams (ORVANE_BENCH_HOURS of audio each, default 0.5; 0 skips it;
//     24 for a day, about 1 h on two cores) with the resident set sampled along the way.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <vector>

#include "BenchLibrary.h"
#include "platform/PlatformAudio.h"
#include "stream/TStreamMonitor.h"
#include "streamio/StreamSources.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"

namespace {

using namespace orvane;
using Clock = std::chrono::steady_clock;

constexpr int Rate = 11025;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

/// Resident set of the process in MiB.
double RssMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

/// A source that plays another one `times` times over (a long broadcast from a short file).
class TRepeatSource final : public stream::IStreamSource {
public:
    TRepeatSource(stream::TSourceFactory factory, stream::TStreamEntry entry, int times)
        : FFactory(std::move(factory)), FEntry(std::move(entry)), FLeft(times) {}
    void Open() override {
        FSource = FFactory(FEntry);
        FSource->Open();
    }
    bool Read(std::vector<std::int16_t>& samples) override {
        while (!FSource->Read(samples)) {
            if (--FLeft <= 0) return false;
            Open();
        }
        return true;
    }
    void Interrupt() override { FSource->Interrupt(); }
    bool RealTime() const override { return false; }

private:
    stream::TSourceFactory FFactory;
    stream::TStreamEntry FEntry;
    int FLeft;
    std::unique_ptr<stream::IStreamSource> FSource;
};

struct TRun {
    double AudioSeconds = 0;
    double CpuSeconds = 0;
    double WallSeconds = 0;
    int Clips = 0;
    double PeakRss = 0;
    std::vector<double> RssSamples;
};

TRun Run(const bench::TBenchLibrary& library, const std::string& file, int streams, int repeat,
         bool deep, bool ffmpeg, double seconds, bool sampleRss = false) {
    std::vector<stream::TStreamEntry> entries;
    for (int i = 0; i < streams; ++i) {
        entries.push_back(stream::ParseStreamArgument("s" + std::to_string(i) + "=" + file));
    }
    stream::TMonitorOptions options;
    options.Threads = 1;
    options.Fast = true;
    options.Recognition.Form3Checkbox2checked = deep;
    const stream::TSourceFactory files = streamio::MakeSourceFactory(ffmpeg);
    stream::TStreamMonitor monitor(
        library.Songs, library.Index, entries, options,
        [&](const stream::TStreamEntry& entry) -> std::unique_ptr<stream::IStreamSource> {
            return std::make_unique<TRepeatSource>(files, entry, repeat);
        });
    std::atomic<int> clips{0};
    monitor.OnClip = [&](const stream::TMonitorClip&) { clips.fetch_add(1); };
    monitor.OnNotice = [](const std::string& name, stream::TNoticeKind kind,
                          const std::string& text) {
        if (kind != stream::TNoticeKind::nkInfo)
            std::fprintf(stderr, "%s: %s\n", name.c_str(), text.c_str());
    };
    TRun run;
    const double cpu0 = CpuSeconds();
    const auto wall0 = Clock::now();
    monitor.Start();
    auto nextSample = Clock::now();
    while (!monitor.AllFilesEnded()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        run.PeakRss = std::max(run.PeakRss, RssMiB());
        if (sampleRss && Clock::now() >= nextSample) {
            run.RssSamples.push_back(RssMiB());
            nextSample += std::chrono::seconds(10);
        }
    }
    monitor.Stop();
    run.CpuSeconds = CpuSeconds() - cpu0;
    run.WallSeconds = std::chrono::duration<double>(Clock::now() - wall0).count();
    run.AudioSeconds = seconds * repeat * streams;
    run.Clips = clips.load();
    return run;
}

}  // namespace

int main() {
    platform::InstallAudioConversion();
    const bool big =
        std::getenv("ORVANE_BENCH_BIG") != nullptr && std::getenv("ORVANE_BENCH_BIG")[0] == '1';
    const char* hoursText = std::getenv("ORVANE_BENCH_HOURS");
    const double hours = hoursText != nullptr ? std::atof(hoursText) : 0.5;
    orvane::test::TTempDir dir;

    // The broadcast: four 60 s clips of generated music, fingerprinted into the library beside
    // synthetic fingerprints, as a 128 kbit/s MP3 at 44.1 kHz stereo.
    const int fingerprints = big ? 10000 : 1000;
    std::printf("library: %d synthetic fingerprints of 18,000 keys + 4 of the broadcast's clips\n",
                fingerprints);
    std::fflush(stdout);
    auto library = bench::SyntheticLibrary(fingerprints, 18000);
    std::vector<std::int16_t> broadcast;
    for (std::uint32_t seed : {11u, 22u, 33u, 44u}) {
        const auto clip = orvane::test::Music(seed, 60 * Rate);
        library->Add("clip " + std::to_string(seed), bench::FingerprintOf(clip, dir.File("c.wav")));
        broadcast.insert(broadcast.end(), clip.begin(), clip.end());
    }
    library->Finish();
    const double seconds = static_cast<double>(broadcast.size()) / Rate;
    orvane::test::WriteWav(dir.File("broadcast.wav"), broadcast, Rate);
    const std::string mp3 = dir.File("broadcast.mp3");
    const std::string command = "ffmpeg -nostdin -loglevel error -y -i '" +
                                dir.File("broadcast.wav") +
                                "' -ar 44100 -ac 2 -c:a libmp3lame -b:a 128k '" + mp3 + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg could not make the MP3\n");
        return 1;
    }

    std::printf(
        "\nstreams one core monitors in real time (audio s per CPU s), 8 streams x %.0f s:\n",
        seconds);
    for (bool deep : {true, false}) {
        for (bool ffmpeg : {true, false}) {
            const TRun r = Run(*library, mp3, 8, 1, deep, ffmpeg, seconds);
            std::printf(
                "  %-9s %-16s %7.1f streams  (%.0f s audio, %.1f s CPU, %.1f s wall, %d clips)\n",
                deep ? "deep" : "not deep", ffmpeg ? "FFmpeg decoding" : "mpg123 decoding",
                r.AudioSeconds / r.CpuSeconds, r.AudioSeconds, r.CpuSeconds, r.WallSeconds,
                r.Clips);
            std::fflush(stdout);
        }
    }

    const double base = RssMiB();
    const TRun one = Run(*library, mp3, 1, 1, true, true, seconds);
    const TRun many = Run(*library, mp3, 41, 1, true, true, seconds);
    std::printf(
        "\nmemory: resident %.0f MiB with the library; peak %.1f MiB with 1 stream, %.1f MiB"
        " with 41: %.2f MiB per stream\n",
        base, one.PeakRss, many.PeakRss, (many.PeakRss - one.PeakRss) / 40.0);
    std::fflush(stdout);

    if (hours <= 0) return 0;
    const int repeat = std::max(1, static_cast<int>(hours * 3600.0 / seconds));
    const TRun longRun = Run(*library, mp3, 20, repeat, true, true, seconds, true);
    std::printf(
        "\nlong run: 20 streams x %.1f h of audio in %.0f s wall (%.0fx real time), %d clips\n",
        repeat * seconds / 3600.0, longRun.WallSeconds, repeat * seconds / longRun.WallSeconds,
        longRun.Clips);
    std::printf("  resident MiB every 10 s:");
    for (double rss : longRun.RssSamples) std::printf(" %.1f", rss);
    std::printf("\n  peak %.1f MiB\n", longRun.PeakRss);
    return 0;
}
