// Helpers of the audio tests: reading a whole file through a reader, measuring a tone.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/uOpenAudio.h"
#include "platform/PlatformAudio.h"

namespace orvane::test {

/// Installs the platform conversion layer once for the test program.
inline void EnsureAudioConversion() {
    if (audio::AudioConversion() == nullptr) platform::InstallAudioConversion();
}

/// Reads `reader` to the end; checks that every chunk but the last is full.
inline std::vector<std::int16_t> ReadAll(audio::TAudioReader& reader, bool* allFull = nullptr) {
    std::vector<std::int16_t> out;
    std::vector<std::uint8_t> bytes;
    bool full = true;
    for (;;) {
        const std::int32_t n = reader.ReadChunk();
        if (n < 0 || static_cast<std::uint32_t>(n) > reader.Size()) {
            full = false;
            break;
        }
        bytes.insert(bytes.end(), reader.Data(), reader.Data() + n);
        if (static_cast<std::uint32_t>(n) < reader.Size()) break;
    }
    // A second call after the end delivers nothing more.
    if (reader.ReadChunk() != 0) full = false;
    if (allFull != nullptr) *allFull = full;
    out.resize(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

/// Frequency of a steady tone from its zero crossings, in Hz at `rate`.
inline double ToneFrequency(const std::vector<std::int16_t>& s, std::size_t skip,
                            int rate = 11025) {
    std::size_t crossings = 0;
    std::size_t first = 0;
    std::size_t last = 0;
    for (std::size_t i = skip + 1; i + skip < s.size(); ++i) {
        if ((s[i - 1] < 0) != (s[i] < 0) && s[i - 1] < 0) {
            if (crossings == 0) first = i;
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return static_cast<double>(crossings - 1) * rate / static_cast<double>(last - first);
}

/// Root mean square of the samples between `skip` and size - `skip`.
inline double Rms(const std::vector<std::int16_t>& s, std::size_t skip) {
    double sum = 0.0;
    std::size_t n = 0;
    for (std::size_t i = skip; i + skip < s.size(); ++i, ++n)
        sum += static_cast<double>(s[i]) * s[i];
    return n == 0 ? 0.0 : std::sqrt(sum / static_cast<double>(n));
}

/// Path of a file in tests/data/audio: under ORVANE_TEST_DATA, else the source tree's.
inline std::string AudioDataFile(const std::string& name) {
    const char* root = std::getenv("ORVANE_TEST_DATA");
#ifdef ORVANE_AUDIO_TEST_DATA
    if (root == nullptr || *root == '\0') root = ORVANE_AUDIO_TEST_DATA;
#endif
    return std::string(root != nullptr ? root : "tests/data") + "/audio/" + name;
}

}  // namespace orvane::test
