#include "ui/TForm3.h"

#include <algorithm>
#include <utility>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWhatsThis>

#include "app/RegStuff.h"
#include "app/uMainForm.h"
#include "base/Errors.h"
#include "tracking/TEventServe.h"
#include "ui/Fonts.h"

namespace orvane::ui {

namespace {

// Positions and sizes of the layout at 96 dpi; Qt scales them.
constexpr int ClientWidth = 687;
constexpr int BorderWidth = 5;
constexpr int PageBorderWidth = 10;
constexpr int ButtonStripHeight = 30;
constexpr int FoldersHeight = 80;
constexpr int OptionsHeight = 119;
constexpr int EventsHeight = 135;
constexpr int EditHeight = 21;
constexpr int CheckBoxHeight = 16;  // the rows lie 16 pixels apart
// Room right of the rightmost control of a group, and the frame of the page control's pane.
constexpr int GroupMargin = 8;
constexpr int PaneFrame = 2;

// The idle timeout field takes at most nine digits, so its number always fits the setting.
constexpr int IdleTimeoutDigits = 9;

QString FromUtf8(const std::string& text) { return QString::fromStdString(text); }

QComboBox* AddList(QWidget* parent, const QStringList& items, int x, int y, int width) {
    auto* list = new QComboBox(parent);
    list->addItems(items);
    list->setGeometry(x, y, width, EditHeight);
    // The drop-down shows its entries whole even where the closed list is narrow.
    int widest = width;
    for (const QString& item : items) {
        widest = std::max(widest, list->fontMetrics().horizontalAdvance(item) + 24);
    }
    list->view()->setMinimumWidth(widest);
    return list;
}

/// Right edge of a control (x + width).
int RightOf(const QWidget* control) { return control->x() + control->width(); }

/// Width of a drop-down list that shows its longest entry whole, at least `width`.
int ListWidth(const QComboBox* list, int width) {
    int widest = 0;
    for (int i = 0; i < list->count(); ++i) {
        widest = std::max(widest, list->fontMetrics().horizontalAdvance(list->itemText(i)));
    }
    // Room for the frame and the arrow button.
    return std::max(width, widest + 30);
}

QCheckBox* AddCheckBox(QWidget* parent, const QString& caption, int x, int y) {
    auto* box = new QCheckBox(caption, parent);
    box->adjustSize();
    box->setGeometry(x, y, box->width(), CheckBoxHeight);
    return box;
}

}  // namespace

TForm3::TForm3(TForm3Context context, QWidget* parent)
    : QDialog(parent), FContext(std::move(context)) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Preferences"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::WindowContextHelpButtonHint);
    setFont(LayoutFont(QStringLiteral("Tahoma"), -11));
    if (FContext.ChannelCount < 1) {
        FContext.ChannelCount = 1;
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(BorderWidth, BorderWidth, BorderWidth, BorderWidth);
    layout->setSpacing(0);

    FPages = new QTabWidget(this);
    auto* page = new QWidget(FPages);
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(PageBorderWidth, PageBorderWidth, PageBorderWidth,
                                   PageBorderWidth);
    pageLayout->setSpacing(0);
    auto* folders = new QGroupBox(QStringLiteral("Folders and Files"), page);
    folders->setFixedHeight(FoldersHeight);
    BuildFolders(folders);
    pageLayout->addWidget(folders);
    auto* options = new QGroupBox(QStringLiteral("Miscellaneous Options"), page);
    options->setFixedHeight(OptionsHeight);
    BuildOptions(options);
    pageLayout->addWidget(options);
    auto* events = new QGroupBox(QStringLiteral("Events"), page);
    events->setFixedHeight(EventsHeight);
    BuildEvents(events);
    pageLayout->addWidget(events);
    FPages->addTab(page, QStringLiteral("Preferences"));
    layout->addWidget(FPages);

    auto* strip = new QWidget(this);
    strip->setFixedHeight(ButtonStripHeight);
    auto* stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(0, 6, 0, ButtonStripHeight - 6 - 23);
    stripLayout->setSpacing(7);
    stripLayout->addStretch(1);
    FOkButton = new QPushButton(QStringLiteral("&Ok"), strip);
    FOkButton->setObjectName(QStringLiteral("Button1"));
    FOkButton->setFixedSize(81, 23);
    FOkButton->setDefault(true);
    stripLayout->addWidget(FOkButton);
    FCancelButton = new QPushButton(QStringLiteral("&Cancel"), strip);
    FCancelButton->setObjectName(QStringLiteral("Button2"));
    FCancelButton->setFixedSize(81, 23);
    stripLayout->addWidget(FCancelButton);
    layout->addWidget(strip);
    connect(FOkButton, &QPushButton::clicked, this, &TForm3::OkClick);
    connect(FCancelButton, &QPushButton::clicked, this, &TForm3::CancelClick);

    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [this] { ShowFocusHelp(); });
    // The title bar's "?" enters the same mode; not every window manager draws that button.
    auto* helpMode = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1), this);
    connect(helpMode, &QShortcut::activated, this, [] { QWhatsThis::enterWhatsThisMode(); });

    // The group boxes span the page; the dialog grows when a substitute font needs more room
    // than the layout's width gives them.
    const int width = std::max(ClientWidth, FNeededWidth + GroupMargin + 2 * BorderWidth +
                                                2 * PageBorderWidth + 2 * PaneFrame);
    setFixedWidth(width);
    setFixedSize(width, sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    LoadControls();
}

