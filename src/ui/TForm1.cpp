#include "ui/TForm1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/RegStuff.h"
#include "database/TFptLibrary.h"
#include "tracking/TActivityHistory.h"
#include "ui/Fonts.h"
#include "ui/Icons.h"
#include "ui/QnTitle.h"
#include "ui/TForm11.h"
#include "ui/TrayIcon.h"

namespace orvane::ui {

namespace {

constexpr int CaptionIntervalMs = 250;
constexpr int SlotRole = Qt::UserRole;
constexpr int IconRole = Qt::UserRole + 1;

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

TForm1::TForm1(app::TMainFormOptions options, QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QString::fromLatin1(app::ApplicationTitle));
    setWindowIcon(AppIcon());
    resize(828, 558);
    setMinimumWidth(640);
    BuildLayout();
    BuildMenus();
    FProgressDialog = new TForm11(this);
    FTray = new TTrayIcon(this);
    FTray->SetIcon(AppIcon());
    FTray->SetHint("ORVANE3");
    auto* trayPopup = new QMenu(this);
    trayPopup->addAction(QStringLiteral("&Open ORVANE3"), this, &TForm1::TrayRestore);
    trayPopup->addAction(QStringLiteral("&Close"), this, &QWidget::close);
    FTray->SetPopupMenu(trayPopup);
    FTray->OnClick = [this](TTrayIcon&) { TrayRestore(); };
    FForm = std::make_unique<app::TMainForm>(*this, std::move(options));
    FTimerCaption.setInterval(CaptionIntervalMs);
    connect(&FTimerCaption, &QTimer::timeout, this, &TForm1::TimerCaptionTimer);
}

TForm1::~TForm1() {
    FTimerCaption.stop();
    FForm->Shutdown();
}

void TForm1::BuildLayout() {
    auto* wrapper = new QWidget(this);
    auto* wrapperLayout = new QVBoxLayout(wrapper);
    wrapperLayout->setContentsMargins(3, 3, 3, 3);
    wrapperLayout->setSpacing(3);
    setCentralWidget(wrapper);

    const QColor panelColor(246, 250, 255);
    const auto makeTitle = [&](const QString& caption, int icon) {
        auto* title = new TQnTitle(wrapper);
        title->SetColor(panelColor);
        title->SetTitleHeight(34);
        title->SetSeparationLine(true);
        title->SetBorderWidth(5);
        title->SetBorderLeft(44);
        title->SetBorderTop(6);
        title->SetCaptionFont(LayoutFont(QStringLiteral("Trebuchet MS"), -24));
        title->SetCaptionColor(QColor(29, 41, 71));
        title->SetIcon(IconPixmap(PanelIcon(icon), 32));
        title->SetIconLeft(3);
        title->SetIconTop(1);
        title->SetCaption(caption);
        return title;
    };

    FQnTitle1 = makeTitle(QStringLiteral("Channels Overview"), 0);
    FQnTitle1->setFixedHeight(201);
    auto* title1Layout = new QVBoxLayout(FQnTitle1);
    title1Layout->setContentsMargins(0, 0, 0, 0);
    FTab = new QTabWidget(FQnTitle1);
    title1Layout->addWidget(FTab);
    auto* panCh = new QWidget(FTab);
    FTab->addTab(panCh, QStringLiteral("Channel01"));
    auto* chLayout = new QVBoxLayout(panCh);
    FActiveCheck = new QCheckBox(QStringLiteral("Channel &active"), panCh);
    QFont bold = FActiveCheck->font();
    bold.setBold(true);
    FActiveCheck->setFont(bold);
    connect(FActiveCheck, &QCheckBox::clicked, this,
            [this](bool checked) { FForm->SetChannelActive(checked); });
    chLayout->addWidget(FActiveCheck);
    auto* group = new QGroupBox(QStringLiteral("Recognized sound clip"), panCh);
    auto* groupLayout = new QVBoxLayout(group);
    FLabelCurrSong = new QLabel(group);
    FLabelCurrSong->setFont(LayoutFont(QStringLiteral("Tahoma"), -16));
    groupLayout->addWidget(FLabelCurrSong);
    chLayout->addWidget(group);
    FProgress = new QSlider(Qt::Horizontal, panCh);
    FProgress->setRange(0, 1999);
    FProgress->setFocusPolicy(Qt::NoFocus);
    FProgress->setEnabled(false);
    FProgress->hide();
    chLayout->addWidget(FProgress);
    auto* bars = new QHBoxLayout();
    bars->addWidget(new QLabel(QStringLiteral("Integrity"), panCh));
    FIntegrity = new QProgressBar(panCh);
    FIntegrity->setRange(0, 85);
    FIntegrity->setTextVisible(false);
    bars->addWidget(FIntegrity);
    bars->addWidget(new QLabel(QStringLiteral("Signal"), panCh));
    FSignal = new QProgressBar(panCh);
    FSignal->setRange(0, 90);
    FSignal->setTextVisible(false);
    bars->addWidget(FSignal);
    chLayout->addLayout(bars);
    wrapperLayout->addWidget(FQnTitle1);

    FQnTitle3 = makeTitle(QStringLiteral("Database Information"), 1);
    auto* title3Layout = new QVBoxLayout(FQnTitle3);
    title3Layout->setContentsMargins(0, 0, 0, 0);
    auto* splitter = new QSplitter(Qt::Horizontal, FQnTitle3);
    title3Layout->addWidget(splitter);
    auto* left = new QWidget(splitter);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    auto* label3 = new QLabel(QStringLiteral("Database &activity"), left);
    label3->setFont(bold);
    leftLayout->addWidget(label3);
    FMemo = new QTreeWidget(left);
    FMemo->setRootIsDecorated(false);
    FMemo->setHeaderLabels({QStringLiteral("Date/Time"), QStringLiteral("Action/Message")});
    FMemo->setColumnWidth(0, 150);
    FMemo->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* saveHistory = new QAction(QStringLiteral("&Save history as..."), FMemo);
    connect(saveHistory, &QAction::triggered, this, &TForm1::SaveHistoryClick);
    auto* clearHistory = new QAction(QStringLiteral("&Clear history"), FMemo);
    connect(clearHistory, &QAction::triggered, this, &TForm1::ClearHistoryClick);
    FMemo->addActions({saveHistory, clearHistory});
    label3->setBuddy(FMemo);
    leftLayout->addWidget(FMemo);

    auto* right = new QWidget(splitter);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    auto* label2 = new QLabel(QStringLiteral("&Memory overview"), right);
    label2->setFont(bold);
    rightLayout->addWidget(label2);
    FMemoryOverview = new QTabWidget(right);
    FSonglist = new QTreeWidget(FMemoryOverview);
    FSonglist->setRootIsDecorated(false);
    FSonglist->setHeaderLabels({QStringLiteral("Fingerprint name"), QStringLiteral("Duration")});
    FSonglist->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    FSonglist->header()->setStretchLastSection(false);
    FSonglist->setColumnWidth(1, 60);
    FSonglist->installEventFilter(this);
    FSonglist->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FSonglist, &QTreeWidget::itemDoubleClicked, this, [this] { PropertiesClick(); });
    FMemoryOverview->addTab(FSonglist, QStringLiteral("Sound clips (0)"));
    label2->setBuddy(FMemoryOverview);
    rightLayout->addWidget(FMemoryOverview);
    splitter->setStretchFactor(0, 1);
    splitter->setSizes({540, 269});
    wrapperLayout->addWidget(FQnTitle3, 1);
    statusBar()->setSizeGripEnabled(true);
    setAcceptDrops(true);
}

