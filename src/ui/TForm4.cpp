#include "ui/TForm4.h"

#include <algorithm>
#include <cstdint>

#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "ui/Fonts.h"
#include "ui/Icons.h"
#include "ui/QnTitle.h"

namespace orvane::ui {
namespace {

// The layout at 96 dpi; Qt scales it.
constexpr int ClientWidth = 519;
constexpr int ClientHeight = 174;
constexpr int FormBorder = 5;
constexpr std::uint32_t FormColor = 16708591;  // RGB 239, 243, 254
constexpr std::uint32_t PanelFrameColor = 14327417;
constexpr int PanelBorder = 15;
constexpr int PanelTitleHeight = 28;
constexpr int UpperNoticeHeight = 44;
constexpr int CloseTop = 50;
constexpr int CloseWidth = 75;
constexpr int CloseHeight = 23;
constexpr int LowerStripHeight = 37;
constexpr int IconSize = 28;

QColor Rgb(std::uint32_t colorRef) { return QColor(FromColorRef(colorRef)); }

void PaintFlat(QWidget& widget, const QColor& color) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, color);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

}  // namespace

void StyleLikeAboutBox(TQnTitle& panel) {
    panel.SetColorLeft(Rgb(16176326));
    panel.SetColorRight(Rgb(16708334));
    panel.SetBackgroundColor(Rgb(FormColor));
    panel.SetFrameColor(Rgb(PanelFrameColor));
    panel.SetColor(Qt::white);
    panel.SetTitleHeight(PanelTitleHeight);
    panel.SetRoundRadius(22);
    panel.SetBorderTop(3);
    panel.SetCaptionFont(LayoutFont(QStringLiteral("Trebuchet MS"), 23));
    panel.SetCaptionColor(Qt::black);
}

TForm4::TForm4(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About ORVANE3"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFont(LayoutFont(QStringLiteral("Tahoma"), -11));
    setFixedSize(ClientWidth, ClientHeight);
    PaintFlat(*this, Rgb(FormColor));

    auto* frame = new QVBoxLayout(this);
    frame->setContentsMargins(FormBorder, FormBorder, FormBorder, FormBorder);
    FQnTitle1 = new TQnTitle(this);
    FQnTitle1->setObjectName(QStringLiteral("QnTitle1"));
    frame->addWidget(FQnTitle1);
    // A decorated frame: no handlers, so the user can neither collapse nor focus it.
    FQnTitle1->setFocusPolicy(Qt::NoFocus);
    StyleLikeAboutBox(*FQnTitle1);
    FQnTitle1->SetStraightSeparation(true);
    FQnTitle1->SetBorderWidth(PanelBorder);
    FQnTitle1->SetCaption(QString::fromLatin1(PanelCaption));
    FQnTitle1->SetIcon(IconPixmap(AppIcon(), IconSize));
    FQnTitle1->SetIconLeft(2);
    FQnTitle1->SetIconTop(-1);

    auto* body = new QVBoxLayout(FQnTitle1);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    // The panel sets the margins that keep the body inside its border.
    const int bodyWidth = ClientWidth - 2 * FormBorder - 2 * PanelBorder;
    const int bodyHeight = ClientHeight - 2 * FormBorder - 2 * PanelBorder - PanelTitleHeight;
    const int upperHeight = bodyHeight - LowerStripHeight;

    auto* upper = new QWidget(FQnTitle1);
    PaintFlat(*upper, Qt::white);
    upper->setFixedHeight(upperHeight);
    body->addWidget(upper);
    FUpperLabel = new QLabel(QString::fromLatin1(UpperNotice), upper);
    FUpperLabel->setObjectName(QStringLiteral("UpperNotice"));
    FUpperLabel->setAlignment(Qt::AlignCenter);
    FUpperLabel->setTextFormat(Qt::PlainText);
    FUpperLabel->setGeometry(0, 0, bodyWidth, UpperNoticeHeight);
    FCloseButton = new QPushButton(QStringLiteral("&Close"), upper);
    FCloseButton->setObjectName(QStringLiteral("Button1"));
    // Centred under the notice; kept inside the area when the body is lower than the layout's.
    FCloseButton->setGeometry((bodyWidth - CloseWidth) / 2,
                              std::min(CloseTop, upperHeight - CloseHeight), CloseWidth,
                              CloseHeight);
    connect(FCloseButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* strip = new QFrame(FQnTitle1);
    strip->setObjectName(QStringLiteral("LowerStrip"));
    strip->setFixedHeight(LowerStripHeight);
    strip->setStyleSheet(
        QStringLiteral("QFrame#LowerStrip { background: white; border: 1px solid %1; }")
            .arg(Rgb(PanelFrameColor).name()));
    body->addWidget(strip);
    auto* stripLayout = new QVBoxLayout(strip);
    stripLayout->setContentsMargins(4, 1, 4, 1);
    FLowerLabel = new QLabel(QString::fromLatin1(LowerNotice), strip);
    FLowerLabel->setObjectName(QStringLiteral("LowerNotice"));
    FLowerLabel->setAlignment(Qt::AlignCenter);
    FLowerLabel->setTextFormat(Qt::PlainText);
    FLowerLabel->setWordWrap(true);
    stripLayout->addWidget(FLowerLabel);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TForm4::~TForm4() = default;

void TForm4::Execute(QWidget* parent) {
    TForm4 box(parent);
    box.exec();
}

void TForm4::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!FCentred) {
        FCentred = true;
        const int captionWidth =
            QFontMetrics(FQnTitle1->CaptionFont()).horizontalAdvance(FQnTitle1->Caption());
        FQnTitle1->SetBorderLeft((FQnTitle1->width() - captionWidth) / 2);
    }
    FCloseButton->setFocus();
}

}  // namespace orvane::ui
