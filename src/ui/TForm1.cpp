#include "ui/TForm1.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialog>
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
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/RegStuff.h"
#include "app/TEvents.h"
#include "database/TFptLibrary.h"
#include "recognition/FptRecorder.h"
#include "tracking/TActivityHistory.h"
#include "ui/Fonts.h"
#include "ui/Icons.h"
#include "ui/QnTitle.h"
#include "ui/TDiagnostics.h"
#include "ui/TForm10.h"
#include "ui/TForm11.h"
#include "ui/TForm12.h"
#include "ui/TForm2.h"
#include "ui/TForm2Capture.h"
#include "ui/TForm3.h"
#include "ui/TForm4.h"
#include "ui/TForm5.h"
#include "ui/TForm8.h"
#include "ui/TQuickSearch.h"

namespace orvane::ui {

namespace {

constexpr int CaptionIntervalMs = 250;
constexpr int FirstStepsDelayMs = 500;
constexpr int SlotRole = Qt::UserRole;
constexpr int IconRole = Qt::UserRole + 1;
/// The channel panel's fixed height, and the room the lower panel needs below the upper one.
constexpr int PanChHeight = 130;
constexpr int LowerPanelMinimum = 184;
constexpr int Title1Height = 201;
constexpr int TitleHeight = 34;
/// The about box's colour, which the first-steps window borrows.
constexpr QRgb AboutColor = 0xEFF5FE;  // colour value 16708591 (RGB 239, 245, 254)

QString Q(const std::string& text) { return QString::fromStdString(text); }

QString DefaultSaveCsvFile(QWidget* parent, const QString& title, const QString& defaultName) {
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("CSV-File (*.csv)"));
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(defaultName + QStringLiteral(".csv"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
}

}  // namespace

TForm1::TForm1(app::TMainFormOptions options, QWidget* parent, TTrayIcon::TTrayProbe trayAvailable)
    : QMainWindow(parent) {
    setWindowTitle(QString::fromLatin1(app::ApplicationTitle));
    setWindowIcon(AppIcon());
    setFont(LayoutFont(QStringLiteral("Tahoma"), -11));
    BuildLayout();
    BuildMenus();
    BuildPrompts();
    resize(828, 558 + menuBar()->sizeHint().height());
    setMinimumWidth(640);
    FProgressDialog = new TForm11(this);
    FCaptureDialog = new TForm2(this);
    FTray = new TTrayIcon(this, std::move(trayAvailable));
    FTray->SetIcon(AppIcon());
    FTray->SetHint("ORVANE3");
    auto* trayPopup = new QMenu(this);
    trayPopup->setObjectName(QStringLiteral("TrayPopup"));
    QAction* open = trayPopup->addAction(QStringLiteral("&Open ORVANE3"), this, &TForm1::TrayClick);
    open->setObjectName(QStringLiteral("Open1"));
    QFont openFont = open->font();
    openFont.setBold(true);
    open->setFont(openFont);
    trayPopup->setDefaultAction(open);
    QAction* close = trayPopup->addAction(QStringLiteral("&Close"), this, &QWidget::close);
    close->setObjectName(QStringLiteral("Close2"));
    FTray->SetPopupMenu(trayPopup);
    FTray->OnClick = [this](TTrayIcon&) { TrayClick(); };
    FForm = std::make_unique<app::TMainForm>(*this, std::move(options));
    FTimerCaption.setInterval(CaptionIntervalMs);
    connect(&FTimerCaption, &QTimer::timeout, this, &TForm1::TimerCaptionTimer);
}

TForm1::~TForm1() {
    FTimerCaption.stop();
    FForm->Shutdown();
}

void TForm1::BuildPrompts() {
    Prompts.OpenAudioFile = [this] {
        QFileDialog dialog(this, QStringLiteral("Generate fingerprint from audio file"));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilter(QStringLiteral("Audio files (*.wav *.mp3)"));
        dialog.setDefaultSuffix(QStringLiteral("mp3"));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return QString();
        }
        return dialog.selectedFiles().front();
    };
    Prompts.SaveCsvFile = [this](const QString& title, const QString& defaultName) {
        return DefaultSaveCsvFile(this, title, defaultName);
    };
    Prompts.YesNo = [this](const QString& text) {
        return QMessageBox::question(this, QString::fromLatin1(app::ApplicationTitle), text,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    Prompts.Message = [this](const QString& text) {
        QMessageBox::information(this, QString::fromLatin1(app::ApplicationTitle), text);
    };
    Prompts.ChannelName = [this](const QString& name) -> std::optional<QString> {
        bool ok = false;
        const QString answer =
            QInputDialog::getText(this, QStringLiteral("Rename Channel"),
                                  QStringLiteral("Channel Name"), QLineEdit::Normal, name, &ok);
        if (!ok) return std::nullopt;
        return answer;
    };
    Prompts.OpenUrl = [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };
    Prompts.Properties = [this](database::TFptProperties& properties) {
        return TForm5::Execute(this, properties);
    };
    Prompts.QuickSearch = [this](QChar first) { TQuickSearch::Execute(this, FSonglist, first); };
    Prompts.FirstSteps = [this] {
        QDialog window(this);
        window.setWindowTitle(QStringLiteral("Welcome to ORVANE3!"));
        window.setFixedSize(512, 190);
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, QColor(AboutColor));
        window.setPalette(palette);
        window.setAutoFillBackground(true);
        auto* outer = new QVBoxLayout(&window);
        outer->setContentsMargins(5, 5, 5, 5);
        auto* title = new TQnTitle(&window);
        title->SetCaption(QStringLiteral("First steps..."));
        title->SetCaptionFont(LayoutFont(QStringLiteral("Trebuchet MS"), 24));
        title->SetCaptionColor(QColor(29, 41, 71));
        title->SetBackgroundColor(QColor(AboutColor));
        title->SetTitleHeight(TitleHeight);
        title->SetStraightSeparation(true);
        title->setFocusPolicy(Qt::NoFocus);
        const QFontMetrics captionMetrics(title->CaptionFont());
        title->SetBorderLeft((512 - 2 * 5 - captionMetrics.horizontalAdvance(title->Caption())) /
                             2);
        outer->addWidget(title);
        auto* body = new QVBoxLayout(title);
        body->setContentsMargins(0, 0, 0, 0);
        auto* text = new QLabel(
            QStringLiteral("ORVANE3 could not find any fingerprints on your hard disk. You need "
                           "to take fingerprints of all sound clips that you want ORVANE3 to "
                           "recognize.\n\nFingerprints can be extracted from audio files or can "
                           "be directly captured from an audio in device.\nTo do so, choose "
                           "\"Take fingerprint\" from the file menu. "),
            title);
        text->setWordWrap(true);
        text->setTextFormat(Qt::PlainText);
        text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        body->addWidget(text, 1);
        auto* strip = new QWidget(title);
        strip->setFixedHeight(32);
        auto* button = new QPushButton(QStringLiteral("&Close"), strip);
        button->setGeometry((512 - 2 * title->BorderWidth() - 80) / 2, 5, 80, 23);
        button->setDefault(true);
        connect(button, &QPushButton::clicked, &window, &QDialog::accept);
        body->addWidget(strip);
        window.exec();
    };
}

void TForm1::BuildLayout() {
    auto* wrapper = new QWidget(this);
    wrapper->setObjectName(QStringLiteral("Wrapper"));
    auto* wrapperLayout = new QVBoxLayout(wrapper);
    wrapperLayout->setContentsMargins(3, 3, 3, 3);
    wrapperLayout->setSpacing(0);
    setCentralWidget(wrapper);

    const QColor panelColor(246, 250, 255);
    const auto makeTitle = [&](const QString& name, const QString& caption, int icon) {
        auto* title = new TQnTitle(wrapper);
        title->setObjectName(name);
        title->SetColor(panelColor);
        title->SetTitleHeight(TitleHeight);
        title->SetSeparationLine(true);
        title->SetBorderWidth(5);
        title->SetBorderLeft(44);
        title->SetBorderTop(6);
        title->SetCaptionFont(LayoutFont(QStringLiteral("Trebuchet MS"), 24));
        title->SetCaptionColor(QColor(29, 41, 71));
        title->SetIcon(IconPixmap(PanelIcon(icon), 32));
        title->SetIconLeft(3);
        title->SetIconTop(1);
        title->SetCaption(caption);
        title->OnCollapse = [this](TQnTitle& sender) { QnTitleCollapse(sender); };
        title->OnExpand = [this](TQnTitle& sender) { QnTitleExpand(sender); };
        title->OnPaintTitle = [](TQnTitle& sender, QPainter& canvas, int x, int y) {
            canvas.drawPixmap(x, y, IconPixmap(StateIcon(sender.Expanded() ? 0 : 1), 16));
        };
        return title;
    };

    FQnTitle1 = makeTitle(QStringLiteral("QnTitle1"), QStringLiteral("Channels Overview"), 0);
    FQnTitle1->setFixedHeight(Title1Height);
    auto* title1Layout = new QVBoxLayout(FQnTitle1);
    title1Layout->setContentsMargins(0, 0, 0, 0);
    FTab = new QTabWidget(FQnTitle1);
    FTab->setObjectName(QStringLiteral("Tab"));
    FTab->setContextMenuPolicy(Qt::ActionsContextMenu);
    title1Layout->addWidget(FTab);
    BuildChannelPanel();
    wrapperLayout->addWidget(FQnTitle1);
    wrapperLayout->addSpacing(3);  // Bevel1

    FQnTitle3 = makeTitle(QStringLiteral("QnTitle3"), QStringLiteral("Database Information"), 1);
    auto* title3Layout = new QVBoxLayout(FQnTitle3);
    title3Layout->setContentsMargins(0, 0, 0, 0);
    auto* face = new QWidget(FQnTitle3);
    face->setObjectName(QStringLiteral("Pan2bFace"));
    auto* faceLayout = new QVBoxLayout(face);
    faceLayout->setContentsMargins(0, 0, 0, 0);
    auto* splitter = new QSplitter(Qt::Horizontal, face);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->setHandleWidth(8);
    faceLayout->addWidget(splitter);
    title3Layout->addWidget(face);

    QFont bold = font();
    bold.setBold(true);
    auto* left = new QWidget(splitter);
    left->setObjectName(QStringLiteral("Pan2bLeft"));
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->setSpacing(0);
    auto* label3 = new QLabel(QStringLiteral("Database &activity"), left);
    label3->setFont(bold);
    label3->setFixedHeight(18);
    leftLayout->addWidget(label3);
    FMemo = new QTreeWidget(left);
    FMemo->setObjectName(QStringLiteral("Memo"));
    FMemo->setRootIsDecorated(false);
    FMemo->setUniformRowHeights(true);
    FMemo->setHeaderLabels({QStringLiteral("Date/Time"), QStringLiteral("Action/Message")});
    FMemo->header()->setSectionsClickable(false);
    FMemo->setColumnWidth(0, 150);
    FMemo->setSelectionBehavior(QAbstractItemView::SelectRows);
    FMemo->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* saveHistory = new QAction(QStringLiteral("&Save history as..."), FMemo);
    saveHistory->setObjectName(QStringLiteral("Savehistoryas1"));
    connect(saveHistory, &QAction::triggered, this, &TForm1::Savehistoryas1Click);
    auto* clearHistory = new QAction(QStringLiteral("&Clear history"), FMemo);
    clearHistory->setObjectName(QStringLiteral("Clear1"));
    connect(clearHistory, &QAction::triggered, this, &TForm1::Clear1Click);
    FMemo->addActions({saveHistory, clearHistory});
    label3->setBuddy(FMemo);
    leftLayout->addWidget(FMemo);

    auto* right = new QWidget(splitter);
    right->setObjectName(QStringLiteral("Pan2bRight"));
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);
    auto* label2 = new QLabel(QStringLiteral("&Memory overview"), right);
    label2->setFont(bold);
    label2->setFixedHeight(18);
    rightLayout->addWidget(label2);
    FMemoryOverview = new QTabWidget(right);
    FMemoryOverview->setObjectName(QStringLiteral("MemoryOverview"));
    FSonglist = new QTreeWidget(FMemoryOverview);
    FSonglist->setObjectName(QStringLiteral("SonglistListview"));
    FSonglist->setRootIsDecorated(false);
    FSonglist->setUniformRowHeights(true);
    FSonglist->setHeaderLabels({QStringLiteral("Fingerprint name"), QStringLiteral("Duration")});
    FSonglist->header()->setSectionsClickable(false);
    FSonglist->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    FSonglist->header()->setStretchLastSection(false);
    FSonglist->setColumnWidth(1, 60);
    FSonglist->installEventFilter(this);
    FSonglist->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(FSonglist, &QTreeWidget::itemDoubleClicked, this, [this] { Properties1Click(); });
    FMemoryOverview->addTab(FSonglist, QStringLiteral("Sound clips (0)"));
    label2->setBuddy(FMemoryOverview);
    rightLayout->addWidget(FMemoryOverview);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setSizes({828 - 6 - 10 - 8 - 269, 269});
    wrapperLayout->addWidget(FQnTitle3, 1);
    statusBar()->setObjectName(QStringLiteral("Status"));
    statusBar()->setFixedHeight(25);
    statusBar()->setSizeGripEnabled(true);
    setAcceptDrops(true);
}

void TForm1::BuildChannelPanel() {
    FPanCh = new QWidget(FTab);
    FPanCh->setObjectName(QStringLiteral("PanCh"));
    FPanCh->installEventFilter(this);
    FTab->addTab(FPanCh, QStringLiteral("Channel01"));
    connect(FTab, &QTabWidget::currentChanged, this, [this] { PanelRefresh(); });

    FActiveCheck = new QCheckBox(QStringLiteral("Channel &active"), FPanCh);
    FActiveCheck->setObjectName(QStringLiteral("ActiveCheck"));
    QFont bold = font();
    bold.setBold(true);
    FActiveCheck->setFont(bold);
    FActiveCheck->setGeometry(16, 8, 457, 17);
    connect(FActiveCheck, &QCheckBox::clicked, this,
            [this](bool checked) { FForm->SetChannelActive(checked); });

    FButton1 = new QPushButton(QStringLiteral("&Change sound device..."), FPanCh);
    FButton1->setObjectName(QStringLiteral("Button1"));
    FButton1->setGeometry(624, 8, 129, 23);
    connect(FButton1, &QPushButton::clicked, this, &TForm1::Selectsounddevice1Click);

    FGroupBox1 = new QGroupBox(QStringLiteral("Recognized sound clip"), FPanCh);
    FGroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    FGroupBox1->setGeometry(16, 32, 737, 41);
    FLabelCurrSong = new QLabel(FGroupBox1);
    FLabelCurrSong->setObjectName(QStringLiteral("LabelCurrSong"));
    FLabelCurrSong->setFont(LayoutFont(QStringLiteral("Tahoma"), -16));
    FLabelCurrSong->setTextFormat(Qt::PlainText);
    FLabelCurrSong->move(8, 15);

    FProgress = new QSlider(Qt::Horizontal, FPanCh);
    FProgress->setObjectName(QStringLiteral("Progress"));
    FProgress->setRange(0, 1999);
    FProgress->setTickPosition(QSlider::NoTicks);
    FProgress->setFocusPolicy(Qt::NoFocus);
    FProgress->setGeometry(16, 73, 737, 15);
    FProgress->hide();

    auto* label1 = new QLabel(QStringLiteral("Integrity"), FPanCh);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->move(16, 96);
    FIntegrity = new QProgressBar(FPanCh);
    FIntegrity->setObjectName(QStringLiteral("ProgressBarIntegrity"));
    FIntegrity->setRange(0, 85);
    FIntegrity->setTextVisible(false);
    FIntegrity->setGeometry(64, 95, 297, 17);

    FSig = new QLabel(QStringLiteral("Signal"), FPanCh);
    FSig->setObjectName(QStringLiteral("Sig"));
    FSig->move(760, 8);
    FSignal = new QProgressBar(FPanCh);
    FSignal->setObjectName(QStringLiteral("ProgressBarSignalStrength"));
    FSignal->setOrientation(Qt::Vertical);
    FSignal->setRange(0, 90);
    FSignal->setTextVisible(false);
    FSignal->setGeometry(761, 24, 25, 97);
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
    file->setObjectName(QStringLiteral("File1"));
    AddAction(file, QStringLiteral("Listentoallchannels1"),
              QStringLiteral("Activate &all channels"), QKeySequence(Qt::Key_F5),
              &TForm1::Listentoallchannels1Click);
    AddAction(file, QStringLiteral("Deactivateallchannels1"),
              QStringLiteral("&Deactivate all channels"), {}, &TForm1::Deactivateallchannels1Click);
    AddAction(file, QStringLiteral("Channelsoverview1"), QStringLiteral("Channels over&view..."),
              QKeySequence(Qt::Key_F10), &TForm1::Channelsoverview1Click);
    file->addSeparator();
    AddAction(file, QStringLiteral("MenuItemLoadFingerprints"),
              QStringLiteral("Re&load all fingerprints from harddisk"), QKeySequence(Qt::Key_F2),
              &TForm1::MenuItemLoadFingerprintsClick);
    AddAction(file, QStringLiteral("MenuItemClearSonglist"),
              QStringLiteral("Clear &fingerprint memory"), QKeySequence(Qt::Key_F3),
              &TForm1::MenuItemClearSonglistClick);
    QMenu* take = file->addMenu(QStringLiteral("&Take fingerprint"));
    take->setObjectName(QStringLiteral("Takefingerprint1"));
    AddAction(take, QStringLiteral("MenuItemExtractWav"),
              QStringLiteral("&Take fingerprint of an audio file..."), {},
              &TForm1::MenuItemExtractWavClick);
    AddAction(take, QStringLiteral("MenuItemExtractAllWav"),
              QStringLiteral("Take fingerprints of &all audio files in batch conversion folder"),
              {}, &TForm1::MenuItemExtractAllWavClick);
    AddAction(take, QStringLiteral("MenuItemCapAudioIn"),
              QStringLiteral("&Capture from audio in..."), {}, &TForm1::MenuItemCapAudioInClick);
    file->addSeparator();
    AddAction(file, QStringLiteral("Minimizetosystemtray1"),
              QStringLiteral("&Minimize to system tray"), {}, &TForm1::Minimizetosystemtray1Click);
    file->addSeparator();
    QAction* close = file->addAction(QStringLiteral("&Close"), this, &QWidget::close);
    close->setObjectName(QStringLiteral("MenuItemClose"));
    close->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));

    QMenu* options = menuBar()->addMenu(QStringLiteral("Options"));
    options->setObjectName(QStringLiteral("Options1"));
    AddAction(options, QStringLiteral("Preferences1"), QStringLiteral("&Preferences..."),
              QKeySequence(Qt::Key_F9), &TForm1::Preferences1Click);
    AddAction(options, QStringLiteral("Selectsounddevice1"),
              QStringLiteral("&Select sound device..."), {}, &TForm1::Selectsounddevice1Click);
    AddAction(options, QStringLiteral("RenameChannel1"), QStringLiteral("R&ename Channel..."), {},
              &TForm1::RenameChannelClick);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    AddAction(help, QStringLiteral("About1"), QStringLiteral("&About..."), QKeySequence(Qt::Key_F1),
              &TForm1::About1Click);
    AddAction(help, QStringLiteral("Visitourwebsite1"), QStringLiteral("&Visit our website..."), {},
              &TForm1::Visitourwebsite1Click);
    FMenuTitles = {file, options, help};
    for (QMenu* menu : FMenuTitles) menu->setEnabled(false);

    FSongProp = new QMenu(this);
    FSongProp->setObjectName(QStringLiteral("SongProp"));
    AddAction(FSongProp, QStringLiteral("Properties1"), QStringLiteral("&Properties..."), {},
              &TForm1::Properties1Click);
    QAction* enabled = AddAction(FSongProp, QStringLiteral("FptEnabled"),
                                 QStringLiteral("E&nabled"), {}, &TForm1::FptEnabledClick);
    enabled->setCheckable(true);
    AddAction(FSongProp, QStringLiteral("Removefrommemory"),
              QStringLiteral("&Remove fingerprint from memory"), {},
              &TForm1::RemovefrommemoryClick);
    AddAction(FSongProp, QStringLiteral("Deletepermanently"),
              QStringLiteral("&Delete fingerprint permanently"), {},
              &TForm1::DeletepermanentlyClick);
    FSongProp->addSeparator();
    AddAction(FSongProp, QStringLiteral("Savelistingas1"),
              QStringLiteral("&Save memory listing as..."), {}, &TForm1::Savelistingas1Click);
    AddAction(FSongProp, QStringLiteral("MenuItemClear"), QStringLiteral("&Clear memory"), {},
              &TForm1::MenuItemClearSonglistClick);
    FSongProp->addSeparator();
    AddAction(FSongProp, QStringLiteral("Debugfingerprint1"),
              QStringLiteral("&Debug fingerprint..."), {}, &TForm1::Debugfingerprint1Click);
    AddAction(FSongProp, QStringLiteral("Debugwholedatabase1"),
              QStringLiteral("&Debug whole database..."), {}, &TForm1::Debugwholedatabase1Click);
    FSongProp->addSeparator();
    AddAction(FSongProp, QStringLiteral("Addtodeletionlist1"),
              QStringLiteral("&Add to deletion list..."), {}, &TForm1::Addtodeletionlist1Click);
    connect(FSonglist, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        UpdateSongPopup();
        FSongProp->popup(FSonglist->viewport()->mapToGlobal(at));
    });

    auto* renameChannel = new QAction(QStringLiteral("&Rename channel..."), FTab);
    renameChannel->setObjectName(QStringLiteral("Renamechannel2"));
    connect(renameChannel, &QAction::triggered, this, &TForm1::RenameChannelClick);
    FTab->addAction(renameChannel);
}