QAction* TForm1::AddAction(QMenu* menu, const QString& name, const QString& caption,
                           const QKeySequence& shortcut, void (TForm1::*slot)()) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    if (!shortcut.isEmpty()) action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this, slot);
    return action;
}

void TForm1::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    AddAction(file, QStringLiteral("Listentoallchannels1"), QStringLiteral("Activate &all channels"),
              QKeySequence(Qt::Key_F5), &TForm1::Listentoallchannels1Click);
    AddAction(file, QStringLiteral("Deactivateallchannels1"),
              QStringLiteral("&Deactivate all channels"), {}, &TForm1::Deactivateallchannels1Click);
    file->addSeparator();
    AddAction(file, QStringLiteral("MenuItemLoadFingerprints"),
              QStringLiteral("Re&load all fingerprints from harddisk"), QKeySequence(Qt::Key_F2),
              &TForm1::ReloadClick);
    AddAction(file, QStringLiteral("MenuItemClearSonglist"),
              QStringLiteral("Clear &fingerprint memory"), QKeySequence(Qt::Key_F3),
              &TForm1::ClearClick);
    QMenu* take = file->addMenu(QStringLiteral("&Take fingerprint"));
    AddAction(take, QStringLiteral("MenuItemExtractWav"),
              QStringLiteral("&Take fingerprint of an audio file..."), {}, &TForm1::ExtractClick);
    AddAction(take, QStringLiteral("MenuItemExtractAllWav"),
              QStringLiteral("Take fingerprints of &all audio files in batch conversion folder"), {},
              &TForm1::ExtractAllClick);
    file->addSeparator();
    QAction* close = file->addAction(QStringLiteral("&Close"), this, &QWidget::close);
    close->setObjectName(QStringLiteral("MenuItemClose"));
    close->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));

    QMenu* options = menuBar()->addMenu(QStringLiteral("Options"));
    AddAction(options, QStringLiteral("RenameChannel1"), QStringLiteral("R&ename Channel..."), {},
              &TForm1::RenameChannelClick);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(QStringLiteral("&About..."), this, [this] {
        QMessageBox::about(this, QStringLiteral("About ORVANE3"),
                           QString::fromLatin1(app::MainWindowCaption));
    });
    FMenuTitles = {file, options, help};
    for (QMenu* menu : FMenuTitles) menu->setEnabled(false);

    FSongProp = new QMenu(this);
    FSongProp->setObjectName(QStringLiteral("SongProp"));
    AddAction(FSongProp, QStringLiteral("Properties1"), QStringLiteral("&Properties..."), {},
              &TForm1::PropertiesClick);
    QAction* enabled = AddAction(FSongProp, QStringLiteral("FptEnabled"), QStringLiteral("E&nabled"),
                                 {}, &TForm1::EnabledClick);
    enabled->setCheckable(true);
    AddAction(FSongProp, QStringLiteral("RemoveFingerprint"),
              QStringLiteral("&Remove fingerprint from memory"), {}, &TForm1::RemoveClick);
    AddAction(FSongProp, QStringLiteral("DeleteFingerprint"),
              QStringLiteral("&Delete fingerprint permanently"), {}, &TForm1::DeleteClick);
    FSongProp->addSeparator();
    AddAction(FSongProp, QStringLiteral("ClearMemory1"), QStringLiteral("&Clear memory"), {},
              &TForm1::ClearClick);
    connect(FSonglist, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        UpdateSongPopup();
        FSongProp->popup(FSonglist->viewport()->mapToGlobal(at));
    });
}

