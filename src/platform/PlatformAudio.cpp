#include "platform/PlatformAudio.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <mpg123.h>
#include <soxr.h>
#include <string>
#include <vector>

#include "audio/Resample.h"
#include "base/Errors.h"

namespace orvane::platform {
namespace {

using audio::TPcmFormat;

// ---- MP3 decoding ----

class TMpg123Decoder final : public audio::IMp3Decoder {
public:
    TMpg123Decoder() {
        int error = MPG123_OK;
        FHandle = mpg123_new(nullptr, &error);
        if (FHandle == nullptr) {
            throw EError(std::string("The MP3 decoder cannot be created: ") +
                         mpg123_plain_strerror(error));
        }
        // Always 16-bit signed output, at whatever rate and channel count the stream has.
        const long* rates = nullptr;
        std::size_t rateCount = 0;
        mpg123_rates(&rates, &rateCount);
        bool ok = mpg123_param(FHandle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0) == MPG123_OK &&
                  mpg123_format_none(FHandle) == MPG123_OK;
        for (std::size_t i = 0; ok && i < rateCount; ++i) {
            ok = mpg123_format(FHandle, rates[i], MPG123_MONO | MPG123_STEREO,
                               MPG123_ENC_SIGNED_16) == MPG123_OK;
        }
        if (!ok || mpg123_open_feed(FHandle) != MPG123_OK) {
            const std::string reason = mpg123_strerror(FHandle);
            mpg123_delete(FHandle);
            throw EError("The MP3 decoder cannot be set up: " + reason);
        }
    }

    ~TMpg123Decoder() override {
        mpg123_close(FHandle);
        mpg123_delete(FHandle);
    }

    TMpg123Decoder(const TMpg123Decoder&) = delete;
    TMpg123Decoder& operator=(const TMpg123Decoder&) = delete;

    void Feed(const std::uint8_t* data, std::size_t size) override {
        const int result = mpg123_feed(FHandle, data, size);
        if (result != MPG123_OK) Fail(result);
    }

    bool DecodeFrame(const std::int16_t*& samples, std::size_t& count,
                     TPcmFormat& format) override {
        for (;;) {
            off_t frameNumber = 0;
            unsigned char* audio = nullptr;
            std::size_t bytes = 0;
            const int result = mpg123_decode_frame(FHandle, &frameNumber, &audio, &bytes);
            if (result == MPG123_NEW_FORMAT) {
                long rate = 0;
                int channels = 0;
                int encoding = 0;
                if (mpg123_getformat(FHandle, &rate, &channels, &encoding) != MPG123_OK ||
                    encoding != MPG123_ENC_SIGNED_16 || rate <= 0) {
                    throw EError("The MP3 decoder reports an unusable format.");
                }
                FFormat = TPcmFormat{channels, 16, static_cast<std::uint32_t>(rate)};
                continue;
            }
            if (result == MPG123_OK) {
                samples = reinterpret_cast<const std::int16_t*>(audio);
                count = audio != nullptr ? bytes / sizeof(std::int16_t) : 0;
                format = FFormat;
                return true;
            }
            if (result == MPG123_NEED_MORE || result == MPG123_DONE) return false;
            Fail(result);
        }
    }

private:
    [[noreturn]] void Fail(int result) {
        const char* reason =
            result == MPG123_ERR ? mpg123_strerror(FHandle) : mpg123_plain_strerror(result);
        throw EError(std::string("MP3 decoding failed: ") + reason);
    }