TForm3::~TForm3() = default;

// --- building ---------------------------------------------------------------------------------

QLabel* TForm3::AddLabel(QWidget* parent, const QString& caption, int x, int y, QWidget* buddy) {
    auto* label = new QLabel(caption, parent);
    label->setBuddy(buddy);
    label->adjustSize();
    label->move(x, y);
    return label;
}

void TForm3::SetHelp(QWidget* control, int context, QLabel* label) {
    control->setWhatsThis(HelpText(context));
    control->installEventFilter(this);
    if (label != nullptr) {
        label->setWhatsThis(HelpText(context));
        label->installEventFilter(this);
    }
}

void TForm3::BuildFolders(QGroupBox* group) {
    FFolderFilesEdit1 = new QLineEdit(group);
    FFolderFilesEdit1->setObjectName(QStringLiteral("FolderFilesEdit1"));
    FFolderFilesEdit1->setGeometry(152, 20, 401, EditHeight);
    QLabel* label4 =
        AddLabel(group, QStringLiteral("&Fingerprint database folder"), 12, 23, FFolderFilesEdit1);
    SetHelp(FFolderFilesEdit1, 1, label4);
    FFolderFilesButton1 = new QPushButton(QStringLiteral("..."), group);
    FFolderFilesButton1->setObjectName(QStringLiteral("FolderFilesButton1"));
    FFolderFilesButton1->setGeometry(560, 20, 33, 22);
    FFolderFilesButton1->setAutoDefault(false);

    FFolderFilesEdit2 = new QLineEdit(group);
    FFolderFilesEdit2->setObjectName(QStringLiteral("FolderFilesEdit2"));
    FFolderFilesEdit2->setGeometry(152, 44, 401, EditHeight);
    QLabel* label5 =
        AddLabel(group, QStringLiteral("Folder for batch con&version"), 12, 47, FFolderFilesEdit2);
    SetHelp(FFolderFilesEdit2, 2, label5);
    FFolderFilesButton2 = new QPushButton(QStringLiteral("..."), group);
    FFolderFilesButton2->setObjectName(QStringLiteral("FolderFilesButton2"));
    FFolderFilesButton2->setGeometry(560, 45, 33, 22);
    FFolderFilesButton2->setAutoDefault(false);

    // With the layout's font the fields start at 152; a wider substitute font pushes them
    // right of their labels.
    const int editX = std::max({152, RightOf(label4) + 6, RightOf(label5) + 6});
    FFolderFilesEdit1->move(editX, 20);
    FFolderFilesEdit2->move(editX, 44);
    FFolderFilesButton1->move(editX + 408, 20);
    FFolderFilesButton2->move(editX + 408, 45);
    FNeededWidth = std::max(FNeededWidth, RightOf(FFolderFilesButton1));

    FFolderFilesEdit1->installEventFilter(this);
    FFolderFilesEdit2->installEventFilter(this);
    connect(FFolderFilesButton1, &QPushButton::clicked, this,
            [this] { Browse(FFolderFilesEdit1, QStringLiteral("Select fingerprints folder")); });
    connect(FFolderFilesButton2, &QPushButton::clicked, this, [this] {
        Browse(FFolderFilesEdit2, QStringLiteral("Select batch conversion folder"));
    });
}

