// A private PulseAudio server for tests: its own runtime folder, a null sink whose monitor is a
// capture source, and a player that plays samples into the sink.
// Thread: created and destroyed on the test's thread; TPlayer plays on a thread of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "support/TempDir.h"

namespace orvane::test {

class TPulseServer {
public:
    /// Starts `pulseaudio` with a null sink called SinkName and points PULSE_SERVER of this
    /// process at it; waits until it answers. Failure leaves Running() false and the reason in
    /// Error() (the binary is missing, or it did not come up in 10 s).
    TPulseServer();
    /// Stops the server and restores PULSE_SERVER.
    ~TPulseServer();
    TPulseServer(const TPulseServer&) = delete;
    TPulseServer& operator=(const TPulseServer&) = delete;

    bool Running() const { return FPid > 0 && FError.empty(); }
    const std::string& Error() const { return FError; }
    /// The null sink and its monitor source.
    static constexpr const char* SinkName = "orvane_test_sink";
    static std::string MonitorName() { return std::string(SinkName) + ".monitor"; }
    /// "unix:<socket>".
    const std::string& ServerAddress() const { return FAddress; }

private:
    TTempDir FDir;
    std::string FAddress;
    std::string FError;
    pid_t FPid = -1;
    bool FHadServerVariable = false;
    std::string FOldServerVariable;
};

/// What `pactl <arguments>` prints, errors included (the server is the one PULSE_SERVER names).
std::string Pactl(const std::string& arguments);

/// Plays 16-bit samples into the server's default sink on a thread of its own.
class TPlayer {
public:
    /// Starts playing at once; `channels` interleaved channels at `rate` Hz.
    TPlayer(std::vector<std::int16_t> samples, int rate, int channels = 1);
    /// Waits until everything is played.
    ~TPlayer();
    TPlayer(const TPlayer&) = delete;
    TPlayer& operator=(const TPlayer&) = delete;
    /// Waits until everything is played (drained); returns PulseAudio's error text or "".
    std::string Wait();

private:
    std::thread FThread;
    std::string FError;
};

}  // namespace orvane::test
