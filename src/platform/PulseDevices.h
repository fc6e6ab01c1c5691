// The capture devices of this machine: the PulseAudio sources, listed the way the device
// dialog shows them, the default source first in the default device's place.
// Thread: any; every call opens its own short connection to the sound server.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/AudioIO.h"
#include "base/Errors.h"

namespace orvane::platform {

/// The sound server cannot be reached or refuses the listing; carries PulseAudio's text.
class EPulseError : public EError {
public:
    using EError::EError;
};

/// One PulseAudio source.
struct TPulseSource {
    std::uint32_t Index = 0;  ///< the server's source index, used as the device number
    std::string Name;         ///< unique name, e.g. "alsa_input.pci-0000_00_1f.3.analog-stereo"
    std::string Description;  ///< human-readable, e.g. "Monitor of Null Output"
    bool Monitor = false;     ///< records what a sink plays
};

/// What the server reports: its default source and every source, in index order.
struct TPulseSources {
    std::string DefaultSource;
    std::vector<TPulseSource> Sources;
};

/// What a failure text of PulseAudio means for the user when the sound server itself is the
/// trouble: "no sound server (PulseAudio or PipeWire) is running." for a refused connection,
/// and likewise for a server that does not answer or refuses this user. Empty for any other
/// text (a missing source, a format the source cannot give, ...).
std::string SoundServerProblem(const std::string& pulseText);

/// The message of a channel whose capture device cannot be opened: for a sound server problem
/// `Channel01: the audio input "default" cannot be opened: no sound server (PulseAudio or
/// PipeWire) is running. (Connection refused)` (the device "" is "default"); any other failure
/// keeps its text as it is.
std::string CaptureFailureText(const std::string& caption, const std::string& device,
                               const std::string& pulseText);

/// The message when the capture devices cannot be listed: for a sound server problem
/// `the audio inputs cannot be listed: no sound server (PulseAudio or PipeWire) is running.
/// (Connection refused)`, else `the sound server could not be reached: <text>`.
std::string ListingFailureText(const std::string& pulseText);

/// Lists the sources of the server named by PULSE_SERVER (or the user's default server).
/// Throws EPulseError with PulseAudio's text when the server cannot be reached in 5 seconds.
TPulseSources ListPulseSources();

/// The usable capture devices. Main thread.
class QnDevices {
public:
    /// Loads the devices at once (loadDevices).
    QnDevices();

    /// LInfos := the default device (empty name, number 0xFFFFFFFF, manufacturer 1), then every
    /// source (its name, its index, manufacturer 0). PulseAudio converts any source to the
    /// engine format, so none is filtered out. When the server cannot be reached only the
    /// default device is listed and ErrorMessage keeps the reason.
    void loadDevices();
    /// Appends one device.
    void addDevice(const std::string& name, std::uint32_t deviceNo, std::uint16_t manufacturer);
    /// Empties LInfos.
    void disposeLInfos();
    /// The device called `name` ("" is the default device), or nullptr. The pointer lives until
    /// the list changes.
    const audio::TLInfo* FindByName(const std::string& name) const;

    std::vector<audio::TLInfo> LInfos;
    /// The sources as the server reported them at the last load (for descriptions).
    TPulseSources Sources;
    /// Why the last load listed no source, or empty.
    std::string ErrorMessage;
};

}  // namespace orvane::platform