void TForm3::BuildOptions(QGroupBox* group) {
    FCheckBox2 =
        AddCheckBox(group, QStringLiteral("&Deep search (takes up more resources)"), 8, 16);
    FCheckBox2->setObjectName(QStringLiteral("CheckBox2"));
    SetHelp(FCheckBox2, 11);
    FCheckBoxBalloon = AddCheckBox(
        group, QStringLiteral("A&nnounce songs as Balloon Tool Tips when minimized"), 8, 32);
    FCheckBoxBalloon->setObjectName(QStringLiteral("CheckBoxBalloon"));
    SetHelp(FCheckBoxBalloon, 12);
    FCheckBoxTray =
        AddCheckBox(group, QStringLiteral("&Minimize to System Tray instead of Taskbar"), 8, 48);
    FCheckBoxTray->setObjectName(QStringLiteral("CheckBoxTray"));
    SetHelp(FCheckBoxTray, 13);
    FStartOnLoad = AddCheckBox(group, QStringLiteral("Activate Channels on Startup"), 8, 64);
    FStartOnLoad->setObjectName(QStringLiteral("StartOnLoad"));
    SetHelp(FStartOnLoad, 13);

    FSpAnnounce = AddCheckBox(group, QStringLiteral("&Announce songs via speaker"), 287, 16);
    FSpAnnounce->setObjectName(QStringLiteral("SpAnnounce"));
    SetHelp(FSpAnnounce, 14);
    FhighInteg = AddCheckBox(group, QStringLiteral("Assume &high integrity"), 287, 32);
    FhighInteg->setObjectName(QStringLiteral("highInteg"));
    SetHelp(FhighInteg, 15);
    FComp = AddCheckBox(group, QStringLiteral("Compatibillity mode"), 287, 48);
    FComp->setObjectName(QStringLiteral("Comp"));
    SetHelp(FComp, 16);
    FRobustSearch =
        AddCheckBox(group, QStringLiteral("Robust recognition (noisy input)"), 287, 64);
    FRobustSearch->setObjectName(QStringLiteral("RobustSearch"));
    SetHelp(FRobustSearch, 22);

    FTaskPri =
        AddList(group, {QStringLiteral("low"), QStringLiteral("medium"), QStringLiteral("high")},
                612, 14, 39);
    FTaskPri->setObjectName(QStringLiteral("TaskPri"));
    QLabel* label13 = AddLabel(group, QStringLiteral("Engine task &priority"), 466, 17, FTaskPri);
    SetHelp(FTaskPri, 17, label13);

    QStringList channels;
    for (std::int32_t i = 1; i <= FContext.ChannelCount; ++i) {
        channels << QString::number(i);
    }
    FSimult = AddList(group, channels, 612, 37, 39);
    FSimult->setObjectName(QStringLiteral("Simult"));
    QLabel* label3 = AddLabel(group, QStringLiteral("Simul&taneous channels"), 466, 41, FSimult);
    SetHelp(FSimult, 18, label3);

    FEdit3 = new QLineEdit(group);
    FEdit3->setObjectName(QStringLiteral("Edit3"));
    FEdit3->setGeometry(613, 62, 25, EditHeight);
    FEdit3->setMaxLength(IdleTimeoutDigits);
    // Digits only, typed or pasted; editing keys work as always.
    FEdit3->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(IdleTimeoutDigits)), FEdit3));
    FEdit3->installEventFilter(this);
    QLabel* label2 = AddLabel(group, QStringLiteral("T&imeout until idle"), 466, 65, FEdit3);
    SetHelp(FEdit3, 20, label2);

    FKeepLongest = AddList(
        group, {QStringLiteral("shortest fingerprint"), QStringLiteral("longest fingerprint")}, 322,
        84, 129);
    FKeepLongest->setObjectName(QStringLiteral("KeepLongest"));
    QLabel* label11 = AddLabel(
        group, QStringLiteral("When duplicate fingerprints are found, disable all but the"), 8, 88,
        FKeepLongest);
    SetHelp(FKeepLongest, 10, label11);

    // The layout's columns, pushed right where a wider substitute font needs the room, and
    // lists wide enough to show their entries whole.
    const int column2 = std::max({287, RightOf(FCheckBox2) + 12, RightOf(FCheckBoxBalloon) + 12,
                                  RightOf(FCheckBoxTray) + 12, RightOf(FStartOnLoad) + 12});
    for (QCheckBox* box : {FSpAnnounce, FhighInteg, FComp, FRobustSearch}) {
        box->move(column2, box->y());
    }
    const int column3 = std::max({466, RightOf(FSpAnnounce) + 12, RightOf(FhighInteg) + 12,
                                  RightOf(FComp) + 12, RightOf(FRobustSearch) + 12});
    for (QLabel* label : {label13, label3, label2}) {
        label->move(column3, label->y());
    }
    const int listX =
        std::max({612, RightOf(label13) + 8, RightOf(label3) + 8, RightOf(label2) + 8});
    const int listWidth = std::max(ListWidth(FTaskPri, 39), ListWidth(FSimult, 39));
    FTaskPri->setGeometry(listX, 14, listWidth, EditHeight);
    FSimult->setGeometry(listX, 37, listWidth, EditHeight);
    // Room for four digits at least (an hour is 3600 seconds).
    FEdit3->setGeometry(
        listX + 1, 62,
        std::max(25, FEdit3->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 8),
        EditHeight);
    FKeepLongest->setGeometry(std::max(322, RightOf(label11) + 6), 84, ListWidth(FKeepLongest, 129),
                              EditHeight);
    FNeededWidth =
        std::max({FNeededWidth, RightOf(FTaskPri), RightOf(FEdit3), RightOf(FKeepLongest)});

    connect(FCheckBoxTray, &QCheckBox::toggled, this, &TForm3::TrayChanged);
    connect(FSimult, &QComboBox::activated, this, &TForm3::SimultChange);
}

