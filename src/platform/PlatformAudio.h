// The conversion layer of the audio readers on this platform: MP3 decoding by libmpg123, rate
// changes by libsoxr, channel mixing of our own.
// Thread: InstallAudioConversion is called once by the composition root at start, before any
// reader exists; the decoders and converters belong to the reader that made them.
#pragma once

#include <cstdint>
#include <memory>

#include "audio/AudioConversion.h"

namespace orvane::platform {

/// soxr quality recipes the converter can use (values of soxr's own SOXR_LQ ... SOXR_HQ).
enum class TResampleQuality { rqLow, rqMedium, rqHigh };

/// The quality InstallAudioConversion uses.
constexpr TResampleQuality DefaultResampleQuality = TResampleQuality::rqHigh;

/// Makes the mpg123/soxr conversion layer. Throws orvane::EError when libmpg123 cannot be
/// initialised.
std::unique_ptr<audio::IAudioConversion> MakeAudioConversion(
    TResampleQuality quality = DefaultResampleQuality);

/// Installs MakeAudioConversion() as the conversion layer of every audio reader.
void InstallAudioConversion();

}  // namespace orvane::platform
