#include "ui/Fonts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>

#include "UiTestApp.h"

namespace orvane::ui {
namespace {

class LayoutFontTest : public test::TUiTest {};

TEST_F(LayoutFontTest, MissingFamilyFallsBackToTheDesktopDefault) {
    const QFont font = LayoutFont(QStringLiteral("No Such Family 3f9c"), -11);
    EXPECT_EQ(font.family(), QApplication::font().family());
    EXPECT_EQ(font.pixelSize(), 11);
}

TEST_F(LayoutFontTest, NegativeHeightIsTheCharacterHeightPositiveTheLineHeight) {
    EXPECT_EQ(LayoutFont(QStringLiteral("Tahoma"), -13).pixelSize(), 13);
    for (const int height : {12, 24, 40}) {
        const QFont font = LayoutFont(QStringLiteral("Trebuchet MS"), height);
        EXPECT_LE(QFontMetrics(font).height(), height) << height;
        EXPECT_GE(font.pixelSize(), height / 2) << height;
    }
    EXPECT_EQ(LayoutFont(QStringLiteral("x"), 0).pointSizeF(), QApplication::font().pointSizeF());
}

}  // namespace
}  // namespace orvane::ui
