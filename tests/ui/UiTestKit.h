// Stand-ins the main-window tests share: a capture that hears nothing (so channel 0 switches on
// without a sound server), a tray and a window side that put nothing on the screen, and a clip
// fingerprinted as the application does.
// Thread: the test's main thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/uMainForm.h"
#include "audio/FptExtract.h"
#include "database/TMemorySongListView.h"
#include "database/TPlainLibraryUi.h"
#include "recognition/IAudioCapture.h"
#include "signal/QnFFT.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"
#include "tracking/TTrayNotices.h"

namespace orvane::ui::test {

/// Always starts, hears nothing.
class TSilentCapture final : public recognition::IAudioCapture {
public:
    bool Start(const recognition::TCaptureFormat&) override { return FRecording = true; }
    void Stop() override { FRecording = false; }
    bool Recording() const override { return FRecording; }
    std::string ErrorMessage() const override { return {}; }

private:
    bool FRecording = false;
};

/// Keeps what it was told.
class TNullTray final : public tracking::ITrayDisplay {
public:
    void SetHint(const std::string& hint) override { Hint = hint; }
    void ShowBalloon(const std::string& title, const std::string& text, tracking::TBalloonIcon,
                     int) override {
        Balloons.push_back(title + "|" + text);
    }
    void HideBalloon() override { ++Hidden; }
    std::string Hint;
    std::vector<std::string> Balloons;
    int Hidden = 0;
};

/// The window side of a running application, with nothing on the screen; counts what it is
/// told.
class TPlainView final : public app::IMainFormView {
public:
    database::ISongListView& SongListView() override { return Songs; }
    database::ILibraryWindow& LibraryWindow() override { return Window; }
    database::IProgressDialog& ProgressDialog() override { return Progress; }
    tracking::ITrayDisplay& TrayDisplay() override { return Tray; }
    void HistoryChanged() override { ++HistoryChanges; }
    void PanelRefresh() override { ++PanelRefreshes; }
    void FirstStepsTip() override { ++Tips; }

    database::TMemorySongListView Songs;
    database::TScriptedLibraryWindow Window;
    database::TPlainProgressDialog Progress;
    TNullTray Tray;
    int HistoryChanges = 0;
    int PanelRefreshes = 0;
    int Tips = 0;
};

/// Fingerprinting without messages.
class TQuietHost final : public audio::IExtractHost {
public:
    void Report(const std::string&, int) override {}
};

/// Writes `wavPath` (`seconds` of music made from `seed`, 11025 Hz) and fingerprints it into
/// `folder` as the application does; the fingerprint's title is the file's name.
inline audio::TExtractResult FingerprintClip(const std::string& wavPath, const std::string& folder,
                                             std::uint32_t seed, int seconds = 8) {
    orvane::test::WriteWav(
        wavPath, orvane::test::Music(seed, static_cast<std::size_t>(seconds) * 11025), 11025);
    signal::QnKeyConversion converter;
    TQuietHost host;
    return audio::ExtractFingerprint(wavPath, audio::TAudioFileType::ftWav, folder, converter,
                                     host, false);
}

}  // namespace orvane::ui::test
