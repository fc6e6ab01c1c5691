// Stand-ins around a channel: a capture device driven by hand, a search that records the blocks
// it is given, and the engine objects a channel needs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recognition/IAudioCapture.h"
#include "recognition/TChannelBasic.h"
#include "tracking/TPosting.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TrackingFakes.h"

namespace orvane::recognition::test {

class TFakeCapture final : public IAudioCapture {
public:
    bool Start(const TCaptureFormat& format) override {
        ++Starts;
        LastFormat = format;
        FRecording = !FailStart;
        return !FailStart;
    }
    void Stop() override {
        ++Stops;
        FRecording = false;
    }
    bool Recording() const override { return FRecording; }
    std::string ErrorMessage() const override { return "The device is busy."; }
    /// Delivers one buffer as the device would.
    bool Deliver(const std::vector<std::int16_t>& samples) {
        std::vector<std::uint8_t> bytes;
        for (std::int16_t s : samples) {
            bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
        }
        return OnBufferFilled(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    }

    bool FailStart = false;
    int Starts = 0;
    int Stops = 0;
    TCaptureFormat LastFormat;

private:
    bool FRecording = false;
};

/// A search that calls a function per block (default: nothing) and counts.
class TRecordingSearch final : public IBlockProcessor {
public:
    void ProcessBlock(TChannelBasic& channel) override {
        Blocks.push_back(channel.ReadPos.load());
        if (OnBlock) OnBlock(channel);
    }
    std::vector<std::int32_t> Blocks;
    std::function<void(TChannelBasic&)> OnBlock;
};

/// Little-endian bytes of 16-bit samples.
inline std::vector<std::uint8_t> Bytes(const std::vector<std::int16_t>& samples) {
    std::vector<std::uint8_t> bytes;
    for (std::int16_t s : samples) {
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
    }
    return bytes;
}

/// The samples of block `block` of a channel's stream ring.
inline std::vector<std::int16_t> BlockOf(const TChannelBasic& channel, std::int32_t block) {
    const auto first = channel.StreamData.begin() + block * BlockSamples;
    return {first, first + BlockSamples};
}

}  // namespace orvane::recognition::test
