#include "ui/TForm6.h"

#include <algorithm>
#include <limits>

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace orvane::ui {

namespace {

constexpr char DefaultCaption[] = "Set parameter";
constexpr char QueryError[] = "An error occured while querying the mixer.";
/// How often the dialog asks the mixer for changes made elsewhere.
constexpr int PollIntervalMs = 200;
/// Sliders of a group stand 38 pixels apart and are 100 pixels high.
constexpr int SliderPitch = 38;
constexpr int SliderHeight = 100;

QString Text(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

enum class TControlClass { ccNone, ccFader, ccSelect, ccMultiSelect, ccSwitch, ccNumber };

TControlClass ClassOf(TMixerControlType type) {
    switch (type) {
        case TMixerControlType::mctVolume:
        case TMixerControlType::mctFader:
        case TMixerControlType::mctBass:
        case TMixerControlType::mctTreble:
        case TMixerControlType::mctEqualizer:
            return TControlClass::ccFader;
        case TMixerControlType::mctMux:
        case TMixerControlType::mctSingleSelect:
            return TControlClass::ccSelect;
        case TMixerControlType::mctMixer:
        case TMixerControlType::mctMultipleSelect:
            return TControlClass::ccMultiSelect;
        case TMixerControlType::mctMute:
        case TMixerControlType::mctBoolean:
        case TMixerControlType::mctOnOff:
        case TMixerControlType::mctMono:
        case TMixerControlType::mctLoudness:
        case TMixerControlType::mctStereoEnhance:
            return TControlClass::ccSwitch;
        case TMixerControlType::mctSigned:
        case TMixerControlType::mctUnsigned:
        case TMixerControlType::mctDecibels:
        case TMixerControlType::mctPercent:
            return TControlClass::ccNumber;
        case TMixerControlType::mctUnknown:
            break;
    }
    return TControlClass::ccNone;
}

int ToSliderInt(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, 0, std::numeric_limits<int>::max()));
}

}  // namespace

TForm6::TForm6(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(DefaultCaption));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    FPages = new QTabWidget(this);
    FPages->setObjectName(QStringLiteral("PageControl"));
    FPages->setUsesScrollButtons(false);
    layout->addWidget(FPages, 1);

    auto* strip = new QWidget(this);
    strip->setFixedHeight(26);
    auto* stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(0, 3, 0, 0);
    FGlyph = new QToolButton(strip);
    FGlyph->setFixedSize(15, 15);
    FGlyph->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    FGlyph->hide();
    stripLayout->addStretch(1);
    FOk = new QPushButton(QStringLiteral("&Ok"), strip);
    FOk->setFixedSize(75, 23);
    FOk->setDefault(true);
    stripLayout->addWidget(FOk);
    layout->addWidget(strip);
    connect(FOk, &QPushButton::clicked, this, &QDialog::accept);

    FPoll = new QTimer(this);
    FPoll->setInterval(PollIntervalMs);
    connect(FPoll, &QTimer::timeout, this, &TForm6::PollMixer);

    MixerFactory = [](const audio::TLInfo& device) { return OpenPulseMixer(device); };
    ShowMessage = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
}

TForm6::~TForm6() { CloseMixer(); }

void TForm6::Execute(const audio::TLInfo& device) {
    if (!OpenMixer(device)) return;
    FOk->setFocus();
    exec();
    CloseMixer();
}

bool TForm6::OpenMixer(const audio::TLInfo& device) {
    CloseMixer();
    try {
        FMixer = MixerFactory(device);
        if (!FMixer) return false;
        FLines = FMixer->loadLines();
        setWindowTitle(Text(FMixer->MixerName() + " - Set parameters"));
    } catch (const EError& error) {
        // The dialog cannot show anything without its mixer; the user is told why instead of
        // seeing the window vanish.
        FMixer.reset();
        FLines.clear();
        Message(std::string(QueryError) + "\n" + error.what());
        return false;
    }
    BuildPages();
    FPoll->start();
    return true;
}

void TForm6::CloseMixer() {
    FPoll->stop();
    FVisualization.Controls.clear();
    while (FPages->count() > 0) {
        QWidget* page = FPages->widget(0);
        FPages->removeTab(0);
        delete page;
    }
    FLines.clear();
    FMixer.reset();
    setWindowTitle(QString::fromUtf8(DefaultCaption));
}

