// How fast recognition runs: the cost of one search (every third block) with and without deep
// search against synthetic libraries of 100, 1,000 and 10,000 fingerprints of 18,000 keys and a
// library made from generated audio, the cost of a block's 32 keys, `match` throughput in
// multiples of real time, and the channels one core can serve live.
// Default runs use 100 and 1,000 fingerprints; ORVANE_BENCH_BIG=1 adds 10,000 (180 M keys,
// about 2.2 GB with the fingerprints).
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BenchLibrary.h"
#include "platform/PlatformAudio.h"
#include "recognition/QnCheckKey.h"
#include "recognition/TFileRecognizer.h"
#include "recognition/TRecognitionLock.h"
#include "recognition/TSearch.h"
#include "signal/QnFFT.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"

namespace {

using namespace orvane;
using Clock = std::chrono::steady_clock;
using recognition::TChannelBasic;

constexpr std::int32_t KeysPerFingerprint = 18000;
constexpr double SecondsPerSearch = 3.0 * 4096.0 / 11025.0;

bool BigRuns() {
    const char* big = std::getenv("ORVANE_BENCH_BIG");
    return big != nullptr && big[0] == '1';
}

/// Median and 99th percentile of the timed samples of one case, in microseconds.
struct TFigures {
    double Median = 0;
    double P99 = 0;
};
std::map<std::string, TFigures>& Results() {
    static std::map<std::string, TFigures> results;
    return results;
}

TFigures Percentiles(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    if (us.empty()) return {};
    return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]};
}

bench::TBenchLibrary& Synthetic(std::int32_t count) {
    static std::map<std::int32_t, std::unique_ptr<bench::TBenchLibrary>> libraries;
    auto& library = libraries[count];
    if (!library) {
        const auto start = Clock::now();
        library = bench::SyntheticLibrary(count, KeysPerFingerprint);
        std::fprintf(stderr, "built a library of %d synthetic fingerprints in %.1f s\n", count,
                     std::chrono::duration<double>(Clock::now() - start).count());
    }
    return *library;
}

/// The engine around one channel: verifier, converter, search.
struct TEngine {
    explicit TEngine(bench::TBenchLibrary& library, bool deep)
        : Library(library),
          Verifier(library.Songs),
          Search(Converter, Verifier, library.Index, library.Posting, Settings) {
        Settings.Form3Checkbox2checked = deep;
    }
    bench::TBenchLibrary& Library;
    recognition::TRecognitionLock Lock;
    recognition::QnCheckKey Verifier;
    signal::QnKeyConversion Converter;
    recognition::TSearchSettings Settings;
    recognition::TSearch Search;
    TChannelBasic Channel{0, 0, "Channel01", Lock, Library.Posting};
};

/// A key ring as a channel holds it after hearing fingerprint `n` up to key `position` with
/// noise: half of the keys exact, the others with 1 to 3 bits flipped, the flipped bits among
/// the key's weak bits. `known` false: keys of audio that is not in the library.
struct TRing {
    std::array<std::uint32_t, recognition::KeyRingSize> Keys{};
    std::array<std::uint32_t, recognition::KeyRingSize> Weak{};
};
TRing MakeRing(std::int32_t n, std::int32_t position, bool known, std::uint32_t seed) {
    TRing ring;
    const auto keys = bench::SyntheticKeys(known ? n : 1'000'000 + n, position + 1);
    std::uint32_t state = seed * 2654435761u + 1u;
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    for (std::int32_t j = 0; j < recognition::KeyRingSize; ++j) {
        const std::int32_t p = position - (recognition::KeyRingSize - 1 - j);
        std::uint32_t key = p >= 0 ? keys[static_cast<std::size_t>(p)] : next();
        std::uint32_t weak = 0;
        std::uint32_t used = 0;
        const std::uint32_t flips = (next() >> 16) % 2 == 0 ? 0 : 1 + (next() >> 16) % 3;
        for (int w = 0; w < recognition::WeakBits; ++w) {
            std::uint32_t bit;
            do bit = (next() >> 16) % 32;
            while (used & (1u << bit));
            used |= 1u << bit;
            weak |= bit << (5 * w);
            if (static_cast<std::uint32_t>(w) < flips) key ^= 1u << bit;
        }
        ring.Keys[static_cast<std::size_t>(j)] = key == 0 ? 1u : key;
        ring.Weak[static_cast<std::size_t>(j)] = weak;
    }
    return ring;
}

