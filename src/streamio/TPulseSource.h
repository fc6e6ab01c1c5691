// A PulseAudio sound input as a stream source: "pulse:default" or "pulse:SOURCENAME",
// recorded as 16-bit mono at 11025 Hz in 4096-sample buffers.
// Thread: opened and read by the stream's worker; the capture thread queues the buffers.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "recognition/IAudioCapture.h"
#include "stream/IStreamSource.h"

namespace orvane::streamio {

class TPulseSource final : public stream::IStreamSource {
public:
    /// `sourceName`: a source of 'orvane3-cli devices', or "default".
    explicit TPulseSource(std::string sourceName);
    /// Stops the recording.
    ~TPulseSource() override;
    TPulseSource(const TPulseSource&) = delete;
    TPulseSource& operator=(const TPulseSource&) = delete;

    /// Finds the source and starts recording; throws EStreamError with the reason.
    void Open() override;
    /// The buffers recorded since the last call; waits up to a second for one. Throws
    /// EStreamError when nothing was recorded for 10 s.
    bool Read(std::vector<std::int16_t>& samples) override;
    void Interrupt() override;
    bool RealTime() const override { return true; }

private:
    std::string FSourceName;
    std::unique_ptr<recognition::IAudioCapture> FCapture;
    std::mutex FLock;  // guards FQueue, FInterrupted
    std::condition_variable FQueued;
    std::deque<std::vector<std::int16_t>> FQueue;
    bool FInterrupted = false;
};

}  // namespace orvane::streamio