QAction* TForm1::Action(const QString& objectName) const {
    return findChild<QAction*>(objectName);
}

void TForm1::UpdateSongPopup() {
    const bool selected = SelectedRow() >= 0;
    for (const char* name : {"Properties1", "FptEnabled", "RemoveFingerprint", "DeleteFingerprint"}) {
        if (QAction* action = Action(QString::fromLatin1(name))) action->setEnabled(selected);
    }
    QAction* enabled = Action(QStringLiteral("FptEnabled"));
    enabled->setChecked(false);
    if (selected && FForm->SongList() != nullptr) {
        const auto* song = FForm->SongList()->SongServer(Row(SelectedRow()).Slot);
        enabled->setChecked(song != nullptr && song->GetEnabled());
    }
}

void TForm1::Init() {
    FForm->Init();
    setWindowTitle(QString::fromLatin1(app::MainWindowCaption));
    for (QMenu* menu : FMenuTitles) menu->setEnabled(true);
    PanelRefresh();
    FTimerCaption.start();
}

void TForm1::HandleForwardedCommands(const std::vector<std::string>& commands) {
    FForm->HandleForwardedCommands(commands);
}

void TForm1::BringToFront() {
    if (!FForm->Started()) return;
    if (isMinimized()) showNormal();
    if (!isVisible()) show();
    raise();
    activateWindow();
}

void TForm1::TimerCaptionTimer() {
    FIntegrity->setValue(std::min(FForm->IntegrityPosition(), FIntegrity->maximum()));
    FSignal->setValue(std::min(FForm->SignalStrengthPosition(), FSignal->maximum()));
    QFont font = FLabelCurrSong->font();
    font.setBold(true);
    font.setItalic(false);
    const QFontMetrics metrics(font);
    const int room = FTab->currentWidget()->width() - 200;
    const app::TChannelCaption caption = FForm->RefreshCaption(
        [&metrics](const std::string& text) { return metrics.horizontalAdvance(Q(text)); }, room);
    font.setBold(caption.Bold);
    font.setItalic(!caption.Bold);
    FLabelCurrSong->setFont(font);
    // The label shows "&&" as one "&": the text comes doubled.
    QString shown = Q(caption.Text);
    shown.replace(QStringLiteral("&&"), QStringLiteral("&"));
    FLabelCurrSong->setText(shown);
    FProgress->setValue(caption.SliderPos);
    FProgress->setVisible(caption.SliderVisible);
}

