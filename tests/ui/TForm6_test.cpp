// The mixer parameter dialog: slider and number arithmetic, captions and the validation
// messages; the dialog against a mixer of the test's own (lock, refusals, number fields, an
// unopenable mixer) and against the monitor source of a private PulseAudio server, whose
// volumes and mute are read back through pactl.
#include "ui/TForm6.h"

#include <array>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include "UiTestApp.h"
#include "platform/PulseMixer.h"
#include "support/PulseServer.h"

namespace orvane::ui {
namespace {

using orvane::test::Pactl;
using orvane::test::TPulseServer;

TMixerControl Control(TMixerControlType type, std::string name, std::int64_t minimum,
                      std::int64_t maximum, std::vector<std::int64_t> values = {0}) {
    TMixerControl control;
    control.Type = type;
    control.Name = std::move(name);
    control.Minimum = minimum;
    control.Maximum = maximum;
    control.DataValues = std::move(values);
    return control;
}

// --- arithmetic and texts ------------------------------------------------------------------

struct TSliderCase {
    std::int64_t Minimum, Maximum;
    std::uint32_t Steps;
    std::int64_t Value, Position, Back;
};

TEST(TForm6Slider, PositionsRunFromTheLoudestAtTheTopAndBack) {
    const std::vector<TSliderCase> cases = {
        // range 65536, 100 steps of 655.36
        {0, 65535, 100, 65535, 0, 65535},
        {0, 65535, 100, 0, 99, 0},
        {0, 65535, 100, 32768, 49, 32768},  // trunc(32768 / 655.36) = 50 -> 49; back 50 * 655.36
        {0, 65535, 100, 655, 99, 0},
        // no step count: one position per value
        {0, 10, 0, 3, 7, 3},
        {-5, 5, 0, -5, 10, -5},
        // an amplified value above the maximum shows at the top
        {0, 65536, 0, 98304, 0, 65536},
    };
    for (const TSliderCase& c : cases) {
        TMixerControl control =
            Control(TMixerControlType::mctVolume, "Volume", c.Minimum, c.Maximum);
        control.Steps = c.Steps;
        EXPECT_EQ(SliderPosition(control, c.Value), c.Position) << c.Value;
        EXPECT_EQ(SliderValue(control, c.Position), c.Back) << c.Position;
    }
}

TEST(TForm6Captions, NameTheControlsByTheirKindAndLine) {
    TMixerLine destination;
    destination.Dst = true;
    TMixerLine source;
    const std::vector<std::tuple<TMixerControlType, const TMixerLine*, std::string>> cases = {
        {TMixerControlType::mctVolume, &destination, "Master Volume"},
        {TMixerControlType::mctVolume, &source, "Volume"},
        {TMixerControlType::mctMute, &destination, "Mute all"},
        {TMixerControlType::mctMute, &source, "Mute"},
        {TMixerControlType::mctBass, &source, "Bass"},
        {TMixerControlType::mctTreble, &source, "Treble"},
        {TMixerControlType::mctEqualizer, &source, "Equalizer"},
        {TMixerControlType::mctMux, &destination, "Selected line"},
        {TMixerControlType::mctMixer, &destination, "Selected lines"},
        {TMixerControlType::mctFader, &source, "Its own name"},
        {TMixerControlType::mctOnOff, &source, "Its own name"},
    };
    for (const auto& [type, line, caption] : cases) {
        EXPECT_EQ(ControlCaption(*line, Control(type, "Its own name", 0, 1)), caption);
    }
    EXPECT_EQ(NumberUnit(TMixerControlType::mctSigned), "dB\u00B5V");
    EXPECT_EQ(NumberUnit(TMixerControlType::mctUnsigned), "kHz");
    EXPECT_EQ(NumberUnit(TMixerControlType::mctDecibels), "dB");
    EXPECT_EQ(NumberUnit(TMixerControlType::mctPercent), "");
    EXPECT_EQ(NumberText(TMixerControlType::mctDecibels, -125), "-12.5");
}

TEST(TForm6Validation, RefusesWhatIsNoNumberNegativeOrOutOfBoundsWithItsMessage) {
    struct TCase {
        TMixerControl Control;
        std::string Text;
        std::optional<std::int64_t> Value;
        std::string Message;
    };
    const TMixerControl gain = Control(TMixerControlType::mctSigned, "Gain", -10, 10);
    const TMixerControl rate = Control(TMixerControlType::mctUnsigned, "Rate", 8, 48);
    const TMixerControl level = Control(TMixerControlType::mctPercent, "Level", 0, 100);
    const TMixerControl boost = Control(TMixerControlType::mctDecibels, "Boost", -120, 60);
    const std::vector<TCase> cases = {
        {gain, "abc", std::nullopt, "Value of \"Gain\" is not a valid number."},
        {gain, "", std::nullopt, "Value of \"Gain\" is not a valid number."},
        {gain, "1.5", std::nullopt, "Value of \"Gain\" is not a valid number."},
        {gain, " -7 ", -7, ""},
        {gain, "11", std::nullopt,
         "Value of \"Gain\" out of bounds. Accepted values are between -10 and 10."},
        {rate, "-3", std::nullopt, "Only positive values are accepted for \"Rate\"."},
        {rate, "4", std::nullopt,
         "Value of \"Rate\" out of bounds. Accepted values are between 8 and 48."},
        {rate, "44", 44, ""},
        {level, "-1", std::nullopt, "Only positive values are accepted for \"Level\"."},
        {boost, "-3.5", -35, ""},
        {boost, "6.5", std::nullopt,
         "Value of \"Boost\" out of bounds. Accepted values are between -12.0 and 6.0."},
        {boost, "x1", std::nullopt, "Value of \"Boost\" is not a valid number."},
        {gain, "99999999999999999999999", std::nullopt, "Value of \"Gain\" is not a valid number."},
    };
    for (const TCase& c : cases) {
        const TNumberCheck check = ValidateNumber(c.Control, c.Text);
        EXPECT_EQ(check.Value, c.Value) << c.Text;
        EXPECT_EQ(check.Message, c.Message) << c.Text;
    }
}

// --- the dialog against a mixer of the test's own ------------------------------------------

/// A mixer whose lines the test sets up; records every write and may refuse them.
class TFakeMixer final : public IMixer {
public:
    std::string MixerName() const override { return "Test Mixer"; }
    std::vector<TMixerLine> loadLines() override { return Lines; }
    std::vector<std::int64_t> GetControlDetails(TControlID id) override {
        return Lines[static_cast<std::size_t>(id.LineNo)]
            .Controls[static_cast<std::size_t>(id.ControlNo)]
            .DataValues;
    }
    void SetControlDetails(TControlID id, const std::vector<std::int64_t>& values) override {
        if (Refuse) throw EMixerRefused("refused");
        Writes.push_back({id, values});
        Lines[static_cast<std::size_t>(id.LineNo)]
            .Controls[static_cast<std::size_t>(id.ControlNo)]
            .DataValues = values;
    }
    std::vector<TControlID> PollChanges() override { return std::exchange(Changes, {}); }

