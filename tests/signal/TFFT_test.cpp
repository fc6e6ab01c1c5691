#include <algorithm>
#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <vector>

#include "base/Errors.h"
#include "signal/QnFFT.h"
#include "support/TestSignals.h"

namespace orvane::signal {
namespace {

std::uint32_t ReverseBits(std::uint32_t v, int bits) {
    std::uint32_t r = 0;
    for (int i = 0; i < bits; ++i) r |= ((v >> i) & 1u) << (bits - 1 - i);
    return r;
}

TEST(TFFT, RejectsLengthsOfFourOrLessWithItsMessage) {
    for (std::int32_t length : {4, 2, 1, 0, -8}) {
        SCOPED_TRACE(length);
        try {
            TFFT fft(length);
            FAIL() << "no exception";
        } catch (const EInvalidOperation& e) {
            EXPECT_STREQ(e.what(), "This component is optimized for length >= 8.");
        }
    }
}

TEST(TFFT, RejectsLengthsThatAreNoPowerOfTwo) {
    for (std::int32_t length : {12, 100, 2047, 3000}) {
        SCOPED_TRACE(length);
        EXPECT_THROW(TFFT{length}, EInvalidOperation);
    }
}

TEST(TFFT, BuildsTheBitReversalTableForEveryLength) {
    // Building the table must also terminate after its last entry.
    for (int bits = 3; bits <= 12; ++bits) {
        SCOPED_TRACE(bits);
        const auto fft = TFFT::Create(1 << bits);
        ASSERT_EQ(fft->Bits(), bits);
        const auto& table = fft->LookupTable();
        ASSERT_EQ(table.size(), std::size_t{1} << bits);
        for (std::uint32_t i = 0; i < table.size(); ++i) {
            ASSERT_EQ(table[i], ReverseBits(i, bits)) << "index " << i;
        }
    }
}

TEST(TFFT, LengthEightHasAnEmptyCosineTable) {
    TFFT fft(8);
    EXPECT_EQ(fft.Bits(), 3);
    EXPECT_TRUE(fft.CosineTable().empty());
}

TEST(TFFT, StoresOneCosineLevelPerStageFromIndexHalfMinusFour) {
    TFFT fft(2048);
    const auto& table = fft.CosineTable();
    ASSERT_EQ(table.size(), 1020u);
    for (int level = 3; level <= 10; ++level) {
        const std::size_t m = std::size_t{1} << (level - 1);
        const auto step = static_cast<float>(std::numbers::pi / (2.0 * static_cast<double>(m)));
        for (std::size_t j = 0; j < m; ++j) {
            const auto expected = static_cast<float>(std::cos(static_cast<double>(j) * step));
            ASSERT_EQ(table[m - 4 + j], expected) << "level " << level << " j " << j;
        }
    }
}

TEST(TFFT, MatchesADirectTransformForLengthsEightTo2048) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    for (int bits = 3; bits <= 11; ++bits) {
        const std::size_t n = std::size_t{1} << bits;
        SCOPED_TRACE(n);
        std::vector<float> x(n), f(n);
        for (auto& v : x) v = uniform(rng);
        TFFT fft(static_cast<std::int32_t>(n));
        fft.Execute(f, x);

        // Real parts at 0 ... n/2, imaginary part of line k at n/2 + k (either sign convention,
        // but the same for every line).
        const double tolerance = 2e-6 * static_cast<double>(n);
        int imagSign = 0;
        for (std::size_t k = 0; k <= n / 2; ++k) {
            std::complex<double> sum = 0.0;
            for (std::size_t t = 0; t < n; ++t) {
                const double angle = -2.0 * std::numbers::pi * static_cast<double>(k * t % n) /
                                     static_cast<double>(n);
                sum += static_cast<double>(x[t]) * std::polar(1.0, angle);
            }
            ASSERT_NEAR(f[k], sum.real(), tolerance) << "real part of line " << k;
            if (k == 0 || k == n / 2) continue;
            const double im = f[n / 2 + k];
            if (imagSign == 0) imagSign = (im * sum.imag() >= 0.0) ? 1 : -1;
            ASSERT_NEAR(im, imagSign * sum.imag(), tolerance) << "imaginary part of line " << k;
        }
    }
}

TEST(TFFT, RefusesArraysShorterThanItsLength) {
    TFFT fft(16);
    std::vector<float> small(15), enough(16);
    EXPECT_THROW(fft.Execute(small, enough), EInvalidOperation);
    EXPECT_THROW(fft.Execute(enough, small), EInvalidOperation);
    EXPECT_THROW(fft.Execute(enough, enough), EInvalidOperation);
}

// --- QnFourier -----------------------------------------------------------------------------

struct TFourierRun {
    QnFourier Fourier;
    RealArray Out{};
    explicit TFourierRun(const std::vector<float>& frame, std::int32_t highestI = 1024) {
        std::copy(frame.begin(), frame.end(), Fourier._in.begin());
        Fourier.XOut = &Out;
        Fourier.HighestI = highestI;
        Fourier.FFT();
    }
};

std::vector<float> AsFloats(const test::TSamples& samples) {
    return std::vector<float>(samples.begin(), samples.begin() + FrameSamples);
}

TEST(QnFourier, GivesZeroMagnitudesForAZeroFrame) {
    TFourierRun run(std::vector<float>(FrameSamples, 0.0f), 749);
    for (std::size_t k = 1; k <= 749; ++k) ASSERT_EQ(run.Out[k], 0.0f) << k;
}

TEST(QnFourier, ShowsOnlyTheWindowSpectrumForAConstantFrame) {
    for (float a : {1.0f, -1000.0f, 32767.0f, -32768.0f}) {
        SCOPED_TRACE(a);
        TFourierRun run(std::vector<float>(FrameSamples, a));
        const float dc = 0.42f * 4096.0f * std::fabs(a);
        EXPECT_NEAR(run.Out[1], dc, dc * 1e-5f);
        EXPECT_GT(run.Out[2], dc * 0.1f);
        EXPECT_GT(run.Out[3], dc * 0.01f);
        for (std::size_t k = 4; k <= 1024; ++k) ASSERT_LT(run.Out[k], dc * 1e-5f) << k;
    }
}

TEST(QnFourier, PutsAPureToneAtItsNearestLine) {
    for (double hz : {150.0, 299.0, 440.0, 1000.0, 1234.5, 2015.0, 2600.0}) {
        SCOPED_TRACE(hz);
        TFourierRun run(AsFloats(test::Tone(hz, FrameSamples)));
        const auto peak =
            std::max_element(run.Out.begin() + 1, run.Out.begin() + 1025) - run.Out.begin();
        EXPECT_EQ(peak, std::lround(hz * 4096.0 / 11025.0) + 1);
    }
}

TEST(QnFourier, LeavesEntryZeroAndLinesAboveHighestIUntouched) {
    QnFourier fourier;
    RealArray out;
    out.fill(-1.0f);
    const auto frame = AsFloats(test::Noise(3, FrameSamples));
    std::copy(frame.begin(), frame.end(), fourier._in.begin());
    fourier.XOut = &out;
    fourier.HighestI = 749;
    fourier.FFT();
    EXPECT_EQ(out[0], -1.0f);
    EXPECT_EQ(out[750], -1.0f);
    for (std::size_t k = 1; k <= 749; ++k) ASSERT_GE(out[k], 0.0f) << k;
}

TEST(QnFourier, RefusesAMissingDestinationOrTooManyLines) {
    QnFourier fourier;
    fourier.HighestI = 10;
    EXPECT_THROW(fourier.FFT(), EInvalidOperation);
    RealArray out{};
    fourier.XOut = &out;
    fourier.HighestI = 1025;
    EXPECT_THROW(fourier.FFT(), EInvalidOperation);
    fourier.HighestI = -1;
    EXPECT_THROW(fourier.FFT(), EInvalidOperation);
}

}  // namespace
}  // namespace orvane::signal
