#include "audio/Resample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

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

}  // namespace
}  // namespace orvane::audio
