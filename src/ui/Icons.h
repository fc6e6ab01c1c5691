// The application's icons, drawn as SVG resources and rendered crisp at 16 px (and at the
// screen's pixel ratio): the image lists of the windows by their indexes, the title panels'
// pictures and the application icon.
// Thread: main thread (needs a QGuiApplication).
#pragma once

#include <QIcon>
#include <QPixmap>

namespace orvane::ui {

/// Indexes of the small image list: fingerprint rows (0, 1, 6, 7) and activity entries (2 to 5).
enum TSmallIcon : int {
    siEnabled = 0,
    siDisabled = 1,
    siInformation = 2,
    siAttention = 3,
    siError = 4,
    siArrow = 5,
    siEnabledMarked = 6,
    siDisabledMarked = 7,
    SmallIconCount = 8
};

/// Indexes of the title panels' state glyphs.
enum TStateIcon : int { stExpanded = 0, stCollapsed = 1, StateIconCount = 2 };

/// The pictures of the main window's title panels.
enum TPanelIcon : int { piChannels = 0, piDatabase = 1, PanelIconCount = 2 };

/// Small image list entry `index` (16 x 16, more pixels on dense screens); an index out of
/// range gives a null icon, which draws nothing.
QIcon SmallIcon(int index);
/// State glyph `index`: 0 on an expanded title panel, 1 on a collapsed one; null out of range.
QIcon StateIcon(int index);
/// The picture of title panel `index`, 32 x 32; null out of range.
QIcon PanelIcon(int index);
/// The application icon (windows, tray), from 16 to 256 px.
QIcon AppIcon();

/// `icon` at `size` x `size` logical pixels, for drawing into a title bar or a list.
QPixmap IconPixmap(const QIcon& icon, int size);

}  // namespace orvane::ui