void TForm1::PanelRefresh() {
    TimerCaptionTimer();
    FActiveCheck->setChecked(FForm->ChannelActive());
    FActiveCheck->setText(QStringLiteral("Channel active") + Q(FForm->ChannelSideSuffix()));
}

database::IProgressDialog& TForm1::ProgressDialog() { return *FProgressDialog; }

tracking::ITrayDisplay& TForm1::TrayDisplay() { return *FTray; }

void TForm1::HistoryChanged() {
    const auto rows = FForm->History().Rows();
    FMemo->clear();
    QList<QTreeWidgetItem*> items;
    for (const auto& row : rows) {
        auto* item = new QTreeWidgetItem({Q(row.Caption), Q(row.Message)});
        item->setIcon(0, SmallIcon(static_cast<int>(row.Icon)));
        items.push_back(item);
    }
    FMemo->addTopLevelItems(items);
    if (!items.isEmpty()) FMemo->scrollToItem(items.back());
}

void TForm1::FirstStepsTip() {
    QTimer::singleShot(500, this, [this] {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Welcome to ORVANE3!"),
                        QStringLiteral("ORVANE3 could not find any fingerprints on your hard disk. "
                                       "You need to take fingerprints of all sound clips that you "
                                       "want ORVANE3 to recognize.\n\nFingerprints can be "
                                       "extracted from audio files or can be directly captured "
                                       "from an audio in device.\nTo do so, choose \"Take "
                                       "fingerprint\" from the file menu. "),
                        QMessageBox::Close, this);
        box.exec();
    });
}

// --- the fingerprint list ------------------------------------------------------------------

std::int32_t TForm1::RowCount() const { return FSonglist->topLevelItemCount(); }

database::TSongRow TForm1::Row(std::int32_t row) const {
    database::TSongRow result;
    const QTreeWidgetItem* item = FSonglist->topLevelItem(row);
    if (item == nullptr) return result;
    result.Caption = item->text(0).toStdString();
    result.DurationText = item->text(1).toStdString();
    result.Slot = item->data(0, SlotRole).toInt();
    result.ImageIndex = item->data(0, IconRole).toInt();
    return result;
}

void TForm1::SortRows() { FSonglist->sortItems(0, Qt::AscendingOrder); }

void TForm1::AddRow(const database::TSongRow& row) {
    auto* item = new QTreeWidgetItem({Q(row.Caption), Q(row.DurationText)});
    item->setData(0, SlotRole, row.Slot);
    item->setData(0, IconRole, row.ImageIndex);
    item->setIcon(0, SmallIcon(row.ImageIndex));
    FSonglist->addTopLevelItem(item);
    SortRows();
}

void TForm1::DeleteRow(std::int32_t row) { delete FSonglist->takeTopLevelItem(row); }

void TForm1::Clear() { FSonglist->clear(); }

void TForm1::SetImageIndex(std::int32_t row, std::int32_t imageIndex) {
    if (QTreeWidgetItem* item = FSonglist->topLevelItem(row)) {
        item->setData(0, IconRole, imageIndex);
        item->setIcon(0, SmallIcon(imageIndex));
    }
}

void TForm1::SetCaption(std::int32_t row, const std::string& caption) {
    if (QTreeWidgetItem* item = FSonglist->topLevelItem(row)) {
        item->setText(0, Q(caption));
        SortRows();
    }
}

std::int32_t TForm1::SelectedRow() const {
    QTreeWidgetItem* item = FSonglist->currentItem();
    if (item == nullptr || !item->isSelected()) return -1;
    return FSonglist->indexOfTopLevelItem(item);
}

void TForm1::SetSoundClipsCaption(const std::string& caption) {
    FMemoryOverview->setTabText(0, Q(caption));
}

// --- the library's dialogs ---------------------------------------------------------------

void TForm1::ShowMessage(const std::string& text) {
    QMessageBox::information(this, QString::fromLatin1(app::ApplicationTitle), Q(text));
}