QAction* TForm1::Action(const QString& objectName) const { return findChild<QAction*>(objectName); }

void TForm1::UpdateSongPopup() {
    const bool selected = SelectedRow() >= 0;
    for (const char* name :
         {"Properties1", "FptEnabled", "Removefrommemory", "Deletepermanently"}) {
        if (QAction* action = Action(QString::fromLatin1(name))) action->setEnabled(selected);
    }
    QAction* enabled = Action(QStringLiteral("FptEnabled"));
    enabled->setChecked(false);
    if (selected) enabled->setChecked(FForm->FingerprintEnabled(Row(SelectedRow()).Slot));
}

void TForm1::Init() {
    FForm->Init();
    setWindowTitle(QString::fromLatin1(app::MainWindowCaption));
    FButton1->hide();
    PanelRefresh();
    FTimerCaption.start();
    for (QMenu* menu : FMenuTitles) menu->setEnabled(true);
    FormResize();
}

void TForm1::HandleForwardedCommands(const std::vector<std::string>& commands) {
    FForm->HandleForwardedCommands(commands);
}

void TForm1::BringToFront() {
    if (!FForm->Started()) return;
    if (isMinimized() || !isVisible()) showNormal();
    if (FTray->Visible()) {
        try {
            FTray->Hide();
        } catch (const std::exception&) {
            ReportTrayError();
        }
    }
    raise();
    activateWindow();
}

