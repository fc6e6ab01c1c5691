// The conversion layer the readers stand on: an MP3 decoder and a PCM converter to 16-bit mono
// at a target rate. The platform folder implements it (mpg123, soxr) and installs it at start.
// Thread: installed once by the composition root before any reader exists; the objects it
// creates belong to one reader and are used by that reader's thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace orvane::audio {

/// Interleaved integer PCM: 8-bit unsigned or 16/24/32-bit signed little-endian samples.
struct TPcmFormat {
    int Channels = 1;              ///< 1 ... 8
    int BitsPerSample = 16;        ///< 8, 16, 24 or 32
    std::uint32_t SampleRate = 0;  ///< frames per second

    /// Bytes of one frame (one sample of every channel).
    int FrameBytes() const { return Channels * (BitsPerSample / 8); }
    bool operator==(const TPcmFormat&) const = default;
};

/// A streaming MP3 decoder fed with the raw bytes of a file, tags included.
class IMp3Decoder {
public:
    virtual ~IMp3Decoder() = default;
    /// Hands the next bytes of the file to the decoder (copied; `data` may be reused at once).
    /// Throws orvane::EError when the decoder fails.
    virtual void Feed(const std::uint8_t* data, std::size_t size) = 0;
    /// Decodes the next frame of the bytes fed so far. Returns false when more input is needed.
    /// Otherwise `samples` points at `count` interleaved 16-bit samples (all channels) in
    /// `format`, valid until the next call on the decoder; `count` may be 0. The format may
    /// change from one frame to the next. Throws orvane::EError when decoding fails.
    virtual bool DecodeFrame(const std::int16_t*& samples, std::size_t& count,
                             TPcmFormat& format) = 0;
};

/// A streaming converter from interleaved integer PCM of one format to 16-bit mono samples at a
/// target rate. Channels are averaged; partial frames are kept for the next call.
class IPcmConverter {
public:
    virtual ~IPcmConverter() = default;
    /// Converts `size` bytes of source PCM and appends the output samples to `out`.
    /// Throws orvane::EError when the conversion fails.
    virtual void Convert(const std::uint8_t* data, std::size_t size,
                         std::vector<std::int16_t>& out) = 0;
    /// Appends what the converter still holds (the tail of a rate change) to `out`; called once
    /// at the end of the source.
    virtual void Flush(std::vector<std::int16_t>& out) = 0;
};

/// Creates decoders and converters.
class IAudioConversion {
public:
    virtual ~IAudioConversion() = default;
    virtual std::unique_ptr<IMp3Decoder> CreateMp3Decoder() = 0;
    /// `source` must satisfy ValidPcmFormat; `targetRate` in Hz. Throws orvane::EError when the
    /// conversion is not possible.
    virtual std::unique_ptr<IPcmConverter> CreatePcmConverter(const TPcmFormat& source,
                                                              std::uint32_t targetRate) = 0;
};

/// Formats the conversion layer has to handle: 1..8 channels, 8/16/24/32 bits, 1 Hz..1 MHz.
bool ValidPcmFormat(const TPcmFormat& format);

/// Installs the conversion layer every reader uses, replacing (and freeing) a previous one.
/// Call before readers are created; not while readers are being created on another thread.
void SetAudioConversion(std::unique_ptr<IAudioConversion> conversion);
/// The installed conversion layer, or nullptr when none is installed.
IAudioConversion* AudioConversion();

}  // namespace orvane::audio
