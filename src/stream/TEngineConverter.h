// Brings decoded PCM of any rate and channel count into the engine audio format the same way
// the file readers do: the conversion layer mixes to mono at 11025 Hz, or at 16000 Hz for
// rates that are multiples of 8000 Hz, which ResampleTo11025 then takes to 11025 Hz. So a
// stream and a file of the same audio give the same keys within rounding.
// Thread: owned and used by one thread (a source's worker).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/AudioConversion.h"
#include "audio/Resample.h"

namespace orvane::stream {

class TEngineConverter {
public:
    /// Converts `size` bytes of interleaved PCM in `format` and appends engine samples to
    /// `out`. The first format decides the target rate; a later change of format keeps it so
    /// the output stays one continuous stream. Throws EError when the format cannot be
    /// converted or no conversion layer is installed.
    void Convert(const audio::TPcmFormat& format, const std::uint8_t* data, std::size_t size,
                 std::vector<std::int16_t>& out);
    /// Appends what the conversion still holds (at the end of the source).
    void Flush(std::vector<std::int16_t>& out);

private:
    void Emit(std::vector<std::int16_t>& out);

    std::unique_ptr<audio::IPcmConverter> FConverter;
    audio::TPcmFormat FFormat;
    std::uint32_t FTargetRate = 0;
    bool FConv16 = false;
    audio::TResampleTo11025 FResampler;
    std::vector<std::int16_t> FConverted;
};

}  // namespace orvane::stream
