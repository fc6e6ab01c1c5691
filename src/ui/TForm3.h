// The modal "Preferences" dialog: shows the live settings record of the settings store in its
// controls, edits the user's event definitions in the in-memory event table, and on "&Ok" saves
// both; "&Cancel" (or Escape) loads the stored settings and events again and gives every channel
// back the active state it had when the dialog was shown; the close box keeps the edited values
// as the live settings without saving or loading anything. Each option explains itself through
// What's This (the title bar's "?" or Shift+F1, then a click on a control; or F1 on the focused
// control).
// Thread: main thread only. The main window publishes the recognition thread's options after the
// dialog closes (under the recognition lock); nothing here touches the recognition thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QDialog>
#include <QPoint>
#include <QString>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;

namespace orvane::app {
class TMainForm;
class TSettingsStore;
}  // namespace orvane::app
namespace orvane::tracking {
class IEventStore;
class TEventServe;
}  // namespace orvane::tracking

namespace orvane::ui {

/// What the dialog works on. The references must outlive the dialog.
struct TForm3Context {
    TForm3Context(app::TSettingsStore& store, tracking::TEventServe& events,
                  tracking::IEventStore& eventStore)
        : Store(store), Events(events), EventStore(eventStore) {}

    /// The settings store; its `Settings` record is the live copy the dialog shows and edits.
    app::TSettingsStore& Store;
    /// The in-memory event table the event list edits (reordering, deleting).
    tracking::TEventServe& Events;
    /// Where the event definitions are stored (read on show and Cancel, written on OK).
    tracking::IEventStore& EventStore;
    /// Number of channels (the simultaneous-channels list offers 1 ... this number). At least 1.
    std::int32_t ChannelCount = 1;
    /// Whether channel `i` (0 ... ChannelCount-1) is on. Empty: every channel reads as off.
    std::function<bool(std::int32_t i)> ChannelActive;
    /// Switches channel `i` on or off (does nothing when it already is). Empty: nothing happens.
    std::function<void(std::int32_t i, bool active)> SetChannelActive;
    /// The main window shows `k` channel tabs with the channels' captions (the simultaneous
    /// channels step). Empty: no tabs to update.
    std::function<void(std::int32_t k)> OnChannelTabs;
    /// Reports an error of the event store (a definition that cannot be read or written).
    /// Empty: a warning message box.
    std::function<void(const std::string& message)> OnError;
    /// Asks the user for a folder: `owner` the active window, `title` the browser's title,
    /// `folder` the preselected folder. Returns the chosen folder, or an empty text when the
    /// user cancelled. Empty: QFileDialog::getExistingDirectory.
    std::function<QString(QWidget* owner, const QString& title, const QString& folder)>
        BrowseFolder;
};

class TForm3 : public QDialog {
    Q_OBJECT

public:
    /// The help context whose text is shown for a control (1 ... 21; the others are empty).
    static constexpr int FirstHelpContext = 1;
    static constexpr int LastHelpContext = 21;

    /// Builds the dialog with the live settings of `context.Store` in its controls. Nothing is
    /// read from the stores yet (Prepare does).
    TForm3(TForm3Context context, QWidget* parent = nullptr);
    ~TForm3() override;

    /// Shows the preferences modally over `parent`: Prepare, then the modal loop. Returns true
    /// when the user confirmed with "&Ok" (the settings and events are saved then); false for
    /// "&Cancel", Escape or the close box. The caller publishes the recognition thread's
    /// options afterwards in either case.
    static bool Execute(QWidget* parent, TForm3Context context);

    /// The context of the running application: its settings store, channel 0 through the
    /// active box, and the given event table and event store (TMainForm does not hand out its
    /// own). The main window sets OnChannelTabs itself when it shows channel tabs.
    static TForm3Context ContextOf(app::TMainForm& form, tracking::TEventServe& events,
                                   tracking::IEventStore& eventStore);

    /// The steps of showing the dialog: every channel's active state remembered, the event
    /// controls enabled as "Ena&ble events" says, the event list loaded from the event store,
    /// the focus on "&Ok". Execute runs it; a test that shows the dialog itself calls it first.
    void Prepare();

    /// "&Ok": events written to their store, the folders completed, the controls copied into
    /// the live settings and saved (which restarts the channels when the compatibility mode
    /// changed), the dialog closed with Accepted.
    void OkClick();
    /// "&Cancel" and Escape: settings and events loaded again (throwing the edits away), the
    /// simultaneous-channels step, the dialog closed with Rejected.
    void CancelClick();

    /// The text of help context `context` exactly as the popup shows it; empty outside 1 ... 21
    /// and for contexts without a control here.
    static QString HelpText(int context);
    /// `text` as the popup shows it: each carriage return starts a new line.
    static QString PopupText(QString text);
    /// Shows the text of `context` near `globalPos` (screen pixels). Returns false, showing
    /// nothing, when the context has no text.
    bool ShowHelp(int context, QPoint globalPos);
    /// F1: the What's This text of the focused control (or of the dialog's control under it)
    /// below that control. Returns false when it has none.
    bool ShowFocusHelp();

