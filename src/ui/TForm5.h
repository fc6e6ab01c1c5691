// The fingerprint properties dialog "Fingerprint Properties": the fingerprint's file, its clip
// name to edit and its duration. "&Ok" means the name in EditName is to be applied; the caller
// renames (the library's rename flow).
// Thread: main thread only.
#pragma once

#include <cstdint>

#include <QDialog>

#include "database/ILibraryUi.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace orvane::ui {

class TForm5 : public QDialog {
    Q_OBJECT

public:
    /// The dialog, hidden, centred on the desktop, its duration "0:00". `parent` owns it.
    explicit TForm5(QWidget* parent = nullptr);
    ~TForm5() override;

    /// Shows a dialog filled from `properties` modally. True when it closed with "&Ok"; then
    /// properties.EditName holds the name as the user left it (UTF-8). Cancel, Escape and the
    /// close box return false and leave `properties` as it was.
    static bool Execute(QWidget* parent, database::TFptProperties& properties);

    /// Fills the fields: SongNo, EditName, LabelDuration and FileLabel (texts in UTF-8).
    void SetProperties(const database::TFptProperties& properties);
    /// The fields as they stand now (EditName as edited).
    database::TFptProperties Properties() const;

    /// The song list slot being shown, set by the caller.
    std::int32_t SongNo = -1;

    // Parts for tests.
    QLineEdit* FileLabel() const { return FFileLabel; }
    QLineEdit* EditName() const { return FEditName; }
    QLabel* LabelDuration() const { return FLabelDuration; }
    QPushButton* OkButton() const { return FOkButton; }
    QPushButton* CancelButton() const { return FCancelButton; }

protected:
    /// Focuses EditName with its whole text selected.
    void showEvent(QShowEvent* event) override;

private:
    /// LabelDuration right-aligned to the fields' right edge, "Duration:" just before it.
    void PlaceDuration();

    QLineEdit* FFileLabel = nullptr;
    QLineEdit* FEditName = nullptr;
    QLabel* FLabelDuration = nullptr;
    QLabel* FDurationCaption = nullptr;
    QPushButton* FOkButton = nullptr;
    QPushButton* FCancelButton = nullptr;
};

}  // namespace orvane::ui