void TForm6::done(int result) {
    hide();
    CloseMixer();
    QDialog::done(result);
}

void TForm6::BuildPages() {
    int shownPage = -1;
    for (std::size_t dst = 0; dst < FLines.size(); ++dst) {
        const TMixerLine& destination = FLines[dst];
        if (!destination.Dst) continue;
        auto* page = new QWidget(FPages);
        auto* row = new QHBoxLayout(page);
        row->setContentsMargins(8, 8, 8, 8);
        row->setSpacing(8);
        auto* own = new QVBoxLayout();
        for (std::size_t c = 0; c < destination.Controls.size(); ++c) {
            if (QWidget* built = BuildControl(
                    page, {static_cast<std::int32_t>(dst), static_cast<std::int32_t>(c)})) {
                own->addWidget(built);
            }
        }
        own->addStretch(1);
        row->addLayout(own);
        for (std::size_t src = dst + 1; src < FLines.size() && !FLines[src].Dst; ++src) {
            const TMixerLine& source = FLines[src];
            auto* group = new QGroupBox(Text(source.Name), page);
            auto* column = new QVBoxLayout(group);
            for (std::size_t c = 0; c < source.Controls.size(); ++c) {
                if (QWidget* built = BuildControl(
                        group, {static_cast<std::int32_t>(src), static_cast<std::int32_t>(c)})) {
                    column->addWidget(built);
                }
            }
            column->addStretch(1);
            row->addWidget(group);
        }
        row->addStretch(1);
        const int index = FPages->addTab(page, Text(destination.Name));
        if (shownPage < 0 && destination.LineType == LineTypeWaveIn) shownPage = index;
    }
    if (shownPage >= 0) FPages->setCurrentIndex(shownPage);
    for (std::size_t v = 0; v < FVisualization.Controls.size(); ++v) ShowValues(v);
    adjustSize();
}

