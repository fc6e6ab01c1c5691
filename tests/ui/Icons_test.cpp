#include "ui/Icons.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QIcon>
#include <QImage>
#include <QString>

#include "UiTestApp.h"

namespace orvane::ui {
namespace {

class TIconsTest : public test::TUiTest {
protected:
    /// Share of the 16 x 16 pixels that are drawn (not transparent).
    static double Coverage(const QIcon& icon) {
        const QImage image =
            icon.pixmap(QSize(16, 16), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(image.size(), QSize(16, 16));
        int drawn = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                drawn += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
            }
        }
        return drawn / 256.0;
    }
};

TEST_F(TIconsTest, EverySmallIconDrawsAt16Pixels) {
    for (int index = 0; index < SmallIconCount; ++index) {
        const QIcon icon = SmallIcon(index);
        ASSERT_FALSE(icon.isNull()) << index;
        EXPECT_GT(Coverage(icon), 0.3) << index;
    }
    for (int index = 0; index < StateIconCount; ++index) {
        ASSERT_FALSE(StateIcon(index).isNull()) << index;
        EXPECT_GT(Coverage(StateIcon(index)), 0.3) << index;
    }
    for (int index = 0; index < PanelIconCount; ++index) {
        EXPECT_FALSE(PanelIcon(index).isNull()) << index;
    }
    EXPECT_GT(Coverage(AppIcon()), 0.8);
}

TEST_F(TIconsTest, IndexesOutOfRangeGiveNullIcons) {
    for (const int index : {-1, int{SmallIconCount}, 100}) {
        EXPECT_TRUE(SmallIcon(index).isNull()) << index;
    }
    EXPECT_TRUE(StateIcon(2).isNull());
    EXPECT_TRUE(StateIcon(-1).isNull());
    EXPECT_TRUE(PanelIcon(2).isNull());
}

TEST_F(TIconsTest, IconsAreRenderedOnceAndShared) {
    EXPECT_EQ(SmallIcon(siArrow).cacheKey(), SmallIcon(siArrow).cacheKey());
    EXPECT_NE(SmallIcon(siArrow).cacheKey(), SmallIcon(siError).cacheKey());
    EXPECT_EQ(AppIcon().cacheKey(), AppIcon().cacheKey());
}

TEST_F(TIconsTest, MarkedIconsDifferFromTheirPlainOnesAndEnabledFromDisabled) {
    const auto image = [](int index) { return SmallIcon(index).pixmap(16, 16).toImage(); };
    EXPECT_NE(image(siEnabled), image(siDisabled));
    EXPECT_NE(image(siEnabled), image(siEnabledMarked));
    EXPECT_NE(image(siDisabled), image(siDisabledMarked));
    EXPECT_NE(image(siEnabledMarked), image(siDisabledMarked));
    EXPECT_NE(image(siInformation), image(siError));
}

TEST_F(TIconsTest, DesktopEntryNamesTheApplicationAndItsIcon) {
    QFile file(QStringLiteral(QT_TESTCASE_SOURCEDIR "/../../data/orvane3.desktop"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=orvane3 %F\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nIcon=orvane3\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nType=Application\n")));
}

}  // namespace
}  // namespace orvane::ui
