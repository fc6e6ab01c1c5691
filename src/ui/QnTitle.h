// The collapsible title panel: a rounded card with a gradient title bar (caption, icon, state
// glyph) over a flat body holding child widgets. A click on the title bar, Enter or Space asks
// the owner (OnCollapse / OnExpand) to collapse or expand it; the owner rearranges its window and
// then calls ExecCollapse / ExecExpand, which change the panel's height.
// Thread: main thread only.
#pragma once

#include <cstdint>
#include <functional>

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>

class QPainter;

namespace orvane::ui {

/// A colour given as 0x00BBGGRR (the layouts' notation): 16766659 is RGB(195, 214, 255).
constexpr QRgb FromColorRef(std::uint32_t colorRef) {
    return qRgb(static_cast<int>(colorRef & 0xFFU), static_cast<int>((colorRef >> 8) & 0xFFU),
                static_cast<int>((colorRef >> 16) & 0xFFU));
}

/// Layout of the card, in pixels at 96 dpi (Qt scales them on denser screens):
///   title bar: rows 0 .. TitleHeight - 1, a horizontal gradient ColorLeft -> ColorRight inside
///   a one-pixel FrameColor frame, corners of radius RoundRadius blended into BackgroundColor;
///   body: rows TitleHeight .. height - 1 in Color, framed, bottom corners rounded.
/// Child widgets go into a layout set on the panel: its contents margins keep them inside
/// (BorderWidth, TitleHeight + BorderWidth) - (width - BorderWidth, height - BorderWidth).
/// The panel is collapsed exactly when its height equals TitleHeight.
class TQnTitle : public QWidget {
    Q_OBJECT

public:
    /// Corner tiles, each RoundRadius square, stacked top to bottom in CornerTiles().
    enum TTile : int {
        tlTitleTopLeft = 0,
        tlTitleTopRight = 1,
        tlCollapsedBottomLeft = 2,
        tlCollapsedBottomRight = 3,
        tlOpenBottomLeft = 4,
        tlOpenBottomRight = 5,
        tlBodyBottomLeft = 6,
        tlBodyBottomRight = 7,
        tlStraightBottomLeft = 8,
        tlStraightBottomRight = 9,
        TileCount = 10
    };

    /// `parent` owns the panel. HeightBackup starts as the height the panel has now.
    explicit TQnTitle(QWidget* parent);
    ~TQnTitle() override;

    /// x and y of the caption text in the title bar, pixels (10, 10).
    int BorderLeft() const { return FLeftBorder; }
    void SetBorderLeft(int value);
    int BorderTop() const { return FTopBorder; }
    void SetBorderTop(int value);

    /// Gradient colours at the left and right ends of the title bar.
    QColor ColorLeft() const { return FGradient.LeftColor; }
    void SetColorLeft(const QColor& value);
    QColor ColorRight() const { return FGradient.RightColor; }
    void SetColorRight(const QColor& value);
    /// The colour around the rounded outer corners (the parent's background).
    QColor BackgroundColor() const { return FBackgroundColor; }
    void SetBackgroundColor(const QColor& value);
    /// The one-pixel frame and the separation line.
    QColor FrameColor() const { return Frame; }
    void SetFrameColor(const QColor& value);
    /// The body colour.
    QColor Color() const { return FColor; }
    void SetColor(const QColor& value);
    /// The caption's text colour (the layouts give it with the caption font).
    QColor CaptionColor() const { return FCaptionColor; }
    void SetCaptionColor(const QColor& value);

    /// Largest title height and corner radius taken, pixels (larger values are cut to these).
    static constexpr int MaxTitleHeight = 1024;
    static constexpr int MaxRoundRadius = 128;

