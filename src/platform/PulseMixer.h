// The mixer controls of one PulseAudio source: its volume per channel and its mute, read and
// set, and a report when anybody (this program, pavucontrol, the server) changes them.
// Thread: one owning thread. Nothing runs behind its back: the server's change reports are
// collected only while the owner calls Poll (or waits inside Read and the setters).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/PulseDevices.h"

namespace orvane::platform {

/// The volume PulseAudio calls 100 % (PA_VOLUME_NORM); 0 is silence.
inline constexpr std::uint32_t PulseVolumeNorm = 0x10000U;

/// What a source's controls hold at one moment.
struct TPulseSourceControls {
    std::uint32_t Index = 0;   ///< the server's source index
    std::string Name;          ///< unique name
    std::string Description;   ///< human-readable, e.g. "Monitor of Null Output"
    /// The channel names in the source's channel map ("front-left", "front-right", "mono" ...).
    std::vector<std::string> ChannelNames;
    /// The volume of each channel, 0 ... PulseVolumeNorm (and above when amplified).
    std::vector<std::uint32_t> Volumes;
    bool Mute = false;
    /// The number of distinct volume steps the source offers (65537 for a software volume).
    std::uint32_t VolumeSteps = PulseVolumeNorm + 1;
};

/// A connection to the sound server for the controls of one source.
class TPulseMixer {
public:
    /// Connects to the server named by PULSE_SERVER (or the user's default) and looks up the
    /// source `sourceName` ("" is the server's default source). Throws EPulseError with
    /// PulseAudio's text when the server cannot be reached in 5 seconds or the source does not
    /// exist ("No such entity").
    explicit TPulseMixer(const std::string& sourceName);
    ~TPulseMixer();
    TPulseMixer(const TPulseMixer&) = delete;
    TPulseMixer& operator=(const TPulseMixer&) = delete;

    /// The source's controls as the server holds them now. Throws EPulseError.
    TPulseSourceControls Read();
    /// Sets the volume of every channel (one value per channel, as many as Read gives).
    /// Throws EPulseError when the server refuses them (a wrong channel count among others).
    void SetVolumes(const std::vector<std::uint32_t>& volumes);
    /// Mutes or unmutes the source. Throws EPulseError.
    void SetMute(bool mute);
    /// Handles what the server sent meanwhile, without waiting; true when the source's controls
    /// changed since the last Poll (by anybody, this mixer included). Throws EPulseError when
    /// the connection broke.
    bool Poll();

private:
    class TImpl;
    std::unique_ptr<TImpl> FImpl;
};

}  // namespace orvane::platform
