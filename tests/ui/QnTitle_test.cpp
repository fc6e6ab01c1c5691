#include "ui/QnTitle.h"

#include <gtest/gtest.h>
#include <memory>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include "UiTestApp.h"

namespace orvane::ui {
namespace {

constexpr QRgb Left = qRgb(195, 214, 255);
constexpr QRgb Right = qRgb(239, 243, 255);
constexpr QRgb FrameRgb = qRgb(189, 202, 234);
constexpr QRgb Body = qRgb(239, 243, 255);
constexpr QRgb Outside = qRgb(255, 255, 255);

class TQnTitleTest : public test::TUiTest {
protected:
    /// A panel of `width` x `height` on a white window, shown and active.
    TQnTitle& MakePanel(int width, int height) {
        Window = std::make_unique<QWidget>();
        Window->resize(width + 40, height + 40);
        Panel = new TQnTitle(Window.get());
        Panel->SetBackgroundColor(QColor(Outside));
        Panel->setGeometry(20, 20, width, height);
        Window->show();
        Window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(Window.get()));
        return *Panel;
    }

    QImage Grab() const { return Panel->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    std::unique_ptr<QWidget> Window;
    TQnTitle* Panel = nullptr;
};

TEST(FromColorRef, ReadsBlueGreenRedFromTheHighToTheLowByte) {
    EXPECT_EQ(FromColorRef(16766659), qRgb(195, 214, 255));
    EXPECT_EQ(FromColorRef(15387325), qRgb(189, 202, 234));
    EXPECT_EQ(FromColorRef(4663581), qRgb(29, 41, 71));
}

TEST_F(TQnTitleTest, CornerTilesBlendInsideFrameAndOutsideByNinths) {
    TQnTitle& panel = MakePanel(200, 100);
    const QImage& tiles = panel.CornerTiles();
    ASSERT_EQ(tiles.size(), QSize(8, 80));
    // Tile 0 (top left): the pixel next to the corner's centre is inside, the far corner outside.
    EXPECT_EQ(tiles.pixel(7, 7), Left);
    EXPECT_EQ(tiles.pixel(0, 0), Outside);
    // i = 0, j = 7: every sub-sample lies between (3R - 3)^2 = 441 and 9R^2 = 576: pure frame.
    EXPECT_EQ(tiles.pixel(0, 7), FrameRgb);
    // i = j = 5: one of nine sub-samples (17^2 + 17^2 = 578) is outside, eight on the frame:
    // 255 / 9 + 189 * 8 / 9 = 28 + 168, 28 + 179, 28 + 208.
    EXPECT_EQ(tiles.pixel(2, 2), qRgb(196, 207, 236));
    // Tile 4 (bottom left of an open title): the outer column continues the side frame.
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(tiles.pixel(0, 4 * 8 + y), FrameRgb) << y;
    }
    // Tile 9 (straight bottom right): inner colour, frame on the outer column and bottom row.
    EXPECT_EQ(tiles.pixel(0, 9 * 8), Right);
    EXPECT_EQ(tiles.pixel(7, 9 * 8), FrameRgb);
    EXPECT_EQ(tiles.pixel(0, 9 * 8 + 7), FrameRgb);
}

TEST_F(TQnTitleTest, TitleBarPaintsGradientStripsAndFrame) {
    MakePanel(200, 100);
    const QImage image = Grab();
    ASSERT_EQ(image.size(), QSize(200, 100));
    const int y = 15;
    // Gradient from x = R to W - R - 1 over W - 2R = 184 steps:
    // x = 8: c = 1 -> left colour; x = 100: c = 1/2; x = 191: c = 1/184.
    EXPECT_EQ(image.pixel(8, y), Left);
    EXPECT_EQ(image.pixel(100, y), qRgb(217, 228, 255));
    EXPECT_EQ(image.pixel(191, y), qRgb(238, 242, 255));
    // Strips and side frame.
    EXPECT_EQ(image.pixel(1, y), Left);
    EXPECT_EQ(image.pixel(7, y), Left);
    EXPECT_EQ(image.pixel(192, y), Right);
    EXPECT_EQ(image.pixel(198, y), Right);
    EXPECT_EQ(image.pixel(0, y), FrameRgb);
    EXPECT_EQ(image.pixel(199, y), FrameRgb);
    // Top and bottom frame of the title bar, corners blended into the background.
    EXPECT_EQ(image.pixel(100, 0), FrameRgb);
    EXPECT_EQ(image.pixel(100, 29), FrameRgb);
    EXPECT_EQ(image.pixel(0, 0), Outside);
    EXPECT_EQ(image.pixel(199, 0), Outside);
    EXPECT_EQ(image.pixel(0, 7), FrameRgb);
    EXPECT_EQ(image.pixel(2, 2), qRgb(196, 207, 236));
}

TEST_F(TQnTitleTest, OpenPanelPaintsFramedBodyWithRoundedBottomCorners) {
    MakePanel(200, 100);
    const QImage image = Grab();
    EXPECT_EQ(image.pixel(100, 60), Body);
    EXPECT_EQ(image.pixel(0, 60), FrameRgb);
    EXPECT_EQ(image.pixel(199, 60), FrameRgb);
    EXPECT_EQ(image.pixel(100, 99), FrameRgb);
    EXPECT_EQ(image.pixel(0, 99), Outside);
    EXPECT_EQ(image.pixel(199, 99), Outside);
    // Lower corners of the open title bar (tiles 4, 5): the side frame runs straight through.
    EXPECT_EQ(image.pixel(0, 29), FrameRgb);
    EXPECT_EQ(image.pixel(199, 29), FrameRgb);
}

TEST_F(TQnTitleTest, CollapsedPanelPaintsOnlyTheTitleWithRoundedLowerCorners) {
    MakePanel(200, 30);
    EXPECT_FALSE(Panel->Expanded());
    const QImage image = Grab();
    ASSERT_EQ(image.height(), 30);
    EXPECT_EQ(image.pixel(0, 29), Outside);
    EXPECT_EQ(image.pixel(199, 29), Outside);
    EXPECT_EQ(image.pixel(100, 29), FrameRgb);
}

TEST_F(TQnTitleTest, StraightSeparationSquaresTheLowerTitleCornersOnly) {
    MakePanel(200, 100);
    Panel->SetStraightSeparation(true);
    const QImage image = Grab();
    EXPECT_EQ(image.pixel(0, 29), FrameRgb);
    EXPECT_EQ(image.pixel(1, 29), FrameRgb);
    EXPECT_EQ(image.pixel(1, 28), Left);
    EXPECT_EQ(image.pixel(198, 28), Right);
    EXPECT_EQ(image.pixel(0, 99), Outside);
}

TEST_F(TQnTitleTest, NarrowPanelDrawsNoGradientButItsStrips) {
    MakePanel(16, 100);
    const QImage image = Grab();
    EXPECT_EQ(image.pixel(1, 15), Left);
    EXPECT_EQ(image.pixel(7, 15), Left);
    EXPECT_EQ(image.pixel(8, 15), Right);
    EXPECT_EQ(image.pixel(14, 15), Right);
    EXPECT_EQ(image.pixel(15, 15), FrameRgb);
}

TEST_F(TQnTitleTest, SeparationLineAndTitleGlyphSitNearTheRightEnd) {
    MakePanel(200, 100);
    QPoint glyphAt(-1, -1);
    Panel->OnPaintTitle = [&](TQnTitle&, QPainter& canvas, int x, int y) {
        glyphAt = QPoint(x, y);
        canvas.fillRect(QRect(x, y, 16, 16), Qt::black);
    };
    Panel->SetSeparationLine(true);
    const QImage image = Grab();
    EXPECT_EQ(glyphAt, QPoint(176, 7));
    EXPECT_EQ(image.pixel(176, 7), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(191, 22), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(168, 9), FrameRgb);
    EXPECT_EQ(image.pixel(168, 20), FrameRgb);
    EXPECT_NE(image.pixel(168, 8), FrameRgb);
    EXPECT_NE(image.pixel(168, 21), FrameRgb);
}

TEST_F(TQnTitleTest, OddSizesAndRadiiPaintWithoutFault) {
    const struct {
        int Width;
        int Height;
        int TitleHeight;
        int Radius;
    } cases[] = {{1, 1, 30, 8},          {3, 40, 30, 8},     {16, 20, 30, 8},
                 {200, 100, 4, 8},       {200, 100, 30, 0},  {200, 100, 30, 60},
                 {20, 300, 30, 1000000}, {200, 100, -5, -5}, {200, 100, 5000, 8}};
    for (const auto& c : cases) {
        MakePanel(c.Width, c.Height);
        Panel->SetTitleHeight(c.TitleHeight);
        Panel->SetRoundRadius(c.Radius);
        EXPECT_GE(Panel->TitleHeight(), 1);
        EXPECT_LE(Panel->TitleHeight(), TQnTitle::MaxTitleHeight);
        EXPECT_GE(Panel->RoundRadius(), 1);
        EXPECT_LE(Panel->RoundRadius(), TQnTitle::MaxRoundRadius);
        EXPECT_EQ(Panel->CornerTiles().size(),
                  QSize(Panel->RoundRadius(), 10 * Panel->RoundRadius()));
        EXPECT_EQ(Grab().size(), QSize(c.Width, c.Height)) << c.Width << " " << c.Radius;
    }
}

TEST_F(TQnTitleTest, IconIsDrawnAtItsPosition) {
    MakePanel(200, 100);
    QPixmap icon(4, 4);
    icon.fill(Qt::red);
    Panel->SetIcon(icon);
    Panel->SetIconLeft(3);
    Panel->SetIconTop(1);
    const QImage image = Grab();
    EXPECT_EQ(image.pixel(3, 1), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(6, 4), qRgb(255, 0, 0));
    EXPECT_NE(image.pixel(7, 5), qRgb(255, 0, 0));
}

TEST_F(TQnTitleTest, ClickOnTheTitleAsksTheOwnerWhoChangesTheHeight) {
    TQnTitle& panel = MakePanel(200, 120);
    int collapses = 0;
    int expands = 0;
    panel.OnCollapse = [&](TQnTitle& sender) {
        ++collapses;
        EXPECT_EQ(sender.height(), 120);  // the panel leaves its height to the owner
        sender.ExecCollapse();
    };
    panel.OnExpand = [&](TQnTitle& sender) {
        ++expands;
        sender.ExecExpand();
    };
    EXPECT_EQ(panel.BodyHeight(), 90);
    QTest::mouseClick(&panel, Qt::LeftButton, {}, QPoint(100, 10));
    EXPECT_EQ(collapses, 1);
    EXPECT_EQ(panel.height(), 30);
    EXPECT_FALSE(panel.Expanded());
    EXPECT_EQ(panel.HeightBackup(), 120);
    EXPECT_EQ(panel.BodyHeight(), 90);
    QTest::mouseClick(&panel, Qt::LeftButton, {}, QPoint(100, 10));
    EXPECT_EQ(expands, 1);
    EXPECT_EQ(panel.height(), 120);
    EXPECT_TRUE(panel.Expanded());
}

TEST_F(TQnTitleTest, ClicksBelowTheTitleOrWithTheRightButtonDoNothing) {
    TQnTitle& panel = MakePanel(200, 120);
    int calls = 0;
    panel.OnCollapse = [&](TQnTitle&) { ++calls; };
    QTest::mouseClick(&panel, Qt::LeftButton, {}, QPoint(100, 30));
    QTest::mouseClick(&panel, Qt::RightButton, {}, QPoint(100, 10));
    EXPECT_EQ(calls, 0);
}

TEST_F(TQnTitleTest, OnlyTheLeftButtonTakesTheFocus) {
    TQnTitle& panel = MakePanel(200, 120);
    auto* other = new QLineEdit(Window.get());
    other->show();
    other->setFocus();
    ASSERT_FALSE(panel.hasFocus());
    QTest::mouseClick(&panel, Qt::RightButton, {}, QPoint(100, 10));
    EXPECT_FALSE(panel.hasFocus());
    QTest::mouseClick(&panel, Qt::LeftButton, {}, QPoint(100, 60));
    EXPECT_TRUE(panel.hasFocus());
    EXPECT_NE(panel.focusPolicy() & Qt::TabFocus, 0);
}

TEST_F(TQnTitleTest, WithoutHandlersTheUserCannotCollapseAndTheCursorStaysTheArrow) {
    TQnTitle& panel = MakePanel(200, 120);
    QTest::mouseMove(&panel, QPoint(100, 10));
    EXPECT_EQ(panel.cursor().shape(), Qt::ArrowCursor);
    QTest::mouseClick(&panel, Qt::LeftButton, {}, QPoint(100, 10));
    EXPECT_EQ(panel.height(), 120);
    EXPECT_TRUE(panel.Expanded());
}

TEST_F(TQnTitleTest, CursorIsTheHandAboveTheTitleLineWhenCollapsible) {
    TQnTitle& panel = MakePanel(200, 120);
    panel.OnCollapse = [](TQnTitle&) {};
    QMouseEvent above(QEvent::MouseMove, QPointF(100, 29), panel.mapToGlobal(QPointF(100, 29)),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&panel, &above);
    EXPECT_EQ(panel.cursor().shape(), Qt::PointingHandCursor);
    QMouseEvent below(QEvent::MouseMove, QPointF(100, 30), panel.mapToGlobal(QPointF(100, 30)),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&panel, &below);
    EXPECT_EQ(panel.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(TQnTitleTest, EnterAndSpaceToggleWhileFocused) {
    TQnTitle& panel = MakePanel(200, 120);
    panel.OnCollapse = [](TQnTitle& sender) { sender.ExecCollapse(); };
    panel.OnExpand = [](TQnTitle& sender) { sender.ExecExpand(); };
    panel.setFocus();
    ASSERT_TRUE(panel.hasFocus());
    QTest::keyClick(&panel, Qt::Key_Return);
    EXPECT_FALSE(panel.Expanded());
    QTest::keyClick(&panel, Qt::Key_Space);
    EXPECT_TRUE(panel.Expanded());
    EXPECT_EQ(panel.height(), 120);
}

TEST_F(TQnTitleTest, CollapseWithoutHandlerOnlyRemembersTheHeight) {
    TQnTitle& panel = MakePanel(200, 120);
    panel.Collapse();
    EXPECT_EQ(panel.HeightBackup(), 120);
    EXPECT_EQ(panel.height(), 120);
    panel.Expand();  // expanded already: nothing
    EXPECT_EQ(panel.height(), 120);
}

TEST_F(TQnTitleTest, PanelStartingCollapsedOpensHighEnoughForItsChildren) {
    TQnTitle& panel = MakePanel(200, 30);
    auto* layout = new QVBoxLayout(&panel);
    auto* child = new QWidget(&panel);
    child->setMinimumHeight(50);
    layout->addWidget(child);
    child->show();
    panel.OnExpand = [](TQnTitle& sender) { sender.ExecExpand(); };
    panel.Expand();
    EXPECT_GE(panel.height(), 30 + 8 + 50 + 8);
    EXPECT_TRUE(panel.Expanded());
    // The children sit inside the body's margins.
    QApplication::processEvents();
    layout->activate();
    EXPECT_GE(child->y(), 30 + 8);
    EXPECT_GE(child->x(), 8);
}

TEST_F(TQnTitleTest, CollapsedPanelStaysAtTitleHeightInALayout) {
    Window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(Window.get());
    Panel = new TQnTitle(Window.get());
    layout->addWidget(Panel);
    Window->resize(300, 300);
    Window->show();
    QApplication::processEvents();
    Panel->OnCollapse = [](TQnTitle& sender) { sender.ExecCollapse(); };
    Panel->Collapse();
    layout->activate();
    EXPECT_EQ(Panel->height(), 30);
}

}  // namespace
}  // namespace orvane::ui
