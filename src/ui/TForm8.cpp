#include "ui/TForm8.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTreeWidget>

#include "app/RegStuff.h"
#include "app/uMainForm.h"
#include "recognition/TChannel.h"
#include "ui/Fonts.h"
#include "ui/TForm6.h"

namespace orvane::ui {

namespace {

QString Text(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

constexpr char NoteText[] =
    "Note: Your soundcard or soundcard driver might not separate the right and left channels\r\n"
    "perfectly from each other. In that case, you should not split a stereo channel into two\r\n"
    "different channels using the option above.";

}  // namespace

// --- the composition root as the device change's system ----------------------------------

TMainFormDevices::TMainFormDevices(app::TMainForm& form, std::function<void()> panelRefresh)
    : FForm(form), FPanelRefresh(std::move(panelRefresh)) {}

std::int32_t TMainFormDevices::ChannelCount() const { return FForm.Channel() ? 1 : 0; }

audio::TLInfo TMainFormDevices::ChannelDevice(std::int32_t) const {
    return FForm.Channel()->SoundDevice;
}

std::int32_t TMainFormDevices::ChannelSide(std::int32_t) const { return FForm.Channel()->ChSide; }

bool TMainFormDevices::ChannelActive(std::int32_t) const { return FForm.ChannelActive(); }

void TMainFormDevices::SetChannelActive(std::int32_t, bool active) {
    FForm.SetChannelActive(active);
}

void TMainFormDevices::SetChannelDevice(std::int32_t channel, const audio::TLInfo& device,
                                        std::int32_t side) {
    // The dialog switched the channel off around the change.
    FForm.Channel()->SoundDevice = device;
    FForm.Channel()->SetChSide(side);
    auto& channels = FForm.SettingsStore().Settings.Channels;
    const auto index = static_cast<std::size_t>(channel);
    if (channels.size() <= index) channels.resize(index + 1);
    channels[index].Mode = side;
}

void TMainFormDevices::ReloadSoundConfig(const std::vector<audio::TLInfo>& devices) {
    FForm.SettingsStore().ReloadSoundConfig(devices);
}

void TMainFormDevices::SaveSettings() { FForm.SettingsStore().RegStuff(true); }

void TMainFormDevices::PanelRefresh() {
    if (FPanelRefresh) FPanelRefresh();
}

// --- the dialog ---------------------------------------------------------------------------

TForm8::TForm8(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Change sound device"));
    setFont(LayoutFont(QStringLiteral("Tahoma"), -11));
    setFixedSize(475, 312);

    // The group fills the width inside the 5-pixel border; its controls keep 8 pixels from
    // its frame on both sides.
    auto* group = new QGroupBox(QStringLiteral("Available sound devices"), this);
    group->setGeometry(5, 5, 465, 281);

    FTree = new QTreeWidget(group);
    FTree->setObjectName(QStringLiteral("DeviceTree"));
    FTree->setGeometry(8, 16, 449, 153);
    FTree->setHeaderHidden(true);
    FTree->setRootIsDecorated(false);
    // The stored name, and beside it what the sound server calls the device.
    FTree->setColumnCount(2);
    FTree->setColumnWidth(0, 250);
    FTree->header()->setStretchLastSection(true);
    FTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FTree->setSelectionMode(QAbstractItemView::SingleSelection);
    FTree->setContextMenuPolicy(Qt::ActionsContextMenu);
    FTree->installEventFilter(this);
    auto* popupParameters = new QAction(QStringLiteral("&Set parameters..."), FTree);
    FTree->addAction(popupParameters);
    connect(popupParameters, &QAction::triggered, this, &TForm8::SetParameters);

    FBoth = new QRadioButton(QStringLiteral("Left && right channel"), group);
    FBoth->setObjectName(QStringLiteral("BothChannels"));
    FBoth->setGeometry(8, 176, 200, 17);
    FBoth->setChecked(true);
    FLeft = new QRadioButton(QStringLiteral("Left channel"), group);
    FLeft->setObjectName(QStringLiteral("LeftChannel"));
    FLeft->setGeometry(8, 192, 200, 17);
    FRight = new QRadioButton(QStringLiteral("Right channel"), group);
    FRight->setObjectName(QStringLiteral("RightChannel"));
    FRight->setGeometry(8, 208, 200, 17);

    FParameters = new QPushButton(QStringLiteral("Set &parameters..."), group);
    FParameters->setGeometry(352, 176, 105, 23);
    connect(FParameters, &QPushButton::clicked, this, &TForm8::SetParameters);

    auto* note = new QLabel(group);
    note->setObjectName(QStringLiteral("Note"));
    note->setText(QString::fromUtf8(NoteText));
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The note's lines are broken for Tahoma; a wider font gets one paragraph wrapped to the
    // group's width instead, and the dialog grows by the lines that adds.
    int widest = 0;
    for (const QString& line : note->text().split(QStringLiteral("\r\n"))) {
        widest = std::max(widest, note->fontMetrics().horizontalAdvance(line));
    }
    if (widest > 449) {
        note->setText(note->text().replace(QStringLiteral("\r\n"), QStringLiteral(" ")));
        note->setWordWrap(true);
    }
    const int noteHeight = std::max(45, note->heightForWidth(449));
    const int grow = noteHeight - 45;
    note->setGeometry(8, 232, 449, noteHeight);
    group->setGeometry(5, 5, 465, 281 + grow);
    setFixedSize(475, 312 + grow);

    FSelect = new QPushButton(QStringLiteral("&Select"), this);
    FSelect->setGeometry(152, 288 + grow, 80, 23);
    FSelect->setDefault(true);
    connect(FSelect, &QPushButton::clicked, this, &TForm8::SelectClicked);
    FCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    FCancel->setGeometry(240, 288 + grow, 80, 23);
    connect(FCancel, &QPushButton::clicked, this, &QDialog::reject);

    OnSetParameters = [this](const audio::TLInfo& device) {
        TForm6 parameters(this);
        parameters.Execute(device);
    };
    FillTree({});
}

TForm8::~TForm8() = default;

bool TForm8::Execute(QWidget* parent, app::TMainForm& form) {
    if (!form.Channel()) return false;
    TForm8 dialog(parent);
    TMainFormDevices system(form, {});
    return ChangeDevice(dialog, system);
}

bool TForm8::ChangeDevice(TForm8& dialog, IDeviceSystem& system) {
    const std::int32_t channels = system.ChannelCount();
    if (channels < 1) return false;
    dialog.SetSide(system.ChannelSide(0));
    dialog.reload(system.ChannelDevice(0).DevName);
    const int result = dialog.exec();
    system.ReloadSoundConfig(dialog.Devs().LInfos);
    if (result != QDialog::Accepted) return false;

    const std::int32_t side = dialog.Side();
    std::vector<bool> wasActive;
    for (std::int32_t channel = 0; channel < channels; ++channel) {
        wasActive.push_back(system.ChannelActive(channel));
        system.SetChannelActive(channel, false);
    }
    QApplication::processEvents();
    for (std::int32_t channel = 0; channel < channels; ++channel) {
        system.SetChannelDevice(channel, dialog.Selected(), side);
    }
    for (std::int32_t channel = 0; channel < channels; ++channel) {
        system.SetChannelActive(channel, wasActive[static_cast<std::size_t>(channel)]);
    }
    QApplication::processEvents();
    system.SaveSettings();
    system.PanelRefresh();
    return true;
}

void TForm8::reload(const std::string& selectedDevice) {
    FDevs.loadDevices();
    FillTree(selectedDevice);
}

void TForm8::FillTree(const std::string& selectedDevice) {
    FTree->clear();
    const QIcon glyphs[2] = {style()->standardIcon(QStyle::SP_MediaVolume),
                             style()->standardIcon(QStyle::SP_ComputerIcon)};
    QTreeWidgetItem* selected = nullptr;
    for (std::size_t i = 0; i < FDevs.LInfos.size(); ++i) {
        const audio::TLInfo& device = FDevs.LInfos[i];
        auto* node = new QTreeWidgetItem(FTree);
        node->setText(
            0, device.DevName.empty() ? QString::fromUtf8(WaveMapperText) : Text(device.DevName));
        node->setIcon(0, glyphs[device.ManID == MarkedManufacturer ? 1 : 0]);
        node->setData(0, Qt::UserRole, static_cast<qulonglong>(i));
        // The server's description tells the user what the unique name stands for; the
        // default device is described by the source it stands for now.
        const std::string& described =
            device.DevName.empty() ? FDevs.Sources.DefaultSource : device.DevName;
        for (const platform::TPulseSource& source : FDevs.Sources.Sources) {
            if (!described.empty() && source.Name == described) {
                node->setText(1, Text(source.Description));
                node->setToolTip(0, Text(source.Name));
                node->setToolTip(1, Text(source.Description));
            }
        }
        // Without a sound server the default device cannot record either: it says why.
        if (device.DevName.empty() && !FDevs.ErrorMessage.empty()) {
            const QString why = Text(platform::ListingFailureText(FDevs.ErrorMessage));
            node->setText(1, why);
            node->setToolTip(1, why);
        }
        if (device.DevName == selectedDevice) selected = node;
    }
    FTree->setCurrentItem(selected);
    if (selected) FTree->scrollToItem(selected);
}

std::int32_t TForm8::Side() const {
    if (FLeft->isChecked()) return 1;
    if (FRight->isChecked()) return 2;
    return 0;
}

void TForm8::SetSide(std::int32_t side) {
    (side == 1 ? FLeft : side == 2 ? FRight : FBoth)->setChecked(true);
}

const audio::TLInfo* TForm8::SelectedDevice() const {
    const QTreeWidgetItem* node = FTree->currentItem();
    if (!node || !node->isSelected()) return nullptr;
    const auto index = static_cast<std::size_t>(node->data(0, Qt::UserRole).toULongLong());
    return index < FDevs.LInfos.size() ? &FDevs.LInfos[index] : nullptr;
}

void TForm8::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (const QScreen* screen = this->screen()) {
        const QRect desktop = screen->availableGeometry();
        move(desktop.center() - QPoint(width() / 2, height() / 2));
    }
    FTree->setFocus();
    const audio::TLInfo* device = SelectedDevice();
    FSelectedOnShow = device ? device->DevName : std::string();
}

void TForm8::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F5) {
        reload(FSelectedOnShow);
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TForm8::eventFilter(QObject* watched, QEvent* event) {
    // The dialog sees F5 before the tree does (keys previewed).
    if (watched == FTree && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_F5) {
        reload(FSelectedOnShow);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TForm8::SelectClicked() {
    const audio::TLInfo* device = SelectedDevice();
    if (!device) return;
    FSelected = *device;
    accept();
}

void TForm8::SetParameters() {
    const audio::TLInfo* device = SelectedDevice();
    if (!device || !OnSetParameters) return;
    OnSetParameters(*device);
}

}  // namespace orvane::ui
