#include "audio/Resample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#include "base/Errors.h"
#include "support/TestSignals.h"

namespace orvane::audio {
namespace {

// The rule written out once more, for n counted from the first input sample.
std::int16_t Oracle(const std::vector<std::int16_t>& in, std::uint64_t n) {
    const std::uint64_t pos = 16000 * n;
    const std::uint64_t k = pos / 11025;
    const std::int64_t r = static_cast<std::int64_t>(pos % 11025);
    const std::int64_t num = in[k] * (11025 - r) + in[k + 1] * r;
    // 11025 is odd, so a remainder never sits exactly half way.
    const double exact = static_cast<double>(num) / 11025.0;
    return static_cast<std::int16_t>(std::llround(exact));
}

std::vector<std::int16_t> Feed(const std::vector<std::int16_t>& in, std::size_t blockSize) {
    TResampleTo11025 resampler;
    std::vector<std::int16_t> out;
    for (std::size_t i = 0; i < in.size(); i += blockSize) {
        const std::size_t n = std::min(blockSize, in.size() - i);
        resampler.ResampleTo11025(in.data() + i, n, out);
    }
    return out;
}

TEST(TResampleTo11025, MatchesTheIntegerFormulaOverALongNoiseStream) {
    const std::vector<std::int16_t> in = test::Noise(7, 100000, 32767.0);
    const std::vector<std::int16_t> out = Feed(in, 256);
    ASSERT_EQ(out.size(), ResampledCount(in.size()));
    for (std::uint64_t n = 0; n < out.size(); ++n) ASSERT_EQ(out[n], Oracle(in, n)) << n;
}

TEST(TResampleTo11025, GivesTheSameStreamWhateverTheBlockSize) {
    const std::vector<std::int16_t> in = test::Noise(3, 20000, 30000.0);
    const std::vector<std::int16_t> reference = Feed(in, in.size());
    for (std::size_t block : {1u, 2u, 3u, 255u, 256u, 257u, 4096u}) {
        EXPECT_EQ(Feed(in, block), reference) << "block " << block;
    }
}

TEST(TResampleTo11025, ProducesAnOutputAsSoonAsItsSecondInputArrives) {
    // After 256 inputs: n = 175 needs input 255 (k = 254), n = 176 needs input 256.
    struct TCase {
        std::uint64_t inputs;
        std::uint64_t outputs;
    };
    const TCase cases[] = {{0, 0},         {1, 0},         {2, 1},        {3, 2},
                           {4, 3},         {256, 176},     {257, 177},    {512, 353},
                           {16000, 11025}, {16001, 11025}, {16002, 11026}};
    for (const TCase& c : cases) {
        EXPECT_EQ(ResampledCount(c.inputs), c.outputs) << c.inputs;
        const std::vector<std::int16_t> in(c.inputs, 5);
        std::vector<std::int16_t> out;
        TResampleTo11025 resampler;
        for (std::uint64_t i = 0; i < c.inputs; ++i) resampler.ResampleTo11025(&in[i], 1, out);
        EXPECT_EQ(out.size(), c.outputs) << c.inputs;
    }
}

TEST(TResampleTo11025, KeepsTheRateAcrossBlocksInsteadOfRestartingEachBlock) {
    // 256-sample blocks restarted at x = 0 would give 176 outputs per block (176.4 are due),
    // and the audio would run 0.23 % fast.
    const std::vector<std::int16_t> in(256 * 1000, 1);
    const std::vector<std::int16_t> out = Feed(in, 256);
    EXPECT_EQ(out.size(), ResampledCount(in.size()));
    EXPECT_GT(out.size(), 176u * 1000u + 390u);
    EXPECT_NEAR(static_cast<double>(out.size()), 256000.0 * 11025.0 / 16000.0, 1.0);
}

TEST(TResampleTo11025, InterpolatesLinearlyAndKeepsTheExtremes) {
    std::vector<std::int16_t> ramp;
    for (int i = 0; i < 3000; ++i) ramp.push_back(static_cast<std::int16_t>(i * 10 - 15000));
    const std::vector<std::int16_t> out = Feed(ramp, 100);
    for (std::uint64_t n = 0; n < out.size(); ++n) {
        // A straight line stays one: value = -15000 + 10 x, x = 16000 n / 11025.
        const double expected = -15000.0 + 10.0 * 16000.0 * static_cast<double>(n) / 11025.0;
        ASSERT_NEAR(out[n], expected, 0.5) << n;
    }
    const std::vector<std::int16_t> extremes = {32767, -32768, 32767, -32768, 32767, -32768};
    const std::vector<std::int16_t> e = Feed(extremes, 1);
    ASSERT_FALSE(e.empty());
    EXPECT_EQ(e[0], 32767);
}

/// |H(f)| of the decimator's filter in dB, from its taps (centre at tap `half`).
double GainDb(const TDecimator& decimator, double hz, double rate) {
    double re = 0.0;
    double im = 0.0;
    const auto& taps = decimator.Taps();
    for (std::size_t n = 0; n < taps.size(); ++n) {
        const double phase = 2.0 * M_PI * hz / rate * static_cast<double>(n);
        re += taps[n] * std::cos(phase);
        im -= taps[n] * std::sin(phase);
    }
    return 20.0 * std::log10(std::hypot(re, im));
}

struct TDecimation {
    int Factor;
    std::uint32_t Rate;
};

class DecimatorFilter : public ::testing::TestWithParam<TDecimation> {};

TEST_P(DecimatorFilter, IsFlatOverTheKeyBandsAndStopsWhatWouldFoldIntoThem) {
    const TDecimator decimator(GetParam().Factor, GetParam().Rate);
    const double rate = GetParam().Rate;
    for (double hz = 0.0; hz <= 2500.0; hz += 25.0) {
        ASSERT_NEAR(GainDb(decimator, hz, rate), 0.0, 0.01) << hz << " Hz";
    }
    for (double hz = 8000.0; hz <= rate / 2.0; hz += 50.0) {
        ASSERT_LT(GainDb(decimator, hz, rate), -75.0) << hz << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, DecimatorFilter,
                         ::testing::Values(TDecimation{4, 44100}, TDecimation{2, 22050},
                                           TDecimation{3, 48000}, TDecimation{2, 32000},
                                           TDecimation{8, 88200}));

std::vector<float> Decimate(const std::vector<float>& in, std::size_t blockSize) {
    TDecimator decimator(4, 44100);
    std::vector<float> out;
    for (std::size_t i = 0; i < in.size(); i += blockSize) {
        decimator.Process(in.data() + i, std::min(blockSize, in.size() - i), out);
    }
    decimator.Flush(out);
    return out;
}

TEST(TDecimator, KeepsATonesPhaseAndLevelAndGivesOneOutputPerFactorInputs) {
    std::vector<float> tone(44100 + 3);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = static_cast<float>(10000.0 * std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(i) / 44100.0));
    }
    const std::vector<float> out = Decimate(tone, 4096);
    ASSERT_EQ(out.size(), (tone.size() + 3) / 4);  // centres 0, 4, ... up to the last input
    // Not delayed: output k is the tone at input sample 4 k (away from the silent edges).
    for (std::size_t k = 100; k + 100 < out.size(); ++k) {
        ASSERT_NEAR(out[k], tone[4 * k], 2.0) << k;
    }
}

TEST(TDecimator, GivesTheSameOutputWhateverTheBlocksItIsFedIn) {
    std::vector<float> noise;
    for (std::int16_t v : test::Noise(5, 30011, 20000.0)) noise.push_back(static_cast<float>(v));
    const std::vector<float> whole = Decimate(noise, noise.size());
    for (std::size_t block : {1u, 3u, 47u, 4096u}) {
        EXPECT_EQ(Decimate(noise, block), whole) << block;
    }
}

TEST(TDecimator, RefusesFactorsAndRatesItCannotServe) {
    EXPECT_THROW(TDecimator(1, 44100), EInvalidOperation);
    EXPECT_THROW(TDecimator(9, 99225), EInvalidOperation);
    EXPECT_THROW(TDecimator(2, 16000), EInvalidOperation);  // 8 kHz out cannot carry 5.5 kHz
    EXPECT_NO_THROW(TDecimator(2, 22050));
}

}  // namespace
}  // namespace orvane::audio
