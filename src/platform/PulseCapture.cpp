#include "platform/PulseCapture.h"

#include <algorithm>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <string>
#include <utility>

namespace orvane::platform {

namespace {

/// Reads of about 20 ms: short enough that a stop never waits long for a read to return.
constexpr std::uint32_t ReadsPerSecond = 50;

}  // namespace

TPulseWaveIn::~TPulseWaveIn() { Close(); }

std::string TPulseWaveIn::Open(std::uint32_t device, const audio::TWaveFormat& format,
                               std::function<void(std::uint32_t)> onBufferDone) {
    Close();
    JoinCapture();  // a capture thread that closed itself from its report may still be leaving
    if (format.FormatTag != 1 || (format.BitsPerSample != 8 && format.BitsPerSample != 16) ||
        format.Channels < 1 || format.Channels > 2 || format.SamplesPerSec == 0 ||
        format.SamplesPerSec > PA_RATE_MAX) {
        return pa_strerror(PA_ERR_NOTSUPPORTED);
    }
    pa_sample_spec sampleSpec{};
    sampleSpec.format = format.BitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    sampleSpec.rate = format.SamplesPerSec;
    sampleSpec.channels = static_cast<std::uint8_t>(format.Channels);
    FBlockAlign = std::max<std::uint32_t>(format.BlockAlign, 1);
    FChunkBytes = std::max<std::uint32_t>(format.SamplesPerSec / ReadsPerSecond, 1) * FBlockAlign;
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(-1);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = FChunkBytes;
    // The server resolves a number given as the device name as a source index.
    const std::string name = std::to_string(device);
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, "orvane3", PA_STREAM_RECORD,
                                      device == audio::DefaultWaveDevice ? nullptr : name.c_str(),
                                      "capture", &sampleSpec, nullptr, &attr, &error);
    if (!stream) return pa_strerror(error);
    std::lock_guard lock(FLock);
    FStream = stream;
    FQueue.clear();
    FStop = false;
    FFrames.store(0);
    FOnBufferDone = std::move(onBufferDone);
    return {};
}

std::string TPulseWaveIn::AddBuffer(std::uint8_t* data, std::uint32_t size) {
    if (!data || size == 0 || size % FBlockAlign != 0) return pa_strerror(PA_ERR_INVALID);
    std::lock_guard lock(FLock);
    if (FStop || (!FStream && !FThread.joinable())) return pa_strerror(PA_ERR_BADSTATE);
    FQueue.push_back({data, size});
    FQueueChanged.notify_one();
    return {};
}

std::string TPulseWaveIn::StartRecording() {
    std::lock_guard lock(FLock);
    if (!FStream || FThread.joinable()) return pa_strerror(PA_ERR_BADSTATE);
    pa_simple* stream = std::exchange(FStream, nullptr);
    FThread = std::thread([this, stream] { Execute(stream); });
    return {};
}

void TPulseWaveIn::Execute(pa_simple* stream) {
    for (;;) {
        TQueued buffer{};
        {
            std::unique_lock lock(FLock);
            FQueueChanged.wait(lock, [this] { return FStop || !FQueue.empty(); });
            if (FStop) break;
            buffer = FQueue.front();
        }
        std::uint32_t filled = 0;
        bool failed = false;
        while (filled < buffer.Size) {
            {
                std::lock_guard lock(FLock);
                if (FStop) break;
            }
            const std::uint32_t bytes = std::min(FChunkBytes, buffer.Size - filled);
            int error = 0;
            if (pa_simple_read(stream, buffer.Data + filled, bytes, &error) < 0) {
                failed = true;  // the server went away: buffers stop coming back, as a dead
                break;          // device's would
            }
            filled += bytes;
            FFrames.fetch_add(bytes / FBlockAlign);
        }
        if (failed) {
            std::unique_lock lock(FLock);
            FQueueChanged.wait(lock, [this] { return FStop; });
            break;
        }
        {
            std::lock_guard lock(FLock);
            if (FStop) break;
            FQueue.pop_front();
        }
        // Reported without our lock: the report may queue the buffer again or close us.
        FOnBufferDone(filled);
    }
    pa_simple_free(stream);
}

void TPulseWaveIn::Close() {
    pa_simple* stream = nullptr;
    {
        std::lock_guard lock(FLock);
        FStop = true;
        FQueue.clear();
        stream = std::exchange(FStream, nullptr);
        FQueueChanged.notify_all();
    }
    if (stream) pa_simple_free(stream);
    // From within its own report the capture thread leaves after the report returns; the next
    // Open or the destructor waits for it.
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) JoinCapture();
}

void TPulseWaveIn::JoinCapture() {
    std::thread thread;
    {
        std::lock_guard lock(FLock);
        if (!FThread.joinable() || FThread.get_id() == std::this_thread::get_id()) return;
        thread = std::move(FThread);
    }
    thread.join();
}

bool TPulseWaveIn::Position(std::uint64_t& samples) const {
    samples = FFrames.load();
    return true;
}

std::unique_ptr<audio::TAudioIn> MakePulseAudioIn() {
    return std::make_unique<audio::TAudioIn>(std::make_unique<TPulseWaveIn>());
}

// --- TAudioInCapture -----------------------------------------------------------------------

TAudioInCapture::TAudioInCapture(std::unique_ptr<audio::TAudioIn> audioIn)
    : FAudioIn(std::move(audioIn)) {
    FAudioIn->OnBufferFilled = [this](std::uint8_t* buffer, std::int32_t& size) {
        if (!OnBufferFilled) return true;
        return OnBufferFilled(buffer, static_cast<std::uint32_t>(std::max(size, 0)));
    };
}

bool TAudioInCapture::Start(const recognition::TCaptureFormat& format) {
    FAudioIn->SetWaveDevice(format.DevNo);
    FAudioIn->SetFrameRate(static_cast<std::int32_t>(format.SampleRate));
    FAudioIn->SetStereo(format.Channels == 2);
    FAudioIn->SetQuantization(16);
    FAudioIn->SetNumBuffers(audio::MaxBuffers);
    // Format first: the buffer size is rounded to the block alignment of the new format.
    FAudioIn->SetBufferSize(static_cast<std::int32_t>(format.BufferBytes));
    return FAudioIn->Start();
}

void TAudioInCapture::Stop() { FAudioIn->StopAtOnce(); }

bool TAudioInCapture::Recording() const { return FAudioIn->DeviceOpen(); }

std::string TAudioInCapture::ErrorMessage() const { return FAudioIn->ErrorMessage(); }

std::unique_ptr<recognition::IAudioCapture> MakePulseCapture() {
    return std::make_unique<TAudioInCapture>(MakePulseAudioIn());
}

}  // namespace orvane::platform
