// The about box "About ORVANE3": a title panel used as a decorated frame (not collapsible) with
// the product name and version, a notice on what the program does, "&Close", and a framed strip
// with a second notice. Its panel's look is also the template of the first-steps window.
// Thread: main thread only.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace orvane::ui {

class TQnTitle;

/// The about box's title panel look: the gradient, body, frame and background colours, title
/// height, radius, caption font and caption top border. Other windows (first steps) take it.
void StyleLikeAboutBox(TQnTitle& panel);

class TForm4 : public QDialog {
    Q_OBJECT

public:
    /// The product's version as the about box names it.
    static constexpr const char* VersionText = "3.2.2";
    /// The title panel's caption.
    static constexpr const char* PanelCaption = "Quendal Music Database 3.2.2";
    /// The upper notice (centred in the body).
    static constexpr const char* UpperNotice =
        "ORVANE3 recognises songs and sound clips in live audio\n"
        "by their acoustic fingerprints.";
    /// The lower notice (centred and word-wrapped in the framed strip).
    static constexpr const char* LowerNotice =
        "Take fingerprints of the clips to be recognised from WAV or MP3 files or from audio in; "
        "ORVANE3 then names each clip while it plays.";

    /// The box, hidden, centred on the desktop. `parent` owns it (may be null).
    explicit TForm4(QWidget* parent = nullptr);
    ~TForm4() override;

    /// Shows the box modally until "&Close", Escape or the close box.
    static void Execute(QWidget* parent);

    // Parts for tests.
    TQnTitle* QnTitle1() const { return FQnTitle1; }
    QPushButton* CloseButton() const { return FCloseButton; }
    QLabel* UpperLabel() const { return FUpperLabel; }
    QLabel* LowerLabel() const { return FLowerLabel; }

protected:
    /// The first time only, centres the caption in the panel; then focuses "&Close".
    void showEvent(QShowEvent* event) override;

private:
    TQnTitle* FQnTitle1 = nullptr;
    QLabel* FUpperLabel = nullptr;
    QLabel* FLowerLabel = nullptr;
    QPushButton* FCloseButton = nullptr;
    bool FCentred = false;
};

}  // namespace orvane::ui
