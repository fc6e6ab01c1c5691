// Recording from a sound input: the buffer and format management of TAudioIO and the buffer
// rotation of TAudioIn, which hands each filled buffer to its owner through OnBufferFilled.
// The platform's recording service sits behind IWaveInDriver (PulseAudio in src/platform).
// Thread: properties, Start and the Stop operations on the owning thread. The driver reports a
// filled buffer from its capture thread; the buffer-done step (counters, OnBufferFilled,
// re-queueing) runs wherever Deliver sends it: on the owning thread when Deliver posts to its
// event loop (the application), on the capture thread itself when Deliver is empty (engine
// tools and tests). A mutex guards the counters and flags, so both ways are safe.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvane::audio {

/// One sound input device.
struct TLInfo {
    std::string DevName;               ///< empty for the default input
    std::uint32_t DevNo = 0xFFFFFFFF;  ///< 0xFFFFFFFF: the system's default input
    std::uint16_t ManID = 0;           ///< manufacturer identifier (1 for the default input)
    friend bool operator==(const TLInfo&, const TLInfo&) = default;
};

/// Buffers in rotation at most.
inline constexpr std::int32_t MaxBuffers = 4;

/// The device number of the system's default input.
inline constexpr std::uint32_t DefaultWaveDevice = 0xFFFFFFFF;

/// The recording format: always integer PCM (format tag 1).
struct TWaveFormat {
    std::uint16_t FormatTag = 1;
    std::uint16_t Channels = 1;
    std::uint32_t SamplesPerSec = 22050;
    std::uint32_t AvgBytesPerSec = 44100;
    std::uint16_t BlockAlign = 2;
    std::uint16_t BitsPerSample = 16;
    std::uint16_t ExtraSize = 0;
};

/// The platform's recording service, modelled on a wave-in device: buffers are added to a
/// queue, filled in queue order and reported back one by one.
class IWaveInDriver {
public:
    virtual ~IWaveInDriver() = default;
    /// Opens `device` (DefaultWaveDevice: the default input) for `format`. `onBufferDone` is
    /// called on the capture thread each time the oldest queued buffer is full, with the
    /// number of bytes recorded into it. Returns an empty text on success, otherwise the
    /// platform's error text (the device is then closed).
    virtual std::string Open(std::uint32_t device, const TWaveFormat& format,
                             std::function<void(std::uint32_t bytesRecorded)> onBufferDone) = 0;
    /// Appends a buffer to the queue; the memory stays the caller's and must live until the
    /// buffer comes back or Reset/Close returns. Empty text or the platform's error text.
    virtual std::string AddBuffer(std::uint8_t* data, std::uint32_t size) = 0;
    /// Starts recording into the queue. Empty text or the platform's error text.
    virtual std::string StartRecording() = 0;
    /// Stops recording, takes every queued buffer back without reporting it and releases the
    /// device. After it returns onBufferDone is not called any more (called from within
    /// onBufferDone, the current call is the last). Errors are ignored; closing twice is fine.
    virtual void Close() = 0;
    /// Sample frames recorded since StartRecording; false when unknown.
    virtual bool Position(std::uint64_t& samples) const = 0;
};

class TAudioIO {
public:
    /// The constructor values: BufferSize 8192, NumBuffers 4, FrameRate 22050, mono, 16 bits,
    /// the default device; allocates the buffers (a failure only sets ErrorMessage).
    TAudioIO();
    virtual ~TAudioIO();
    TAudioIO(const TAudioIO&) = delete;
    TAudioIO& operator=(const TAudioIO&) = delete;

    /// Bytes per buffer asked for; stored as at least 512 and rounded down to the block
    /// alignment. While recording the new size takes effect at the next Start (the buffers
    /// in the driver are never freed under it).
    void SetBufferSize(std::int32_t bytes);
    std::int32_t BufferSize() const;
    std::int32_t RequestedBufferSize() const;
    /// Buffers in rotation, clamped to 2 ... 4.
    void SetNumBuffers(std::int32_t count);
    std::int32_t NumBuffers() const;
    /// Sample rate in Hz. Set format properties before BufferSize.
    void SetFrameRate(std::int32_t rate);
    std::int32_t FrameRate() const;
    /// Two channels (interleaved left, right) or one.
    void SetStereo(bool stereo);
    bool Stereo() const;
    /// Bits per sample: 8 for values up to 8, else 16.
    void SetQuantization(std::uint16_t bits);
    std::uint16_t Quantization() const;
    /// Device number; DefaultWaveDevice for the default input.
    void SetWaveDevice(std::uint32_t device);
    std::uint32_t WaveDevice() const;
    /// The recording format derived from the properties.
    TWaveFormat WaveFormat() const;

