#include "ui/TForm11.h"

#include <cmath>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include "ui/Fonts.h"

namespace orvane::ui {

TForm11::TForm11(QWidget* mainWindow) : QDialog(nullptr), FMainWindow(mainWindow) {
    setWindowTitle(QStringLiteral("Please wait..."));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFont(LayoutFont(QStringLiteral("Tahoma"), -11));
    // Positions of the layout at 96 dpi; Qt scales them.
    setFixedSize(437, 91);
    FDescription = new QLabel(this);
    FDescription->setGeometry(8, 8, 425, 17);
    FProgressBar = new QProgressBar(this);
    FProgressBar->setGeometry(8, 32, 425, 17);
    FProgressBar->setRange(0, 100);
    FProgressBar->setValue(0);
    FProgressBar->setTextVisible(false);
    FCancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
    FCancelButton->setGeometry(184, 64, 75, 23);
    FCancelButton->setAutoDefault(false);
    connect(FCancelButton, &QPushButton::clicked, this, &TForm11::reject);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TForm11::~TForm11() { EnableMainWindow(true); }

void TForm11::ShowStats(const std::string& title) {
    Reset();
    FDescription->setText(QString::fromStdString(title));
    EnableMainWindow(false);
    // Kept above the main window by the window manager, without being its child (a child would
    // be disabled with it).
    if (FMainWindow != nullptr && FMainWindow->windowHandle() != nullptr) {
        winId();
        windowHandle()->setTransientParent(FMainWindow->windowHandle());
    }
    show();
    raise();
    QCoreApplication::processEvents();
}

void TForm11::SetState(double share) {
    if (!(share > 0.0)) {
        share = 0.0;
    } else if (share > 1.0) {
        share = 1.0;
    }
    const int position = static_cast<int>(std::lround(FProgressBar->maximum() * share));
    if (FProgressBar->value() != position) {
        FProgressBar->setValue(position);
        QCoreApplication::processEvents();
    }
}

void TForm11::Reset() {
    SetState(0.0);
    Canc = true;
}

bool TForm11::Cancelled() const { return Canc && !isVisible(); }

void TForm11::HideStats() {
    Canc = false;
    HideDialog();
}

void TForm11::HideDialog() {
    EnableMainWindow(true);
    hide();
}

void TForm11::SetCancelEnabled(bool enabled) { FCancelButton->setEnabled(enabled); }

int TForm11::Position() const { return FProgressBar->value(); }

QString TForm11::Description() const { return FDescription->text(); }

void TForm11::reject() {
    if (!FCancelButton->isEnabled()) {
        // A task that must not be interrupted keeps its dialog (Escape and the close box too).
        return;
    }
    // The task notices at its next check (Cancelled) and ends with HideStats.
    EnableMainWindow(true);
    QDialog::reject();
}

void TForm11::EnableMainWindow(bool enabled) {
    if (FMainWindow != nullptr) {
        FMainWindow->setEnabled(enabled);
    }
}

}  // namespace orvane::ui