void TForm3::BuildEvents(QGroupBox* group) {
    FCheckBox5 = AddCheckBox(group, QStringLiteral("Ena&ble events"), 12, 21);
    FCheckBox5->setObjectName(QStringLiteral("CheckBox5"));
    SetHelp(FCheckBox5, 21);
    FEvList = new QListWidget(group);
    FEvList->setObjectName(QStringLiteral("EvList"));
    FEvList->setGeometry(12, 40, 425, 81);
    FEvList->setSelectionMode(QAbstractItemView::SingleSelection);
    FUpButton = new QPushButton(QStringLiteral("Up"), group);
    FUpButton->setObjectName(QStringLiteral("UpButton"));
    FUpButton->setGeometry(444, 40, 41, 32);
    FUpButton->setAutoDefault(false);
    FDownButton = new QPushButton(QStringLiteral("Down"), group);
    FDownButton->setObjectName(QStringLiteral("DownButton"));
    FDownButton->setGeometry(444, 87, 41, 32);
    FDownButton->setAutoDefault(false);
    FDelButton = new QPushButton(QStringLiteral("Delete Event"), group);
    FDelButton->setObjectName(QStringLiteral("DelButton"));
    FDelButton->setGeometry(508, 96, 81, 23);
    FDelButton->setAutoDefault(false);
    FNeededWidth = std::max(FNeededWidth, RightOf(FDelButton));

    connect(FCheckBox5, &QCheckBox::toggled, this, &TForm3::EventsEnabledChanged);
    connect(FUpButton, &QPushButton::clicked, this, [this] { MoveEvent(-1); });
    connect(FDownButton, &QPushButton::clicked, this, [this] { MoveEvent(1); });
    connect(FDelButton, &QPushButton::clicked, this, &TForm3::DeleteEvent);
}

// --- showing and closing ----------------------------------------------------------------------

bool TForm3::Execute(QWidget* parent, TForm3Context context) {
    TForm3 dialog(std::move(context), parent);
    dialog.Prepare();
    return dialog.exec() == QDialog::Accepted;
}

TForm3Context TForm3::ContextOf(app::TMainForm& form, tracking::TEventServe& events,
                                tracking::IEventStore& eventStore) {
    TForm3Context context{form.SettingsStore(), events, eventStore};
    context.ChannelCount = 1;
    context.ChannelActive = [&form](std::int32_t i) { return i == 0 && form.ChannelActive(); };
    context.SetChannelActive = [&form](std::int32_t i, bool active) {
        if (i == 0) {
            form.SetChannelActive(active);
        }
    };
    return context;
}