    /// Height of the title bar in pixels (30); 1 ... MaxTitleHeight.
    int TitleHeight() const { return TitleH; }
    void SetTitleHeight(int value);
    /// Corner radius R in pixels (8); 1 ... MaxRoundRadius.
    int RoundRadius() const { return Radius; }
    void SetRoundRadius(int value);
    /// A short vertical line 32 pixels from the right end of the title bar.
    bool SeparationLine() const { return FSeparationLine; }
    void SetSeparationLine(bool value);
    /// Square lower title corners while the body is shown.
    bool StraightSeparation() const { return FStraightSeparation; }
    void SetStraightSeparation(bool value);
    /// Margin between the card's edge and the child widgets, pixels (8).
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int value);
    /// Whether a focused panel draws the focus rectangle (on).
    bool Ctl3D() const { return FCtl3D; }
    void SetCtl3D(bool value);

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& value);
    QFont CaptionFont() const { return FCaptionFont; }
    void SetCaptionFont(const QFont& value);
    /// The picture drawn at (IconLeft, IconTop) in the title bar; a null pixmap draws nothing.
    QPixmap Icon() const { return FPicture; }
    void SetIcon(const QPixmap& value);
    int IconLeft() const { return FIconLeft; }
    void SetIconLeft(int value);
    int IconTop() const { return FIconTop; }
    void SetIconTop(int value);

    /// Height differs from TitleHeight.
    bool Expanded() const { return height() != TitleH; }
    /// The height the panel returns to on ExecExpand.
    int HeightBackup() const { return FHeightBackup; }
    /// Height of the body: height - TitleHeight while expanded, HeightBackup - TitleHeight while
    /// collapsed (the owner grows or shrinks its window by it).
    int BodyHeight() const;

    /// Asks the owner to collapse: if expanded, HeightBackup := height, then OnCollapse. The
    /// height itself is left to the owner.
    void Collapse();
    /// Asks the owner to expand: if collapsed, OnExpand.
    void Expand();
    /// Collapse when expanded, Expand when collapsed.
    void Toggle();
    /// Height := TitleHeight (kept there by a maximum height, so a layout keeps it collapsed).
    void ExecCollapse();
    /// Height := HeightBackup (the maximum height lifted again). A panel that started collapsed
    /// and never had a height of its own opens to TitleHeight + 2 BorderWidth + its layout's
    /// size hint.
    void ExecExpand();
    /// Renders the title bar again before the next paint.
    void Invalidate();

    /// The rendered title bar (width x TitleHeight in the layout's pixels, at the screen's pixel
    /// ratio), as of the last paint.
    const QImage& TitleBuffer() const { return Buffer; }
    /// The ten corner tiles, R wide and 10 R high.
    const QImage& CornerTiles() const { return Corners; }

    /// Asked to expand the panel; calls ExecExpand when it agrees. Main thread.
    std::function<void(TQnTitle& sender)> OnExpand;
    /// Asked to collapse the panel; calls ExecCollapse when it agrees. Without it the user cannot
    /// collapse or expand the panel and the cursor stays the arrow. Main thread.
    std::function<void(TQnTitle& sender)> OnCollapse;
    /// Draws extra content (the state glyph) into the title bar with `canvas`, a 16 x 16 area
    /// at (x, y) = (width - 24, TitleHeight / 2 - 8). Main thread, while the title bar renders.
    std::function<void(TQnTitle& sender, QPainter& canvas, int x, int y)> OnPaintTitle;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    struct TGradient {
        QColor LeftColor;
        QColor RightColor;
    };

    void RenderCorners();
    void RenderTitle();
    void PlaceChildren();
    void Touch();
    void DrawTile(QPainter& painter, int tile, int x, int y) const;

    QColor FBackgroundColor;
    bool FHasFocus = false;
    bool Open = false;
    QImage Buffer;
    QImage Corners;
    bool Changed = true;
    int TitleH = 30;
    int Radius = 8;
    int FHeightBackup = 0;
    bool FBackupTaken = false;  // HeightBackup was taken by a Collapse
    TGradient FGradient;
    QColor Frame;
    QColor FColor;
    QColor FCaptionColor;
    int FLeftBorder = 10;
    int FTopBorder = 10;
    bool FSeparationLine = false;
    int FBorderWidth = 8;
    QFont FCaptionFont;
    QPixmap FPicture;
    int FIconTop = 0;
    int FIconLeft = 0;
    bool FStraightSeparation = false;
    bool FCtl3D = true;
    QString FCaption;
};

}  // namespace orvane::ui
