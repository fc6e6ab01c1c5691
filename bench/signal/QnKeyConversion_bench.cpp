// Speed of line-key extraction: keys per second and the multiple of real time on one core.
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "signal/QnFFT.h"
#include "signal/TFastFourier.h"

namespace {

using orvane::signal::FrameSamples;
using orvane::signal::HopSamples;
using orvane::signal::QnKeyConversion;
using orvane::signal::TSpectrumPath;

constexpr double KeysPerSecondOfAudio = 11025.0 / HopSamples;

/// Ten seconds of a chord over noise, fixed for every run.
std::vector<std::int16_t> BenchAudio() {
    std::vector<std::int16_t> out(110250);
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < out.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        const double t = static_cast<double>(i) / 11025.0;
        const double noise = static_cast<double>(state >> 16) / 65536.0 - 0.5;
        const double v = 4000.0 * std::sin(2 * std::numbers::pi * 440.0 * t) +
                         3000.0 * std::sin(2 * std::numbers::pi * 660.0 * t * (1.0 + 0.01 * t)) +
                         2000.0 * std::sin(2 * std::numbers::pi * 1310.0 * t) + 1500.0 * noise;
        out[i] = static_cast<std::int16_t>(std::lround(v));
    }
    return out;
}

void KeyExtraction(benchmark::State& state, TSpectrumPath path) {
    const auto audio = BenchAudio();
    const auto len = static_cast<std::int32_t>(audio.size());
    QnKeyConversion conv(path);
    std::int32_t start = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(conv.wav2linekeyMod(audio.data(), start, len));
        start += HopSamples;
        if (start >= len) start -= len;  // the circular buffer wraps like a channel's
    }
    const auto keys = static_cast<double>(state.iterations());
    state.counters["keys_per_s"] = benchmark::Counter(keys, benchmark::Counter::kIsRate);
    state.counters["x_realtime"] =
        benchmark::Counter(keys / KeysPerSecondOfAudio, benchmark::Counter::kIsRate);
}

/// The spectrum alone on the four-lane schedule (processors without AVX2) and the eight-lane one.
void Spectrum(benchmark::State& state, bool wideLanes) {
    const auto audio = BenchAudio();
    orvane::signal::TFastFourier fourier(wideLanes);
    orvane::signal::RealArray out{};
    std::size_t start = 0;
    for (auto _ : state) {
        fourier.Spectrum(audio.data() + start, out, 749);
        benchmark::DoNotOptimize(out.data());
        start += HopSamples;
        if (start + FrameSamples > audio.size()) start = 0;
    }
    state.SetLabel(fourier.WideLanes() ? "eight lanes" : "four lanes");
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) / KeysPerSecondOfAudio,
                           benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(KeyExtraction, production, TSpectrumPath::spFast);
BENCHMARK_CAPTURE(KeyExtraction, reference, TSpectrumPath::spLiteral);
BENCHMARK_CAPTURE(Spectrum, four_lanes, false);
BENCHMARK_CAPTURE(Spectrum, eight_lanes, true);

}  // namespace

BENCHMARK_MAIN();