void TForm1::TimerCaptionTimer() {
    FIntegrity->setValue(std::clamp(FForm->IntegrityPosition(), 0, FIntegrity->maximum()));
    FSignal->setValue(std::clamp(FForm->SignalStrengthPosition(), 0, FSignal->maximum()));
    QFont font = FLabelCurrSong->font();
    font.setBold(true);
    font.setItalic(false);
    const QFontMetrics metrics(font);
    const int room = FPanCh->width() - 200;
    const app::TChannelCaption caption = FForm->RefreshCaption(
        [&metrics](const std::string& text) { return metrics.horizontalAdvance(Q(text)); }, room);
    font.setBold(caption.Bold);
    font.setItalic(!caption.Bold);
    FLabelCurrSong->setFont(font);
    // The label shows plain text: the doubled "&" of the caption is one "&" on screen.
    QString shown = Q(caption.Text);
    shown.replace(QStringLiteral("&&"), QStringLiteral("&"));
    FLabelCurrSong->setText(shown);
    FLabelCurrSong->adjustSize();
    FProgress->setValue(std::min(caption.SliderPos, FProgress->maximum()));
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
    FMemo->setUpdatesEnabled(false);
    FMemo->clear();
    QList<QTreeWidgetItem*> items;
    for (const auto& row : rows) {
        auto* item = new QTreeWidgetItem({Q(row.Caption), Q(row.Message)});
        item->setIcon(0, SmallIcon(static_cast<int>(row.Icon)));
        items.push_back(item);
    }
    FMemo->addTopLevelItems(items);
    FMemo->setUpdatesEnabled(true);
    if (!items.isEmpty()) FMemo->scrollToItem(items.back());
}

