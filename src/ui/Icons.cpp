#include "ui/Icons.h"

#include <QGuiApplication>
#include <QPainter>
#include <QStringList>
#include <QSvgRenderer>
#include <initializer_list>

// The resources live in this static library; they are registered before the first use.
static void InitIconResources() { Q_INIT_RESOURCE(icons); }

namespace orvane::ui {
namespace {

QString ResourcePath(const char* name) {
    return QStringLiteral(":/orvane/icons/") + QLatin1String(name) + QStringLiteral(".svg");
}

// The layers drawn on top of each other, at every size given (our own rendering, so the icons
// do not depend on an icon engine plugin being installed).
QIcon Render(std::initializer_list<const char*> layers, std::initializer_list<int> sizes) {
    static const bool registered = [] {
        InitIconResources();
        return true;
    }();
    (void)registered;
    QIcon icon;
    for (const int size : sizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        for (const char* layer : layers) {
            QSvgRenderer renderer(ResourcePath(layer));
            if (!renderer.isValid()) {
                return QIcon();
            }
            renderer.render(&painter, QRectF(0, 0, size, size));
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon RenderSmall(std::initializer_list<const char*> layers) {
    return Render(layers, {16, 24, 32, 48});
}

}  // namespace

QIcon SmallIcon(int index) {
    switch (index) {
        case siEnabled:
            return RenderSmall({"fpt-enabled"});
        case siDisabled:
            return RenderSmall({"fpt-disabled"});
        case siInformation:
            return RenderSmall({"information"});
        case siAttention:
            return RenderSmall({"attention"});
        case siError:
            return RenderSmall({"error"});
        case siArrow:
            return RenderSmall({"arrow"});
        case siEnabledMarked:
            return RenderSmall({"fpt-enabled", "mark"});
        case siDisabledMarked:
            return RenderSmall({"fpt-disabled", "mark"});
        default:
            return QIcon();
    }
}

QIcon StateIcon(int index) {
    switch (index) {
        case stExpanded:
            return RenderSmall({"state-expanded"});
        case stCollapsed:
            return RenderSmall({"state-collapsed"});
        default:
            return QIcon();
    }
}

QIcon PanelIcon(int index) {
    switch (index) {
        case piChannels:
            return Render({"channel"}, {32, 48, 64});
        case piDatabase:
            return Render({"database"}, {32, 48, 64});
        default:
            return QIcon();
    }
}

QIcon AppIcon() { return Render({"orvane3"}, {16, 22, 24, 32, 48, 64, 128, 256}); }

QPixmap IconPixmap(const QIcon& icon, int size) {
    const qreal ratio = qGuiApp != nullptr ? qGuiApp->devicePixelRatio() : 1.0;
    return icon.pixmap(QSize(size, size), ratio);
}

}  // namespace orvane::ui
