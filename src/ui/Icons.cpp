#include "ui/Icons.h"

#include <initializer_list>

#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QPointer>
#include <QSvgRenderer>

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

// Rendered icons by list and index, kept as long as the application lives (lists ask for an
// icon per row; rendering the SVG each time would be wasted).
class TIconCache final : public QObject {
public:
    using QObject::QObject;
    QHash<int, QIcon> Icons;
};

template <typename TMake>
QIcon Cached(int key, TMake make) {
    static QPointer<TIconCache> cache;
    if (cache == nullptr && QCoreApplication::instance() != nullptr) {
        cache = new TIconCache(QCoreApplication::instance());
    }
    if (cache == nullptr) {
        return make();
    }
    const auto found = cache->Icons.constFind(key);
    if (found != cache->Icons.constEnd()) {
        return *found;
    }
    QIcon icon = make();
    cache->Icons.insert(key, icon);
    return icon;
}

QIcon MakeSmallIcon(int index) {
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

QIcon MakeStateIcon(int index) {
    switch (index) {
        case stExpanded:
            return RenderSmall({"state-expanded"});
        case stCollapsed:
            return RenderSmall({"state-collapsed"});
        default:
            return QIcon();
    }
}

QIcon MakePanelIcon(int index) {
    switch (index) {
        case piChannels:
            return Render({"channel"}, {32, 48, 64});
        case piDatabase:
            return Render({"database"}, {32, 48, 64});
        default:
            return QIcon();
    }
}

}  // namespace

QIcon SmallIcon(int index) {
    if (index < 0 || index >= SmallIconCount) {
        return QIcon();
    }
    return Cached(index, [index] { return MakeSmallIcon(index); });
}

QIcon StateIcon(int index) {
    if (index < 0 || index >= StateIconCount) {
        return QIcon();
    }
    return Cached(100 + index, [index] { return MakeStateIcon(index); });
}

QIcon PanelIcon(int index) {
    if (index < 0 || index >= PanelIconCount) {
        return QIcon();
    }
    return Cached(200 + index, [index] { return MakePanelIcon(index); });
}

QIcon AppIcon() {
    return Cached(300, [] { return Render({"orvane3"}, {16, 22, 24, 32, 48, 64, 128, 256}); });
}

QPixmap IconPixmap(const QIcon& icon, int size) {
    const qreal ratio = qGuiApp != nullptr ? qGuiApp->devicePixelRatio() : 1.0;
    return icon.pixmap(QSize(size, size), ratio);
}

}  // namespace orvane::ui
