#include "support/TestSignals.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace orvane::test {
namespace {

std::int16_t Clip(double v) {
    return static_cast<std::int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
}

struct TRng {
    std::uint32_t State;
    std::uint32_t Next() {
        // xorshift32: fixed, portable sequence for a given seed.
        State ^= State << 13;
        State ^= State >> 17;
        State ^= State << 5;
        return State;
    }
    double Uniform() { return (Next() >> 8) / 16777216.0 * 2.0 - 1.0; }
};

}  // namespace

TSamples Silence(std::size_t count) { return TSamples(count, 0); }

TSamples Tone(double hz, std::size_t count, int rate, double amplitude) {
    TSamples out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = Clip(amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate));
    }
    return out;
}

TSamples Chirp(double hz0, double hz1, std::size_t count, int rate, double amplitude) {
    TSamples out(count);
    const double duration = static_cast<double>(count) / rate;
    for (std::size_t i = 0; i < count; ++i) {
        double t = static_cast<double>(i) / rate;
        double phase = 2.0 * std::numbers::pi * (hz0 * t + (hz1 - hz0) * t * t / (2.0 * duration));
        out[i] = Clip(amplitude * std::sin(phase));
    }
    return out;
}

TSamples Noise(std::uint32_t seed, std::size_t count, double amplitude) {
    TRng rng{seed * 2654435761u + 1u};
    TSamples out(count);
    for (auto& s : out) s = Clip(amplitude * rng.Uniform());
    return out;
}

TSamples Music(std::uint32_t seed, std::size_t count, int rate) {
    TRng rng{seed * 2246822519u + 7u};
    TSamples out(count);
    const std::size_t noteLen = static_cast<std::size_t>(rate) / 4 + rng.Next() % (rate / 4);
    double f1 = 0, f2 = 0, f3 = 0;
    double p1 = 0, p2 = 0, p3 = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t inNote = i % noteLen;
        if (inNote == 0) {
            // A new chord: three notes on a semitone grid between about 150 Hz and 1800 Hz.
            f1 = 150.0 * std::pow(2.0, static_cast<double>(rng.Next() % 36) / 12.0);
            f2 = f1 * std::pow(2.0, static_cast<double>(3 + rng.Next() % 5) / 12.0);
            f3 = f1 * 2.0 * std::pow(2.0, static_cast<double>(rng.Next() % 8) / 12.0);
        }
        double env = std::exp(-3.0 * static_cast<double>(inNote) / static_cast<double>(noteLen));
        p1 += 2.0 * std::numbers::pi * f1 / rate;
        p2 += 2.0 * std::numbers::pi * f2 / rate;
        p3 += 2.0 * std::numbers::pi * f3 / rate;
        double v = env * (5000.0 * std::sin(p1) + 2500.0 * std::sin(2.0 * p1) + 3500.0 * std::sin(p2) +
                          2000.0 * std::sin(p3)) +
                   600.0 * rng.Uniform();
        out[i] = Clip(v);
    }
    return out;
}

TSamples Interleave(const std::vector<TSamples>& channels) {
    if (channels.empty()) return {};
    const std::size_t n = channels[0].size();
    TSamples out(n * channels.size());
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t c = 0; c < channels.size(); ++c) out[i * channels.size() + c] = channels[c][i];
    }
    return out;
}

}  // namespace orvane::test