    /// Text of the last failure. Thread safe.
    std::string ErrorMessage() const;
    /// Recording is running (buffers are queued). Thread safe.
    bool Active() const;
    /// Buffers accepted by the handler, now in the driver, returned by the driver. Thread safe.
    std::int32_t FilledBuffers() const;
    std::int32_t QueuedBuffers() const;
    std::int32_t ProcessedBuffers() const;

    /// Called when the device opens and closes. Owning thread (OnStop: wherever the device
    /// closes, which for a graceful stop is the buffer-done step).
    std::function<void()> OnStart;
    std::function<void()> OnStop;

protected:
    /// Recomputes the format from the properties and reallocates the buffers when their size
    /// changed. Caller holds FLock; not while the device is open.
    void RecomputeFormat();
    void AllocateBuffers();

    mutable std::mutex FLock;  // guards everything below
    // The effective values, recomputed from the properties whenever the device is closed.
    std::int32_t FBufferSize = 0;
    std::int32_t FRequestedBufferSize = 8192;
    std::int32_t FNumBuffers = 4;
    bool FPaused = false;
    TWaveFormat FWaveFmtEx;
    std::uint32_t FWaveDevice = DefaultWaveDevice;
    std::vector<std::vector<std::uint8_t>> WaveBuffer;
    std::int32_t BufIndex = 0;
    bool ContinueProcessing = false;
    std::string FErrorMessage;
    bool FActive = false;
    std::int32_t FFilledBuffers = 0;
    std::int32_t FQueuedBuffers = 0;
    std::int32_t FProcessedBuffers = 0;
    bool WaveDeviceOpen = false;

private:
    // The properties as written; they reach the effective values above when the device is
    // closed, so a write while recording never changes the buffers the driver fills.
    std::int32_t FNumBuffersProp = 4;
    std::int32_t FFrameRate = 22050;
    bool FStereo = false;
    std::uint16_t FQuantization = 16;
    std::int32_t FAllocatedSize = -1;
};

class TAudioIn : public TAudioIO {
public:
    /// `driver` is the recording service (owned, not null).
    explicit TAudioIn(std::unique_ptr<IWaveInDriver> driver);
    /// Stops at once if recording.
    ~TAudioIn() override;

    /// Opens the device and starts recording with the current properties. Returns false and
    /// leaves the reason in ErrorMessage: "Wave Input device is already open", the platform's
    /// text when the device cannot be opened or a buffer cannot be queued, "Error starting
    /// wave record: " + the platform's text. Owning thread.
    bool Start();
    /// Stops recording and closes the device at once; buffers in the driver come back without
    /// being handed over. Once it returns OnBufferFilled is not called any more. Owning thread.
    void StopAtOnce();
    /// Stops handing over: the buffers still in the driver come back one by one as they fill,
    /// are neither handed over nor re-queued, and the device closes (OnStop) after the last.
    /// Owning thread.
    void StopGracefully();
    /// Seconds recorded while Active (device position / FrameRate); otherwise 0. Thread safe.
    double ElapsedTime() const;
    /// Whether the device is open (also while a graceful stop drains). Thread safe.
    bool DeviceOpen() const;

    /// The buffer-filled event: a full buffer of `size` bytes in the recording format, valid
    /// during the call; true means consumed (the buffer is queued again), false takes it out of
    /// rotation. Called wherever Deliver runs the buffer-done step, one buffer at a time, in
    /// recording order. No handler counts as true.
    std::function<bool(std::uint8_t* buffer, std::int32_t& size)> OnBufferFilled;
    /// Runs a task on the owning thread (for example by posting it to the event loop);
    /// empty: the task runs at once on the capture thread. Set before Start.
    std::function<void(std::function<void()>)> Deliver;

private:
    bool QueueStep(std::int32_t index);  // caller holds FLock
    void CloseDevice(std::unique_lock<std::mutex>& lock);
    void DriverBufferDone(std::uint64_t session);
    void BufferDoneStep(std::uint64_t session);
    void NotifyStop();

    std::unique_ptr<IWaveInDriver> FDriver;
    /// The buffers in the driver, oldest first: FInDriver[FOldest], ... (FQueuedBuffers of
    /// them, wrapping). A buffer taken out of rotation leaves a gap in the numbering, so the
    /// order is kept here rather than derived from BufIndex.
    std::array<std::int32_t, MaxBuffers> FInDriver{};
    std::int32_t FOldest = 0;
    std::uint64_t FSession = 0;  // a new number per Start; late reports of older ones are dropped
    /// Kept alive while this object lives; posted tasks hold a weak reference.
    std::shared_ptr<int> FAlive = std::make_shared<int>(0);
};

}  // namespace orvane::audio
