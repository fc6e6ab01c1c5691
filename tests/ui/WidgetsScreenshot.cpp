// Draws the widgets of the desktop application into one PNG (offscreen platform): two title
// panels as the main window sets them up, one open and one collapsed, the progress dialog during
// a task, and the icons at the size the lists show them. Usage: ui_screenshot <out.png>
#include <cstdio>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QWidget>

#include "ui/Fonts.h"
#include "ui/Icons.h"
#include "ui/QnTitle.h"
#include "ui/TForm11.h"

namespace {

using namespace orvane::ui;

// The main window's set-up of its title panels.
void StyleAsMainWindowPanel(TQnTitle& panel, const QString& caption, int panelIcon) {
    panel.SetColor(QColor(FromColorRef(16775926)));
    panel.SetTitleHeight(34);
    panel.SetSeparationLine(true);
    panel.SetBorderWidth(5);
    panel.SetBorderLeft(44);
    panel.SetBorderTop(6);
    panel.SetCaptionFont(LayoutFont(QStringLiteral("Trebuchet MS"), 24));
    panel.SetCaptionColor(QColor(FromColorRef(4663581)));
    panel.SetCaption(caption);
    panel.SetIcon(IconPixmap(PanelIcon(panelIcon), 32));
    panel.SetIconLeft(3);
    panel.SetIconTop(1);
    panel.OnPaintTitle = [](TQnTitle& sender, QPainter& canvas, int x, int y) {
        canvas.drawPixmap(x, y, IconPixmap(StateIcon(sender.Expanded() ? 0 : 1), 16));
    };
    panel.OnCollapse = [](TQnTitle& sender) { sender.ExecCollapse(); };
    panel.OnExpand = [](TQnTitle& sender) { sender.ExecExpand(); };
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ui_screenshot <out.png>\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QWidget window;
    window.resize(560, 380);
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(8);

    auto* channels = new TQnTitle(&window);
    StyleAsMainWindowPanel(*channels, QStringLiteral("Channels Overview"), piChannels);
    auto* channelLayout = new QVBoxLayout(channels);
    channelLayout->setContentsMargins(0, 0, 0, 0);
    auto* clip = new QLabel(QStringLiteral("Line in: Morning Song [1:23]"), channels);
    clip->setFont(LayoutFont(QStringLiteral("Tahoma"), -13));
    channelLayout->addWidget(clip);
    auto* integrity = new QProgressBar(channels);
    integrity->setRange(0, 85);
    integrity->setValue(61);
    integrity->setTextVisible(false);
    channelLayout->addWidget(integrity);
    layout->addWidget(channels);

    auto* database = new TQnTitle(&window);
    StyleAsMainWindowPanel(*database, QStringLiteral("Database Information"), piDatabase);
    auto* databaseLayout = new QVBoxLayout(database);
    databaseLayout->setContentsMargins(0, 0, 0, 0);
    auto* list = new QListWidget(database);
    list->setIconSize(QSize(16, 16));
    const struct {
        int Icon;
        const char* Text;
    } rows[] = {{siInformation, "Listening to 1 channels..."},
                {siArrow, "Line in: Morning Song [10:02:11 - 10:05:40] (3:29)"},
                {siAttention, "Fingerprint of Noise.wav is very short"},
                {siError, "Error accessing system tray"},
                {siEnabled, "Morning Song"},
                {siDisabled, "Morning Song (duplicate)"},
                {siEnabledMarked, "Evening Song (marked)"},
                {siDisabledMarked, "Old Jingle (disabled, marked)"}};
    for (const auto& row : rows) {
        list->addItem(new QListWidgetItem(SmallIcon(row.Icon), QString::fromUtf8(row.Text)));
    }
    databaseLayout->addWidget(list);
    layout->addWidget(database);

    auto* collapsed = new TQnTitle(&window);
    StyleAsMainWindowPanel(*collapsed, QStringLiteral("Collapsed panel"), piDatabase);
    layout->addWidget(collapsed);

    window.show();
    app.processEvents();
    collapsed->Collapse();
    layout->activate();
    app.processEvents();
    const QImage panels = window.grab().toImage();

    QWidget mainWindow;
    TForm11 progress(&mainWindow);
    progress.ShowStats("Fingerprinting Morning Song.mp3...");
    progress.SetState(0.42);
    const QImage dialog = progress.grab().toImage();
    progress.HideStats();

    // Laid out in the layout's pixels, drawn at the screen's density (QT_SCALE_FACTOR=2 shows
    // how the widgets look on a dense screen).
    const qreal ratio = panels.devicePixelRatio();
    const QSize panelsSize = panels.deviceIndependentSize().toSize();
    const QSize dialogSize = dialog.deviceIndependentSize().toSize();
    const QSize sheetSize(panelsSize.width() + dialogSize.width() + 24,
                          std::max(panelsSize.height(), 260));
    QImage sheet(sheetSize * ratio, QImage::Format_RGB32);
    sheet.setDevicePixelRatio(ratio);
    sheet.fill(window.palette().color(QPalette::Window));
    QPainter painter(&sheet);
    painter.drawImage(0, 0, panels);
    const int x = panelsSize.width() + 8;
    painter.setPen(Qt::black);
    painter.drawText(x, 20, QStringLiteral("Please wait... (progress dialog)"));
    painter.drawImage(x, 28, dialog);
    painter.drawRect(x - 1, 27, dialogSize.width() + 1, dialogSize.height() + 1);
    painter.drawText(x, 150, QStringLiteral("Icons at 16 px: 0 1 6 7 | 2 3 4 5 | state | app"));
    const int order[] = {siEnabled,     siDisabled,  siEnabledMarked, siDisabledMarked,
                         siInformation, siAttention, siError,         siArrow};
    int ix = x;
    for (const int index : order) {
        painter.drawPixmap(ix, 160, IconPixmap(SmallIcon(index), 16));
        ix += 24;
    }
    painter.drawPixmap(ix, 160, IconPixmap(StateIcon(0), 16));
    painter.drawPixmap(ix + 24, 160, IconPixmap(StateIcon(1), 16));
    painter.drawPixmap(ix + 48, 160, IconPixmap(AppIcon(), 16));
    painter.drawText(x, 210, QStringLiteral("Application icon at 48 px:"));
    painter.drawPixmap(x + 170, 190, IconPixmap(AppIcon(), 48));
    painter.end();
    return sheet.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