    std::vector<TMixerLine> Lines;
    std::vector<std::pair<TControlID, std::vector<std::int64_t>>> Writes;
    std::vector<TControlID> Changes;
    bool Refuse = false;
};

class TForm6Test : public ui::test::TUiTest {
protected:
    void SetUp() override {
        TMixerLine destination;
        destination.Name = "Recording";
        destination.Dst = true;
        destination.LineType = LineTypeWaveIn;
        TMixerControl volume = Control(TMixerControlType::mctVolume, "Volume", 0, 100, {100, 50});
        volume.Steps = 101;
        destination.Controls = {volume, Control(TMixerControlType::mctMute, "Mute", 0, 1),
                                Control(TMixerControlType::mctSigned, "Gain", -10, 10, {3})};
        Mixer = new TFakeMixer;
        Mixer->Lines = {destination};
        Dialog.MixerFactory = [this](const audio::TLInfo&) {
            return std::unique_ptr<IMixer>(Mixer);
        };
        Dialog.ShowMessage = [this](const QString& text) {
            Messages.push_back(text.toStdString());
        };
    }

    QList<QSlider*> Sliders() { return Dialog.findChildren<QSlider*>(); }
    QCheckBox* Check(const QString& text) {
        for (QCheckBox* box : Dialog.findChildren<QCheckBox*>()) {
            if (box->text() == text) return box;
        }
        return nullptr;
    }