void TForm3::Prepare() {
    FActiveChannels.assign(static_cast<std::size_t>(FContext.ChannelCount), false);
    if (FContext.ChannelActive) {
        for (std::int32_t i = 0; i < FContext.ChannelCount; ++i) {
            FActiveChannels[static_cast<std::size_t>(i)] = FContext.ChannelActive(i);
        }
    }
    EventsEnabledChanged();
    ReloadEvents();
    FOkButton->setFocus();
}

void TForm3::OkClick() {
    try {
        FContext.Events.savetoreg(FContext.EventStore);
    } catch (const EError& error) {
        ReportError(error.what());
    }
    FolderExit(FFolderFilesEdit1);
    FolderExit(FFolderFilesEdit2);
    StoreControls();
    FContext.Store.RegStuff(true);
    done(QDialog::Accepted);
}

void TForm3::CancelClick() {
    FContext.Store.RegStuff(false);
    LoadControls();
    ReloadEvents();
    SimultChange();
    done(QDialog::Rejected);
}

void TForm3::reject() {
    // The close box: what the user edited stays the live copy, as if the controls were the
    // settings, until the next load or save.
    StoreControls();
    QDialog::reject();
}

void TForm3::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        CancelClick();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TForm3::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::WhatsThis && watched->isWidgetType()) {
        // The "?" button's click on a control: its text with the line breaks the popup shows.
        auto* control = static_cast<QWidget*>(watched);
        if (!control->whatsThis().isEmpty()) {
            QWhatsThis::showText(static_cast<QHelpEvent*>(event)->globalPos(),
                                 PopupText(control->whatsThis()), control);
            return true;
        }
    }
    if (event->type() == QEvent::FocusOut) {
        if (watched == FFolderFilesEdit1 || watched == FFolderFilesEdit2) {
            FolderExit(static_cast<QLineEdit*>(watched));
        } else if (watched == FEdit3) {
            IdleTimeoutExit();
        }
    }
    return QDialog::eventFilter(watched, event);
}

// --- settings ---------------------------------------------------------------------------------

void TForm3::LoadControls() {
    const app::TSettings& settings = FContext.Store.Settings;
    FFolderFilesEdit1->setText(FromUtf8(settings.FpFolder));
    FFolderFilesEdit2->setText(FromUtf8(settings.BatFolder));
    FShownFolder1 = FFolderFilesEdit1->text();
    FShownFolder2 = FFolderFilesEdit2->text();
    FCheckBox2->setChecked(settings.DeepSearch);
    FSpAnnounce->setChecked(settings.Announce);
    {
        const QSignalBlocker blocker(FCheckBoxTray);
        FCheckBoxTray->setChecked(settings.Systray);
    }
    FCheckBoxBalloon->setEnabled(true);
    FCheckBoxBalloon->setChecked(settings.Balloon);
    FBalloonTag = settings.Balloon;
    TrayChanged();
    FTaskPri->setCurrentIndex(std::clamp(settings.Priority + 1, 0, 2));
    FKeepLongest->setCurrentIndex(std::clamp(settings.DuplicateKeep, 0, 1));
    FhighInteg->setChecked(settings.Highquality);
    FCheckBox5->setChecked(settings.EventsEnabled);
    EventsEnabledChanged();
    FComp->setChecked(settings.Compatibility);
    FRobustSearch->setChecked(settings.RobustSearch);
    FStartOnLoad->setChecked(settings.ActiveOnLoad);
    FSimult->setCurrentIndex(settings.SimultPresent ? 0 : FSimult->count() - 1);
    FEdit3->setText(QString::number(std::max(settings.IdleTimeout, 0)));
}