QWidget* TForm6::BuildControl(QWidget* parent, TControlID id) {
    const TMixerLine& line = FLines[static_cast<std::size_t>(id.LineNo)];
    const TMixerControl& control = line.Controls[static_cast<std::size_t>(id.ControlNo)];
    const TControlClass kind = ClassOf(control.Type);
    if (kind == TControlClass::ccNone || control.DataValues.empty()) return nullptr;
    const QString caption = Text(ControlCaption(line, control));
    const std::size_t viewIndex = FVisualization.Controls.size();
    TControlView view;
    view.ControlID = id;
    QWidget* built = nullptr;

    switch (kind) {
        case TControlClass::ccFader: {
            auto* group = new QGroupBox(caption, parent);
            auto* grid = new QGridLayout(group);
            grid->setHorizontalSpacing(0);
            const int steps = static_cast<int>(
                std::min<std::int64_t>(FaderSteps(control), std::numeric_limits<int>::max()));
            for (std::size_t i = 0; i < control.DataValues.size(); ++i) {
                const int columnNo = static_cast<int>(i);
                if (!control.DataListText.empty()) {
                    const std::string& item = control.DataListText[i % control.DataListText.size()];
                    auto* label = new QLabel(Text(item), group);
                    label->setAlignment(Qt::AlignCenter);
                    grid->addWidget(label, 0, columnNo);
                }
                auto* slider = new QSlider(Qt::Vertical, group);
                slider->setFixedSize(SliderPitch, SliderHeight);
                slider->setRange(0, steps - 1);
                // Position 0 is the loudest and sits at the top; Up moves toward it.
                slider->setInvertedAppearance(true);
                slider->setInvertedControls(true);
                slider->setTickPosition(QSlider::TicksBothSides);
                slider->setTickInterval(std::max(1, steps / 10));
                slider->setPageStep(std::max(1, steps / 20));
                slider->setEnabled(!control.ReadOnly);
                grid->addWidget(slider, 1, columnNo, Qt::AlignHCenter);
                view.Trackbars.push_back(slider);
                connect(slider, &QSlider::valueChanged, this,
                        [this, viewIndex, slider] { SliderMoved(viewIndex, slider); });
            }
            if (view.Trackbars.size() >= 2) {
                view.Lock = new QCheckBox(QStringLiteral("Lock sliders"), group);
                view.Lock->setEnabled(!control.ReadOnly);
                grid->addWidget(view.Lock, 2, 0, 1, static_cast<int>(view.Trackbars.size()));
                connect(view.Lock, &QCheckBox::toggled, this,
                        [this, viewIndex](bool checked) { LockToggled(viewIndex, checked); });
            }
            built = group;
            break;
        }
        case TControlClass::ccSelect:
        case TControlClass::ccMultiSelect: {
            auto* box = new QWidget(parent);
            auto* column = new QVBoxLayout(box);
            column->setContentsMargins(0, 0, 0, 0);
            column->addWidget(new QLabel(caption, box));
            QStringList items;
            for (const std::string& item : control.DataListText) items << Text(item);
            if (kind == TControlClass::ccSelect) {
                view.Combo = new QComboBox(box);
                view.Combo->addItems(items);
                view.Combo->setEnabled(!control.ReadOnly);
                column->addWidget(view.Combo);
                connect(view.Combo, &QComboBox::currentIndexChanged, this,
                        [this, viewIndex] { Write(viewIndex); });
            } else {
                view.List = new QListWidget(box);
                view.List->addItems(items);
                view.List->setSelectionMode(QAbstractItemView::MultiSelection);
                view.List->setEnabled(!control.ReadOnly);
                column->addWidget(view.List);
                connect(view.List, &QListWidget::itemSelectionChanged, this,
                        [this, viewIndex] { Write(viewIndex); });
            }
            built = box;
            break;
        }
        case TControlClass::ccSwitch: {
            view.Check = new QCheckBox(caption, parent);
            view.Check->setEnabled(!control.ReadOnly);
            connect(view.Check, &QCheckBox::toggled, this, [this, viewIndex] { Write(viewIndex); });
            built = view.Check;
            break;
        }
        case TControlClass::ccNumber: {
            auto* box = new QWidget(parent);
            auto* row = new QHBoxLayout(box);
            row->setContentsMargins(0, 0, 0, 0);
            row->addWidget(new QLabel(Text(control.Name), box));
            view.Edit = new QLineEdit(box);
            view.Edit->setObjectName(Text(control.Name));
            view.Edit->setReadOnly(control.ReadOnly);
            row->addWidget(view.Edit);
            row->addWidget(new QLabel(Text(NumberUnit(control.Type)), box));
            view.Apply = new QToolButton(box);
            view.Apply->setIcon(FGlyph->icon());
            view.Apply->setToolTip(QStringLiteral("Apply"));
            view.Apply->setEnabled(!control.ReadOnly);
            row->addWidget(view.Apply);
            connect(view.Apply, &QToolButton::clicked, this,
                    [this, viewIndex] { ApplyNumber(viewIndex); });
            built = box;
            break;
        }
        case TControlClass::ccNone:
            break;
    }
    FVisualization.Controls.push_back(view);
    return built;
}

TMixerControl& TForm6::ControlOf(TControlID id) {
    return FLines.at(static_cast<std::size_t>(id.LineNo))
        .Controls.at(static_cast<std::size_t>(id.ControlNo));
}

void TForm6::ShowValues(std::size_t viewIndex) {
    const TControlView& view = FVisualization.Controls[viewIndex];
    const TMixerControl& control = ControlOf(view.ControlID);
    const std::vector<std::int64_t>& values = control.DataValues;
    for (std::size_t i = 0; i < view.Trackbars.size() && i < values.size(); ++i) {
        const QSignalBlocker blocker(view.Trackbars[i]);
        view.Trackbars[i]->setValue(ToSliderInt(SliderPosition(control, values[i])));
    }
    if (view.Check && !values.empty()) {
        const QSignalBlocker blocker(view.Check);
        view.Check->setChecked(values.front() != 0);
    }
    if (view.Combo) {
        const QSignalBlocker blocker(view.Combo);
        const auto selected = std::find_if(values.begin(), values.end(),
                                           [](std::int64_t value) { return value != 0; });
        view.Combo->setCurrentIndex(
            selected == values.end() ? -1 : static_cast<int>(selected - values.begin()));
    }
    if (view.List) {
        const QSignalBlocker blocker(view.List);
        for (int i = 0; i < view.List->count(); ++i) {
            const auto index = static_cast<std::size_t>(i);
            view.List->item(i)->setSelected(index < values.size() && values[index] != 0);
        }
    }
    if (view.Edit && !values.empty())
        view.Edit->setText(Text(NumberText(control.Type, values.front())));
}

