// The main window: the channel panel with the recognised clip and its running position, the
// activity history, the list of loaded fingerprints, the menus of the library commands, the
// tray icon and the progress dialog. It shows what the composition root (app/uMainForm.h) tells
// it and hands every user action to it.
// Thread: main thread only.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/uMainForm.h"
#include "database/ILibraryUi.h"
#include "database/ISongListView.h"

class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class QProgressBar;
class QSlider;
class QTabWidget;
class QTreeWidget;

namespace orvane::ui {

class TForm11;
class TQnTitle;
class TTrayIcon;

class TForm1 final : public QMainWindow,
                     public app::IMainFormView,
                     public database::ISongListView,
                     public database::ILibraryWindow {
    Q_OBJECT

public:
    /// The window, hidden, its menus disabled until Init. `options` set up the composition root.
    explicit TForm1(app::TMainFormOptions options, QWidget* parent = nullptr);
    ~TForm1() override;

    /// The start sequence of the composition root, then the caption timer and the menus.
    void Init();
    /// The composition root.
    app::TMainForm& Form() { return *FForm; }
    /// Files handed over by a later start or a drop.
    void HandleForwardedCommands(const std::vector<std::string>& commands);
    /// Shows, restores and raises the window.
    void BringToFront();

    /// The caption refresh (every 250 ms while running).
    void TimerCaptionTimer();

    // Parts for tests.
    QLabel* LabelCurrSong() const { return FLabelCurrSong; }
    QSlider* Progress() const { return FProgress; }
    QCheckBox* ActiveCheck() const { return FActiveCheck; }
    QTreeWidget* Memo() const { return FMemo; }
    QTreeWidget* SonglistListview() const { return FSonglist; }
    QTabWidget* MemoryOverview() const { return FMemoryOverview; }
    QAction* Action(const QString& objectName) const;

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
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLayout();
    void BuildMenus();
    QAction* AddAction(QMenu* menu, const QString& name, const QString& caption,
                       const QKeySequence& shortcut, void (TForm1::*slot)());
    void SortRows();
    void UpdateSongPopup();

    void Listentoallchannels1Click();
    void Deactivateallchannels1Click();
    void ReloadClick();
    void ClearClick();
    void ExtractClick();
    void ExtractAllClick();
    void RemoveClick();
    void DeleteClick();
    void EnabledClick();
    void PropertiesClick();
    void RenameChannelClick();
    void ClearHistoryClick();
    void SaveHistoryClick();
    void TrayRestore();

    std::unique_ptr<app::TMainForm> FForm;
    TForm11* FProgressDialog = nullptr;
    TTrayIcon* FTray = nullptr;
    TQnTitle* FQnTitle1 = nullptr;
    TQnTitle* FQnTitle3 = nullptr;
    QTabWidget* FTab = nullptr;
    QCheckBox* FActiveCheck = nullptr;
    QLabel* FLabelCurrSong = nullptr;
    QSlider* FProgress = nullptr;
    QProgressBar* FIntegrity = nullptr;
    QProgressBar* FSignal = nullptr;
    QTreeWidget* FMemo = nullptr;
    QTabWidget* FMemoryOverview = nullptr;
    QTreeWidget* FSonglist = nullptr;
    QMenu* FSongProp = nullptr;
    std::vector<QMenu*> FMenuTitles;
    QTimer FTimerCaption;
    bool FClosing = false;
};

}  // namespace orvane::ui
