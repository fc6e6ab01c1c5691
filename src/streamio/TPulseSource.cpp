#include "streamio/TPulseSource.h"

#include <chrono>
#include <cstring>
#include <utility>

#include "platform/PulseCapture.h"
#include "platform/PulseDevices.h"

namespace orvane::streamio {

namespace {
/// Buffers kept while the worker is busy (about 24 s); older ones are dropped.
constexpr std::size_t MaxQueuedBuffers = 64;
}  // namespace

TPulseSource::TPulseSource(std::string sourceName) : FSourceName(std::move(sourceName)) {}

TPulseSource::~TPulseSource() {
    if (FCapture) FCapture->Stop();
}

void TPulseSource::Open() {
    recognition::TCaptureFormat format;
    if (FSourceName != "default") {
        platform::QnDevices devices;
        const audio::TLInfo* found = devices.FindByName(FSourceName);
        if (found == nullptr) {
            throw stream::EStreamError(
                "no sound input \"" + FSourceName + "\"" +
                (devices.ErrorMessage.empty() ? "" : ": " + devices.ErrorMessage));
        }
        format.DevNo = found->DevNo;
    }
    format.SampleRate = 11025;
    format.Channels = 1;
    format.BufferBytes = 8192;
    FCapture = platform::MakePulseCapture();
    FCapture->OnBufferFilled = [this](const std::uint8_t* buffer, std::uint32_t size) {
        std::vector<std::int16_t> samples(size / 2);
        std::memcpy(samples.data(), buffer, samples.size() * 2);
        {
            std::lock_guard lock(FLock);
            if (FQueue.size() >= MaxQueuedBuffers) FQueue.pop_front();
            FQueue.push_back(std::move(samples));
        }
        FQueued.notify_one();
        return true;
    };
    if (!FCapture->Start(format)) {
        throw stream::EStreamError("the sound input cannot be recorded: " +
                                   FCapture->ErrorMessage());
    }
}

bool TPulseSource::Read(std::vector<std::int16_t>& samples) {
    std::unique_lock lock(FLock);
    const auto giveUp =
        std::chrono::steady_clock::now() + std::chrono::seconds(stream::NoAudioTimeoutSeconds);
    while (FQueue.empty() && !FInterrupted) {
        if (FQueued.wait_for(lock, std::chrono::seconds(1)) == std::cv_status::timeout &&
            std::chrono::steady_clock::now() > giveUp) {
            throw stream::EStreamError("no audio for " +
                                       std::to_string(stream::NoAudioTimeoutSeconds) + " s");
        }
        if (FQueue.empty()) return true;  // the caller's own no-audio check runs meanwhile
    }
    if (FInterrupted) throw stream::EStreamError("stopped");
    while (!FQueue.empty()) {
        samples.insert(samples.end(), FQueue.front().begin(), FQueue.front().end());
        FQueue.pop_front();
    }
    return true;
}

void TPulseSource::Interrupt() {
    {
        std::lock_guard lock(FLock);
        FInterrupted = true;
    }
    FQueued.notify_all();
}

}  // namespace orvane::streamio
