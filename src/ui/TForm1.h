// The main window: the channel panel with the recognised clip and its running position, the
// activity history, the list of loaded fingerprints, the menus and popup menus of every user
// command, the tray icon and the progress dialog. It shows what the composition root
// (app/uMainForm.h) tells it and hands every user action to it.
// Thread: main thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QTimer>

#include "app/uMainForm.h"
#include "database/ILibraryUi.h"
#include "database/ISongListView.h"
#include "ui/TrayIcon.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QSlider;
class QTabWidget;
class QTreeWidget;

namespace orvane::ui {

class TForm10;
class TForm11;
class TForm2;
class TQnTitle;

/// What the main window asks the user. Each member has the real dialog by default; tests put
/// answers of their own in.
struct TMainPrompts {
    /// The open dialog "Generate fingerprint from audio file"; empty when cancelled.
    std::function<QString()> OpenAudioFile;
    /// A save dialog for a CSV file with `title` and the default name `defaultName` (without
    /// extension); empty when cancelled.
    std::function<QString(const QString& title, const QString& defaultName)> SaveCsvFile;
    /// A question with the answers Yes and No; true for Yes.
    std::function<bool(const QString& text)> YesNo;
    /// A message box with `text`.
    std::function<void(const QString& text)> Message;
    /// The input box "Rename Channel" prefilled with `name`; nothing when cancelled.
    std::function<std::optional<QString>(const QString& name)> ChannelName;
    /// Opens `url` with the desktop's browser.
    std::function<void(const QString& url)> OpenUrl;
    /// The modal first-steps window.
    std::function<void()> FirstSteps;
    /// The fingerprint properties dialog; true when closed with OK (the new name in
    /// `EditName`).
    std::function<bool(database::TFptProperties& properties)> Properties;
    /// The quick search over the fingerprint list, `first` typed.
    std::function<void(QChar first)> QuickSearch;
};

class TForm1 final : public QMainWindow,
                     public app::IMainFormView,
                     public database::ISongListView,
                     public database::ILibraryWindow {
    Q_OBJECT

public:
    /// The window, hidden, its menu titles disabled until Init. `options` set up the
    /// composition root; `trayAvailable` tells whether the desktop has a notification area
    /// (empty: ask Qt).
    explicit TForm1(app::TMainFormOptions options, QWidget* parent = nullptr,
                    TTrayIcon::TTrayProbe trayAvailable = {});
    ~TForm1() override;

    /// The start sequence of the composition root, then the caption timer and the menu titles.
    void Init();
    /// The composition root.
    app::TMainForm& Form() { return *FForm; }
    /// Files handed over by a later start.
    void HandleForwardedCommands(const std::vector<std::string>& commands);
    /// Shows, restores and raises the window (a later start asked for it).
    void BringToFront();

    /// The caption refresh (every 250 ms while running).
    void TimerCaptionTimer();

    /// The application was minimised: to the tray when the `Systray` preference is on.
    void SysMinimizeClick();
    /// "&Minimize to system tray": minimised, and always ends in the tray.
    void Minimizetosystemtray1Click();
    /// A left click on the tray icon and "&Open ORVANE3": the window shown and restored, the
    /// tray icon hidden.
    void TrayClick();

    /// What the window asks the user (replaceable).
    TMainPrompts Prompts;

    // Parts for tests.
    QLabel* LabelCurrSong() const { return FLabelCurrSong; }
    QSlider* Progress() const { return FProgress; }
    QCheckBox* ActiveCheck() const { return FActiveCheck; }
    QTreeWidget* Memo() const { return FMemo; }
    QTreeWidget* SonglistListview() const { return FSonglist; }
    QTabWidget* MemoryOverview() const { return FMemoryOverview; }
    QTabWidget* Tab() const { return FTab; }
    QWidget* PanCh() const { return FPanCh; }
    QGroupBox* GroupBox1() const { return FGroupBox1; }
    TQnTitle* QnTitle1() const { return FQnTitle1; }
    TQnTitle* QnTitle3() const { return FQnTitle3; }
    TTrayIcon* Tray() const { return FTray; }
    TForm11* ProgressForm() const { return FProgressDialog; }
    QMenu* SongProp() const { return FSongProp; }
    /// The menu item or popup item of that object name; null when there is none.
    QAction* Action(const QString& objectName) const;
    /// The three menu titles (File, Options, &Help).
    const std::vector<QMenu*>& MenuTitles() const { return FMenuTitles; }
    /// Sets the enabling and the check of the fingerprint popup as its opening does.
    void UpdateSongPopup();

    // IMainFormView
    database::ISongListView& SongListView() override { return *this; }
    database::ILibraryWindow& LibraryWindow() override { return *this; }
    database::IProgressDialog& ProgressDialog() override;
    tracking::ITrayDisplay& TrayDisplay() override;
    void HistoryChanged() override;
    void PanelRefresh() override;
    void FirstStepsTip() override;

    // ISongListView
    std::int32_t RowCount() const override;
    database::TSongRow Row(std::int32_t row) const override;
    void AddRow(const database::TSongRow& row) override;
    void DeleteRow(std::int32_t row) override;
    void Clear() override;
    void SetImageIndex(std::int32_t row, std::int32_t imageIndex) override;
    void SetCaption(std::int32_t row, const std::string& caption) override;
    std::int32_t SelectedRow() const override;
    void SetSoundClipsCaption(const std::string& caption) override;

    // ILibraryWindow
    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    bool ShowProperties(database::TFptProperties& properties) override;
    void ShowDeletionList() override;
    void ProcessMessages() override;
    void ClearStatusText() override;
    bool ClearMemoryMenuEnabled() const override;
    void SetEnabledMenuChecked(bool checked) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLayout();
    void BuildChannelPanel();
    void BuildMenus();
    void BuildPrompts();
    QAction* AddAction(QMenu* menu, const QString& name, const QString& caption,
                       const QKeySequence& shortcut, void (TForm1::*slot)());
    void SortRows();
    void ToTray();
    void ReportTrayError();
    void ListviewKeyPress(QKeyEvent* key, bool& handled);

    // The layout pass and the title panels' collapse contract.
    void FormResize();
    void PlaceChannelControls();
    void ClearConstraints();
    void SetConstraints();
    void QnTitleCollapse(TQnTitle& sender);
    void QnTitleExpand(TQnTitle& sender);

    // Commands of the menus.
    void Listentoallchannels1Click();
    void Deactivateallchannels1Click();
    void MenuItemLoadFingerprintsClick();
    void MenuItemClearSonglistClick();
    void MenuItemExtractWavClick();
    void MenuItemExtractAllWavClick();
    void RemovefrommemoryClick();
    void DeletepermanentlyClick();
    void FptEnabledClick();
    void Properties1Click();
    void RenameChannelClick();
    void Clear1Click();
    void Savehistoryas1Click();
    void Savelistingas1Click();
    void Visitourwebsite1Click();

    // Commands whose windows are built on their own.
    void Channelsoverview1Click();
    void Preferences1Click();
    void Selectsounddevice1Click();
    void About1Click();
    void MenuItemCapAudioInClick();
    void Debugfingerprint1Click();
    void Debugwholedatabase1Click();
    void Addtodeletionlist1Click();
    void QuickSearch(QChar first);

    std::unique_ptr<app::TMainForm> FForm;
    TForm11* FProgressDialog = nullptr;
    TForm2* FCaptureDialog = nullptr;
    TForm10* FOverview = nullptr;
    TTrayIcon* FTray = nullptr;
    TQnTitle* FQnTitle1 = nullptr;
    TQnTitle* FQnTitle3 = nullptr;
    QTabWidget* FTab = nullptr;
    QWidget* FPanCh = nullptr;
    QCheckBox* FActiveCheck = nullptr;
    QPushButton* FButton1 = nullptr;
    QGroupBox* FGroupBox1 = nullptr;
    QLabel* FLabelCurrSong = nullptr;
    QSlider* FProgress = nullptr;
    QProgressBar* FIntegrity = nullptr;
    QLabel* FSig = nullptr;
    QProgressBar* FSignal = nullptr;
    QTreeWidget* FMemo = nullptr;
    QTabWidget* FMemoryOverview = nullptr;
    QTreeWidget* FSonglist = nullptr;
    QMenu* FSongProp = nullptr;
    std::vector<QMenu*> FMenuTitles;
    QTimer FTimerCaption;
    bool FClosing = false;
    bool FResizeAttached = true;
};

}  // namespace orvane::ui
