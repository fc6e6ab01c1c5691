#include "audio/Resample.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "base/Errors.h"

namespace orvane::audio {

namespace {

constexpr double CutoffHz = 5500.0;
constexpr double KaiserBeta = 8.0;
constexpr std::size_t Lanes = 8;

/// The modified Bessel function of order 0 (its power series converges fast for the Kaiser
/// window's arguments).
double BesselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 60; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

}  // namespace

TDecimator::TDecimator(int factor, std::uint32_t inputRate) : FFactor(factor) {
    if (factor < 2 || factor > 8 || static_cast<double>(inputRate) / factor < 2.0 * CutoffHz) {
        throw EInvalidOperation("No decimation by " + std::to_string(factor) + " from " +
                                std::to_string(inputRate) + " Hz");
    }
    // The same span in time at every rate: a transition band of about 4.6 kHz.
    FHalf = (6 * static_cast<std::int64_t>(inputRate) + 11024) / 11025;
    const auto taps = static_cast<std::size_t>(2 * FHalf + 1);
    const double fc = CutoffHz / static_cast<double>(inputRate);  // cycles per input sample
    double sum = 0.0;
    std::vector<double> h(taps);
    for (std::size_t n = 0; n < taps; ++n) {
        const double t = static_cast<double>(static_cast<std::int64_t>(n) - FHalf);
        const double sinc =
            t == 0.0 ? 2.0 * fc : std::sin(2.0 * std::numbers::pi * fc * t) / (std::numbers::pi * t);
        const double r = t / static_cast<double>(FHalf);
        const double window = BesselI0(KaiserBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) /
                              BesselI0(KaiserBeta);
        h[n] = sinc * window;
        sum += h[n];
    }
    // Zero taps up to a multiple of the lanes, so the dot product runs in whole vectors.
    FTaps.assign((taps + Lanes - 1) / Lanes * Lanes, 0.0f);
    for (std::size_t n = 0; n < taps; ++n) FTaps[n] = static_cast<float>(h[n] / sum);
    FRight = static_cast<std::int64_t>(FTaps.size()) - FHalf - 1;
    // The silence before the stream: the first output's left half.
    FHistory.assign(static_cast<std::size_t>(FHalf), 0.0f);
    FHistoryStart = -FHalf;
}

void TDecimator::Process(const float* in, std::size_t count, std::vector<float>& out) {
    FHistory.insert(FHistory.end(), in, in + count);
    FInCount += count;
    Produce(out);
}

void TDecimator::Flush(std::vector<float>& out) {
    // Silence after the stream completes the outputs centred on the last inputs.
    FHistory.insert(FHistory.end(), static_cast<std::size_t>(FRight), 0.0f);
    Produce(out);
}

void TDecimator::Produce(std::vector<float>& out) {
    // Output k reads inputs M k - FHalf ... M k + FRight and exists for M k < inputs received.
    const auto m = static_cast<std::int64_t>(FFactor);
    const std::int64_t available = FHistoryStart + static_cast<std::int64_t>(FHistory.size());
    const std::size_t taps = FTaps.size();
    const float* h = FTaps.data();
    for (;;) {
        const std::int64_t centre = static_cast<std::int64_t>(FOutCount) * m;
        if (centre + FRight >= available || centre >= static_cast<std::int64_t>(FInCount)) break;
        const float* x = FHistory.data() + (centre - FHalf - FHistoryStart);
        float acc[Lanes] = {};
        for (std::size_t n = 0; n < taps; n += Lanes) {
            for (std::size_t k = 0; k < Lanes; ++k) acc[k] += h[n + k] * x[n + k];
        }
        float sum = 0.0f;
        for (float a : acc) sum += a;
        out.push_back(sum);
        ++FOutCount;
    }
    // Inputs no later output reaches are dropped.
    const std::int64_t keepFrom = static_cast<std::int64_t>(FOutCount) * m - FHalf;
    if (keepFrom > FHistoryStart) {
        const auto drop = std::min<std::int64_t>(keepFrom - FHistoryStart,
                                                 static_cast<std::int64_t>(FHistory.size()));
        FHistory.erase(FHistory.begin(), FHistory.begin() + drop);
        FHistoryStart += drop;
    }
}

void TResampleTo11025::ResampleTo11025(const std::int16_t* in, std::size_t count,
                                       std::vector<std::int16_t>& out) {
    if (count == 0) return;
    const std::uint64_t first = FInCount;  // stream index of in[0]
    const std::uint64_t end = FInCount + count;
    auto sample = [&](std::uint64_t index) -> std::int64_t {
        return index < first ? FLast : in[index - first];
    };
    for (;;) {
        const std::uint64_t pos = InRate * FOutCount;
        const std::uint64_t k = pos / OutRate;
        if (k + 1 >= end) break;
        const std::int64_t r = static_cast<std::int64_t>(pos % OutRate);
        const std::int64_t num =
            sample(k) * (static_cast<std::int64_t>(OutRate) - r) + sample(k + 1) * r;
        // Floor division, then round half to even on the remainder.
        const std::int64_t d = static_cast<std::int64_t>(OutRate);
        std::int64_t q = num / d;
        std::int64_t rem = num % d;
        if (rem < 0) {
            rem += d;
            --q;
        }
        if (2 * rem > d || (2 * rem == d && (q & 1) != 0)) ++q;
        out.push_back(static_cast<std::int16_t>(q));
        ++FOutCount;
    }
    FLast = in[count - 1];
    FInCount = end;
}

std::uint64_t ResampledCount(std::uint64_t inputCount) {
    if (inputCount < 2) return 0;
    // Largest n with floor(16000 n / 11025) <= inputCount - 2, plus one.
    const std::uint64_t kMax = inputCount - 2;
    return ((kMax + 1) * TResampleTo11025::OutRate - 1) / TResampleTo11025::InRate + 1;
}

}  // namespace orvane::audio