void TForm6::Write(std::size_t viewIndex) {
    if (!FMixer || viewIndex >= FVisualization.Controls.size()) return;
    const TControlView& view = FVisualization.Controls[viewIndex];
    TMixerControl& control = ControlOf(view.ControlID);
    std::vector<std::int64_t> values = control.DataValues;
    for (std::size_t i = 0; i < view.Trackbars.size() && i < values.size(); ++i) {
        values[i] = SliderValue(control, view.Trackbars[i]->value());
    }
    if (view.Check) std::fill(values.begin(), values.end(), view.Check->isChecked() ? 1 : 0);
    if (view.Combo) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            values[i] = static_cast<int>(i) == view.Combo->currentIndex() ? 1 : 0;
        }
    }
    if (view.List) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            const int row = static_cast<int>(i);
            values[i] = row < view.List->count() && view.List->item(row)->isSelected() ? 1 : 0;
        }
    }
    try {
        FMixer->SetControlDetails(view.ControlID, values);
        control.DataValues = values;
    } catch (const EMixerRefused&) {
        Message("Value for \"" + control.Name + "\" could not be set.");
        // The widgets go back to what the mixer holds.
        try {
            control.DataValues = FMixer->GetControlDetails(view.ControlID);
        } catch (const EMixerError&) {
        }
        ShowValues(viewIndex);
    } catch (const EMixerError&) {
        Message(QueryError);
    }
}

void TForm6::SliderMoved(std::size_t viewIndex, QSlider* slider) {
    const TControlView& view = FVisualization.Controls[viewIndex];
    if (view.Lock && view.Lock->isChecked()) {
        for (QSlider* other : view.Trackbars) {
            if (other == slider) continue;
            const QSignalBlocker blocker(other);
            other->setValue(slider->value());
        }
    }
    Write(viewIndex);
}

void TForm6::LockToggled(std::size_t viewIndex, bool checked) {
    const TControlView& view = FVisualization.Controls[viewIndex];
    if (!checked || view.Trackbars.empty()) return;
    int loudest = view.Trackbars.front()->value();
    for (const QSlider* slider : view.Trackbars) loudest = std::min(loudest, slider->value());
    for (QSlider* slider : view.Trackbars) {
        const QSignalBlocker blocker(slider);
        slider->setValue(loudest);
    }
    Write(viewIndex);
}

void TForm6::ApplyNumber(std::size_t viewIndex) {
    const TControlView& view = FVisualization.Controls[viewIndex];
    if (!view.Edit || !FMixer) return;
    TMixerControl& control = ControlOf(view.ControlID);
    const TNumberCheck check = ValidateNumber(control, view.Edit->text().toStdString());
    if (!check.Value) {
        Message(check.Message);
        return;
    }
    std::vector<std::int64_t> values(control.DataValues.size(), *check.Value);
    try {
        FMixer->SetControlDetails(view.ControlID, values);
        control.DataValues = values;
        ShowValues(viewIndex);
    } catch (const EMixerRefused&) {
        Message("Value for \"" + control.Name + "\" could not be set.");
    } catch (const EMixerError&) {
        Message(QueryError);
    }
}

void TForm6::PollMixer() {
    if (!FMixer) return;
    try {
        for (const TControlID id : FMixer->PollChanges()) {
            TMixerControl& control = ControlOf(id);
            control.DataValues = FMixer->GetControlDetails(id);
            for (std::size_t v = 0; v < FVisualization.Controls.size(); ++v) {
                if (FVisualization.Controls[v].ControlID == id) ShowValues(v);
            }
        }
    } catch (const std::exception&) {
        // One message, not one every 200 ms: the mixer stays as shown until the dialog closes.
        FPoll->stop();
        Message(QueryError);
    }
}

void TForm6::Message(const std::string& text) {
    if (ShowMessage) ShowMessage(Text(text));
}

}  // namespace orvane::ui
