#include "ui/TForm6Mixer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/PulseMixer.h"

namespace orvane::ui {

namespace {

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

/// The controls of one source: line 0 is its only destination, control 0 the volume per
/// channel, control 1 the mute.
class TPulseSourceMixer final : public IMixer {
public:
    explicit TPulseSourceMixer(const audio::TLInfo& device) : FMixer(Open(device)) {
        FName = Read().Description;
    }

    std::string MixerName() const override { return FName; }

    std::vector<TMixerLine> loadLines() override {
        const platform::TPulseSourceControls controls = Read();
        TMixerLine line;
        line.Name = controls.Description;
        line.Dst = true;
        line.TabNo = 0;
        line.LineType = LineTypeWaveIn;
        TMixerControl volume;
        volume.Type = TMixerControlType::mctVolume;
        volume.Name = "Volume";
        volume.Minimum = 0;
        volume.Maximum = platform::PulseVolumeNorm;
        volume.Steps = std::min<std::uint32_t>(controls.VolumeSteps, platform::PulseVolumeNorm + 1);
        volume.DataValues = VolumeValues(controls);
        TMixerControl mute;
        mute.Type = TMixerControlType::mctMute;
        mute.Name = "Mute";
        mute.Minimum = 0;
        mute.Maximum = 1;
        mute.DataValues = {controls.Mute ? 1 : 0};
        line.Controls = {volume, mute};
        return {line};
    }

    std::vector<std::int64_t> GetControlDetails(TControlID id) override {
        const platform::TPulseSourceControls controls = Read();
        if (id == TControlID{0, 0}) return VolumeValues(controls);
        if (id == TControlID{0, 1}) return {controls.Mute ? 1 : 0};
        throw EMixerError("No such control");
    }

    void SetControlDetails(TControlID id, const std::vector<std::int64_t>& values) override {
        try {
            if (id == TControlID{0, 0}) {
                std::vector<std::uint32_t> volumes;
                for (const std::int64_t value : values) {
                    if (value < 0 || value > platform::PulseVolumeNorm) {
                        throw EMixerRefused("Volume out of range");
                    }
                    volumes.push_back(static_cast<std::uint32_t>(value));
                }
                FMixer->SetVolumes(volumes);
            } else if (id == TControlID{0, 1} && !values.empty()) {
                FMixer->SetMute(values.front() != 0);
            } else {
                throw EMixerError("No such control");
            }
        } catch (const platform::EPulseError& error) {
            throw EMixerRefused(error.what());
        }
    }

    std::vector<TControlID> PollChanges() override {
        try {
            if (FMixer->Poll()) return {TControlID{0, 0}, TControlID{0, 1}};
            return {};
        } catch (const platform::EPulseError& error) {
            throw EMixerError(error.what());
        }
    }

private:
    static std::unique_ptr<platform::TPulseMixer> Open(const audio::TLInfo& device) {
        try {
            return std::make_unique<platform::TPulseMixer>(device.DevName);
        } catch (const platform::EPulseError& error) {
            throw EMixerError(error.what());
        }
    }

    platform::TPulseSourceControls Read() {
        try {
            return FMixer->Read();
        } catch (const platform::EPulseError& error) {
            throw EMixerError(error.what());
        }
    }

    static std::vector<std::int64_t> VolumeValues(const platform::TPulseSourceControls& controls) {
        return {controls.Volumes.begin(), controls.Volumes.end()};
    }