    TForm6 Dialog;
    TFakeMixer* Mixer = nullptr;  // owned by the dialog once opened
    std::vector<std::string> Messages;
};

TEST_F(TForm6Test, BuildsAPagePerDestinationWithFadersLockAndMute) {
    ASSERT_TRUE(Dialog.OpenMixer({}));
    EXPECT_EQ(Dialog.windowTitle(), QStringLiteral("Test Mixer - Set parameters"));
    auto* pages = Dialog.findChild<QTabWidget*>();
    ASSERT_EQ(pages->count(), 1);
    EXPECT_EQ(pages->tabText(0), QStringLiteral("Recording"));
    const auto sliders = Sliders();
    ASSERT_EQ(sliders.size(), 2);
    EXPECT_EQ(sliders[0]->value(), 0);   // 100 of 100: the top
    EXPECT_EQ(sliders[1]->value(), 50);  // 50 of 100
    EXPECT_EQ(sliders[0]->height(), 100);
    ASSERT_NE(Check(QStringLiteral("Lock sliders")), nullptr);
    ASSERT_NE(Check(QStringLiteral("Mute all")), nullptr);
    bool master = false;
    for (const QGroupBox* group : Dialog.findChildren<QGroupBox*>()) {
        master = master || group->title() == QStringLiteral("Master Volume");
    }
    EXPECT_TRUE(master);
    Dialog.CloseMixer();
    EXPECT_EQ(Dialog.windowTitle(), QStringLiteral("Set parameter"));
    EXPECT_TRUE(Sliders().empty());
}

TEST_F(TForm6Test, MovingAFaderWritesThatChannelAndLockedFadersMoveTogether) {
    ASSERT_TRUE(Dialog.OpenMixer({}));
    const auto sliders = Sliders();
    sliders[1]->setValue(80);
    ASSERT_EQ(Mixer->Writes.size(), 1U);
    EXPECT_EQ(Mixer->Writes.back().second, (std::vector<std::int64_t>{100, 20}));

    // Checking the lock aligns the group to its loudest slider.
    Check(QStringLiteral("Lock sliders"))->setChecked(true);
    EXPECT_EQ(sliders[1]->value(), 0);
    EXPECT_EQ(Mixer->Writes.back().second, (std::vector<std::int64_t>{100, 100}));

    sliders[0]->setValue(30);
    EXPECT_EQ(sliders[1]->value(), 30);
    EXPECT_EQ(Mixer->Writes.back().second, (std::vector<std::int64_t>{70, 70}));
}

TEST_F(TForm6Test, MuteAllWritesTheMute) {
    ASSERT_TRUE(Dialog.OpenMixer({}));
    Check(QStringLiteral("Mute all"))->setChecked(true);
    ASSERT_EQ(Mixer->Writes.size(), 1U);
    EXPECT_EQ(Mixer->Writes.back().first, (TControlID{0, 1}));
    EXPECT_EQ(Mixer->Writes.back().second, std::vector<std::int64_t>{1});
}

TEST_F(TForm6Test, ARefusedValueIsReportedAndTheControlShowsTheMixersValueAgain) {
    ASSERT_TRUE(Dialog.OpenMixer({}));
    Mixer->Refuse = true;
    Sliders()[1]->setValue(90);
    EXPECT_EQ(Messages, std::vector<std::string>{"Value for \"Volume\" could not be set."});
    EXPECT_EQ(Sliders()[1]->value(), 50);
}

TEST_F(TForm6Test, ANumberFieldWritesOnlyAValidValue) {
    ASSERT_TRUE(Dialog.OpenMixer({}));
    auto* field = Dialog.findChild<QLineEdit*>(QStringLiteral("Gain"));
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->text(), QStringLiteral("3"));
    auto* apply = field->parentWidget()->findChild<QToolButton*>();
    ASSERT_NE(apply, nullptr);
    field->setText(QStringLiteral("twelve"));
    apply->click();
    field->setText(QStringLiteral("12"));
    apply->click();
    EXPECT_TRUE(Mixer->Writes.empty());
    field->setText(QStringLiteral("-4"));
    apply->click();
    EXPECT_EQ(Messages,
              (std::vector<std::string>{
                  "Value of \"Gain\" is not a valid number.",
                  "Value of \"Gain\" out of bounds. Accepted values are between -10 and 10."}));
    ASSERT_EQ(Mixer->Writes.size(), 1U);
    EXPECT_EQ(Mixer->Writes.back().second, std::vector<std::int64_t>{-4});
}

TEST_F(TForm6Test, ChangesMadeElsewhereShowUp) {
    ASSERT_TRUE(Dialog.OpenMixer({}));
    Mixer->Lines[0].Controls[0].DataValues = {0, 0};
    Mixer->Lines[0].Controls[1].DataValues = {1};
    Mixer->Changes = {TControlID{0, 0}, TControlID{0, 1}};
    Dialog.PollMixer();
    EXPECT_EQ(Sliders()[0]->value(), 100);
    EXPECT_EQ(Sliders()[1]->value(), 100);
    EXPECT_TRUE(Check(QStringLiteral("Mute all"))->isChecked());
    EXPECT_TRUE(Mixer->Writes.empty());
}

TEST_F(TForm6Test, AMixerThatCannotBeOpenedEndsTheDialogAtOnce) {
    delete Mixer;
    Mixer = nullptr;
    Dialog.MixerFactory = [](const audio::TLInfo&) -> std::unique_ptr<IMixer> {
        throw EMixerError("Connection refused");
    };
    Dialog.Execute({});
    EXPECT_FALSE(Dialog.isVisible());
    ASSERT_EQ(Messages.size(), 1U);
    EXPECT_EQ(Messages[0].rfind("An error occured while querying the mixer.", 0), 0U);
}

// --- the dialog against the private sound server -------------------------------------------

class TForm6PulseTest : public ui::test::TUiTest {
protected:
    static void SetUpTestSuite() {
        TUiTest::SetUpTestSuite();
        Server = std::make_unique<TPulseServer>();
    }
    static void TearDownTestSuite() { Server.reset(); }
    void SetUp() override {
        if (!Server->Running()) GTEST_SKIP() << "no private PulseAudio server: " << Server->Error();
        Pactl("set-source-volume " + TPulseServer::MonitorName() + " 100%");
        Pactl("set-source-mute " + TPulseServer::MonitorName() + " 0");
        Dialog.ShowMessage = [this](const QString& text) {
            Messages.push_back(text.toStdString());
        };
    }
    platform::TPulseSourceControls Controls() {
        return platform::TPulseMixer(TPulseServer::MonitorName()).Read();
    }
    QCheckBox* Check(const QString& text) {
        for (QCheckBox* box : Dialog.findChildren<QCheckBox*>()) {
            if (box->text() == text) return box;
        }
        return nullptr;
    }

