#include "ui/QnTitle.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace orvane::ui {
namespace {

// The three sampled areas of a corner pixel, in ninths.
struct TCoverage {
    int Inside = 0;
    int Outside = 0;
    int OnFrame = 0;
};

// Pixel (i, j) of a tile seen from the corner's centre, sampled on a 3 x 3 grid: inside the
// inner circle, outside the outer one, or on the one-pixel ring between them.
TCoverage Cover(int i, int j, int radius) {
    TCoverage coverage;
    const int innerLimit = (3 * radius - 3) * (3 * radius - 3);
    const int outerLimit = 9 * radius * radius;
    for (int k = 0; k < 3; ++k) {
        for (int l = 0; l < 3; ++l) {
            const int d2 = (3 * j + l) * (3 * j + l) + (3 * i + k) * (3 * i + k);
            if (d2 < innerLimit) {
                ++coverage.Inside;
            } else if (d2 > outerLimit) {
                ++coverage.Outside;
            } else {
                ++coverage.OnFrame;
            }
        }
    }
    return coverage;
}

// Channel by channel: trunc(inner x share) + trunc(outer x share) + trunc(frame x share), the
// shares in ninths, so the three truncations are exact integer divisions.
QRgb Blend(const QColor& inner, const QColor& outer, const QColor& frame, const TCoverage& c) {
    const auto mix = [&](int a, int b, int f) {
        return a * c.Inside / 9 + b * c.Outside / 9 + f * c.OnFrame / 9;
    };
    return qRgb(mix(inner.red(), outer.red(), frame.red()),
                mix(inner.green(), outer.green(), frame.green()),
                mix(inner.blue(), outer.blue(), frame.blue()));
}

}  // namespace

