// The user's settings as one plain record, with the defaults of a first start, and the copy of
// them the recognition thread works with. Free of Qt so that engine parts and the command-line
// tool take the values as they are.
// Thread: a record is a plain value; the live copy belongs to the main thread (TSettingsStore).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::app {

/// The settings of one channel, stored with the channel number as suffix ("ChannelDevice0").
struct TChannelSettings {
    /// Name of the sound input device; empty: the system's default input.
    std::string Device;
    /// The caption shown on the channel's tab ("Channel01").
    std::string Caption;
    /// Input side: 0 mono (left and right), 1 left only, 2 right only.
    std::int32_t Mode = 0;

    friend bool operator==(const TChannelSettings&, const TChannelSettings&) = default;
};

/// Every stored setting. Folders are absolute and end with the native separator.
struct TSettings {
    /// Fingerprint folder: every .qnf is read from and written into it.
    std::string FpFolder;
    /// Folder of audio files for batch fingerprinting.
    std::string BatFolder;
    bool DeepSearch = true;
    /// Speak each newly recognised clip.
    bool Announce = false;
    /// Minimise to the tray instead of the task bar.
    bool Systray = true;
    /// Tray balloons for newly recognised clips.
    bool Balloon = true;
    /// Recognition thread priority: -1 below normal ("low"), 0 normal, 1 above normal ("high").
    std::int32_t Priority = -1;
    /// Which of two duplicate fingerprints stays enabled: 0 the shortest, 1 the longest.
    std::int32_t DuplicateKeep = 1;
    /// Assume high integrity of the input.
    bool Highquality = false;
    /// Robust recognition for noisy input (off: the standard search).
    bool RobustSearch = false;
    bool EventsEnabled = false;
    /// Compatibility mode of the audio intake (22050 Hz capture).
    bool Compatibility = false;
    /// At start, load every fingerprint and switch the channels on.
    bool ActiveOnLoad = true;
    /// Kept between load and save unchanged; nothing else reads it.
    std::string AutoFileName;
    /// One entry per channel, channel 0 first. The system has one channel.
    std::vector<TChannelSettings> Channels;
    /// Seconds without recognition after which a tracked clip expires; 0 or more.
    std::int32_t IdleTimeout = 5;
    /// "Simult" was present in the store: the simultaneous-channels list selects "1". Never
    /// written.
    bool SimultPresent = false;

    /// The record of a first start: `fingerprintFolder` and `batchFolder` as given (callers pass
    /// the documents folder + "My Fingerprints/" and the music folder), one channel "Channel01".
    static TSettings Defaults(std::string fingerprintFolder, std::string batchFolder);
    /// "Channel" followed by channel + 1 in at least two digits: "Channel01" for channel 0.
    static std::string DefaultChannelCaption(std::int32_t channel);

    friend bool operator==(const TSettings&, const TSettings&) = default;
};

/// The settings the recognition thread reads, refreshed after every load and save. Field names
/// are those of the recognition thread object.
struct TSettingsSnapshot {
    bool Form3CheckBoxBalloonChecked = true;   ///< Balloon
    bool Form3highIntegChecked = false;        ///< Highquality
    bool Form3Checkbox2checked = true;         ///< DeepSearch
    std::string Form3FolderFilesEdit1Text;     ///< FpFolder
    bool Form3KeepLongest = true;              ///< DuplicateKeep == 1
    bool RobustSearch = false;                 ///< RobustSearch

    /// The snapshot of `settings`.
    static TSettingsSnapshot Of(const TSettings& settings);

    friend bool operator==(const TSettingsSnapshot&, const TSettingsSnapshot&) = default;
};

}  // namespace orvane::app
