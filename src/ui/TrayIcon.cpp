#include "ui/TrayIcon.h"

#include <utility>

#include <QCursor>
#include <QMenu>

namespace orvane::ui {
namespace {

QSystemTrayIcon::MessageIcon MessageIconOf(tracking::TBalloonIcon icon) {
    switch (icon) {
        case tracking::TBalloonIcon::biInfo:
            return QSystemTrayIcon::Information;
        case tracking::TBalloonIcon::biWarning:
            return QSystemTrayIcon::Warning;
        case tracking::TBalloonIcon::biError:
            return QSystemTrayIcon::Critical;
        case tracking::TBalloonIcon::biNone:
            break;
    }
    return QSystemTrayIcon::NoIcon;
}

}  // namespace

TTrayIcon::TTrayIcon(QObject* parent, TTrayProbe trayAvailable)
    : QObject(parent), FTray(new QSystemTrayIcon(this)), FTrayAvailable(std::move(trayAvailable)) {
    if (!FTrayAvailable) {
        FTrayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    }
    connect(FTray, &QSystemTrayIcon::activated, this, &TTrayIcon::Activated);
}

TTrayIcon::~TTrayIcon() {
    // The desktop drops the icon with its object; nothing is left behind in the tray.
    FTray->hide();
}

void TTrayIcon::SetIcon(const QIcon& icon) {
    FIcon = icon;
    Refresh();
}

void TTrayIcon::SetHint(const std::string& hint) {
    FTip = QString::fromStdString(tracking::CutChars(hint, tracking::TrayHintMaxChars));
    Refresh();
}

std::string TTrayIcon::Hint() const { return FTip.toStdString(); }

void TTrayIcon::SetPopupMenu(QMenu* menu) {
    FPopupMenu = menu;
    FTray->setContextMenu(menu);
}

void TTrayIcon::Add() {
    if (!FTrayAvailable()) {
        FIconInTray = false;
        return;
    }
    Refresh();
    FTray->show();
    FIconInTray = FTray->isVisible();
}

void TTrayIcon::Delete() {
    FTray->hide();
    // Without a notification area the removal cannot be confirmed: the icon stays counted.
    FIconInTray = FIconInTray && !FTrayAvailable();
}

void TTrayIcon::Refresh() {
    FTray->setIcon(FIcon);
    FTray->setToolTip(FTip);
}

void TTrayIcon::SetVisible(bool value) {
    if (!value && FIconInTray) {
        Delete();
    } else if (value && !FIconInTray) {
        Add();
    }
}

void TTrayIcon::Show(bool always) {
    if (always) {
        Add();
    } else {
        SetVisible(true);
    }
    if (!FIconInTray) {
        throw ETrayIcon(ErrorShowing);
    }
}

void TTrayIcon::Hide() {
    SetVisible(false);
    if (FIconInTray) {
        throw ETrayIcon(ErrorHiding);
    }
}

void TTrayIcon::ForceAdd() { Add(); }

void TTrayIcon::ShowPopup() {
    if (FPopupMenu != nullptr) {
        FPopupMenu->popup(QCursor::pos());
    }
}

bool TTrayIcon::HideBalloonHint() {
    FInfo.clear();
    FInfoTitle.clear();
    FInfoFlags = tracking::TBalloonIcon::biNone;
    FTimeoutMs = 0;
    const bool accepted = FIconInTray;
    if (accepted) {
        // An empty message takes the balloon showing down.
        FTray->showMessage(QString(), QString(), QSystemTrayIcon::NoIcon, 0);
    }
    // The tooltip stays as it was: only the balloon's own fields were emptied.
    Refresh();
    return accepted;
}

bool TTrayIcon::ShowBalloonHint(const std::string& title, const std::string& text,
                                tracking::TBalloonIcon icon, int timeoutSeconds) {
    HideBalloonHint();
    FInfo = tracking::CutChars(text, tracking::BalloonTextMaxChars);
    FInfoTitle = tracking::CutChars(title, tracking::BalloonTitleMaxChars);
    FTimeoutMs = timeoutSeconds > 0 ? timeoutSeconds * 1000 : 0;
    FInfoFlags = icon;
    if (!FIconInTray) {
        return false;
    }
    FTray->showMessage(QString::fromStdString(FInfoTitle), QString::fromStdString(FInfo),
                       MessageIconOf(icon), FTimeoutMs);
    return true;
}

void TTrayIcon::ShowBalloon(const std::string& title, const std::string& text,
                            tracking::TBalloonIcon icon, int timeoutSeconds) {
    ShowBalloonHint(title, text, icon, timeoutSeconds);
}

void TTrayIcon::HideBalloon() { HideBalloonHint(); }

void TTrayIcon::Activated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            if (OnClick) {
                OnClick(*this);
            }
            break;
        case QSystemTrayIcon::DoubleClick:
            if (OnDblClick) {
                OnDblClick(*this);
            }
            break;
        case QSystemTrayIcon::Context:
            // The menu set as the tray's context menu pops up by itself where the desktop
            // supports it; otherwise we pop it up.
            if (FTray->contextMenu() == nullptr) {
                ShowPopup();
            }
            break;
        default:
            break;
    }
}

}  // namespace orvane::ui