    mpg123_handle* FHandle = nullptr;
    TPcmFormat FFormat;
};

// ---- PCM conversion ----

constexpr std::size_t SoxrOutCapacity = 8192;

unsigned long SoxrRecipe(TResampleQuality quality) {
    switch (quality) {
        case TResampleQuality::rqLow:
            return SOXR_LQ;
        case TResampleQuality::rqMedium:
            return SOXR_MQ;
        case TResampleQuality::rqHigh:
            return SOXR_HQ;
    }
    return SOXR_HQ;
}

/// The nearest 16-bit value (ties to even), as lrintf of the value clipped to 16 bits gives it
/// in the default rounding mode, but without branches or calls, so the loops over it
/// vectorise: adding and taking away 1.5 x 2^23 rounds a float of magnitude below 2^22 to an
/// integer (larger ones stay beyond 16 bits), which is then clipped. The values here are
/// 16-bit samples, mixed or rate-changed, far inside the 2^31 the conversion to int needs.
std::int16_t RoundClip(float value) {
    constexpr float Shift = 12582912.0f;
    const auto rounded = static_cast<std::int32_t>((value + Shift) - Shift);
    return static_cast<std::int16_t>(std::min(std::max(rounded, -32768), 32767));
}

/// Frames per step of the loops written for vectorising: a fixed inner count.
constexpr std::size_t Lanes = 8;

std::int16_t Load16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

/// 16-bit mono or stereo, the common files: the same sums as the general loop below (a sum
/// of two 16-bit values and the halving are exact in float), in steps the compiler vectorises.
void MixFrames16(const std::uint8_t* p, std::size_t frames, int channels, float* out) {
    std::size_t f = 0;
    // Samples are little-endian like the host (the build refuses others).
    static_assert(std::endian::native == std::endian::little);
    if (channels == 1) {
        for (; f + Lanes <= frames; f += Lanes) {
            std::int16_t s[Lanes];
            std::memcpy(s, p + 2 * f, sizeof s);
            for (std::size_t k = 0; k < Lanes; ++k) out[f + k] = static_cast<float>(s[k]);
        }
        for (; f < frames; ++f) out[f] = Load16(p + 2 * f);
        return;
    }
    for (; f + Lanes <= frames; f += Lanes) {
        std::int16_t s[2 * Lanes];
        std::memcpy(s, p + 4 * f, sizeof s);
        for (std::size_t k = 0; k < Lanes; ++k) {
            out[f + k] = (static_cast<float>(s[2 * k]) + static_cast<float>(s[2 * k + 1])) * 0.5f;
        }
    }
    for (; f < frames; ++f) {
        const std::uint8_t* q = p + 4 * f;
        out[f] = (static_cast<float>(Load16(q)) + static_cast<float>(Load16(q + 2))) * 0.5f;
    }
}

// Source samples on the 16-bit scale, averaged over the channels of each frame.
template <int Bits>
void MixFrames(const std::uint8_t* p, std::size_t frames, int channels, float* out) {
    constexpr int Bytes = Bits / 8;
    for (std::size_t f = 0; f < frames; ++f) {
        float sum = 0.0f;
        for (int c = 0; c < channels; ++c, p += Bytes) {
            if constexpr (Bits == 8) {
                sum += static_cast<float>((static_cast<int>(p[0]) - 128) * 256);
            } else if constexpr (Bits == 16) {
                sum += static_cast<float>(static_cast<std::int16_t>(p[0] | (p[1] << 8)));
            } else if constexpr (Bits == 24) {
                const std::int32_t v =
                    static_cast<std::int32_t>((static_cast<std::uint32_t>(p[0]) << 8) |
                                              (static_cast<std::uint32_t>(p[1]) << 16) |
                                              (static_cast<std::uint32_t>(p[2]) << 24));
                sum += static_cast<float>(v) * (1.0f / 65536.0f);
            } else {
                const std::int32_t v = static_cast<std::int32_t>(
                    static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                    (static_cast<std::uint32_t>(p[2]) << 16) |
                    (static_cast<std::uint32_t>(p[3]) << 24));
                sum += static_cast<float>(v) * (1.0f / 65536.0f);
            }
        }
        out[f] = channels == 1 ? sum : sum / static_cast<float>(channels);
    }
}

class TPcmConverter final : public audio::IPcmConverter {
public:
    TPcmConverter(const TPcmFormat& source, std::uint32_t targetRate, TResampleQuality quality)
        : FSource(source), FFrameBytes(static_cast<std::size_t>(source.FrameBytes())) {
        if (!audio::ValidPcmFormat(source) || targetRate == 0) {
            throw EError("This PCM format cannot be converted.");
        }
        // 16-bit mono at the target rate passes through untouched.
        FPassThrough =
            source.Channels == 1 && source.BitsPerSample == 16 && source.SampleRate == targetRate;
        const std::uint32_t factor = source.SampleRate / targetRate;
        if (source.SampleRate == factor * targetRate && factor >= 2 && factor <= 8 &&
            targetRate >= 11025) {
            // A whole factor (44.1 and 22.05 to 11.025 kHz, 48 and 32 to 16 kHz): a short
            // low-pass and every M-th sample, several times cheaper than the general resampler
            // and as good for the key bands.
            FDecimator = std::make_unique<audio::TDecimator>(static_cast<int>(factor),
                                                             source.SampleRate);
        } else if (source.SampleRate != targetRate) {
            const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
            const soxr_quality_spec_t q = soxr_quality_spec(SoxrRecipe(quality), 0);
            const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
            soxr_error_t error = nullptr;
            FSoxr = soxr_create(static_cast<double>(source.SampleRate),
                                static_cast<double>(targetRate), 1, &error, &io, &q, &runtime);
            if (FSoxr == nullptr || error != nullptr) {
                if (FSoxr != nullptr) soxr_delete(FSoxr);
                throw EError(std::string("The rate change cannot be set up: ") +
                             (error != nullptr ? error : "unknown error"));
            }
            FResampled.resize(SoxrOutCapacity);
        }
        FMixed.reserve(4096);
    }

    ~TPcmConverter() override {
        if (FSoxr != nullptr) soxr_delete(FSoxr);
    }

    TPcmConverter(const TPcmConverter&) = delete;
    TPcmConverter& operator=(const TPcmConverter&) = delete;

    void Convert(const std::uint8_t* data, std::size_t size,
                 std::vector<std::int16_t>& out) override {
        if (FCarryFill > 0) {
            // Complete the frame the previous block ended in.
            const std::size_t take = std::min(size, FFrameBytes - FCarryFill);
            std::memcpy(FCarry + FCarryFill, data, take);
            FCarryFill += take;
            data += take;
            size -= take;
            if (FCarryFill < FFrameBytes) return;
            ConvertFrames(FCarry, 1, out);
            FCarryFill = 0;
        }
        const std::size_t frames = size / FFrameBytes;
        ConvertFrames(data, frames, out);
        FCarryFill = size - frames * FFrameBytes;
        std::memcpy(FCarry, data + frames * FFrameBytes, FCarryFill);
    }

