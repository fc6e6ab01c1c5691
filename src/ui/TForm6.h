// The mixer parameter dialog: one page per destination line of the selected device's mixer,
// with the destination's controls and a group per source line; every change of a control is
// written to the mixer at once, and changes made elsewhere show up while the dialog is open.
// Thread: main thread.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QDialog>
#include <QString>

#include "audio/AudioIO.h"
#include "ui/TForm6Mixer.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;
class QTabWidget;
class QTimer;
class QToolButton;

namespace orvane::ui {

/// The dialog controls built for one mixer control.
struct TControlView {
    TControlID ControlID;
    /// Fader class: one slider per value (position 0 at the top, the loudest).
    std::vector<QSlider*> Trackbars;
    /// The group's "Lock sliders" box (two sliders or more), or null.
    QCheckBox* Lock = nullptr;
    /// Switch class.
    QCheckBox* Check = nullptr;
    /// Single select and mux.
    QComboBox* Combo = nullptr;
    /// Multiple select and mixer.
    QListWidget* List = nullptr;
    /// Number class: the field and its apply button.
    QLineEdit* Edit = nullptr;
    QToolButton* Apply = nullptr;
};

/// Every control built for the dialog; the widgets belong to the pages.
struct TVisualization {
    std::vector<TControlView> Controls;
};

class TForm6 final : public QDialog {
    Q_OBJECT
public:
    /// The dialog, hidden, without a mixer. `parent` may be null.
    explicit TForm6(QWidget* parent = nullptr);
    ~TForm6() override;

    /// Opens the mixer of `device`, builds the pages and shows the dialog modally until it is
    /// closed; a mixer that cannot be opened ends it at once. Main thread.
    void Execute(const audio::TLInfo& device);
    /// The first half of Execute without showing: opens the mixer and builds the pages. False
    /// when the mixer cannot be opened or read (nothing is built then).
    bool OpenMixer(const audio::TLInfo& device);
    /// Closes the mixer and frees every generated control (also done when the dialog closes).
    void CloseMixer();

    /// Makes the mixer of a device; by default the sound server's (OpenPulseMixer). Tests give
    /// a mixer of their own.
    std::function<std::unique_ptr<IMixer>(const audio::TLInfo& device)> MixerFactory;
    /// Shows a message box; tests catch the text instead.
    std::function<void(const QString& text)> ShowMessage;

    /// The controls built for the open mixer (empty without one).
    const TVisualization& Visualization() const { return FVisualization; }
    /// The lines as loaded, with the values last read or written.
    const std::vector<TMixerLine>& Lines() const { return FLines; }
    /// Reads the changes the mixer reports and shows them (the timer does this every 200 ms).
    void PollMixer();

protected:
    void done(int result) override;

private:
    void BuildPages();
    QWidget* BuildControl(QWidget* parent, TControlID id);
    void Write(std::size_t viewIndex);
    void ShowValues(std::size_t viewIndex);
    void SliderMoved(std::size_t viewIndex, QSlider* slider);
    void LockToggled(std::size_t viewIndex, bool checked);
    void ApplyNumber(std::size_t viewIndex);
    TMixerControl& ControlOf(TControlID id);
    void Message(const std::string& text);

    std::unique_ptr<IMixer> FMixer;
    std::vector<TMixerLine> FLines;
    TVisualization FVisualization;
    QTabWidget* FPages = nullptr;
    QPushButton* FOk = nullptr;
    QToolButton* FGlyph = nullptr;
    QTimer* FPoll = nullptr;
};

}  // namespace orvane::ui