void TForm1::FirstStepsTip() {
    QTimer::singleShot(FirstStepsDelayMs, this, [this] {
        if (Prompts.FirstSteps) Prompts.FirstSteps();
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
    if (Prompts.Message) Prompts.Message(Q(text));
}

bool TForm1::AskYesNo(const std::string& text) { return Prompts.YesNo && Prompts.YesNo(Q(text)); }

bool TForm1::ShowProperties(database::TFptProperties& properties) {
    return Prompts.Properties ? Prompts.Properties(properties) : false;
}

void TForm1::ShowDeletionList() {
    if (FForm->Library()) TForm12::Execute(this, *FForm->Library());
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

void TForm1::MenuItemLoadFingerprintsClick() {
    if (FForm->Library()) FForm->Library()->MenuItemLoadFingerprintsClick(nullptr);
}

void TForm1::MenuItemClearSonglistClick() {
    if (FForm->Library()) FForm->Library()->MenuItemClearSonglistClick(nullptr);
}

void TForm1::MenuItemExtractWavClick() {
    FForm->MenuItemExtractWavClick([this] {
        return Prompts.OpenAudioFile ? Prompts.OpenAudioFile().toStdString() : std::string();
    });
}

void TForm1::MenuItemExtractAllWavClick() { FForm->MenuItemExtractAllWavClick(); }

void TForm1::RemovefrommemoryClick() {
    if (FForm->Library())
        FForm->Library()->ListviewKeyDown(database::TListKey::lkDelete, false, false);
}

void TForm1::DeletepermanentlyClick() {
    if (FForm->Library())
        FForm->Library()->ListviewKeyDown(database::TListKey::lkDelete, true, false);
}

void TForm1::FptEnabledClick() {
    if (FForm->Library()) FForm->Library()->FptEnabledClick();
}

void TForm1::Properties1Click() {
    if (FForm->Library() && SelectedRow() >= 0) FForm->Library()->ListViewDblClick();
}

void TForm1::RenameChannelClick() {
    if (!Prompts.ChannelName) return;
    const std::optional<QString> name = Prompts.ChannelName(Q(FForm->ChannelNameForEdit()));
    if (!name) return;
    FForm->RenameChannel(name->toStdString());
    QString tab = *name;
    tab.replace(QStringLiteral("&"), QStringLiteral("&&"));
    FTab->setTabText(0, tab);
    FormResize();
}

void TForm1::Clear1Click() {
    FForm->History().Clear();
    FMemo->clear();
}

void TForm1::Savehistoryas1Click() {
    if (!Prompts.SaveCsvFile) return;
    const QString file = Prompts.SaveCsvFile(QStringLiteral("Save database activity history"),
                                             QStringLiteral("history"));
    if (!file.isEmpty()) FForm->SaveHistoryAs(file.toStdString());
}

void TForm1::Savelistingas1Click() {
    if (!Prompts.SaveCsvFile) return;
    const QString file =
        Prompts.SaveCsvFile(QStringLiteral("Save memory listing"), QStringLiteral("memory"));
    if (!file.isEmpty()) FForm->SaveListingAs(file.toStdString());
}

void TForm1::Visitourwebsite1Click() {
    if (Prompts.OpenUrl) Prompts.OpenUrl(QString::fromLatin1(app::ProductWebsite));
}

// --- commands whose windows are built on their own ---------------------------------------

void TForm1::Channelsoverview1Click() {
    // One overview for the whole run; showing it again brings it up to date.
    if (FOverview == nullptr) {
        FOverview = new TForm10(ChannelReaderOf(*FForm, FForm->RecognitionLock()), {}, this);
    }
    FOverview->ShowOverview();
}

void TForm1::Preferences1Click() {
    if (FForm->EventServe() != nullptr) {
        app::TEventReg eventStore(FForm->Location());
        TForm3::Execute(this, TForm3::ContextOf(*FForm, *FForm->EventServe(), eventStore));
    }
    // Whatever the dialog closed with, the recognition thread gets the options as they stand.
    FForm->PublishOptions();
    PanelRefresh();
}

void TForm1::Selectsounddevice1Click() {
    if (TForm8::Execute(this, *FForm)) PanelRefresh();
}

void TForm1::About1Click() { TForm4::Execute(this); }

void TForm1::MenuItemCapAudioInClick() {
    if (FForm->Recorder() == nullptr || FForm->Library() == nullptr) return;
    TCaptureHost host;
    host.OtherTasksRunning = [this] { return FProgressDialog->Showing(); };
    host.ActiveChannelCount = [this] { return FForm->ChannelActive() ? 1 : 0; };
    host.ShowMessage = [this](const std::string& text) { ShowMessage(text); };
    host.AskOkCancel = [this](const std::string& text) {
        return QMessageBox::information(this, QString::fromLatin1(app::ApplicationTitle), Q(text),
                                        QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
    };
    host.FingerprintFolder = [this] { return FForm->SettingsStore().Settings.FpFolder; };
    host.LoadFingerprintFile = [this](const std::string& path) {
        FForm->Library()->LoadFingerprintFile(path, nullptr);
    };
    TForm2Capture capture(*FForm->Recorder(), *FCaptureDialog, std::move(host));
    try {
        capture.MenuItemCapAudioInClick();
    } catch (const std::exception& error) {
        ShowMessage(error.what());
    }
}

void TForm1::Debugfingerprint1Click() {
    if (FForm->SongList() == nullptr || FForm->MainDB() == nullptr) return;
    DebugSelectedFingerprint(this, *FForm->SongList(), *FForm->MainDB());
}

void TForm1::Debugwholedatabase1Click() {
    if (FForm->SongList() == nullptr || FForm->MainDB() == nullptr) return;
    DebugWholeDatabase(this, TDatabaseReportParts{*FForm->MainDB(), *FForm->SongList(),
                                                  FForm->Pause(),
                                                  FForm->ChannelActive()
                                                      ? std::vector<std::int32_t>{0}
                                                      : std::vector<std::int32_t>{}});
}

void TForm1::Addtodeletionlist1Click() {
    if (FForm->Library()) FForm->Library()->Addtodeletionlist1Click();
}

void TForm1::QuickSearch(QChar first) {
    if (Prompts.QuickSearch) Prompts.QuickSearch(first);
}

// --- tray --------------------------------------------------------------------------------

void TForm1::ReportTrayError() {
    FForm->PostActivity(app::TrayErrorText, tracking::TActivityIcon::aiError);
}

void TForm1::ToTray() {
    try {
        hide();
        FTray->Show(false);
    } catch (const std::exception&) {
        ReportTrayError();
    }
}

void TForm1::SysMinimizeClick() {
    if (!FForm->Started() || FClosing) return;
    // Minimising is still under way (showMinimized shows the window after the state change):
    // the window leaves the taskbar once it is done.
    if (FForm->SettingsStore().Settings.Systray) {
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && isVisible() && !FClosing) ToTray();
        });
    }
}

void TForm1::Minimizetosystemtray1Click() {
    showMinimized();
    ToTray();
}

void TForm1::TrayClick() {
    try {
        show();
        showNormal();
        raise();
        activateWindow();
        FTray->Hide();
    } catch (const std::exception&) {
        ReportTrayError();
    }
}

// --- layout ------------------------------------------------------------------------------

void TForm1::ClearConstraints() {
    setMinimumHeight(0);
    setMaximumHeight(QWIDGETSIZE_MAX);
}

void TForm1::SetConstraints() {
    if (FQnTitle3->Expanded()) {
        setMinimumHeight(FQnTitle1->height() + LowerPanelMinimum);
        setMaximumHeight(QWIDGETSIZE_MAX);
    } else {
        setMinimumHeight(height());
        setMaximumHeight(height());
    }
}

void TForm1::PlaceChannelControls() {
    const int w = FPanCh->width();
    FGroupBox1->resize(w - 58, FGroupBox1->height());
    FProgress->resize(w - 58, FProgress->height());
    FButton1->move(w - 171, FButton1->y());
    FSig->move(w - 35, FSig->y());
    FSignal->move(w - 34, FSignal->y());
}

void TForm1::FormResize() {
    ClearConstraints();
    // The channel panel keeps its 130 pixels whatever the tab bar and the frames take.
    if (FQnTitle1->Expanded() && FPanCh->isVisible() && FPanCh->height() != PanChHeight) {
        FQnTitle1->setFixedHeight(FQnTitle1->height() - FPanCh->height() + PanChHeight);
    }
    PlaceChannelControls();
    SetConstraints();
}

void TForm1::QnTitleCollapse(TQnTitle& sender) {
    ClearConstraints();
    const int body = sender.BodyHeight();
    FResizeAttached = false;
    resize(width(), height() - body);
    sender.ExecCollapse();
    FResizeAttached = true;
    const auto children = sender.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (child->y() > sender.TitleHeight()) child->hide();
    }
    SetConstraints();
}