/// One search (lookups, choice, decision) on prepared key rings, timed one by one.
void BM_Search(benchmark::State& state, std::string name, std::int32_t count, bool deep,
               bool known) {
    bench::TBenchLibrary& library = Synthetic(count);
    TEngine engine(library, deep);
    std::vector<TRing> rings;
    for (std::uint32_t i = 0; i < 32; ++i) {
        rings.push_back(
            MakeRing(static_cast<std::int32_t>(i * 7919u % static_cast<std::uint32_t>(count)),
                     2000 + static_cast<std::int32_t>(i) * 397, known, i));
    }
    std::vector<double> us;
    std::size_t r = 0;
    std::int64_t lookups = 0;
    std::int64_t recognised = 0;
    for (auto _ : state) {
        const TRing& ring = rings[r++ % rings.size()];
        engine.Channel.RingBuffer = ring.Keys;
        engine.Channel.LikelihoodRing = ring.Weak;
        engine.Channel.RingPos = 0;
        engine.Channel.FoundItemsList.fill(recognition::FoundItem{});
        const auto start = Clock::now();
        engine.Search.LookUp(engine.Channel);
        engine.Search.Choose(engine.Channel);
        engine.Search.Decide(engine.Channel, 1.0);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        us.push_back(seconds * 1e6);
        lookups += engine.Search.LastLookups();
        recognised += engine.Channel.ReadCap().UniqueID != tracking::NoClipID ? 1 : 0;
        library.Poster.TakeAll();
    }
    const TFigures f = Percentiles(us);
    state.counters["p50_us"] = f.Median;
    state.counters["p99_us"] = f.P99;
    state.counters["lookups"] = static_cast<double>(lookups) / static_cast<double>(us.size());
    state.counters["recognised"] = static_cast<double>(recognised) / static_cast<double>(us.size());
    Results()[name] = f;
}

std::vector<std::int16_t> MusicStream(std::uint32_t seed, double seconds) {
    return orvane::test::Music(seed, static_cast<std::size_t>(seconds * 11025.0));
}

/// The 32 keys of one block (spectra and weak-bit ranking), timed one by one.
void BM_BlockKeys(benchmark::State& state) {
    bench::TBenchLibrary library;
    library.Finish();
    TEngine engine(library, true);
    const auto music = MusicStream(5, 16.0);
    std::copy_n(music.begin(), recognition::StreamSamples, engine.Channel.StreamData.begin());
    std::vector<double> us;
    std::int32_t block = 0;
    for (auto _ : state) {
        engine.Channel.ReadPos.store(block);
        block = (block + 1) % recognition::StreamBlocks;
        engine.Channel.UpdateI = 0;
        const auto start = Clock::now();
        engine.Search.ComputeKeys(engine.Channel);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        us.push_back(seconds * 1e6);
    }
    const TFigures f = Percentiles(us);
    state.counters["p50_us"] = f.Median;
    state.counters["p99_us"] = f.P99;
    Results()["keys"] = f;
}

/// A library of fingerprints of generated audio: 30 clips of 60 s.
bench::TBenchLibrary& RealLibrary() {
    static std::unique_ptr<bench::TBenchLibrary> library;
    if (!library) {
        library = std::make_unique<bench::TBenchLibrary>();
        const auto dir = std::filesystem::temp_directory_path() / "orvane-recognition-bench";
        std::filesystem::create_directories(dir);
        for (std::uint32_t n = 0; n < 30; ++n) {
            library->Add(
                "Generated " + std::to_string(n),
                bench::FingerprintOf(MusicStream(1000 + n, 60.0), (dir / "clip.wav").string()));
        }
        library->Finish();
    }
    return *library;
}

/// Whole blocks of generated audio through the search (what the recognition thread does),
/// searching blocks and key-only blocks timed apart: audio of a library clip, then audio that
/// is not in the library.
void BM_RealSearch(benchmark::State& state, std::string name, bool deep, bool known,
                   bool robust) {
    bench::TBenchLibrary& library = RealLibrary();
    TEngine engine(library, deep);
    engine.Settings.RobustSearch = robust;
    const auto audio = MusicStream(known ? 1007 : 77, 60.0);
    std::vector<double> us;
    std::int64_t recognised = 0;
    std::size_t sample = 0;
    std::int32_t block = 0;
    for (auto _ : state) {
        // Feed three blocks; time the third, which searches.
        double seconds = 0;
        for (int b = 0; b < 3; ++b) {
            for (std::int32_t i = 0; i < recognition::BlockSamples; ++i) {
                engine.Channel.StreamData[static_cast<std::size_t>(
                    ((block + 1) % recognition::StreamBlocks) * recognition::BlockSamples + i)] =
                    audio[sample++ % audio.size()];
            }
            engine.Channel.ReadPos.store(block);
            const auto start = Clock::now();
            engine.Search.ProcessBlock(engine.Channel);
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
            block = (block + 1) % recognition::StreamBlocks;
        }
        state.SetIterationTime(seconds);
        us.push_back(seconds * 1e6);
        recognised += engine.Channel.ReadCap().UniqueID != tracking::NoClipID ? 1 : 0;
        library.Poster.TakeAll();
    }
    const TFigures f = Percentiles(us);
    state.counters["p50_us"] = f.Median;
    state.counters["p99_us"] = f.P99;
    state.counters["recognised"] = static_cast<double>(recognised) / static_cast<double>(us.size());
    Results()[name] = f;
}

