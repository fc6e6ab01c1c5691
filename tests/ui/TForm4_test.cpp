// The about box: its texts and layout, the caption centred once, the focus on "&Close", and
// closing by the button or Escape.
#include "ui/TForm4.h"

#include <cstdlib>
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "UiTestApp.h"
#include "ui/QnTitle.h"

namespace orvane::ui {
namespace {

class TForm4Test : public test::TUiTest {};

int CentredLeft(const TQnTitle& panel) {
    return (panel.width() - QFontMetrics(panel.CaptionFont()).horizontalAdvance(panel.Caption())) /
           2;
}

TEST_F(TForm4Test, NamesTheProductItsVersionAndWhatItDoes) {
    TForm4 box;
    EXPECT_EQ(box.windowTitle(), QStringLiteral("About ORVANE3"));
    EXPECT_EQ(box.size(), QSize(519, 174));
    EXPECT_EQ(box.QnTitle1()->Caption(), QStringLiteral("Quendal Music Database 3.2.2"));
    EXPECT_TRUE(box.QnTitle1()->Caption().endsWith(QString::fromLatin1(TForm4::VersionText)));
    EXPECT_TRUE(box.UpperLabel()->text().contains(QStringLiteral("ORVANE3")));
    EXPECT_TRUE(box.UpperLabel()->text().contains(QStringLiteral("fingerprints")));
    EXPECT_FALSE(box.LowerLabel()->text().isEmpty());
    EXPECT_TRUE(box.LowerLabel()->wordWrap());
    EXPECT_EQ(box.CloseButton()->text(), QStringLiteral("&Close"));
}

TEST_F(TForm4Test, TitlePanelIsAFrameTheUserCannotCollapse) {
    TForm4 box;
    TQnTitle& panel = *box.QnTitle1();
    EXPECT_FALSE(panel.OnCollapse);
    EXPECT_FALSE(panel.OnExpand);
    EXPECT_EQ(panel.focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(panel.TitleHeight(), 28);
    EXPECT_EQ(panel.RoundRadius(), 22);
    EXPECT_EQ(panel.BorderWidth(), 15);
    EXPECT_EQ(panel.BorderTop(), 3);
    EXPECT_TRUE(panel.StraightSeparation());
    EXPECT_EQ(panel.Color(), QColor(Qt::white));
    EXPECT_EQ(panel.FrameColor(), QColor(FromColorRef(14327417)));
    EXPECT_EQ(panel.BackgroundColor(), QColor(239, 243, 254));
    EXPECT_EQ(panel.IconLeft(), 2);
    EXPECT_EQ(panel.IconTop(), -1);

    box.show();
    const int height = panel.height();
    QTest::mouseClick(&panel, Qt::LeftButton, {}, QPoint(40, 10));
    EXPECT_EQ(panel.height(), height);
}

TEST_F(TForm4Test, CentresTheCaptionAtFirstShowAndKeepsItCentredWhenShownAgain) {
    TForm4 box;
    box.show();
    const int centred = CentredLeft(*box.QnTitle1());
    EXPECT_GT(centred, 0);
    EXPECT_EQ(box.QnTitle1()->BorderLeft(), centred);
    EXPECT_EQ(box.focusWidget(), box.CloseButton());
    box.hide();
    box.show();
    EXPECT_EQ(box.QnTitle1()->BorderLeft(), centred);
}

TEST_F(TForm4Test, CloseButtonAndEscapeBothCloseTheBox) {
    for (bool byEscape : {false, true}) {
        TForm4 box;
        box.show();
        ASSERT_TRUE(box.isVisible());
        if (byEscape) {
            QTest::keyClick(&box, Qt::Key_Escape);
        } else {
            QTest::mouseClick(box.CloseButton(), Qt::LeftButton);
        }
        EXPECT_FALSE(box.isVisible()) << (byEscape ? "Escape" : "Close");
        EXPECT_EQ(box.result(), QDialog::Rejected);
    }
}

TEST_F(TForm4Test, BodyPartsStayInsideTheWindow) {
    TForm4 box;
    box.show();
    for (const QWidget* part :
         {static_cast<QWidget*>(box.CloseButton()), static_cast<QWidget*>(box.UpperLabel()),
          static_cast<QWidget*>(box.LowerLabel())}) {
        const QRect inBox(part->mapTo(&box, QPoint(0, 0)), part->size());
        EXPECT_TRUE(box.rect().contains(inBox)) << part->objectName().toStdString();
    }
    // Centred under the notice.
    const QRect close(box.CloseButton()->mapTo(&box, QPoint(0, 0)), box.CloseButton()->size());
    EXPECT_LE(std::abs(close.center().x() - box.rect().center().x()), 1);
    EXPECT_EQ(close.size(), QSize(75, 23));
}

}  // namespace
}  // namespace orvane::ui
