// Writes RIFF/WAVE files with integer PCM for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::test {

/// Builds a canonical WAV image: "RIFF", "fmt " (16 bytes), "data". `samples` are interleaved
/// 16-bit values; they are converted to `bits` (8, 16, 24 or 32) as a sound file would hold them.
std::string MakeWav(const std::vector<std::int16_t>& samples, int rate, int channels = 1,
                    int bits = 16);
void WriteWav(const std::string& path, const std::vector<std::int16_t>& samples, int rate,
              int channels = 1, int bits = 16);

}  // namespace orvane::test
