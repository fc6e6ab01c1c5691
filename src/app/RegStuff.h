// The settings store: loads the user's settings from QSettings into the live copy (a TSettings
// record, the channels' device names and captions, the compatibility flag, the tracker's idle
// timeout, the events switch) and saves them back, then publishes the recognition thread's
// snapshot. On Linux the store is the INI file $XDG_CONFIG_HOME/OrvanePro3.conf; on Windows the
// registry key HKEY_CURRENT_USER\Software\OrvanePro3.
// Thread: main thread only. The snapshot is handed over under the recognition lock.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/TSettings.h"
#include "recognition/IAudioCapture.h"

class QSettings;

namespace orvane::recognition {
class TChannelBasic;
class TRecognitionLock;
}  // namespace orvane::recognition
namespace orvane::tracking {
class TEventServe;
class TLogSystem;
}  // namespace orvane::tracking

namespace orvane::app {

/// The organisation name the settings are kept under.
inline constexpr char SettingsOrganisation[] = "OrvanePro3";

/// Where the settings live and which folders the defaults start from.
struct TSettingsLocation {
    /// The INI file of the store; empty: the user's native store (organisation "OrvanePro3").
    QString FileName;
    /// The user's documents folder, ending with the native separator.
    QString DocumentsFolder;
    /// The user's music folder, ending with the native separator.
    QString MusicFolder;

    /// The user's own store, with the documents and music folders of QStandardPaths (XDG on
    /// Linux). QSettings::setPath moves it (tests do).
    static TSettingsLocation User();
    /// A store in the INI file `fileName` (tests, a portable setup). Folders get a trailing
    /// separator when they lack one.
    static TSettingsLocation File(QString fileName, QString documentsFolder, QString musicFolder);

    /// Opens the store. Never null.
    std::unique_ptr<QSettings> Open() const;
    /// The fingerprint folder of a first start: documents folder + "My Fingerprints" + separator.
    QString DefaultFpFolder() const;
};

class TSettingsStore {
public:
    /// A store whose live copy holds the defaults of `location`. Nothing is read yet.
    explicit TSettingsStore(TSettingsLocation location);
    ~TSettingsStore();
    TSettingsStore(const TSettingsStore&) = delete;
    TSettingsStore& operator=(const TSettingsStore&) = delete;

    /// The live copy of every setting. Main thread.
    TSettings Settings;

    /// Loads (`save` false) or saves (`save` true) the settings in the fixed order, then
    /// publishes the snapshot. Load returns false when the store holds nothing yet (first start:
    /// the live copy keeps its values, and the fingerprint folder is examined and made as on
    /// any start); save returns false, without
    /// a snapshot, when the store cannot be written. A value of the wrong type, out of its range,
    /// or an IdleTimeout that is not a whole number gets an error naming the value (LastErrors,
    /// OnError) and its default; the rest still loads. Main thread.
    bool RegStuff(bool save);

    /// The errors of the last RegStuff, in the order they were found. Main thread.
    const std::vector<std::string>& LastErrors() const { return FErrors; }
    /// The last load found the fingerprint folder empty or missing: the main window shows its
    /// first-steps tip. Main thread.
    bool FirstStepsTip() const { return FFirstStepsTip; }
    /// The snapshot published last. Main thread.
    const TSettingsSnapshot& Snapshot() const { return FSnapshot; }
    /// The process-wide compatibility flag the audio intake follows (changed only by rule 5:
    /// restarting the channels). Main thread.
    bool CompatibilityFlag() const { return FCompatibilityFlag; }
    /// The file (or registry path) of the store.
    QString StoreName() const;

    /// Channel `channel.Id()` takes its device name and caption from the settings on load and
    /// gives them on save, and follows the compatibility flag. Not owned; must outlive the store
    /// or be detached with nullptr. Main thread.
    void AttachChannel(std::int32_t index, recognition::TChannelBasic* channel);
    /// The recognition lock under which OnSnapshot runs (not owned; may be null).
    void SetRecognitionLock(recognition::TRecognitionLock* lock) { FRecognitionLock = lock; }
    /// The tracker whose idle timeout follows IdleTimeout (not owned; may be null).
    void SetLogSystem(tracking::TLogSystem* logSystem) { FLogSystem = logSystem; }
    /// The event table whose switch follows EventsEnabled (not owned; may be null).
    void SetEventServe(tracking::TEventServe* events) { FEvents = events; }

    /// After the device list was read again: every attached channel with a device name takes
    /// the whole entry of the last device of that name; without one it keeps name and number.
    void ReloadSoundConfig(const std::vector<recognition::TLInfo>& devices);
    /// The same for one device record.
    static void ResolveDevice(recognition::TLInfo& device,
                              const std::vector<recognition::TLInfo>& devices);

    /// A load examines the fingerprint folder and creates it when missing (on by default; the
    /// command-line tool turns it off).
    bool FolderChecks = true;
    /// Called with the snapshot after every load and save; main thread, with the recognition
    /// lock held when one is set.
    std::function<void(const TSettingsSnapshot& snapshot)> OnSnapshot;
    /// Called with each error text as it is found ("Directory could not be created.", a value of
    /// the wrong type). Main thread.
    std::function<void(const std::string& message)> OnError;

private:
    bool Load();
    bool Save();
    void ApplyCompatibility();
    void ApplySide(recognition::TChannelBasic& channel, std::int32_t side);
    void CheckFingerprintFolder();
    void PublishSnapshot();
    void ApplyToEngine();
    void ReportError(std::string message);

    TSettingsLocation FLocation;
    std::vector<recognition::TChannelBasic*> FChannels;
    recognition::TRecognitionLock* FRecognitionLock = nullptr;
    tracking::TLogSystem* FLogSystem = nullptr;
    tracking::TEventServe* FEvents = nullptr;
    std::vector<std::string> FErrors;
    TSettingsSnapshot FSnapshot;
    bool FFirstStepsTip = false;
    bool FCompatibilityFlag = false;
};

/// Makes `folder` end with the native separator ("" stays "").
QString WithTrailingSeparator(QString folder);

}  // namespace orvane::app
