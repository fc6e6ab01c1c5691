// The mixer as the parameter dialog sees it: lines (destinations and their sources), each with
// controls whose values are numbers per channel and item; the arithmetic of its sliders and
// number fields; and the mixer of a sound server source behind that model.
// Thread: main thread (the dialog's); a mixer is used by one thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioIO.h"
#include "base/Errors.h"

namespace orvane::ui {

/// Reading or writing the mixer failed ("An error occured while querying the mixer.").
class EMixerError : public EError {
public:
    using EError::EError;
};

/// The mixer refused a value ("Value for "<name>" could not be set.").
class EMixerRefused : public EMixerError {
public:
    using EMixerError::EMixerError;
};

/// The kinds of mixer control the dialog knows; mctUnknown is not shown.
enum class TMixerControlType : std::int32_t {
    mctVolume,
    mctFader,
    mctBass,
    mctTreble,
    mctEqualizer,
    mctMux,
    mctSingleSelect,
    mctMixer,
    mctMultipleSelect,
    mctMute,
    mctBoolean,
    mctOnOff,
    mctMono,
    mctLoudness,
    mctStereoEnhance,
    mctSigned,
    mctUnsigned,
    mctDecibels,
    mctPercent,
    mctUnknown
};

/// How a control's values are read and written.
enum class TMixerControlDetailsTypes : std::int32_t {
    MC_Unknown,
    MC_Boolean,
    MC_Signed,
    MC_Unsigned
};

/// The data type of a control type: boolean for switches and lists, signed for signed and
/// decibel numbers, unsigned for faders and unsigned and percent numbers, unknown otherwise.
TMixerControlDetailsTypes DataTypeOf(TMixerControlType type);

/// One control of a line.
struct TMixerControl {
    TMixerControlType Type = TMixerControlType::mctUnknown;
    std::string Name;
    /// The bounds of a value (decibels: tenths of a decibel).
    std::int64_t Minimum = 0;
    std::int64_t Maximum = 0;
    /// Distinct positions of a fader; 0: Maximum - Minimum + 1.
    std::uint32_t Steps = 0;
    /// The values: one per channel (faders, switches, numbers) or one per item (lists: 0 or 1).
    std::vector<std::int64_t> DataValues;
    /// The item names (lists, equalizer bands); empty when the control has none.
    std::vector<std::string> DataListText;
    bool ReadOnly = false;
};

/// The component type of a wave-in destination line.
inline constexpr std::uint32_t LineTypeWaveIn = 7;

/// One line of the mixer: a destination, or a source connected to one.
struct TMixerLine {
    std::string Name;
    /// The line is a destination (a page of the dialog).
    bool Dst = false;
    /// The number of the destination the line belongs to.
    std::uint16_t TabNo = 0;
    /// The line's component type (LineTypeWaveIn for the recording destination).
    std::uint32_t LineType = 0;
    std::vector<TMixerControl> Controls;
};

/// Where a control sits: line index and control index in loadLines' result.
struct TControlID {
    std::int32_t LineNo = 0;
    std::int32_t ControlNo = 0;
    friend bool operator==(const TControlID&, const TControlID&) = default;
};

/// An open mixer.
class IMixer {
public:
    virtual ~IMixer() = default;
    /// The name the dialog's caption shows.
    virtual std::string MixerName() const = 0;
    /// Every line with its controls and their current values; destinations first, each followed
    /// by its sources. Throws EMixerError.
    virtual std::vector<TMixerLine> loadLines() = 0;
    /// The current values of a control. Throws EMixerError.
    virtual std::vector<std::int64_t> GetControlDetails(TControlID id) = 0;
    /// Writes the values of a control. Throws EMixerRefused when the mixer refuses them,
    /// EMixerError on any other failure.
    virtual void SetControlDetails(TControlID id, const std::vector<std::int64_t>& values) = 0;
    /// The controls changed since the last call (by anybody), without waiting. Throws
    /// EMixerError when the mixer went away.
    virtual std::vector<TControlID> PollChanges() = 0;
};

/// The mixer of sound device `device` (the server's default source for the default device):
/// one wave-in destination named after the source with its volume per channel and its mute.
/// Throws EMixerError with the server's text when it cannot be opened.
std::unique_ptr<IMixer> OpenPulseMixer(const audio::TLInfo& device);

/// The slider positions of a fader: Steps, or Maximum - Minimum + 1 without one; at least 1.
std::int64_t FaderSteps(const TMixerControl& control);
/// The slider position of value `value`, 0 at the top (loudest) to steps - 1 (quietest):
/// (steps - 1) - trunc((value - minimum) / (range / steps)), range = maximum - minimum + 1,
/// held inside 0 ... steps - 1 (an amplified volume above the maximum shows at the top).
std::int64_t SliderPosition(const TMixerControl& control, std::int64_t value);
/// The value of slider position `position`: 0 gives the maximum, steps - 1 the minimum,
/// otherwise minimum + trunc(range / steps * (steps - 1 - position)).
std::int64_t SliderValue(const TMixerControl& control, std::int64_t position);

/// The caption of a control on line `line`: "Master Volume" / "Volume" for the volume of a
/// destination / source, "Mute all" / "Mute" for the mute, "Bass", "Treble", "Equalizer",
/// "Selected line" for a mux, "Selected lines" for a mixer, otherwise the control's name.
std::string ControlCaption(const TMixerLine& line, const TMixerControl& control);
/// The unit label of a number control: "dBµV" signed, "kHz" unsigned, "dB" decibels, "" else.
std::string NumberUnit(TMixerControlType type);
/// A number control's value as its field shows it (decibels in tenths with "%.1f").
std::string NumberText(TMixerControlType type, std::int64_t value);
/// Checks the text of a number field: the value to write, or the message to show (nothing is
/// written then): "Value of "N" is not a valid number.", "Only positive values are accepted
/// for "N".", "Value of "N" out of bounds. Accepted values are between <min> and <max>.".
struct TNumberCheck {
    std::optional<std::int64_t> Value;
    std::string Message;
};
TNumberCheck ValidateNumber(const TMixerControl& control, const std::string& text);

}  // namespace orvane::ui