    static std::unique_ptr<TPulseServer> Server;
    TForm6 Dialog;
    std::vector<std::string> Messages;
};
std::unique_ptr<TPulseServer> TForm6PulseTest::Server;

TEST_F(TForm6PulseTest, ShowsTheMonitorSourcesVolumesAndMute) {
    Pactl("set-source-volume " + TPulseServer::MonitorName() + " 100% 50%");
    ASSERT_TRUE(Dialog.OpenMixer({TPulseServer::MonitorName(), 0, 0}));
    const auto sliders = Dialog.findChildren<QSlider*>();
    ASSERT_EQ(sliders.size(), 2);
    EXPECT_EQ(sliders[0]->value(), 0);
    EXPECT_NEAR(sliders[1]->value(), (sliders[1]->maximum() + 1) / 2, 2);
    ASSERT_NE(Check(QStringLiteral("Mute all")), nullptr);
    EXPECT_FALSE(Check(QStringLiteral("Mute all"))->isChecked());
    EXPECT_TRUE(Dialog.windowTitle().endsWith(QStringLiteral(" - Set parameters")));
}

TEST_F(TForm6PulseTest, FadersLockAndMuteChangeTheServersSource) {
    ASSERT_TRUE(Dialog.OpenMixer({TPulseServer::MonitorName(), 0, 0}));
    const auto sliders = Dialog.findChildren<QSlider*>();
    ASSERT_EQ(sliders.size(), 2);
    const int quarter = (sliders[0]->maximum() + 1) * 3 / 4;  // a quarter of full volume

    sliders[1]->setValue(quarter);
    EXPECT_EQ(Controls().Volumes[0], platform::PulseVolumeNorm);
    EXPECT_NEAR(Controls().Volumes[1], platform::PulseVolumeNorm / 4, 2);

    Check(QStringLiteral("Lock sliders"))->setChecked(true);
    sliders[0]->setValue(quarter);
    const auto volumes = Controls().Volumes;
    EXPECT_NEAR(volumes[0], platform::PulseVolumeNorm / 4, 2);
    EXPECT_EQ(volumes[0], volumes[1]);
    EXPECT_NE(Pactl("get-source-volume " + TPulseServer::MonitorName()).find("25%"),
              std::string::npos);

    Check(QStringLiteral("Mute all"))->setChecked(true);
    EXPECT_NE(Pactl("get-source-mute " + TPulseServer::MonitorName()).find("yes"),
              std::string::npos);
    EXPECT_TRUE(Messages.empty());
}

TEST_F(TForm6PulseTest, AChangeByAnotherProgramMovesTheFaders) {
    ASSERT_TRUE(Dialog.OpenMixer({TPulseServer::MonitorName(), 0, 0}));
    Pactl("set-source-mute " + TPulseServer::MonitorName() + " 1");
    const bool shown = QTest::qWaitFor(
        [this] {
            Dialog.PollMixer();
            return Check(QStringLiteral("Mute all"))->isChecked();
        },
        5000);
    EXPECT_TRUE(shown);
}

TEST_F(TForm6PulseTest, AMissingSourceEndsTheDialogWithTheReason) {
    Dialog.Execute({"no_such_source", 7, 0});
    EXPECT_FALSE(Dialog.isVisible());
    ASSERT_EQ(Messages.size(), 1U);
    EXPECT_EQ(Messages[0], "An error occured while querying the mixer.\nNo such entity");
}

}  // namespace
}  // namespace orvane::ui
