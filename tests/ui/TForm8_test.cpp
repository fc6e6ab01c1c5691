// The sound device dialog on a private PulseAudio server: the tree with the default device and
// the server's sources, F5, the side, "&Select" without a device; and the device change against
// a system of the test's own that records what is done to its channel.
#include "ui/TForm8.h"

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "UiTestApp.h"
#include "support/PulseServer.h"

namespace orvane::ui {
namespace {

using orvane::test::TPulseServer;

/// A system with one channel that records every step of the device change.
class TRecordingSystem final : public IDeviceSystem {
public:
    std::int32_t ChannelCount() const override { return 1; }
    audio::TLInfo ChannelDevice(std::int32_t) const override { return Device; }
    std::int32_t ChannelSide(std::int32_t) const override { return Side; }
    bool ChannelActive(std::int32_t) const override { return Active; }
    void SetChannelActive(std::int32_t, bool active) override {
        if (active != Active) Steps.push_back(active ? "on" : "off");
        Active = active;
    }
    void SetChannelDevice(std::int32_t, const audio::TLInfo& device, std::int32_t side) override {
        Steps.push_back(Active ? "device while on" : "device");
        Device = device;
        Side = side;
    }
    void ReloadSoundConfig(const std::vector<audio::TLInfo>& devices) override {
        Steps.push_back("reload");
        ReloadedDevices = devices.size();
    }
    void SaveSettings() override { Steps.push_back("save"); }
    void PanelRefresh() override { Steps.push_back("refresh"); }

    audio::TLInfo Device;
    std::int32_t Side = 0;
    bool Active = false;
    std::vector<std::string> Steps;
    std::size_t ReloadedDevices = 0;
};

class TForm8Test : public ui::test::TUiTest {
protected:
    static void SetUpTestSuite() {
        TUiTest::SetUpTestSuite();
        Server = std::make_unique<TPulseServer>();
    }
    static void TearDownTestSuite() { Server.reset(); }
    void SetUp() override {
        if (!Server->Running()) GTEST_SKIP() << "no private PulseAudio server: " << Server->Error();
    }

