#include "signal/TFastFourier.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

#include "base/Errors.h"
#include "signal/QnFFT.h"
#include "support/TestSignals.h"

namespace orvane::signal {
namespace {

using test::TSamples;

/// The reference magnitudes of the frame at `frame`, lines 0 ... highestI-1.
RealArray Reference(const std::int16_t* frame, std::int32_t highestI) {
    QnFourier fourier;
    RealArray out{};
    for (std::size_t j = 0; j < FrameSamples; ++j) fourier._in[j] = frame[j];
    fourier.XOut = &out;
    fourier.HighestI = highestI;
    fourier.FFT();
    return out;
}

TEST(TFastFourier, GivesTheReferenceMagnitudesBitForBitOnBothSchedules) {
    TSamples stream = test::Music(21, 30000);
    for (const auto& part : {test::Chirp(80.0, 2750.0, 30000), test::Noise(22, 20000, 32767.0),
                             test::Tone(2015.0, 10000, 11025, 2.0)}) {
        stream.insert(stream.end(), part.begin(), part.end());
    }
    for (bool wide : {false, true}) {
        TFastFourier fast(wide);
        SCOPED_TRACE(fast.WideLanes() ? "eight lanes" : "four lanes");
        for (std::int32_t highestI : {749, 1024, 5, 3}) {
            for (std::size_t start = 0; start + FrameSamples <= stream.size(); start += 1531) {
                const RealArray expected = Reference(stream.data() + start, highestI);
                RealArray out{};
                fast.Spectrum(stream.data() + start, out, highestI);
                ASSERT_EQ(std::memcmp(out.data(), expected.data(), sizeof(float) * (1 + highestI)),
                          0)
                    << "frame at " << start << ", " << highestI << " lines";
                ASSERT_EQ(out[static_cast<std::size_t>(highestI) + 1], 0.0f);
            }
        }
    }
}

TEST(TFastFourier, RefusesMoreLinesThanTheTransformHas) {
    TFastFourier fast;
    const TSamples frame(FrameSamples, 0);
    RealArray out{};
    EXPECT_THROW(fast.Spectrum(frame.data(), out, 1025), EInvalidOperation);
    EXPECT_THROW(fast.Spectrum(frame.data(), out, -1), EInvalidOperation);
}

}  // namespace
}  // namespace orvane::signal