/// `match` of a minute of audio not in the library: multiples of real time.
void BM_MatchThroughput(benchmark::State& state, std::int32_t count, bool deep) {
    bench::TBenchLibrary& library = count > 0 ? Synthetic(count) : RealLibrary();
    const auto dir = std::filesystem::temp_directory_path() / "orvane-recognition-bench";
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "query.wav").string();
    const double seconds = 60.0;
    orvane::test::WriteWav(file, MusicStream(4242, seconds), 11025);
    recognition::TRecognitionOptions options;
    options.Form3Checkbox2checked = deep;
    recognition::TFileRecognizer recognizer(library.Songs, library.Index, options);
    double analysed = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const auto result = recognizer.Recognize(file);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        analysed += result.Seconds;
    }
    state.counters["x_realtime"] = benchmark::Counter(analysed, benchmark::Counter::kIsRate);
}

void Register() {
    std::vector<std::int32_t> sizes = {100, 1000};
    if (BigRuns()) sizes.push_back(10000);
    for (std::int32_t count : sizes) {
        for (bool deep : {false, true}) {
            for (bool known : {true, false}) {
                const std::string name = "Search/" + std::to_string(count) +
                                         (deep ? "/deep" : "/normal") +
                                         (known ? "/known" : "/unknown");
                benchmark::RegisterBenchmark(name.c_str(), BM_Search, name, count, deep, known)
                    ->UseManualTime()
                    ->Iterations(count >= 10000 ? 200 : 300)
                    ->Unit(benchmark::kMicrosecond);
            }
        }
    }
    benchmark::RegisterBenchmark("BlockKeys", BM_BlockKeys)
        ->UseManualTime()
        ->Iterations(500)
        ->Unit(benchmark::kMicrosecond);
    for (bool deep : {false, true}) {
        for (bool known : {true, false}) {
            const std::string name = std::string("RealSearch/30x60s") +
                                     (deep ? "/deep" : "/normal") + (known ? "/known" : "/unknown");
            benchmark::RegisterBenchmark(name.c_str(), BM_RealSearch, name, deep, known, false)
                ->UseManualTime()
                ->Iterations(150)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    // The robust search (which looks up all 96 keys, as deep search does).
    for (bool known : {true, false}) {
        const std::string name =
            std::string("RealSearch/30x60s/robust") + (known ? "/known" : "/unknown");
        benchmark::RegisterBenchmark(name.c_str(), BM_RealSearch, name, true, known, true)
            ->UseManualTime()
            ->Iterations(150)
            ->Unit(benchmark::kMicrosecond);
    }
    for (std::int32_t count : std::vector<std::int32_t>{0, sizes.back()}) {
        const std::string name =
            "Match/" + (count == 0 ? std::string("real30") : std::to_string(count)) + "/deep";
        benchmark::RegisterBenchmark(name.c_str(), BM_MatchThroughput, count, true)
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
}

void PrintSummary() {
    const auto& results = Results();
    const auto keys = results.find("keys");
    if (keys == results.end()) return;
    std::printf(
        "\nSearch cost and live capacity (one core; a channel needs one search and three\n"
        "blocks of keys per %.3f s of audio):\n",
        SecondsPerSearch);
    std::printf("%-40s %10s %10s %14s %12s\n", "case", "p50 us", "p99 us", "search+96keys",
                "channels");
    for (const auto& [name, f] : results) {
        if (name == "keys" || name.rfind("RealSearch", 0) == 0) continue;
        const double perSearch = f.Median + 3.0 * keys->second.Median;
        std::printf("%-40s %10.1f %10.1f %11.2f ms %12.0f\n", name.c_str(), f.Median, f.P99,
                    perSearch / 1000.0, SecondsPerSearch * 1e6 / perSearch);
    }
    for (const auto& [name, f] : results) {
        if (name.rfind("RealSearch", 0) != 0) continue;
        // These blocks include their own keys; add the two key-only blocks of the search.
        const double perSearch = f.Median + 2.0 * keys->second.Median;
        std::printf("%-40s %10.1f %10.1f %11.2f ms %12.0f\n", name.c_str(), f.Median, f.P99,
                    perSearch / 1000.0, SecondsPerSearch * 1e6 / perSearch);
    }
    std::printf("one block of 32 keys: p50 %.1f us, p99 %.1f us\n", keys->second.Median,
                keys->second.P99);
}

}  // namespace

int main(int argc, char** argv) {
    orvane::platform::InstallAudioConversion();
    benchmark::Initialize(&argc, argv);
    Register();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintSummary();
    return 0;
}
