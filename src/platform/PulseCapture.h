// Recording from a PulseAudio source: the recording service behind TAudioIn (a record stream
// read by a capture thread of ours into the queued buffers, in order) and the capture device
// of a channel in audio-in mode.
// Thread: Open/AddBuffer/StartRecording/Close on the owning thread (Close also from within the
// buffer-done report); the capture thread fills buffers and reports each full one.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audio/AudioIO.h"
#include "recognition/IAudioCapture.h"

struct pa_simple;

namespace orvane::platform {

/// A PulseAudio record stream as a wave-in device. Device numbers are source indices
/// (DefaultWaveDevice: the server's default source); the server is the one PULSE_SERVER names,
/// or the user's default. Error texts are PulseAudio's ("No such entity", "Connection
/// refused", ...).
class TPulseWaveIn final : public audio::IWaveInDriver {
public:
    TPulseWaveIn() = default;
    /// Closes the stream and waits for the capture thread.
    ~TPulseWaveIn() override;
    TPulseWaveIn(const TPulseWaveIn&) = delete;
    TPulseWaveIn& operator=(const TPulseWaveIn&) = delete;

    std::string Open(std::uint32_t device, const audio::TWaveFormat& format,
                     std::function<void(std::uint32_t)> onBufferDone) override;
    std::string AddBuffer(std::uint8_t* data, std::uint32_t size) override;
    std::string StartRecording() override;
    void Close() override;
    bool Position(std::uint64_t& samples) const override;

private:
    struct TQueued {
        std::uint8_t* Data;
        std::uint32_t Size;
    };
    void Execute(pa_simple* stream);
    void JoinCapture();

    std::mutex FLock;  // guards FQueue, FStop, FStream, FThread
    std::condition_variable FQueueChanged;
    std::deque<TQueued> FQueue;
    bool FStop = false;
    pa_simple* FStream = nullptr;  // open and not yet handed to the capture thread
    std::thread FThread;
    std::function<void(std::uint32_t)> FOnBufferDone;
    std::uint32_t FChunkBytes = 0;  // bytes per read: about 20 ms, so a stop is quick
    std::uint32_t FBlockAlign = 2;
    std::atomic<std::uint64_t> FFrames{0};
};

/// A TAudioIn on the PulseAudio recording service.
std::unique_ptr<audio::TAudioIn> MakePulseAudioIn();

/// The capture device of a channel: a TAudioIn set up from the channel's format (device, rate,
/// channels, buffer size; 16 bits, 4 buffers) whose buffers go to OnBufferFilled.
class TAudioInCapture final : public recognition::IAudioCapture {
public:
    /// `audioIn` is owned, not null.
    explicit TAudioInCapture(std::unique_ptr<audio::TAudioIn> audioIn);
    bool Start(const recognition::TCaptureFormat& format) override;
    void Stop() override;
    bool Recording() const override;
    std::string ErrorMessage() const override;
    /// The recorder itself (its counters, ElapsedTime, Deliver).
    audio::TAudioIn& AudioIn() { return *FAudioIn; }

private:
    std::unique_ptr<audio::TAudioIn> FAudioIn;
};

/// A channel's capture device on PulseAudio.
std::unique_ptr<recognition::IAudioCapture> MakePulseCapture();

}  // namespace orvane::platform