TQnTitle::TQnTitle(QWidget* parent)
    : QWidget(parent),
      FBackgroundColor(parent != nullptr ? parent->palette().color(QPalette::Window)
                                         : QApplication::palette().color(QPalette::Window)),
      FGradient{QColor(FromColorRef(16766659)), QColor(FromColorRef(16774127))},
      Frame(FromColorRef(15387325)),
      FColor(FromColorRef(16774127)),
      FCaptionColor(palette().color(QPalette::WindowText)),
      FCaptionFont(font()) {
    // A tab stop; a click focuses it only with the left button (mousePressEvent).
    setFocusPolicy(Qt::TabFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    FHeightBackup = height();
    PlaceChildren();
    RenderCorners();
}

TQnTitle::~TQnTitle() = default;

void TQnTitle::SetBorderLeft(int value) {
    FLeftBorder = value;
    Touch();
}

void TQnTitle::SetBorderTop(int value) {
    FTopBorder = value;
    Touch();
}

void TQnTitle::SetColorLeft(const QColor& value) {
    FGradient.LeftColor = value;
    RenderCorners();
    Touch();
}

void TQnTitle::SetColorRight(const QColor& value) {
    FGradient.RightColor = value;
    RenderCorners();
    Touch();
}

void TQnTitle::SetBackgroundColor(const QColor& value) {
    FBackgroundColor = value;
    RenderCorners();
    Touch();
}

void TQnTitle::SetFrameColor(const QColor& value) {
    Frame = value;
    RenderCorners();
    Touch();
}

void TQnTitle::SetColor(const QColor& value) {
    FColor = value;
    RenderCorners();
    Touch();
}

void TQnTitle::SetCaptionColor(const QColor& value) {
    FCaptionColor = value;
    Touch();
}

void TQnTitle::SetTitleHeight(int value) {
    TitleH = std::clamp(value, 1, MaxTitleHeight);
    Buffer = QImage();
    PlaceChildren();
    Touch();
}

void TQnTitle::SetRoundRadius(int value) {
    Radius = std::clamp(value, 1, MaxRoundRadius);
    RenderCorners();
    Touch();
}

void TQnTitle::SetSeparationLine(bool value) {
    FSeparationLine = value;
    Touch();
}

void TQnTitle::SetStraightSeparation(bool value) {
    FStraightSeparation = value;
    RenderCorners();
    Touch();
}

void TQnTitle::SetBorderWidth(int value) {
    FBorderWidth = std::max(0, value);
    PlaceChildren();
    update();
}

void TQnTitle::SetCtl3D(bool value) {
    FCtl3D = value;
    update();
}

void TQnTitle::SetCaption(const QString& value) {
    FCaption = value;
    setAccessibleName(value);
    Touch();
}

void TQnTitle::SetCaptionFont(const QFont& value) {
    FCaptionFont = value;
    Touch();
}

void TQnTitle::SetIcon(const QPixmap& value) {
    FPicture = value;
    Touch();
}

void TQnTitle::SetIconLeft(int value) {
    FIconLeft = value;
    Touch();
}

void TQnTitle::SetIconTop(int value) {
    FIconTop = value;
    Touch();
}

int TQnTitle::BodyHeight() const { return Expanded() ? height() - TitleH : FHeightBackup - TitleH; }

void TQnTitle::Collapse() {
    if (!Expanded()) {
        return;
    }
    FHeightBackup = height();
    FBackupTaken = true;
    if (OnCollapse) {
        OnCollapse(*this);
    }
}

void TQnTitle::Expand() {
    if (Expanded() || !OnExpand) {
        return;
    }
    OnExpand(*this);
}

void TQnTitle::Toggle() {
    if (Expanded()) {
        Collapse();
    } else {
        Expand();
    }
}

void TQnTitle::ExecCollapse() {
    if (minimumHeight() > TitleH) {
        setMinimumHeight(TitleH);
    }
    setMaximumHeight(TitleH);
    resize(width(), TitleH);
}

void TQnTitle::ExecExpand() {
    // A panel that starts collapsed and was never opened has no height of its own to return
    // to: it opens just high enough for its (by now shown) children.
    if (FHeightBackup <= TitleH) {
        const int children = layout() != nullptr ? layout()->sizeHint().height() : 0;
        FHeightBackup = TitleH + 2 * FBorderWidth + children;
    }
    setMaximumHeight(QWIDGETSIZE_MAX);
    resize(width(), FHeightBackup);
}

void TQnTitle::Invalidate() { Touch(); }

QSize TQnTitle::sizeHint() const {
    const QSize fromLayout = layout() != nullptr ? layout()->sizeHint() : QSize();
    return {std::max(fromLayout.width(), 2 * Radius + 64),
            std::max(fromLayout.height(), TitleH + 2 * FBorderWidth)};
}

void TQnTitle::Touch() {
    Changed = true;
    update();
}

void TQnTitle::PlaceChildren() {
    setContentsMargins(FBorderWidth, TitleH + FBorderWidth, FBorderWidth, FBorderWidth);
}

void TQnTitle::RenderCorners() {
    const int r = Radius;
    Corners = QImage(r, TileCount * r, QImage::Format_RGB32);
    const QColor& left = FGradient.LeftColor;
    const QColor& right = FGradient.RightColor;
    struct TTileColours {
        QColor Inner;
        QColor Outer;
        bool MirrorX;  // pixel x = R - 1 - j (a left corner) instead of j
        bool MirrorY;  // pixel y = R - 1 - i (a top corner) instead of i
    };
    const TTileColours tiles[8] = {
        {left, FBackgroundColor, true, true},
        {right, FBackgroundColor, false, true},
        {left, FBackgroundColor, true, false},
        {right, FBackgroundColor, false, false},
        {left, FColor, true, false},
        {right, FColor, false, false},
        {FColor, FBackgroundColor, true, false},
        {FColor, FBackgroundColor, false, false},
    };
    for (int n = 0; n < 8; ++n) {
        const TTileColours& tile = tiles[n];
        for (int i = 0; i < r; ++i) {
            for (int j = 0; j < r; ++j) {
                const int x = tile.MirrorX ? r - 1 - j : j;
                const int y = tile.MirrorY ? r - 1 - i : i;
                QRgb pixel = Blend(tile.Inner, tile.Outer, Frame, Cover(i, j, r));
                // Below the title bar of an open panel the outermost column continues the side
                // frame into the body.
                if ((n == tlOpenBottomLeft || n == tlOpenBottomRight) && j == r - 1) {
                    pixel = Frame.rgb();
                }
                Corners.setPixel(x, n * r + y, pixel);
            }
        }
    }
    // Square corners: the frame along the outer column and the bottom row.
    for (int n = tlStraightBottomLeft; n <= tlStraightBottomRight; ++n) {
        const QColor& inner = n == tlStraightBottomLeft ? left : right;
        for (int i = 0; i < r; ++i) {
            for (int j = 0; j < r; ++j) {
                const int x = n == tlStraightBottomLeft ? r - 1 - j : j;
                const bool onFrame = i == r - 1 || j == r - 1;
                Corners.setPixel(x, n * r + i, onFrame ? Frame.rgb() : inner.rgb());
            }
        }
    }
}

void TQnTitle::DrawTile(QPainter& painter, int tile, int x, int y) const {
    painter.drawImage(QPoint(x, y), Corners, QRect(0, tile * Radius, Radius, Radius));
}

void TQnTitle::RenderTitle() {
    const int w = width();
    const int th = TitleH;
    const int r = Radius;
    // The buffer has the screen's pixel density, so the caption stays crisp on dense screens;
    // everything is drawn in the layout's pixels and scaled by the painter.
    const qreal ratio = devicePixelRatioF();
    const QSize pixels(static_cast<int>(std::ceil(std::max(w, 1) * ratio)),
                       static_cast<int>(std::ceil(th * ratio)));
    if (Buffer.size() != pixels || Buffer.devicePixelRatio() != ratio) {
        Buffer = QImage(pixels, QImage::Format_RGB32);
        Buffer.setDevicePixelRatio(ratio);
    }
    Buffer.fill(FBackgroundColor);
    QPainter painter(&Buffer);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    // A rectangle (x1, y1)-(x2, y2) fills x1 .. x2 - 1; a line from a to b leaves out b.
    const auto fill = [&](int x1, int y1, int x2, int y2, const QColor& colour) {
        if (x2 > x1 && y2 > y1) {
            painter.fillRect(QRect(x1, y1, x2 - x1, y2 - y1), colour);
        }
    };
    fill(1, r, r, th - r, FGradient.LeftColor);
    fill(w - r, r, w - 1, th - r, FGradient.RightColor);
    fill(0, r, 1, th - r, Frame);
    fill(w - 1, r, w, th - r, Frame);
    const int span = w - 2 * r;
    for (int x = r; span > 0 && x <= w - r - 1; ++x) {
        const double c = 1.0 - static_cast<double>(x - r) / span;
        const auto channel = [c](int a, int b) { return static_cast<int>(a * c + b * (1.0 - c)); };
        const QColor colour(channel(FGradient.LeftColor.red(), FGradient.RightColor.red()),
                            channel(FGradient.LeftColor.green(), FGradient.RightColor.green()),
                            channel(FGradient.LeftColor.blue(), FGradient.RightColor.blue()));
        fill(x, 1, x + 1, th - 1, colour);
    }
    fill(r, 0, w - r, 1, Frame);
    fill(r, th - 1, w - r, th, Frame);
    if (!Open) {
        DrawTile(painter, tlCollapsedBottomLeft, 0, th - r);
        DrawTile(painter, tlCollapsedBottomRight, w - r, th - r);
    } else if (FStraightSeparation) {
        DrawTile(painter, tlStraightBottomLeft, 0, th - r);
        DrawTile(painter, tlStraightBottomRight, w - r, th - r);
    } else {
        DrawTile(painter, tlOpenBottomLeft, 0, th - r);
        DrawTile(painter, tlOpenBottomRight, w - r, th - r);
    }
    DrawTile(painter, tlTitleTopLeft, 0, 0);
    DrawTile(painter, tlTitleTopRight, w - r, 0);

    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setFont(FCaptionFont);
    painter.setPen(FCaptionColor);
    painter.drawText(QRect(FLeftBorder, FTopBorder, std::max(w - FLeftBorder, 1), th),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip,
                     FCaption);
    if (FSeparationLine) {
        fill(w - 32, 9, w - 31, th - 9, Frame);
    }
    if (OnPaintTitle) {
        OnPaintTitle(*this, painter, w - 24, th / 2 - 8);
    }
    if (!FPicture.isNull()) {
        painter.drawPixmap(FIconLeft, FIconTop, FPicture);
    }
}

void TQnTitle::paintEvent(QPaintEvent* event) {
    if (Changed || Buffer.isNull() ||
        Buffer.deviceIndependentSize().toSize() != QSize(std::max(width(), 1), TitleH)) {
        Changed = false;
        Open = height() != TitleH;
        RenderTitle();
    }
    const int w = width();
    const int h = height();
    const int th = TitleH;
    const int r = Radius;
    QPainter painter(this);
    const QRect clip = event->rect();
    const QRect titleArea = clip.intersected(QRect(0, 0, w, th));
    if (!titleArea.isEmpty()) {
        painter.save();
        painter.setClipRect(titleArea);
        painter.drawImage(QPoint(0, 0), Buffer);
        painter.restore();
    }
    if (Open) {
        const QRect body = clip.intersected(QRect(0, th, w, h - th));
        if (!body.isEmpty()) {
            painter.fillRect(body, FColor);
        }
        if (h - r > th) {
            painter.fillRect(QRect(0, th, 1, h - r - th), Frame);
            painter.fillRect(QRect(w - 1, th, 1, h - r - th), Frame);
        }
        if (w - 2 * r > 0) {
            painter.fillRect(QRect(r, h - 1, w - 2 * r, 1), Frame);
        }
        DrawTile(painter, tlBodyBottomLeft, 0, h - r);
        DrawTile(painter, tlBodyBottomRight, w - r, h - r);
    }
    if (FHasFocus && FCtl3D) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = QRect(2, 2, w - 4, th - 4);
        option.backgroundColor = FGradient.RightColor;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void TQnTitle::resizeEvent(QResizeEvent* event) {
    // Until the user first collapses it, a panel laid out afresh returns to its latest open
    // height rather than to the height it was created with.
    if (!FBackupTaken && event->size().height() != TitleH) {
        FHeightBackup = event->size().height();
    }
    Touch();
}

void TQnTitle::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        setFocus(Qt::MouseFocusReason);
    }
    event->accept();
}

void TQnTitle::mouseMoveEvent(QMouseEvent* event) {
    if (OnCollapse) {
        setCursor(event->position().y() < TitleH ? Qt::PointingHandCursor : Qt::ArrowCursor);
    }
    QWidget::mouseMoveEvent(event);
}

void TQnTitle::mouseReleaseEvent(QMouseEvent* event) {
    if (event->position().y() < TitleH && event->button() == Qt::LeftButton && hasFocus()) {
        if (height() == TitleH) {
            Expand();
        } else {
            Collapse();
        }
        Touch();
    }
    event->accept();
}

void TQnTitle::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        Toggle();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Space) {
        // The toggle comes with the release; the press is ours too.
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TQnTitle::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        if (hasFocus()) {
            Toggle();
        }
        event->accept();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void TQnTitle::focusInEvent(QFocusEvent* event) {
    FHasFocus = true;
    Touch();
    QWidget::focusInEvent(event);
}

void TQnTitle::focusOutEvent(QFocusEvent* event) {
    FHasFocus = false;
    Touch();
    QWidget::focusOutEvent(event);
}

}  // namespace orvane::ui
