// Fonts named by the windows' layouts: the named family when it is installed, else the
// desktop's default, at a height given the way the layouts give it.
// Thread: main thread (needs a QGuiApplication).
#pragma once

#include <QFont>
#include <QString>

namespace orvane::ui {

/// A font of `family` (the application's default font when that family is not installed).
/// `height` < 0 is the character height in pixels at 96 dpi (-11 is an 11-pixel font);
/// `height` > 0 is the cell height (ascent plus descent), the largest pixel size whose line
/// fits is taken; 0 keeps the default size.
QFont LayoutFont(const QString& family, int height);

}  // namespace orvane::ui
