#include "app/TSettings.h"

#include <cstdio>
#include <utility>

namespace orvane::app {

TSettings TSettings::Defaults(std::string fingerprintFolder, std::string batchFolder) {
    TSettings settings;
    settings.FpFolder = std::move(fingerprintFolder);
    settings.BatFolder = std::move(batchFolder);
    settings.Channels.push_back(TChannelSettings{"", DefaultChannelCaption(0), 0});
    return settings;
}

std::string TSettings::DefaultChannelCaption(std::int32_t channel) {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", static_cast<int>(channel) + 1);
    return std::string("Channel") + number;
}

TSettingsSnapshot TSettingsSnapshot::Of(const TSettings& settings) {
    TSettingsSnapshot snapshot;
    snapshot.Form3CheckBoxBalloonChecked = settings.Balloon;
    snapshot.Form3highIntegChecked = settings.Highquality;
    snapshot.Form3Checkbox2checked = settings.DeepSearch;
    snapshot.Form3FolderFilesEdit1Text = settings.FpFolder;
    snapshot.Form3KeepLongest = settings.DuplicateKeep == 1;
    snapshot.RobustSearch = settings.RobustSearch;
    return snapshot;
}

}  // namespace orvane::app
