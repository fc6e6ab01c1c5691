#include "ui/Fonts.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>

namespace orvane::ui {

QFont LayoutFont(const QString& family, int height) {
    QFont font = QApplication::font();
    if (QFontDatabase::families().contains(family, Qt::CaseInsensitive)) {
        font.setFamily(family);
    }
    if (height < 0) {
        font.setPixelSize(-height);
    } else if (height > 0) {
        int pixels = height;
        font.setPixelSize(pixels);
        while (pixels > 1 && QFontMetrics(font).height() > height) {
            font.setPixelSize(--pixels);
        }
    }
    return font;
}

}  // namespace orvane::ui
