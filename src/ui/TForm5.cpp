#include "ui/TForm5.h"

#include <algorithm>

#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "ui/Fonts.h"

namespace orvane::ui {
namespace {

// The layout at 96 dpi; Qt scales it.
constexpr int ClientWidth = 609;
constexpr int ClientHeight = 156;
constexpr int FormBorder = 5;
constexpr int GroupHeight = 121;
constexpr int FieldLeft = 8;
constexpr int FieldWidth = 585;
constexpr int LabelHeight = 13;
constexpr int EditHeight = 21;
// LabelDuration is right-aligned: its right edge stays where "0:00" ends at x 571.
constexpr int DurationLeft = 571;
constexpr int DurationTop = 100;
constexpr int DurationRight = FieldLeft + FieldWidth;
constexpr int DurationCaptionLeft = 517;
constexpr int DurationGap = 4;

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Fingerprint Properties"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFont(LayoutFont(QStringLiteral("Tahoma"), -11));
    setFixedSize(ClientWidth, ClientHeight);

    auto* group = new QGroupBox(QStringLiteral("Information"), this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    group->setGeometry(FormBorder, FormBorder, ClientWidth - 2 * FormBorder, GroupHeight);

    auto* fileCaption = new QLabel(QStringLiteral("File name:"), group);
    fileCaption->setGeometry(FieldLeft, 16, FieldWidth, LabelHeight);
    FFileLabel = new QLineEdit(group);
    FFileLabel->setObjectName(QStringLiteral("FileLabel"));
    FFileLabel->setGeometry(FieldLeft, 32, FieldWidth, LabelHeight + 2);
    FFileLabel->setReadOnly(true);
    FFileLabel->setFrame(false);
    FFileLabel->setFocusPolicy(Qt::NoFocus);
    // Reads as a label in the button-face colour, yet the path can be selected and copied.
    FFileLabel->setTextMargins(0, 0, 0, 0);
    QPalette face = FFileLabel->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    FFileLabel->setPalette(face);

    auto* nameCaption = new QLabel(QStringLiteral("Clip name:"), group);
    nameCaption->setGeometry(FieldLeft, 56, FieldWidth, LabelHeight);
    FEditName = new QLineEdit(group);
    FEditName->setObjectName(QStringLiteral("EditName"));
    FEditName->setGeometry(FieldLeft, 72, FieldWidth, EditHeight);

    FDurationCaption = new QLabel(QStringLiteral("Duration:"), group);
    FDurationCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    FLabelDuration = new QLabel(QStringLiteral("0:00"), group);
    FLabelDuration->setObjectName(QStringLiteral("LabelDuration"));
    FLabelDuration->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    FLabelDuration->setTextFormat(Qt::PlainText);
    PlaceDuration();

    FOkButton = new QPushButton(QStringLiteral("&Ok"), this);
    FOkButton->setObjectName(QStringLiteral("Button1"));
    FOkButton->setGeometry(222, 127, 75, 23);
    FOkButton->setDefault(true);
    connect(FOkButton, &QPushButton::clicked, this, &QDialog::accept);
    FCancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
    FCancelButton->setObjectName(QStringLiteral("Button2"));
    FCancelButton->setGeometry(310, 127, 81, 23);
    FCancelButton->setAutoDefault(false);
    connect(FCancelButton, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(FEditName, FOkButton);
    setTabOrder(FOkButton, FCancelButton);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TForm5::~TForm5() = default;

bool TForm5::Execute(QWidget* parent, database::TFptProperties& properties) {
    TForm5 dialog(parent);
    dialog.SetProperties(properties);
    if (dialog.exec() != QDialog::Accepted) return false;
    properties.EditName = dialog.EditName()->text().toStdString();
    return true;
}

void TForm5::SetProperties(const database::TFptProperties& properties) {
    SongNo = properties.SongNo;
    FEditName->setText(Q(properties.EditName));
    FFileLabel->setText(Q(properties.FileLabel));
    FFileLabel->setCursorPosition(0);
    FLabelDuration->setText(Q(properties.LabelDuration));
    PlaceDuration();
}

void TForm5::PlaceDuration() {
    // Grows to the left for a long duration ("123:45"), keeping its right edge; its caption
    // ends a few pixels before it, whatever the font's widths.
    const QFontMetrics metrics(FLabelDuration->font());
    const int left =
        std::min(DurationLeft, DurationRight - metrics.horizontalAdvance(FLabelDuration->text()));
    FLabelDuration->setGeometry(left, DurationTop, DurationRight - left, LabelHeight);
    const int captionRight = left - DurationGap;
    const int captionLeft = std::min(
        DurationCaptionLeft, captionRight - metrics.horizontalAdvance(FDurationCaption->text()));
    FDurationCaption->setGeometry(captionLeft, DurationTop, captionRight - captionLeft,
                                  LabelHeight);
}

database::TFptProperties TForm5::Properties() const {
    database::TFptProperties properties;
    properties.SongNo = SongNo;
    properties.EditName = FEditName->text().toStdString();
    properties.LabelDuration = FLabelDuration->text().toStdString();
    properties.FileLabel = FFileLabel->text().toStdString();
    return properties;
}

void TForm5::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FEditName->setFocus();
    FEditName->selectAll();
}

}  // namespace orvane::ui