bool TForm1::AskYesNo(const std::string& text) {
    return QMessageBox::question(this, QString::fromLatin1(app::ApplicationTitle), Q(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool TForm1::ShowProperties(database::TFptProperties& properties) {
    bool ok = false;
    const QString name = QInputDialog::getText(
        this, QStringLiteral("Fingerprint properties"),
        QStringLiteral("Name (%1, %2)").arg(Q(properties.LabelDuration), Q(properties.FileLabel)),
        QLineEdit::Normal, Q(properties.EditName), &ok);
    if (ok) properties.EditName = name.toStdString();
    return ok;
}

void TForm1::ShowDeletionList() {
    ShowMessage("The deletion list is not available in this version.");
}

void TForm1::ProcessMessages() { QCoreApplication::processEvents(); }

void TForm1::ClearStatusText() { statusBar()->clearMessage(); }

bool TForm1::ClearMemoryMenuEnabled() const {
    const QAction* action = Action(QStringLiteral("MenuItemClearSonglist"));
    return action != nullptr && action->isEnabled();
}

void TForm1::SetEnabledMenuChecked(bool checked) {
    if (QAction* action = Action(QStringLiteral("FptEnabled"))) action->setChecked(checked);
}

// --- commands ----------------------------------------------------------------------------

void TForm1::Listentoallchannels1Click() { FForm->ActivateAllChannels(); }

void TForm1::Deactivateallchannels1Click() { FForm->DeactivateAllChannels(); }

void TForm1::ReloadClick() {
    if (FForm->Library()) FForm->Library()->MenuItemLoadFingerprintsClick(nullptr);
}

void TForm1::ClearClick() {
    if (FForm->Library()) FForm->Library()->MenuItemClearSonglistClick(nullptr);
}

void TForm1::ExtractClick() {
    const QString file = QFileDialog::getOpenFileName(
        this, QStringLiteral("Take fingerprint of an audio file"), QString(),
        QStringLiteral("Audio files (*.mp3 *.wav *.MP3 *.WAV)"));
    if (file.isEmpty()) return;
    FForm->DropFiles({file.toStdString()});
}

void TForm1::ExtractAllClick() {
    const QDir folder(Q(FForm->SettingsStore().Settings.BatFolder));
    std::vector<std::string> files;
    const auto entries = folder.entryInfoList(
        {QStringLiteral("*.mp3"), QStringLiteral("*.wav"), QStringLiteral("*.MP3"),
         QStringLiteral("*.WAV")},
        QDir::Files, QDir::Name);
    for (const QFileInfo& entry : entries) files.push_back(entry.absoluteFilePath().toStdString());
    FForm->DropFiles(files);
}

void TForm1::RemoveClick() {
    if (FForm->Library())
        FForm->Library()->ListviewKeyDown(database::TListKey::lkDelete, false, false);
}

void TForm1::DeleteClick() {
    if (FForm->Library())
        FForm->Library()->ListviewKeyDown(database::TListKey::lkDelete, true, false);
}

void TForm1::EnabledClick() {
    if (FForm->Library()) FForm->Library()->FptEnabledClick();
}

void TForm1::PropertiesClick() {
    if (FForm->Library() && SelectedRow() >= 0) FForm->Library()->ListViewDblClick();
}

void TForm1::RenameChannelClick() {
    bool ok = false;
    const QString name =
        QInputDialog::getText(this, QStringLiteral("Rename Channel"),
                              QStringLiteral("Channel Name"), QLineEdit::Normal,
                              Q(FForm->ChannelNameForEdit()), &ok);
    if (!ok) return;
    FForm->RenameChannel(name.toStdString());
    QString tab = name;
    tab.replace(QStringLiteral("&"), QStringLiteral("&&"));
    FTab->setTabText(0, tab);
}

void TForm1::ClearHistoryClick() {
    FForm->History().Clear();
    FMemo->clear();
}

void TForm1::SaveHistoryClick() {
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Save history as"),
                                                      QString(),
                                                      QStringLiteral("CSV files (*.csv)"));
    if (!file.isEmpty()) FForm->History().SaveHistoryAs(file.toStdString());
}

void TForm1::TrayRestore() {
    show();
    showNormal();
    FTray->Hide();
}

// --- events ------------------------------------------------------------------------------

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FSonglist && event->type() == QEvent::KeyPress && FForm->Library()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete) {
            FForm->Library()->ListviewKeyDown(database::TListKey::lkDelete,
                                              (key->modifiers() & Qt::ShiftModifier) != 0, true);
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            FForm->Library()->ListviewKeyDown(database::TListKey::lkEnter, false, true);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths;
    const auto urls = event->mimeData()->urls();
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
    }
    event->acceptProposedAction();
    setAcceptDrops(false);
    try {
        FForm->DropFiles(paths);
    } catch (const std::exception& error) {
        FForm->PostActivity(error.what(), tracking::TActivityIcon::aiError);
    }
    setAcceptDrops(true);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!FClosing) {
        FClosing = true;
        FTimerCaption.stop();
        FForm->Shutdown();
    }
    event->accept();
}

}  // namespace orvane::ui
