#include "audio/AudioConversion.h"

#include <atomic>

namespace orvane::audio {
namespace {

std::unique_ptr<IAudioConversion>& Installed() {
    static std::unique_ptr<IAudioConversion> installed;
    return installed;
}

std::atomic<IAudioConversion*> Current{nullptr};

}  // namespace

bool ValidPcmFormat(const TPcmFormat& format) {
    const int bits = format.BitsPerSample;
    return format.Channels >= 1 && format.Channels <= 8 &&
           (bits == 8 || bits == 16 || bits == 24 || bits == 32) && format.SampleRate >= 1 &&
           format.SampleRate <= 1000000;
}

void SetAudioConversion(std::unique_ptr<IAudioConversion> conversion) {
    Current.store(conversion.get());
    Installed() = std::move(conversion);
}

IAudioConversion* AudioConversion() { return Current.load(); }

}  // namespace orvane::audio
