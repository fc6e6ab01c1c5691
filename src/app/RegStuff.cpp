#include "app/RegStuff.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>
#include <limits>
#include <mutex>
#include <utility>

#include "app/TQtPoster.h"
#include "base/Errors.h"
#include "recognition/TChannelBasic.h"
#include "recognition/TRecognitionLock.h"
#include "tracking/TEventServe.h"
#include "tracking/TLogSystem.h"

namespace orvane::app {

namespace {

QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }
std::string ToUtf8(const QString& text) { return text.toStdString(); }

QString Quoted(const QString& text) { return QLatin1Char('"') + text + QLatin1Char('"'); }

/// How a stored value reads for an error message: a text in quotes, otherwise its type.
QString Describe(const QVariant& value) {
    if (value.typeId() == QMetaType::QString) {
        return Quoted(value.toString());
    }
    const char* typeName = value.metaType().name();
    return QStringLiteral("a value of type %1")
        .arg(QString::fromLatin1(typeName != nullptr ? typeName : "unknown"));
}

bool IsIntegerType(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
            return true;
        default:
            return false;
    }
}

/// Reads stored values by type. A value that is missing leaves the target alone; one of the
/// wrong type or range sets the target to its default and reports an error naming the value.
/// Numbers and Booleans are accepted as registry numbers or as their decimal text (an INI file
/// keeps everything as text); Booleans read as true when not 0.
class TValueReader {
public:
    TValueReader(QSettings& settings, std::function<void(std::string)> report)
        : FSettings(settings), FReport(std::move(report)) {}

    /// True when the value was present and read.
    bool String(const QString& name, std::string& target, const std::string& defaultValue) {
        if (!FSettings.contains(name)) return false;
        const QVariant value = FSettings.value(name);
        if (value.typeId() == QMetaType::QString) {
            target = ToUtf8(value.toString());
            return true;
        }
        Wrong(name, value, QStringLiteral("a text"), Quoted(FromUtf8(defaultValue)));
        target = defaultValue;
        return false;
    }

    bool Boolean(const QString& name, bool& target, bool defaultValue) {
        if (!FSettings.contains(name)) return false;
        const QVariant value = FSettings.value(name);
        std::int64_t number = 0;
        if (value.typeId() == QMetaType::Bool) {
            target = value.toBool();
            return true;
        }
        if (Integer(value, number)) {
            target = number != 0;
            return true;
        }
        if (value.typeId() == QMetaType::QString) {
            const QString text = value.toString().trimmed();
            if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
                text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) {
                target = text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
                return true;
            }
        }
        Wrong(name, value, QStringLiteral("a Boolean (0 or 1)"),
              defaultValue ? QStringLiteral("1") : QStringLiteral("0"));
        target = defaultValue;
        return false;
    }

    bool Int(const QString& name, std::int32_t& target, std::int32_t defaultValue,
             std::int32_t minimum, std::int32_t maximum) {
        if (!FSettings.contains(name)) return false;
        const QVariant value = FSettings.value(name);
        std::int64_t number = 0;
        if (!Integer(value, number)) {
            Wrong(name, value, QStringLiteral("a whole number"), QString::number(defaultValue));
            target = defaultValue;
            return false;
        }
        if (number < minimum || number > maximum) {
            const QString range = maximum == std::numeric_limits<std::int32_t>::max()
                                      ? QStringLiteral("%1 or more").arg(minimum)
                                      : QStringLiteral("%1 to %2").arg(minimum).arg(maximum);
            Report(QStringLiteral("The setting \"%1\" holds %2, which is out of range (%3); its "
                                  "default %4 is used.")
                       .arg(name, QString::number(number), range, QString::number(defaultValue)));
            target = defaultValue;
            return false;
        }
        target = static_cast<std::int32_t>(number);
        return true;
    }

private:
    static bool Integer(const QVariant& value, std::int64_t& number) {
        if (IsIntegerType(value)) {
            bool ok = false;
            number = value.toLongLong(&ok);
            return ok;
        }
        if (value.typeId() == QMetaType::QString) {
            bool ok = false;
            number = value.toString().trimmed().toLongLong(&ok, 10);
            return ok;
        }
        return false;
    }

    void Wrong(const QString& name, const QVariant& value, const QString& expected,
               const QString& defaultText) {
        Report(QStringLiteral("The setting \"%1\" holds %2, which is not %3; its default %4 is "
                              "used.")
                   .arg(name, Describe(value), expected, defaultText));
    }

    void Report(const QString& message) { FReport(ToUtf8(message)); }

    QSettings& FSettings;
    std::function<void(std::string)> FReport;
};

