// The sound device dialog "Change sound device": the capture devices of the sound server in a
// tree with the default device first, the side of a stereo input, the way into the mixer
// parameters; and the device change that applies the choice to the channels.
// Thread: main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QDialog>

#include "audio/AudioIO.h"
#include "platform/PulseDevices.h"

class QAction;
class QPushButton;
class QRadioButton;
class QTreeWidget;

namespace orvane::app {
class TMainForm;
}

namespace orvane::ui {

/// The text of the default device's node.
inline constexpr char WaveMapperText[] = "Microsoft Wave Mapper";
/// The manufacturer identifier whose devices get the second glyph.
inline constexpr std::uint16_t MarkedManufacturer = 217;

/// The running system as the device change sees it: its channels, its settings, its panel.
class IDeviceSystem {
public:
    virtual ~IDeviceSystem() = default;
    /// The number of channels (the application has one).
    virtual std::int32_t ChannelCount() const = 0;
    /// The device a channel listens to.
    virtual audio::TLInfo ChannelDevice(std::int32_t channel) const = 0;
    /// The input side of a channel: 0 left and right, 1 left only, 2 right only.
    virtual std::int32_t ChannelSide(std::int32_t channel) const = 0;
    virtual bool ChannelActive(std::int32_t channel) const = 0;
    /// Switches a channel on or off (a device that cannot start is reported by the system).
    virtual void SetChannelActive(std::int32_t channel, bool active) = 0;
    /// Gives a switched-off channel its device and side.
    virtual void SetChannelDevice(std::int32_t channel, const audio::TLInfo& device,
                                  std::int32_t side) = 0;
    /// Resolves the channels' device names against the device list read again.
    virtual void ReloadSoundConfig(const std::vector<audio::TLInfo>& devices) = 0;
    /// Saves all settings.
    virtual void SaveSettings() = 0;
    /// The main window's channel panel shows the channel again.
    virtual void PanelRefresh() = 0;
};

/// IDeviceSystem over the composition root (channel 0, its settings store). The side lives in
/// the channel's stored ChannelMode: a channel's own side is fixed when the channel is made.
class TMainFormDevices final : public IDeviceSystem {
public:
    /// `form` must outlive this; `panelRefresh` may be empty.
    TMainFormDevices(app::TMainForm& form, std::function<void()> panelRefresh);
    std::int32_t ChannelCount() const override;
    audio::TLInfo ChannelDevice(std::int32_t channel) const override;
    std::int32_t ChannelSide(std::int32_t channel) const override;
    bool ChannelActive(std::int32_t channel) const override;
    void SetChannelActive(std::int32_t channel, bool active) override;
    void SetChannelDevice(std::int32_t channel, const audio::TLInfo& device,
                          std::int32_t side) override;
    void ReloadSoundConfig(const std::vector<audio::TLInfo>& devices) override;
    void SaveSettings() override;
    void PanelRefresh() override;

private:
    app::TMainForm& FForm;
    std::function<void()> FPanelRefresh;
};

class TForm8 final : public QDialog {
    Q_OBJECT
public:
    /// The dialog, hidden, with the devices loaded once. `parent` may be null.
    explicit TForm8(QWidget* parent = nullptr);
    ~TForm8() override;

    /// The device change of the main window ("&Select sound device...", "&Change sound
    /// device..."): the dialog shown modally on channel 0's device and side; on "&Select" the
    /// channel gets the device and side, keeps its active state, and the settings are saved.
    /// True when a device was chosen (the main window then refreshes its channel panel).
    static bool Execute(QWidget* parent, app::TMainForm& form);
    /// The same against any system, with a dialog of the caller's (tests answer it).
    static bool ChangeDevice(TForm8& dialog, IDeviceSystem& system);

    /// Loads the devices again and refills the tree; selects the node of the device called
    /// `selectedDevice` ("" is the default device), none when there is no such device.
    void reload(const std::string& selectedDevice);

    /// The devices the tree shows.
    const platform::QnDevices& Devs() const { return FDevs; }
    /// The device chosen by "&Select".
    const audio::TLInfo& Selected() const { return FSelected; }
    /// The name of the device that was selected when the dialog was shown.
    const std::string& SelectedOnShow() const { return FSelectedOnShow; }
    /// The side the radio buttons give: 0 left and right, 1 left, 2 right.
    std::int32_t Side() const;
    /// Checks the radio button of `side` (anything but 1 and 2 checks "Left && right channel").
    void SetSide(std::int32_t side);
    /// The device of the selected node, or null without one.
    const audio::TLInfo* SelectedDevice() const;

    /// Opens the mixer parameters of a device; by default the parameter dialog, modally.
    std::function<void(const audio::TLInfo& device)> OnSetParameters;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FillTree(const std::string& selectedDevice);
    void SelectClicked();
    void SetParameters();

    platform::QnDevices FDevs;
    audio::TLInfo FSelected;
    std::string FSelectedOnShow;
    QTreeWidget* FTree = nullptr;
    QRadioButton* FBoth = nullptr;
    QRadioButton* FLeft = nullptr;
    QRadioButton* FRight = nullptr;
    QPushButton* FParameters = nullptr;
    QPushButton* FSelect = nullptr;
    QPushButton* FCancel = nullptr;
};

}  // namespace orvane::ui