    static QTreeWidget& Tree(TForm8& dialog) {
        return *dialog.findChild<QTreeWidget*>(QStringLiteral("DeviceTree"));
    }
    static QStringList Nodes(TForm8& dialog) {
        QStringList texts;
        QTreeWidget& tree = Tree(dialog);
        for (int i = 0; i < tree.topLevelItemCount(); ++i) texts << tree.topLevelItem(i)->text(0);
        return texts;
    }
    static QString CurrentNode(TForm8& dialog) {
        const QTreeWidgetItem* item = Tree(dialog).currentItem();
        return item && item->isSelected() ? item->text(0) : QString();
    }
    static void SelectNode(TForm8& dialog, const QString& text) {
        const auto found = Tree(dialog).findItems(text, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << text.toStdString();
        Tree(dialog).setCurrentItem(found.front());
    }
    static QPushButton& Button(TForm8& dialog, const QString& text) {
        for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
            if (button->text() == text) return *button;
        }
        throw std::runtime_error("no button " + text.toStdString());
    }
    /// Runs `answer` once the dialog is shown modally; closes it after 10 s so no test hangs.
    static void Answer(TForm8& dialog, std::function<void()> answer) {
        QTimer::singleShot(0, &dialog, [&dialog, answer = std::move(answer)] {
            if (!QTest::qWaitFor([&dialog] { return dialog.isVisible(); }, 10'000)) return;
            answer();
        });
        QTimer::singleShot(10'000, &dialog, [&dialog] { dialog.reject(); });
    }

    static QString Monitor() { return QString::fromStdString(TPulseServer::MonitorName()); }
    static std::unique_ptr<TPulseServer> Server;
};
std::unique_ptr<TPulseServer> TForm8Test::Server;

TEST_F(TForm8Test, ListsTheDefaultDeviceFirstThenTheServersSources) {
    TForm8 dialog;
    dialog.reload({});
    const QStringList nodes = Nodes(dialog);
    ASSERT_EQ(nodes.size(), 2);
    EXPECT_EQ(nodes[0], QStringLiteral("Microsoft Wave Mapper"));
    EXPECT_EQ(nodes[1], Monitor());
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Change sound device"));
    EXPECT_EQ(dialog.width(), 475);
    EXPECT_GE(dialog.height(), 312);
}

TEST_F(TForm8Test, EveryDeviceShowsTheServersDescriptionBesideItsStoredName) {
    TForm8 dialog;
    dialog.reload({});
    QTreeWidget& tree = Tree(dialog);
    ASSERT_EQ(tree.topLevelItemCount(), 2);
    ASSERT_EQ(tree.columnCount(), 2);
    // The default device stands for the server's default source, the null sink's monitor.
    EXPECT_EQ(tree.topLevelItem(0)->text(1), QStringLiteral("Monitor of Null Output"));
    EXPECT_EQ(tree.topLevelItem(1)->text(0), Monitor());
    EXPECT_EQ(tree.topLevelItem(1)->text(1), QStringLiteral("Monitor of Null Output"));
}

TEST_F(TForm8Test, ReloadSelectsTheNodeOfTheNamedDeviceAndNoneForAnUnknownName) {
    TForm8 dialog;
    dialog.reload(TPulseServer::MonitorName());
    EXPECT_EQ(CurrentNode(dialog), Monitor());
    dialog.reload({});
    EXPECT_EQ(CurrentNode(dialog), QStringLiteral("Microsoft Wave Mapper"));
    dialog.reload("a device unplugged long ago");
    EXPECT_EQ(CurrentNode(dialog), QString());
}

TEST_F(TForm8Test, F5ReselectsTheDeviceThatWasSelectedWhenTheDialogOpened) {
    TForm8 dialog;
    dialog.reload(TPulseServer::MonitorName());
    dialog.show();
    EXPECT_EQ(dialog.SelectedOnShow(), TPulseServer::MonitorName());
    SelectNode(dialog, QStringLiteral("Microsoft Wave Mapper"));
    QTest::keyClick(&Tree(dialog), Qt::Key_F5);
    EXPECT_EQ(CurrentNode(dialog), Monitor());
    EXPECT_EQ(Nodes(dialog).size(), 2);
    dialog.hide();
}

TEST_F(TForm8Test, WithoutAServerOnlyTheDefaultDeviceIsListed) {
    const std::string address = Server->ServerAddress();
    ::setenv("PULSE_SERVER", "unix:/nonexistent/orvane-no-server", 1);
    TForm8 dialog;
    dialog.reload({});
    ::setenv("PULSE_SERVER", address.c_str(), 1);
    EXPECT_EQ(Nodes(dialog), QStringList{QStringLiteral("Microsoft Wave Mapper")});
    EXPECT_EQ(Tree(dialog).topLevelItem(0)->text(1),
              QStringLiteral("the audio inputs cannot be listed: no sound server (PulseAudio or "
                             "PipeWire) is running. (Connection refused)"));
}

TEST_F(TForm8Test, SelectWithoutASelectedDeviceKeepsTheDialogOpen) {
    TForm8 dialog;
    TRecordingSystem system;
    system.Device.DevName = "a device unplugged long ago";
    bool stillOpen = false;
    Answer(dialog, [&] {
        Button(dialog, QStringLiteral("&Select")).click();
        stillOpen = dialog.isVisible();
        Button(dialog, QStringLiteral("&Cancel")).click();
    });
    EXPECT_FALSE(TForm8::ChangeDevice(dialog, system));
    EXPECT_TRUE(stillOpen);
}

TEST_F(TForm8Test, CancelChangesNothingButResolvesTheDeviceNamesAgain) {
    TForm8 dialog;
    TRecordingSystem system;
    system.Active = true;
    system.Side = 1;
    Answer(dialog, [&] {
        SelectNode(dialog, Monitor());
        dialog.findChild<QRadioButton*>(QStringLiteral("RightChannel"))->setChecked(true);
        Button(dialog, QStringLiteral("&Cancel")).click();
    });
    EXPECT_FALSE(TForm8::ChangeDevice(dialog, system));
    EXPECT_EQ(system.Steps, (std::vector<std::string>{"reload"}));
    EXPECT_EQ(system.ReloadedDevices, 2U);
    EXPECT_EQ(system.Device.DevName, "");
    EXPECT_EQ(system.Side, 1);
    EXPECT_TRUE(system.Active);
}

struct TChangeCase {
    const char* Name;
    bool Active;
    const char* Radio;
    std::int32_t Side;
    std::vector<std::string> Steps;
};

class TForm8ChangeTest : public TForm8Test, public ::testing::WithParamInterface<TChangeCase> {};

TEST_P(TForm8ChangeTest, SelectGivesTheChannelDeviceAndSideAndKeepsItsActiveState) {
    const TChangeCase& change = GetParam();
    TForm8 dialog;
    TRecordingSystem system;
    system.Active = change.Active;
    Answer(dialog, [&] {
        SelectNode(dialog, Monitor());
        dialog.findChild<QRadioButton*>(QString::fromUtf8(change.Radio))->setChecked(true);
        Button(dialog, QStringLiteral("&Select")).click();
    });
    EXPECT_TRUE(TForm8::ChangeDevice(dialog, system));
    EXPECT_EQ(system.Device.DevName, TPulseServer::MonitorName());
    EXPECT_EQ(system.Device, dialog.Selected());
    EXPECT_EQ(system.Side, change.Side);
    EXPECT_EQ(system.Active, change.Active);
    EXPECT_EQ(system.Steps, change.Steps);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TForm8ChangeTest,
    ::testing::Values(
        TChangeCase{"ActiveBoth",
                    true,
                    "BothChannels",
                    0,
                    {"reload", "off", "device", "on", "save", "refresh"}},
        TChangeCase{"ActiveRight",
                    true,
                    "RightChannel",
                    2,
                    {"reload", "off", "device", "on", "save", "refresh"}},
        TChangeCase{
            "InactiveLeft", false, "LeftChannel", 1, {"reload", "device", "save", "refresh"}}),
    [](const ::testing::TestParamInfo<TChangeCase>& param) { return param.param.Name; });

TEST_F(TForm8Test, TheDialogOpensOnTheChannelsDeviceAndSide) {
    TForm8 dialog;
    TRecordingSystem system;
    system.Device.DevName = TPulseServer::MonitorName();
    system.Side = 2;
    QString shownNode;
    std::int32_t shownSide = -1;
    Answer(dialog, [&] {
        shownNode = CurrentNode(dialog);
        shownSide = dialog.Side();
        Button(dialog, QStringLiteral("&Cancel")).click();
    });
    TForm8::ChangeDevice(dialog, system);
    EXPECT_EQ(shownNode, Monitor());
    EXPECT_EQ(shownSide, 2);
}

TEST_F(TForm8Test, SetParametersOpensTheMixerOfTheSelectedDevice) {
    TForm8 dialog;
    std::vector<std::string> opened;
    dialog.OnSetParameters = [&](const audio::TLInfo& device) { opened.push_back(device.DevName); };
    dialog.reload(TPulseServer::MonitorName());
    Button(dialog, QStringLiteral("Set &parameters...")).click();
    dialog.reload("nothing selected");
    Button(dialog, QStringLiteral("Set &parameters...")).click();
    EXPECT_EQ(opened, std::vector<std::string>{TPulseServer::MonitorName()});
}

}  // namespace
}  // namespace orvane::ui