    std::unique_ptr<platform::TPulseMixer> FMixer;
    std::string FName;
};

}  // namespace

TMixerControlDetailsTypes DataTypeOf(TMixerControlType type) {
    switch (type) {
        case TMixerControlType::mctMux:
        case TMixerControlType::mctSingleSelect:
        case TMixerControlType::mctMixer:
        case TMixerControlType::mctMultipleSelect:
        case TMixerControlType::mctMute:
        case TMixerControlType::mctBoolean:
        case TMixerControlType::mctOnOff:
        case TMixerControlType::mctMono:
        case TMixerControlType::mctLoudness:
        case TMixerControlType::mctStereoEnhance:
            return TMixerControlDetailsTypes::MC_Boolean;
        case TMixerControlType::mctSigned:
        case TMixerControlType::mctDecibels:
            return TMixerControlDetailsTypes::MC_Signed;
        case TMixerControlType::mctVolume:
        case TMixerControlType::mctFader:
        case TMixerControlType::mctBass:
        case TMixerControlType::mctTreble:
        case TMixerControlType::mctEqualizer:
        case TMixerControlType::mctUnsigned:
        case TMixerControlType::mctPercent:
            return TMixerControlDetailsTypes::MC_Unsigned;
        case TMixerControlType::mctUnknown:
            break;
    }
    return TMixerControlDetailsTypes::MC_Unknown;
}

std::unique_ptr<IMixer> OpenPulseMixer(const audio::TLInfo& device) {
    return std::make_unique<TPulseSourceMixer>(device);
}

std::int64_t FaderSteps(const TMixerControl& control) {
    const std::int64_t steps =
        control.Steps > 0 ? control.Steps : control.Maximum - control.Minimum + 1;
    return std::max<std::int64_t>(steps, 1);
}

std::int64_t SliderPosition(const TMixerControl& control, std::int64_t value) {
    const std::int64_t steps = FaderSteps(control);
    const double range = static_cast<double>(control.Maximum - control.Minimum + 1);
    const double stepSize = range / static_cast<double>(steps);
    const std::int64_t position =
        (steps - 1) - static_cast<std::int64_t>(
                          std::trunc(static_cast<double>(value - control.Minimum) / stepSize));
    return std::clamp<std::int64_t>(position, 0, steps - 1);
}

std::int64_t SliderValue(const TMixerControl& control, std::int64_t position) {
    const std::int64_t steps = FaderSteps(control);
    if (position <= 0) return control.Maximum;
    if (position >= steps - 1) return control.Minimum;
    const double range = static_cast<double>(control.Maximum - control.Minimum + 1);
    return control.Minimum +
           static_cast<std::int64_t>(std::trunc(range / static_cast<double>(steps) *
                                                static_cast<double>(steps - 1 - position)));
}

std::string ControlCaption(const TMixerLine& line, const TMixerControl& control) {
    switch (control.Type) {
        case TMixerControlType::mctVolume:
            return line.Dst ? "Master Volume" : "Volume";
        case TMixerControlType::mctBass:
            return "Bass";
        case TMixerControlType::mctTreble:
            return "Treble";
        case TMixerControlType::mctEqualizer:
            return "Equalizer";
        case TMixerControlType::mctMux:
            return "Selected line";
        case TMixerControlType::mctMixer:
            return "Selected lines";
        case TMixerControlType::mctMute:
            return line.Dst ? "Mute all" : "Mute";
        default:
            return control.Name;
    }
}

std::string NumberUnit(TMixerControlType type) {
    switch (type) {
        case TMixerControlType::mctSigned:
            return "dB\u00B5V";
        case TMixerControlType::mctUnsigned:
            return "kHz";
        case TMixerControlType::mctDecibels:
            return "dB";
        default:
            return {};
    }
}

std::string NumberText(TMixerControlType type, std::int64_t value) {
    if (type == TMixerControlType::mctDecibels) {
        char text[32];
        std::snprintf(text, sizeof(text), "%.1f", static_cast<double>(value) / 10.0);
        return text;
    }
    return std::to_string(value);
}

TNumberCheck ValidateNumber(const TMixerControl& control, const std::string& text) {
    const std::string trimmed = Trimmed(text);
    const std::string notNumber = "Value of " + Quoted(control.Name) + " is not a valid number.";
    std::int64_t value = 0;
    bool negative = false;
    errno = 0;
    char* end = nullptr;
    if (control.Type == TMixerControlType::mctDecibels) {
        const double parsed = std::strtod(trimmed.c_str(), &end);
        if (trimmed.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(parsed) ||
            std::fabs(parsed) > 1e15) {
            return {std::nullopt, notNumber};
        }
        value = static_cast<std::int64_t>(std::llround(parsed * 10.0));
        negative = parsed < 0;
    } else {
        const long long parsed = std::strtoll(trimmed.c_str(), &end, 10);
        if (trimmed.empty() || *end != '\0' || errno == ERANGE) return {std::nullopt, notNumber};
        value = parsed;
        negative = parsed < 0;
    }
    if (negative && (control.Type == TMixerControlType::mctUnsigned ||
                     control.Type == TMixerControlType::mctPercent)) {
        return {std::nullopt,
                "Only positive values are accepted for " + Quoted(control.Name) + "."};
    }
    if (value < control.Minimum || value > control.Maximum) {
        return {std::nullopt, "Value of " + Quoted(control.Name) +
                                  " out of bounds. Accepted values are between " +
                                  NumberText(control.Type, control.Minimum) + " and " +
                                  NumberText(control.Type, control.Maximum) + "."};
    }
    return {value, {}};
}

}  // namespace orvane::ui