void TForm3::StoreControls() {
    FolderExit(FFolderFilesEdit1);
    FolderExit(FFolderFilesEdit2);
    IdleTimeoutExit();
    app::TSettings& settings = FContext.Store.Settings;
    settings.FpFolder = FFolderFilesEdit1->text().toStdString();
    settings.BatFolder = FFolderFilesEdit2->text().toStdString();
    settings.DeepSearch = FCheckBox2->isChecked();
    settings.Announce = FSpAnnounce->isChecked();
    settings.Systray = FCheckBoxTray->isChecked();
    settings.Balloon = FCheckBoxBalloon->isChecked();
    settings.Priority = FTaskPri->currentIndex() - 1;
    settings.DuplicateKeep = std::max(FKeepLongest->currentIndex(), 0);
    settings.Highquality = FhighInteg->isChecked();
    settings.EventsEnabled = FCheckBox5->isChecked();
    settings.Compatibility = FComp->isChecked();
    settings.RobustSearch = FRobustSearch->isChecked();
    settings.ActiveOnLoad = FStartOnLoad->isChecked();
    bool ok = false;
    const int idleTimeout = FEdit3->text().toInt(&ok);
    settings.IdleTimeout = ok ? idleTimeout : 0;
}

// --- controls ---------------------------------------------------------------------------------

void TForm3::FolderExit(QLineEdit* edit) {
    QString folder = edit->text();
    if (folder.isEmpty()) {
        folder = edit == FFolderFilesEdit1 ? FShownFolder1 : FShownFolder2;
    }
    folder = app::WithTrailingSeparator(folder);
    if (folder != edit->text()) {
        edit->setText(folder);
    }
}

void TForm3::Browse(QLineEdit* edit, const QString& title) {
    QWidget* owner = QApplication::activeWindow() != nullptr ? QApplication::activeWindow() : this;
    const QString chosen = FContext.BrowseFolder
                               ? FContext.BrowseFolder(owner, title, edit->text())
                               : QFileDialog::getExistingDirectory(owner, title, edit->text());
    if (chosen.isEmpty()) {
        return;
    }
    edit->setText(QDir::toNativeSeparators(chosen));
    FolderExit(edit);
}

void TForm3::IdleTimeoutExit() {
    if (FEdit3->text().isEmpty()) {
        FEdit3->setText(QStringLiteral("0"));
    }
}

void TForm3::TrayChanged() {
    const bool enable = FCheckBoxTray->isChecked();
    if (enable == FCheckBoxBalloon->isEnabled()) {
        return;
    }
    if (enable) {
        FCheckBoxBalloon->setEnabled(true);
        FCheckBoxBalloon->setChecked(FBalloonTag);
    } else {
        FBalloonTag = FCheckBoxBalloon->isChecked();
        FCheckBoxBalloon->setChecked(false);
        FCheckBoxBalloon->setEnabled(false);
    }
}

void TForm3::EventsEnabledChanged() {
    if (!FCheckBox5->isEnabled()) {
        return;
    }
    const bool enabled = FCheckBox5->isChecked();
    FEvList->setEnabled(enabled);
    FUpButton->setEnabled(enabled);
    FDownButton->setEnabled(enabled);
    FDelButton->setEnabled(enabled);
}

void TForm3::SimultChange() {
    const std::int32_t k =
        FSimult->currentIndex() < 0 ? FContext.ChannelCount : FSimult->currentIndex() + 1;
    if (FContext.OnChannelTabs) {
        FContext.OnChannelTabs(k);
    }
    if (!FContext.SetChannelActive) {
        return;
    }
    for (std::int32_t i = 0; i < FContext.ChannelCount; ++i) {
        const auto slot = static_cast<std::size_t>(i);
        if (i >= k) {
            FContext.SetChannelActive(i, false);
        } else if (slot < FActiveChannels.size()) {
            FContext.SetChannelActive(i, FActiveChannels[slot]);
        }
    }
}

// --- events -----------------------------------------------------------------------------------

void TForm3::ReloadEvents() {
    try {
        FContext.Events.getfromreg(FContext.EventStore);
    } catch (const EError& error) {
        // The definitions read before the faulty one stay loaded and listed.
        ReportError(error.what());
    }
    ListEvents(-1);
}

void TForm3::ListEvents(int select) {
    FEvList->clear();
    for (const std::int32_t slot : FContext.Events.RankOrder()) {
        auto* row = new QListWidgetItem(FromUtf8(FContext.Events.Event(slot).Name), FEvList);
        row->setData(Qt::UserRole, slot);
    }
    if (select >= 0 && select < FEvList->count()) {
        FEvList->setCurrentRow(select);
    }
}