QString ChannelKey(const char* name, std::size_t channel) {
    return QString::fromLatin1(name) + QString::number(channel);
}

}  // namespace

// --- location --------------------------------------------------------------------------------

QString WithTrailingSeparator(QString folder) {
    if (!folder.isEmpty() && !folder.endsWith(QDir::separator())) {
        folder += QDir::separator();
    }
    return folder;
}

TSettingsLocation TSettingsLocation::User() {
    TSettingsLocation location;
    location.DocumentsFolder = WithTrailingSeparator(QDir::toNativeSeparators(
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)));
    location.MusicFolder = WithTrailingSeparator(QDir::toNativeSeparators(
        QStandardPaths::writableLocation(QStandardPaths::MusicLocation)));
    return location;
}

TSettingsLocation TSettingsLocation::File(QString fileName, QString documentsFolder,
                                          QString musicFolder) {
    TSettingsLocation location;
    location.FileName = std::move(fileName);
    location.DocumentsFolder = WithTrailingSeparator(std::move(documentsFolder));
    location.MusicFolder = WithTrailingSeparator(std::move(musicFolder));
    return location;
}

std::unique_ptr<QSettings> TSettingsLocation::Open() const {
    if (FileName.isEmpty()) {
        // No application name: the store is the organisation's own key (OrvanePro3.conf).
        return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                           QString::fromLatin1(SettingsOrganisation));
    }
    return std::make_unique<QSettings>(FileName, QSettings::IniFormat);
}

QString TSettingsLocation::DefaultFpFolder() const {
    return WithTrailingSeparator(DocumentsFolder + QStringLiteral("My Fingerprints"));
}

// --- store -----------------------------------------------------------------------------------

TSettingsStore::TSettingsStore(TSettingsLocation location)
    : Settings(TSettings::Defaults(ToUtf8(location.DefaultFpFolder()),
                                   ToUtf8(location.MusicFolder))),
      FLocation(std::move(location)) {
    FSnapshot = TSettingsSnapshot::Of(Settings);
}

TSettingsStore::~TSettingsStore() = default;

QString TSettingsStore::StoreName() const { return FLocation.Open()->fileName(); }

void TSettingsStore::AttachChannel(std::int32_t index, recognition::TChannelBasic* channel) {
    if (!ORVANE_VERIFY(index >= 0)) {
        return;
    }
    const auto slot = static_cast<std::size_t>(index);
    if (FChannels.size() <= slot) {
        FChannels.resize(slot + 1, nullptr);
    }
    FChannels[slot] = channel;
    if (channel != nullptr) {
        channel->SetCompatibility(FCompatibilityFlag);
    }
}

bool TSettingsStore::RegStuff(bool save) {
    FErrors.clear();
    return save ? Save() : Load();
}