    /// The remembered checked state of the balloon option while the tray option is off.
    bool BalloonRemembered() const { return FBalloonTag; }
    /// The channels' active states when the dialog was shown.
    const std::vector<bool>& ActiveChannels() const { return FActiveChannels; }

    // The controls, named as in the layout (for the main window and the tests).
    QLineEdit* FolderFilesEdit1() const { return FFolderFilesEdit1; }
    QLineEdit* FolderFilesEdit2() const { return FFolderFilesEdit2; }
    QPushButton* FolderFilesButton1() const { return FFolderFilesButton1; }
    QPushButton* FolderFilesButton2() const { return FFolderFilesButton2; }
    QCheckBox* CheckBox2() const { return FCheckBox2; }
    QCheckBox* CheckBoxBalloon() const { return FCheckBoxBalloon; }
    QCheckBox* CheckBoxTray() const { return FCheckBoxTray; }
    QCheckBox* StartOnLoad() const { return FStartOnLoad; }
    QCheckBox* SpAnnounce() const { return FSpAnnounce; }
    QCheckBox* highInteg() const { return FhighInteg; }
    QCheckBox* Comp() const { return FComp; }
    QCheckBox* RobustSearch() const { return FRobustSearch; }
    QComboBox* TaskPri() const { return FTaskPri; }
    QComboBox* Simult() const { return FSimult; }
    QLineEdit* Edit3() const { return FEdit3; }
    QComboBox* KeepLongest() const { return FKeepLongest; }
    QCheckBox* CheckBox5() const { return FCheckBox5; }
    QListWidget* EvList() const { return FEvList; }
    QPushButton* UpButton() const { return FUpButton; }
    QPushButton* DownButton() const { return FDownButton; }
    QPushButton* DelButton() const { return FDelButton; }
    QPushButton* OkButton() const { return FOkButton; }
    QPushButton* CancelButton() const { return FCancelButton; }

protected:
    /// The close box (and any close that is not "&Ok" or "&Cancel"): the edited controls become
    /// the live settings; nothing is saved or loaded.
    void reject() override;
    /// Escape runs "&Cancel".
    void keyPressEvent(QKeyEvent* event) override;
    /// Leaving a folder field or the idle timeout field runs its exit step.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildFolders(QGroupBox* group);
    void BuildOptions(QGroupBox* group);
    void BuildEvents(QGroupBox* group);
    QLabel* AddLabel(QWidget* parent, const QString& caption, int x, int y, QWidget* buddy);
    void SetHelp(QWidget* control, int context, QLabel* label = nullptr);

    /// Live settings -> controls, and controls -> live settings.
    void LoadControls();
    void StoreControls();

    /// Completes a folder field with the separator; an empty field gets back the folder it
    /// showed when the dialog opened.
    void FolderExit(QLineEdit* edit);
    void Browse(QLineEdit* edit, const QString& title);
    /// An empty idle timeout field reads "0".
    void IdleTimeoutExit();
    /// Balloon option enabled exactly while the tray option is checked.
    void TrayChanged();
    /// Event list and buttons enabled exactly while "Ena&ble events" is checked.
    void EventsEnabledChanged();
    /// The simultaneous-channels step with k = the selected number.
    void SimultChange();

    /// Loads the event table from its store and lists it.
    void ReloadEvents();
    /// Lists the table in rank order, each row tagged with its slot; selects row `select`.
    void ListEvents(int select);
    void MoveEvent(int direction);
    void DeleteEvent();
    void ReportError(const std::string& message);

    TForm3Context FContext;
    /// Right edge of the rightmost control of the group boxes (pixels at 96 dpi).
    int FNeededWidth = 0;
    std::vector<bool> FActiveChannels;
    /// The balloon option's checked state while the tray option is off.
    bool FBalloonTag = true;
    /// The folders shown when the dialog opened (an emptied field falls back to them).
    QString FShownFolder1;
    QString FShownFolder2;

    QTabWidget* FPages = nullptr;
    QLineEdit* FFolderFilesEdit1 = nullptr;
    QLineEdit* FFolderFilesEdit2 = nullptr;
    QPushButton* FFolderFilesButton1 = nullptr;
    QPushButton* FFolderFilesButton2 = nullptr;
    QCheckBox* FCheckBox2 = nullptr;
    QCheckBox* FCheckBoxBalloon = nullptr;
    QCheckBox* FCheckBoxTray = nullptr;
    QCheckBox* FStartOnLoad = nullptr;
    QCheckBox* FSpAnnounce = nullptr;
    QCheckBox* FhighInteg = nullptr;
    QCheckBox* FComp = nullptr;
    QCheckBox* FRobustSearch = nullptr;
    QComboBox* FTaskPri = nullptr;
    QComboBox* FSimult = nullptr;
    QLineEdit* FEdit3 = nullptr;
    QComboBox* FKeepLongest = nullptr;
    QCheckBox* FCheckBox5 = nullptr;
    QListWidget* FEvList = nullptr;
    QPushButton* FUpButton = nullptr;
    QPushButton* FDownButton = nullptr;
    QPushButton* FDelButton = nullptr;
    QPushButton* FOkButton = nullptr;
    QPushButton* FCancelButton = nullptr;
};

}  // namespace orvane::ui