void TForm1::QnTitleExpand(TQnTitle& sender) {
    ClearConstraints();
    const auto children = sender.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (child->y() > sender.TitleHeight()) child->show();
    }
    FResizeAttached = false;
    sender.ExecExpand();
    if (&sender == FQnTitle1) FQnTitle1->setFixedHeight(sender.HeightBackup());
    resize(width(), height() + sender.BodyHeight());
    FResizeAttached = true;
    SetConstraints();
}

// --- events ------------------------------------------------------------------------------

void TForm1::ListviewKeyPress(QKeyEvent* key, bool& handled) {
    const QString text = key->text();
    if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
        const std::int32_t row = SelectedRow();
        if (row >= 0) {
            const std::int32_t icon = FForm->ToggleMark(Row(row).Slot);
            if (icon >= 0) SetImageIndex(row, icon);
        }
        handled = true;
        return;
    }
    if (text.size() == 1) {
        const QChar c = text.front();
        const bool asciiDigit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const bool asciiLetter = (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                                 (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
        if (asciiDigit || asciiLetter) {
            QuickSearch(c);
            handled = true;
        }
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FPanCh && event->type() == QEvent::Resize) {
        PlaceChannelControls();
    } else if (watched == FSonglist && event->type() == QEvent::KeyPress && FForm->Library()) {
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
        bool handled = false;
        ListviewKeyPress(key, handled);
        if (handled) return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (FResizeAttached && FForm && FForm->Started()) FormResize();
}

void TForm1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized()) SysMinimizeClick();
}

void TForm1::paintEvent(QPaintEvent* event) {
    QMainWindow::paintEvent(event);
    if (FTray->Visible() && isVisible() && !isMinimized()) {
        try {
            FTray->Hide();
        } catch (const std::exception&) {
            ReportTrayError();
        }
    }
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
