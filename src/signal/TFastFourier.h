// The production spectrum of the key converter: the same float operations as QnFourier and
// TFFT, in the same order for every value, scheduled for four lanes at a time.
// Thread: not thread-safe; owned and used by one QnKeyConversion.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "signal/QnFFT.h"

namespace orvane::signal {

class TFastFourier {
public:
    /// `allowWideLanes` false keeps to four lanes even on a processor with AVX2 (for tests
    /// that check both schedules).
    explicit TFastFourier(bool allowWideLanes = true);

    /// True when the eight-lane AVX2 loops are in use.
    bool WideLanes() const { return FWideLanes; }

    /// Writes the magnitudes of lines 0 ... highestI-1 of the 4096 contiguous samples at `frame`
    /// into xOut[1 ... highestI] (2 * |line|, units of the 16-bit samples), as QnFourier::FFT
    /// does. highestI must lie in 0 ... 1024. Allocates nothing.
    void Spectrum(const std::int16_t* frame, RealArray& xOut, std::int32_t highestI);

private:
    static constexpr std::size_t FN = TransformLength;

    void WindowAndHalve(const std::int16_t* frame);
    void FirstStages();
    void LaterStages();

    alignas(16) std::array<float, FrameSamples> FWindow{};
    alignas(16) std::array<float, FN> FHalved{};
    alignas(16) std::array<float, FN> FBufA{};
    alignas(16) std::array<float, FN> FBufB{};
    /// Cosines of every level in TFFT's layout, and beside them the same values reversed per
    /// level (FSines[H - 4 + j] = cos((H - j) * pi/(2H))) so both load forwards.
    std::vector<float> FCosines;
    std::vector<float> FSines;
    /// Where the last stage left the transform (FBufA or FBufB).
    float* FResult = nullptr;
    bool FWideLanes = false;
};

}  // namespace orvane::signal