void TForm3::MoveEvent(int direction) {
    const QListWidgetItem* current = FEvList->currentItem();
    if (current == nullptr || !current->isSelected()) {
        return;
    }
    const int row = FEvList->row(current);
    const int other = row + direction;
    if (other < 0 || other >= FEvList->count()) {
        return;
    }
    try {
        FContext.Events.SwapPriority(current->data(Qt::UserRole).toInt(),
                                     FEvList->item(other)->data(Qt::UserRole).toInt());
    } catch (const EError& error) {
        ReportError(error.what());
        return;
    }
    // The moved event stays selected, so that repeated presses keep moving it.
    ListEvents(other);
}

void TForm3::DeleteEvent() {
    const QListWidgetItem* current = FEvList->currentItem();
    if (current == nullptr || !current->isSelected()) {
        return;
    }
    try {
        FContext.Events.delevent(current->data(Qt::UserRole).toInt());
    } catch (const EError& error) {
        ReportError(error.what());
        return;
    }
    // Listed again: the later slots moved down, and every row must carry its slot as it now is.
    ListEvents(-1);
}

void TForm3::ReportError(const std::string& message) {
    if (FContext.OnError) {
        FContext.OnError(message);
    } else {
        QMessageBox::warning(this, windowTitle(), FromUtf8(message));
    }
}

// --- context help -----------------------------------------------------------------------------

QString TForm3::HelpText(int context) {
    switch (context) {
        case 1:
            return QStringLiteral(
                "All fingerprint files (*.qnf) will be read from and written into this "
                "directory.");
        case 2:
            return QStringLiteral(
                "Specify a directory for batch conversion of audio files (*.mp3,*.wav) to "
                "fingerprints (*.qnf). To start a batch-conversion, see file-menu. ");
        case 10:
            return QStringLiteral(
                "Specify which fingerprint to keep when duplicate parts are found in one or more "
                "other fingerprints. ");
        case 11:
            return QStringLiteral("Use this option if the input signal has a lot of noise. ");
        case 12:
            return QStringLiteral(
                "Shows a Balloon ToolTip near the system tray icon when minimized. ");
        case 13:
            return QStringLiteral("Minimize this program to system tray instead of task bar. ");
        case 14:
            return QStringLiteral(
                "Use Microsoft Sam to announce songs through the default sound device (requires "
                "Windows XP). ");
        case 15:
            return QStringLiteral(
                "Assume data from audio in is very close to original. This option improves the "
                "reaction time. ");
        case 16:
            return QStringLiteral(
                "Compatibility mode uses \"safe\" settings, e.g. 22KHz sampling rate. ");
        case 17:
            return QStringLiteral(
                "Change the process task priority of the recognition algorithm thread. "
                "\r \u00b7 Choose low if this program tends to block other programs"
                "\r \u00b7 Choose normal or medium if you get buffer overrun errors");
        case 18:
            return QStringLiteral("Specify the maximum number of active channels. ");
        case 20:
            return QStringLiteral(
                "Specifies (in seconds) how long the program should wait until a song is "
                "considered to have ended if the song has not been recognized for that time. ");
        case 22:
            return QStringLiteral(
                "Recognizes songs in loud noise (a shop, a bar, a car, a microphone in a room) by "
                "comparing up to 9 seconds of audio with each fingerprint. Takes a little more "
                "processor time; songs may take a few seconds longer to be recognized. ");
        case 21:
            return QStringLiteral(
                "You can use events to start scripts e.g. when a song is recognized. ");
        default:
            return {};
    }
}

QString TForm3::PopupText(QString text) {
    // A carriage return starts a new line of the popup; the popup's plain text knows only "\n".
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

bool TForm3::ShowHelp(int context, QPoint globalPos) {
    const QString text = HelpText(context);
    if (text.isEmpty()) {
        return false;
    }
    QWhatsThis::showText(globalPos, PopupText(text), this);
    return true;
}

bool TForm3::ShowFocusHelp() {
    for (QWidget* control = focusWidget(); control != nullptr && control != this;
         control = control->parentWidget()) {
        const QString text = control->whatsThis();
        if (!text.isEmpty()) {
            QWhatsThis::showText(control->mapToGlobal(QPoint(0, control->height())), text, control);
            return true;
        }
    }
    return false;
}

}  // namespace orvane::ui
