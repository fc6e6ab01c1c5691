// Synthetic test signals: tones, chirps, seeded noise, silence and a music-like mix.
#pragma once

#include <cstdint>
#include <vector>

namespace orvane::test {

using TSamples = std::vector<std::int16_t>;

TSamples Silence(std::size_t count);
/// A sine of `hz` at `rate` samples per second, peak `amplitude`.
TSamples Tone(double hz, std::size_t count, int rate = 11025, double amplitude = 8000.0);
/// A linear chirp from `hz0` to `hz1` over `count` samples.
TSamples Chirp(double hz0, double hz1, std::size_t count, int rate = 11025,
               double amplitude = 8000.0);
/// Uniform white noise from a fixed seed, peak `amplitude`.
TSamples Noise(std::uint32_t seed, std::size_t count, double amplitude = 8000.0);
/// A deterministic "music-like" signal: a changing melody of harmonic notes over noise,
/// different for every seed. Good enough to give keys that vary like real audio.
TSamples Music(std::uint32_t seed, std::size_t count, int rate = 11025);

/// Interleaves channels; all must have the same length.
TSamples Interleave(const std::vector<TSamples>& channels);

}  // namespace orvane::test
