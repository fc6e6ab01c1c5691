#include "audio/AudioIO.h"

#include <algorithm>
#include <new>
#include <utility>

namespace orvane::audio {

namespace {

/// Buffers are allocated for the largest rotation, so NumBuffers never outgrows them.
constexpr std::int32_t MinBuffers = 2;
constexpr std::int32_t MinBufferSize = 512;

}  // namespace

// --- TAudioIO -----------------------------------------------------------------------------

TAudioIO::TAudioIO() {
    std::lock_guard lock(FLock);
    RecomputeFormat();
}

TAudioIO::~TAudioIO() = default;

void TAudioIO::RecomputeFormat() {
    FNumBuffers = FNumBuffersProp;
    FWaveFmtEx.FormatTag = 1;
    FWaveFmtEx.Channels = FStereo ? 2 : 1;
    FWaveFmtEx.SamplesPerSec = static_cast<std::uint32_t>(std::max(FFrameRate, 0));
    FWaveFmtEx.BitsPerSample = FQuantization;
    FWaveFmtEx.BlockAlign =
        static_cast<std::uint16_t>(FWaveFmtEx.BitsPerSample / 8 * FWaveFmtEx.Channels);
    FWaveFmtEx.AvgBytesPerSec = FWaveFmtEx.BlockAlign * FWaveFmtEx.SamplesPerSec;
    FWaveFmtEx.ExtraSize = 0;
    const std::int32_t align = FWaveFmtEx.BlockAlign;
    FBufferSize = FRequestedBufferSize - FRequestedBufferSize % align;
    if (FBufferSize != FAllocatedSize) AllocateBuffers();
}

void TAudioIO::AllocateBuffers() {
    WaveBuffer.clear();
    FAllocatedSize = -1;
    try {
        WaveBuffer.assign(MaxBuffers,
                          std::vector<std::uint8_t>(static_cast<std::size_t>(FBufferSize)));
        FAllocatedSize = FBufferSize;
    } catch (const std::bad_alloc&) {
        WaveBuffer.clear();
        FErrorMessage = "Error allocating wave buffer memory";
    }
}

void TAudioIO::SetBufferSize(std::int32_t bytes) {
    std::lock_guard lock(FLock);
    FRequestedBufferSize = std::max(bytes, MinBufferSize);
    if (!WaveDeviceOpen) RecomputeFormat();
}

std::int32_t TAudioIO::BufferSize() const {
    std::lock_guard lock(FLock);
    return FBufferSize;
}

std::int32_t TAudioIO::RequestedBufferSize() const {
    std::lock_guard lock(FLock);
    return FRequestedBufferSize;
}

void TAudioIO::SetNumBuffers(std::int32_t count) {
    std::lock_guard lock(FLock);
    FNumBuffersProp = std::clamp(count, MinBuffers, MaxBuffers);
    if (!WaveDeviceOpen) RecomputeFormat();
}

std::int32_t TAudioIO::NumBuffers() const {
    std::lock_guard lock(FLock);
    return FNumBuffersProp;
}

void TAudioIO::SetFrameRate(std::int32_t rate) {
    std::lock_guard lock(FLock);
    FFrameRate = rate;
    if (!WaveDeviceOpen) RecomputeFormat();
}

std::int32_t TAudioIO::FrameRate() const {
    std::lock_guard lock(FLock);
    return FFrameRate;
}

void TAudioIO::SetStereo(bool stereo) {
    std::lock_guard lock(FLock);
    FStereo = stereo;
    if (!WaveDeviceOpen) RecomputeFormat();
}

bool TAudioIO::Stereo() const {
    std::lock_guard lock(FLock);
    return FStereo;
}

void TAudioIO::SetQuantization(std::uint16_t bits) {
    std::lock_guard lock(FLock);
    FQuantization = bits <= 8 ? 8 : 16;
    if (!WaveDeviceOpen) RecomputeFormat();
}

std::uint16_t TAudioIO::Quantization() const {
    std::lock_guard lock(FLock);
    return FQuantization;
}

void TAudioIO::SetWaveDevice(std::uint32_t device) {
    std::lock_guard lock(FLock);
    FWaveDevice = device;
}

std::uint32_t TAudioIO::WaveDevice() const {
    std::lock_guard lock(FLock);
    return FWaveDevice;
}

TWaveFormat TAudioIO::WaveFormat() const {
    std::lock_guard lock(FLock);
    return FWaveFmtEx;
}

std::string TAudioIO::ErrorMessage() const {
    std::lock_guard lock(FLock);
    return FErrorMessage;
}

bool TAudioIO::Active() const {
    std::lock_guard lock(FLock);
    return FActive;
}

std::int32_t TAudioIO::FilledBuffers() const {
    std::lock_guard lock(FLock);
    return FFilledBuffers;
}

std::int32_t TAudioIO::QueuedBuffers() const {
    std::lock_guard lock(FLock);
    return FQueuedBuffers;
}

std::int32_t TAudioIO::ProcessedBuffers() const {
    std::lock_guard lock(FLock);
    return FProcessedBuffers;
}

// --- TAudioIn -----------------------------------------------------------------------------

TAudioIn::TAudioIn(std::unique_ptr<IWaveInDriver> driver) : FDriver(std::move(driver)) {}

TAudioIn::~TAudioIn() {
    StopAtOnce();
    FAlive.reset();
    FDriver.reset();
}

bool TAudioIn::Start() {
    std::unique_lock lock(FLock);
    if (WaveDeviceOpen) {
        FErrorMessage = "Wave Input device is already open";
        return false;
    }
    BufIndex = 0;
    RecomputeFormat();
    if (static_cast<std::int32_t>(WaveBuffer.size()) < FNumBuffers || FBufferSize <= 0) {
        if (FErrorMessage.empty()) FErrorMessage = "Error allocating wave buffer memory";
        return false;
    }
    const std::uint64_t session = ++FSession;
    const std::uint32_t device = FWaveDevice;
    const TWaveFormat format = FWaveFmtEx;
    // Opening may wait for the capture thread of an earlier recording to end, which may still
    // be reporting to us: never hold the lock across it.
    lock.unlock();
    std::string error = FDriver->Open(
        device, format, [this, session](std::uint32_t) { DriverBufferDone(session); });
    lock.lock();
    if (!error.empty()) {
        FErrorMessage = std::move(error);
        return false;
    }
    WaveDeviceOpen = true;
    FQueuedBuffers = 0;
    FProcessedBuffers = 0;
    FFilledBuffers = 0;
    ContinueProcessing = true;
    FActive = true;
    error = FDriver->StartRecording();
    if (!error.empty()) {
        CloseDevice(lock);
        FErrorMessage = "Error starting wave record: " + error;
        lock.unlock();
        NotifyStop();
        return false;
    }
    FActive = true;
    FOldest = 0;
    for (std::int32_t i = 0; i < FNumBuffers; ++i) {
        if (!QueueStep(i)) {
            CloseDevice(lock);
            lock.unlock();
            NotifyStop();
            return false;
        }
    }
    lock.unlock();
    if (OnStart) OnStart();
    return true;
}

bool TAudioIn::QueueStep(std::int32_t index) {
    std::string error = FDriver->AddBuffer(WaveBuffer[static_cast<std::size_t>(index)].data(),
                                           static_cast<std::uint32_t>(FBufferSize));
    if (!error.empty()) {
        FErrorMessage = std::move(error);
        ContinueProcessing = false;  // a graceful stop: what is queued drains, then it closes
        return false;
    }
    FInDriver[static_cast<std::size_t>((FOldest + FQueuedBuffers) % MaxBuffers)] = index;
    BufIndex = (index + 1) % FNumBuffers;
    ++FQueuedBuffers;
    return true;
}

void TAudioIn::CloseDevice(std::unique_lock<std::mutex>& lock) {
    FActive = false;
    ContinueProcessing = false;
    // Closing joins the capture thread, which may be waiting for the lock to report a buffer.
    lock.unlock();
    FDriver->Close();
    lock.lock();
    // Every buffer still in the driver came back with the reset.
    FProcessedBuffers += FQueuedBuffers;
    FQueuedBuffers = 0;
    WaveDeviceOpen = false;
}

void TAudioIn::NotifyStop() {
    if (OnStop) OnStop();
}

void TAudioIn::StopAtOnce() {
    std::unique_lock lock(FLock);
    if (!WaveDeviceOpen) return;
    FActive = false;
    ContinueProcessing = false;
    ++FSession;  // reports already on their way are dropped
    CloseDevice(lock);
    lock.unlock();
    NotifyStop();
}

void TAudioIn::StopGracefully() {
    std::lock_guard lock(FLock);
    if (!WaveDeviceOpen) return;
    ContinueProcessing = false;
}

double TAudioIn::ElapsedTime() const {
    std::lock_guard lock(FLock);
    if (!FActive || FWaveFmtEx.SamplesPerSec == 0) return 0.0;
    std::uint64_t samples = 0;
    if (!FDriver->Position(samples)) return 0.0;
    return static_cast<double>(samples) / FWaveFmtEx.SamplesPerSec;
}

bool TAudioIn::DeviceOpen() const {
    std::lock_guard lock(FLock);
    return WaveDeviceOpen;
}

void TAudioIn::DriverBufferDone(std::uint64_t session) {
    if (!Deliver) {
        BufferDoneStep(session);
        return;
    }
    std::weak_ptr<int> alive = FAlive;
    Deliver([this, alive, session] {
        if (alive.lock()) BufferDoneStep(session);
    });
}

void TAudioIn::BufferDoneStep(std::uint64_t session) {
    std::unique_lock lock(FLock);
    if (session != FSession || !WaveDeviceOpen) return;
    // The driver returns buffers in queue order, so the one done is the oldest it holds.
    const std::int32_t index = FInDriver[static_cast<std::size_t>(FOldest)];
    FOldest = (FOldest + 1) % MaxBuffers;
    ++FProcessedBuffers;
    --FQueuedBuffers;
    FActive = FQueuedBuffers > 0;
    bool consumed = false;
    if (ContinueProcessing) {
        std::uint8_t* data = WaveBuffer[static_cast<std::size_t>(index)].data();
        std::int32_t size = FBufferSize;
        lock.unlock();
        consumed = OnBufferFilled ? OnBufferFilled(data, size) : true;
        lock.lock();
        if (session != FSession || !WaveDeviceOpen) return;  // stopped by the handler
        if (consumed) ++FFilledBuffers;
    }
    if (consumed && ContinueProcessing) {
        QueueStep(index);
        // The re-queued buffer keeps the recording alive: it stops only when every buffer is
        // out of rotation.
        FActive = FQueuedBuffers > 0;
    }
    if (!FActive) {
        ++FSession;
        CloseDevice(lock);
        lock.unlock();
        NotifyStop();
    }
}

}  // namespace orvane::audio
