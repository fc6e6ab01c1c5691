// The capture device behind a channel in audio-in mode: records buffers of PCM from a sound
// input and hands each full buffer to the channel.
// Thread: Start/Stop on the main thread; OnBufferFilled is called on the device's delivery
// thread, one buffer at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "audio/AudioIO.h"

namespace orvane::recognition {

/// One sound input device (the record lives with the capture interface of the audio folder).
using audio::TLInfo;

/// What a channel asks of its device: 16-bit PCM at SampleRate, mono or stereo, delivered in
/// buffers of BufferBytes bytes.
struct TCaptureFormat {
    std::uint32_t DevNo = 0xFFFFFFFF;
    std::uint32_t SampleRate = 11025;
    std::uint16_t Channels = 1;
    std::uint32_t BufferBytes = 8192;
};

class IAudioCapture {
public:
    virtual ~IAudioCapture() = default;
    /// Starts recording; returns false and leaves the reason in ErrorMessage(). Main thread.
    virtual bool Start(const TCaptureFormat& format) = 0;
    /// Stops at once; once it returns OnBufferFilled is not called any more. Main thread.
    virtual void Stop() = 0;
    /// Whether the device records. Thread safe.
    virtual bool Recording() const = 0;
    /// The reason of the last failure.
    virtual std::string ErrorMessage() const = 0;

    /// The buffer-filled event, set by the owning channel before Start: a full buffer of
    /// `size` bytes, valid for the duration of the call. Delivery thread.
    std::function<bool(const std::uint8_t* buffer, std::uint32_t size)> OnBufferFilled;
};

}  // namespace orvane::recognition