    void Flush(std::vector<std::int16_t>& out) override {
        if (FDecimator) {
            FResampled.clear();
            FDecimator->Flush(FResampled);
            AppendRounded(FResampled.data(), FResampled.size(), out);
            return;
        }
        if (FSoxr == nullptr) return;
        // A few rounds at most; the bound keeps a misbehaving library from looping forever.
        for (int round = 0; round < 1024; ++round) {
            std::size_t produced = 0;
            const soxr_error_t error = soxr_process(FSoxr, nullptr, 0, nullptr, FResampled.data(),
                                                    FResampled.size(), &produced);
            if (error != nullptr) throw EError(std::string("Rate change failed: ") + error);
            if (produced == 0) break;
            AppendRounded(FResampled.data(), produced, out);
        }
    }

private:
    void ConvertFrames(const std::uint8_t* p, std::size_t frames, std::vector<std::int16_t>& out) {
        if (frames == 0) return;
        if (FPassThrough) {
            const std::size_t old = out.size();
            out.resize(old + frames);
            std::memcpy(out.data() + old, p, frames * sizeof(std::int16_t));
            return;
        }
        FMixed.resize(frames);
        switch (FSource.BitsPerSample) {
            case 8:
                MixFrames<8>(p, frames, FSource.Channels, FMixed.data());
                break;
            case 16:
                if (FSource.Channels <= 2) {
                    MixFrames16(p, frames, FSource.Channels, FMixed.data());
                } else {
                    MixFrames<16>(p, frames, FSource.Channels, FMixed.data());
                }
                break;
            case 24:
                MixFrames<24>(p, frames, FSource.Channels, FMixed.data());
                break;
            default:
                MixFrames<32>(p, frames, FSource.Channels, FMixed.data());
                break;
        }
        if (FDecimator) {
            FResampled.clear();
            FDecimator->Process(FMixed.data(), frames, FResampled);
            AppendRounded(FResampled.data(), FResampled.size(), out);
            return;
        }
        if (FSoxr == nullptr) {
            AppendRounded(FMixed.data(), frames, out);
            return;
        }
        std::size_t offset = 0;
        for (;;) {
            std::size_t consumed = 0;
            std::size_t produced = 0;
            const soxr_error_t error =
                soxr_process(FSoxr, FMixed.data() + offset, frames - offset, &consumed,
                             FResampled.data(), FResampled.size(), &produced);
            if (error != nullptr) throw EError(std::string("Rate change failed: ") + error);
            offset += consumed;
            AppendRounded(FResampled.data(), produced, out);
            if (offset >= frames && produced < FResampled.size()) break;
            if (consumed == 0 && produced == 0) throw EError("Rate change made no progress.");
        }
    }

    static void AppendRounded(const float* in, std::size_t count, std::vector<std::int16_t>& out) {
        const std::size_t old = out.size();
        out.resize(old + count);
        std::int16_t* dst = out.data() + old;
        std::size_t i = 0;
        for (; i + Lanes <= count; i += Lanes) {
            for (std::size_t k = 0; k < Lanes; ++k) dst[i + k] = RoundClip(in[i + k]);
        }
        for (; i < count; ++i) dst[i] = RoundClip(in[i]);
    }

    TPcmFormat FSource;
    std::size_t FFrameBytes;
    bool FPassThrough = false;
    soxr_t FSoxr = nullptr;
    std::unique_ptr<audio::TDecimator> FDecimator;
    std::uint8_t FCarry[8 * 4] = {};  // bytes of a frame split across blocks
    std::size_t FCarryFill = 0;
    std::vector<float> FMixed;
    std::vector<float> FResampled;
};

class TAudioConversion final : public audio::IAudioConversion {
public:
    explicit TAudioConversion(TResampleQuality quality) : FQuality(quality) {}

    std::unique_ptr<audio::IMp3Decoder> CreateMp3Decoder() override {
        return std::make_unique<TMpg123Decoder>();
    }

    std::unique_ptr<audio::IPcmConverter> CreatePcmConverter(const TPcmFormat& source,
                                                             std::uint32_t targetRate) override {
        return std::make_unique<TPcmConverter>(source, targetRate, FQuality);
    }

private:
    TResampleQuality FQuality;
};

}  // namespace

std::unique_ptr<audio::IAudioConversion> MakeAudioConversion(TResampleQuality quality) {
    // A no-op in current libmpg123, required once per process by older ones.
    static const int initResult = mpg123_init();
    if (initResult != MPG123_OK) {
        throw EError(std::string("The MP3 decoder library cannot be initialised: ") +
                     mpg123_plain_strerror(initResult));
    }
    return std::make_unique<TAudioConversion>(quality);
}

void InstallAudioConversion() { audio::SetAudioConversion(MakeAudioConversion()); }

}  // namespace orvane::platform
