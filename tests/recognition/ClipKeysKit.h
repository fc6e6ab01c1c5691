// Keys of generated clips as fingerprinting a WAV file of them gives, and clips under noise: the
// shared ground of the end-to-end recognition tests (file channel, robust search, monitor).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "audio/FptExtract.h"
#include "audio/uOpenAudio.h"
#include "platform/PlatformAudio.h"
#include "signal/QnFFT.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"

namespace orvane::test {

/// Decoding needs the platform's conversion (mpg123, soxr); installed once per test program.
class TConversionEnvironment : public ::testing::Environment {
public:
    void SetUp() override { platform::InstallAudioConversion(); }
};
inline const auto* const ConversionEnvironment =
    ::testing::AddGlobalTestEnvironment(new TConversionEnvironment);

/// The keys of `samples` (11025 Hz) as fingerprinting a WAV file of them gives.
inline std::vector<std::uint32_t> FingerprintKeys(const TTempDir& dir, const TSamples& samples) {
    const std::string path = dir.File("clip.wav");
    WriteWav(path, samples, 11025);
    auto reader = audio::OpenAudioReader(path, audio::TAudioFileType::ftWav);
    signal::QnKeyConversion converter;
    auto song = MakeRef<fingerprint::TSongServer>();
    audio::ComputeLineKeys(*reader, converter, *song, nullptr);
    return song->CopyKeys();
}

/// `signal` with white noise `snrDb` below its power.
inline TSamples WithNoise(const TSamples& signal, double snrDb, std::uint32_t seed) {
    double power = 0;
    for (auto s : signal) power += static_cast<double>(s) * s;
    power /= static_cast<double>(signal.size());
    // Uniform noise of peak a has power a^2 / 3.
    const double amplitude = std::sqrt(3.0 * power / std::pow(10.0, snrDb / 10.0));
    const TSamples noise = Noise(seed, signal.size(), amplitude);
    TSamples out(signal.size());
    for (std::size_t i = 0; i < signal.size(); ++i) {
        out[i] = static_cast<std::int16_t>(std::clamp(signal[i] + noise[i], -32768, 32767));
    }
    return out;
}

}  // namespace orvane::test
