// The icon of the application in the desktop's notification area: tooltip, clicks, the popup
// menu and balloon messages; also the display of the tray hint and balloon logic.
// Thread: main thread only (other threads reach it through posted actions).
#pragma once

#include <functional>
#include <string>

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

#include "base/Errors.h"
#include "tracking/TTrayNotices.h"

namespace orvane::ui {

/// The icon could not be shown or hidden; the message is the user's text.
class ETrayIcon : public EError {
public:
    using EError::EError;
};

/// Not in the tray after construction; in it after a successful add, out after a successful
/// delete; destroying the object removes the icon.
class TTrayIcon : public QObject, public tracking::ITrayDisplay {
    Q_OBJECT

public:
    /// Whether the desktop offers a notification area now.
    using TTrayProbe = std::function<bool()>;

    /// `parent` owns the object. `trayAvailable` tells whether the desktop has a notification
    /// area; empty means QSystemTrayIcon::isSystemTrayAvailable.
    explicit TTrayIcon(QObject* parent, TTrayProbe trayAvailable = {});
    ~TTrayIcon() override;

    /// The icon shown (copied).
    void SetIcon(const QIcon& icon);
    QIcon Icon() const { return FIcon; }
    /// The tooltip: the first 64 characters of `hint` (UTF-8; never cut inside a character).
    void SetHint(const std::string& hint) override;
    /// The tooltip as set (UTF-8).
    std::string Hint() const;
    /// Shown on a right click; not owned (guarded, so it may go first); null for none.
    void SetPopupMenu(QMenu* menu);
    QMenu* PopupMenu() const { return FPopupMenu; }

    /// Whether the icon counts as in the tray.
    bool Visible() const { return FIconInTray; }
    /// false while in the tray: delete; true while not in the tray: add; otherwise nothing.
    void SetVisible(bool value);
    /// `always`: add even when in the tray already; otherwise Visible := true. Throws ETrayIcon
    /// "Error showing tray icon." when the icon is not in the tray afterwards.
    void Show(bool always);
    /// Visible := false. Throws ETrayIcon "Error hiding tray icon." when the icon is still in
    /// the tray afterwards.
    void Hide();
    /// Adds the icon (even when it is in the tray already).
    void ForceAdd();
    /// Pops the popup menu (if any) up at the mouse pointer.
    void ShowPopup();

    /// Shows a balloon with `title` (cut to 63 characters) and `text` (cut to 255) for
    /// `timeoutSeconds`; any balloon showing is hidden first. Returns whether the desktop
    /// accepted it (false when the icon is not in the tray).
    bool ShowBalloonHint(const std::string& title, const std::string& text,
                         tracking::TBalloonIcon icon, int timeoutSeconds);
    /// Hides the balloon, if any, and applies the icon and tooltip again. Returns whether the
    /// desktop accepted it.
    bool HideBalloonHint();

    /// The balloon last requested: title and text as cut (UTF-8), icon and time-out in ms;
    /// all empty or 0 after HideBalloonHint.
    const std::string& BalloonTitle() const { return FInfoTitle; }
    const std::string& BalloonText() const { return FInfo; }
    tracking::TBalloonIcon BalloonIcon() const { return FInfoFlags; }
    int BalloonTimeoutMs() const { return FTimeoutMs; }

    // The tray hint and balloon logic's display.
    void ShowBalloon(const std::string& title, const std::string& text, tracking::TBalloonIcon icon,
                     int timeoutSeconds) override;
    void HideBalloon() override;

    /// A left click on the icon. Main thread.
    std::function<void(TTrayIcon& sender)> OnClick;
    /// A left double click on the icon. Main thread.
    std::function<void(TTrayIcon& sender)> OnDblClick;

    /// The error texts.
    static constexpr const char* ErrorShowing = "Error showing tray icon.";
    static constexpr const char* ErrorHiding = "Error hiding tray icon.";

private:
    void Add();
    void Delete();
    void Refresh();
    void Activated(QSystemTrayIcon::ActivationReason reason);

    QIcon FIcon;
    QSystemTrayIcon* FTray;  // a child of this object
    QString FTip;
    bool FIconInTray = false;
    QPointer<QMenu> FPopupMenu;
    TTrayProbe FTrayAvailable;
    std::string FInfo;
    std::string FInfoTitle;
    tracking::TBalloonIcon FInfoFlags = tracking::TBalloonIcon::biNone;
    int FTimeoutMs = 0;
};

}  // namespace orvane::ui