bool TSettingsStore::Load() {
    FFirstStepsTip = false;
    const std::unique_ptr<QSettings> store = FLocation.Open();
    if (store->status() == QSettings::FormatError) {
        ReportError("The settings store \"" + ToUtf8(store->fileName()) +
                    "\" is malformed; what could be read is used.");
    }
    if (store->allKeys().isEmpty()) {
        // Nothing stored yet: a first start. The defaults stand, and the default fingerprint
        // folder is examined (and made) as on every later start, so a new user meets an empty
        // library and the first-steps window rather than a folder that does not exist.
        if (FolderChecks) {
            CheckFingerprintFolder();
        }
        PublishSnapshot();
        ApplyToEngine();
        return false;
    }
    const TSettings defaults =
        TSettings::Defaults(ToUtf8(FLocation.DefaultFpFolder()), ToUtf8(FLocation.MusicFolder));
    TValueReader read(*store, [this](std::string message) { ReportError(std::move(message)); });

    std::string folder;
    if (read.String(QStringLiteral("FpFolder"), folder, defaults.FpFolder) && !folder.empty()) {
        Settings.FpFolder = folder;
    } else {
        Settings.FpFolder = defaults.FpFolder;
    }
    read.Boolean(QStringLiteral("ActiveOnLoad"), Settings.ActiveOnLoad, defaults.ActiveOnLoad);
    Settings.FpFolder = ToUtf8(WithTrailingSeparator(FromUtf8(Settings.FpFolder)));
    if (FolderChecks) {
        CheckFingerprintFolder();
    }

    if (read.String(QStringLiteral("BatFolder"), folder, defaults.BatFolder) && !folder.empty()) {
        Settings.BatFolder = ToUtf8(WithTrailingSeparator(FromUtf8(folder)));
    } else {
        Settings.BatFolder = defaults.BatFolder;
    }

    read.Int(QStringLiteral("DuplicateKeep"), Settings.DuplicateKeep, defaults.DuplicateKeep, 0,
             1);
    read.Boolean(QStringLiteral("DeepSearch"), Settings.DeepSearch, defaults.DeepSearch);
    read.Boolean(QStringLiteral("Announce"), Settings.Announce, defaults.Announce);
    read.Boolean(QStringLiteral("Systray"), Settings.Systray, defaults.Systray);
    read.Boolean(QStringLiteral("Balloon"), Settings.Balloon, defaults.Balloon);
    read.Int(QStringLiteral("Priority"), Settings.Priority, defaults.Priority, -1, 1);
    read.String(QStringLiteral("AutoFileName"), Settings.AutoFileName, defaults.AutoFileName);
    read.Boolean(QStringLiteral("Compatibility"), Settings.Compatibility, defaults.Compatibility);
    ApplyCompatibility();
    if (store->contains(QStringLiteral("Simult"))) {
        Settings.SimultPresent = true;
    }
    if (Settings.Channels.size() < FChannels.size()) {
        Settings.Channels.resize(FChannels.size());
    }
    for (std::size_t i = 0; i < Settings.Channels.size(); ++i) {
        TChannelSettings& channel = Settings.Channels[i];
        const TChannelSettings channelDefaults{
            "", TSettings::DefaultChannelCaption(static_cast<std::int32_t>(i)), 0};
        read.String(ChannelKey("ChannelDevice", i), channel.Device, channelDefaults.Device);
        read.String(ChannelKey("ChannelCap", i), channel.Caption, channelDefaults.Caption);
        read.Int(ChannelKey("ChannelMode", i), channel.Mode, channelDefaults.Mode, 0, 2);
        if (i < FChannels.size() && FChannels[i] != nullptr) {
            FChannels[i]->SoundDevice.DevName = channel.Device;
            FChannels[i]->SetCaption(channel.Caption);
            ApplySide(*FChannels[i], channel.Mode);
        }
    }
    read.Boolean(QStringLiteral("EventsEnabled"), Settings.EventsEnabled, defaults.EventsEnabled);
    read.Int(QStringLiteral("IdleTimeout"), Settings.IdleTimeout, defaults.IdleTimeout, 0,
             std::numeric_limits<std::int32_t>::max());
    read.Boolean(QStringLiteral("Highquality"), Settings.Highquality, defaults.Highquality);
    read.Boolean(QStringLiteral("RobustSearch"), Settings.RobustSearch, defaults.RobustSearch);

    PublishSnapshot();
    ApplyToEngine();
    return true;
}

bool TSettingsStore::Save() {
    const std::unique_ptr<QSettings> store = FLocation.Open();
    if (!store->isWritable()) {
        ReportError("The settings could not be saved to \"" + ToUtf8(store->fileName()) + "\".");
        return false;
    }
    // Booleans go in as numbers 0 and 1, as the registry keeps them.
    auto flag = [](bool value) { return QVariant(value ? 1 : 0); };
    Settings.FpFolder = ToUtf8(WithTrailingSeparator(FromUtf8(Settings.FpFolder)));
    Settings.BatFolder = ToUtf8(WithTrailingSeparator(FromUtf8(Settings.BatFolder)));
    store->setValue(QStringLiteral("FpFolder"), FromUtf8(Settings.FpFolder));
    store->setValue(QStringLiteral("BatFolder"), FromUtf8(Settings.BatFolder));
    store->setValue(QStringLiteral("DeepSearch"), flag(Settings.DeepSearch));
    store->setValue(QStringLiteral("Announce"), flag(Settings.Announce));
    store->setValue(QStringLiteral("Systray"), flag(Settings.Systray));
    store->setValue(QStringLiteral("Balloon"), flag(Settings.Balloon));
    store->setValue(QStringLiteral("Priority"), Settings.Priority);
    store->setValue(QStringLiteral("DuplicateKeep"), Settings.DuplicateKeep);
    store->setValue(QStringLiteral("Highquality"), flag(Settings.Highquality));
    store->setValue(QStringLiteral("RobustSearch"), flag(Settings.RobustSearch));
    store->setValue(QStringLiteral("EventsEnabled"), flag(Settings.EventsEnabled));
    store->setValue(QStringLiteral("Compatibility"), flag(Settings.Compatibility));
    ApplyCompatibility();
    store->setValue(QStringLiteral("ActiveOnLoad"), flag(Settings.ActiveOnLoad));
    store->setValue(QStringLiteral("AutoFileName"), FromUtf8(Settings.AutoFileName));
    if (Settings.Channels.size() < FChannels.size()) {
        Settings.Channels.resize(FChannels.size());
    }
    for (std::size_t i = 0; i < Settings.Channels.size(); ++i) {
        TChannelSettings& channel = Settings.Channels[i];
        if (i < FChannels.size() && FChannels[i] != nullptr) {
            // The channel is the live copy of its device and caption. Its name is stored, not
            // its display caption, so a channel saved while playing a file does not come back
            // with " | file" in its name.
            channel.Device = FChannels[i]->SoundDevice.DevName;
            channel.Caption = FChannels[i]->Name();
            channel.Mode = FChannels[i]->ChSide;
        }
        store->setValue(ChannelKey("ChannelDevice", i), FromUtf8(channel.Device));
        store->setValue(ChannelKey("ChannelCap", i), FromUtf8(channel.Caption));
        store->setValue(ChannelKey("ChannelMode", i), channel.Mode);
    }
    store->setValue(QStringLiteral("IdleTimeout"), Settings.IdleTimeout);
    store->sync();
    if (store->status() != QSettings::NoError) {
        ReportError("The settings could not be saved to \"" + ToUtf8(store->fileName()) + "\".");
        return false;
    }
    PublishSnapshot();
    ApplyToEngine();
    return true;
}

