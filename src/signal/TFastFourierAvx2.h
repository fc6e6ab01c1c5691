// Eight-lane loops of TFastFourier for processors with AVX2 (see TFastFourierAvx2.cpp).
// Thread: pure functions over the caller's arrays.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvane::signal::avx2 {

/// True when this build has the AVX2 loops and the running processor can execute them.
bool Available();

/// out[i] = (frame[2i] * window[2i] + frame[2i+1] * window[2i+1]) * 0.5 for i < count
/// (count a multiple of 8).
void WindowAndHalve(const std::int16_t* frame, const float* window, float* out, std::size_t count);

/// The first four stages of an n-point transform (n = 2048) from the halved frame `x` into
/// `out`; cosineTable is TFFT's, h is sqrt(2)/2 as a float, blockStarts[m] is 8 * (m with its
/// 8 low bits reversed) for m < n/32.
void FirstStages(const float* x, float* out, std::size_t n, const float* cosineTable, float h,
                 const std::uint16_t* blockStarts);

/// Stages 5 ... log2(n)-1 of the transform, alternating between s (holding the output of the
/// fourth stage) and d; returns the array holding the result.
float* LaterStages(float* s, float* d, const float* cosineTable, const float* sineTable,
                   std::size_t n);

/// xOut[k+1] = 2 * sqrt(f[k]^2 + f[nyquist+k]^2) for k < count (count >= 8).
void Magnitudes(const float* f, std::size_t nyquist, float* xOut, std::size_t count);

}  // namespace orvane::signal::avx2