void TSettingsStore::ApplyCompatibility() {
    if (Settings.Compatibility == FCompatibilityFlag) {
        return;
    }
    // The capture format changes with the flag, so running channels restart around it.
    std::vector<bool> wasActive(FChannels.size(), false);
    for (std::size_t i = 0; i < FChannels.size(); ++i) {
        if (FChannels[i] != nullptr) {
            wasActive[i] = FChannels[i]->Active();
            FChannels[i]->SetActive(false);
        }
    }
    ProcessPendingEvents();
    FCompatibilityFlag = Settings.Compatibility;
    for (std::size_t i = 0; i < FChannels.size(); ++i) {
        if (FChannels[i] != nullptr) {
            FChannels[i]->SetCompatibility(FCompatibilityFlag);
            if (wasActive[i]) {
                FChannels[i]->SetActive(true);
            }
        }
    }
}

void TSettingsStore::ApplySide(recognition::TChannelBasic& channel, std::int32_t side) {
    if (channel.ChSide == side) {
        return;
    }
    // The capture format follows the side, so a running channel restarts around the change.
    const bool wasActive = channel.Active();
    channel.SetActive(false);
    ProcessPendingEvents();
    channel.SetChSide(side);
    if (wasActive) {
        channel.SetActive(true);
    }
}

void TSettingsStore::CheckFingerprintFolder() {
    const QString folder = FromUtf8(Settings.FpFolder);
    const QDir dir(folder);
    if (dir.exists()) {
        if (dir.entryList({QStringLiteral("*.qnf")}, QDir::Files).isEmpty()) {
            FFirstStepsTip = true;
        }
        return;
    }
    FFirstStepsTip = true;
    // Parents are created too: a fresh desktop account may not have its documents folder yet.
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        ReportError("Directory could not be created.");
    }
}

void TSettingsStore::PublishSnapshot() {
    FSnapshot = TSettingsSnapshot::Of(Settings);
    if (!OnSnapshot) {
        return;
    }
    if (FRecognitionLock != nullptr) {
        std::lock_guard recognitionLock(*FRecognitionLock);
        OnSnapshot(FSnapshot);
    } else {
        OnSnapshot(FSnapshot);
    }
}

void TSettingsStore::ApplyToEngine() {
    if (FLogSystem != nullptr) {
        FLogSystem->SetIdleTimeout(Settings.IdleTimeout);
    }
    if (FEvents != nullptr) {
        FEvents->SetEnabled(Settings.EventsEnabled);
    }
}

void TSettingsStore::ReportError(std::string message) {
    FErrors.push_back(message);
    if (OnError) {
        OnError(message);
    }
}

void TSettingsStore::ReloadSoundConfig(const std::vector<recognition::TLInfo>& devices) {
    for (recognition::TChannelBasic* channel : FChannels) {
        if (channel != nullptr) {
            ResolveDevice(channel->SoundDevice, devices);
        }
    }
}

void TSettingsStore::ResolveDevice(recognition::TLInfo& device,
                                   const std::vector<recognition::TLInfo>& devices) {
    if (device.DevName.empty()) {
        return;
    }
    for (const recognition::TLInfo& entry : devices) {
        if (entry.DevName == device.DevName) {
            device = entry;  // the last entry of that name wins
        }
    }
}

}  // namespace orvane::app
