// The preferences dialog against a settings store and an event store in a temporary folder and
// two channels of its own: the settings round trip, Cancel, the close box, the folder fields,
// the tray and balloon options, the event list and the context help.
#include "ui/TForm3.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QWhatsThis>

#include "UiTestApp.h"
#include "UiTestKit.h"
#include "app/RegStuff.h"
#include "app/TEvents.h"
#include "app/uMainForm.h"
#include "database/TMemorySongListView.h"
#include "database/TPlainLibraryUi.h"
#include "platform/PlatformAudio.h"
#include "support/TempDir.h"
#include "tracking/TEventServe.h"

namespace orvane::ui {
namespace {

using test::TNullTray;
using test::TPlainView;
using test::TSilentCapture;

QString Q(const std::string& text) { return QString::fromStdString(text); }

/// A What's This popup is on the screen.
bool PopupShown() {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->inherits("QWhatsThat")) return true;
    }
    return false;
}

QStringList Names(std::initializer_list<const char*> names) {
    QStringList list;
    for (const char* name : names) list << QString::fromUtf8(name);
    return list;
}

class TForm3Test : public test::TUiTest {
protected:
    void SetUp() override {
        Location = app::TSettingsLocation::File(Q(Dir.File("OrvanePro3.conf")),
                                                Q(Dir.File("Documents")), Q(Dir.File("Music")));
        Store = std::make_unique<app::TSettingsStore>(Location);
        Store->Settings.FpFolder = Dir.Folder() + "fp/";
        Store->Settings.BatFolder = Dir.Folder() + "batch/";
        ASSERT_TRUE(Store->RegStuff(true));
        EventStore = std::make_unique<app::TEventReg>(Location);
    }

    TForm3Context Context() {
        TForm3Context context(*Store, Events, *EventStore);
        context.ChannelCount = 2;
        context.ChannelActive = [this](std::int32_t i) {
            return Active[static_cast<std::size_t>(i)];
        };
        context.SetChannelActive = [this](std::int32_t i, bool active) {
            Active[static_cast<std::size_t>(i)] = active;
        };
        context.OnError = [this](const std::string& message) { Errors.push_back(message); };
        return context;
    }

    std::unique_ptr<TForm3> Open() {
        auto dialog = std::make_unique<TForm3>(Context());
        dialog->Prepare();
        return dialog;
    }

    /// The stored definitions "First", "Second", "Third" with the ranks 0, 1, 2.
    void StoreThreeEvents() {
        EventStore->add("First", {0, "echo first", false, 0});
        EventStore->add("Second", {2, "echo second", true, 1});
        EventStore->add("Third", {6, "echo third", false, 2});
    }

    static QStringList Rows(const TForm3& dialog) {
        QStringList rows;
        for (int i = 0; i < dialog.EvList()->count(); ++i) rows << dialog.EvList()->item(i)->text();
        return rows;
    }

    /// The definitions in the store, listed by rank.
    QStringList StoredRanking() {
        tracking::TEventServe stored;
        stored.getfromreg(*EventStore);
        QStringList names;
        for (const std::int32_t slot : stored.RankOrder()) names << Q(stored.Event(slot).Name);
        return names;
    }

    std::unique_ptr<QSettings> OnDisk() const {
        return std::make_unique<QSettings>(Q(Dir.File("OrvanePro3.conf")), QSettings::IniFormat);
    }

    static void LeaveField(QWidget* field) {
        QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(field, &focusOut);
    }

    orvane::test::TTempDir Dir;
    app::TSettingsLocation Location;
    std::unique_ptr<app::TSettingsStore> Store;
    std::unique_ptr<app::TEventReg> EventStore;
    tracking::TEventServe Events;
    std::vector<bool> Active{true, false};
    std::vector<std::string> Errors;
};

TEST_F(TForm3Test, LooksLikeTheLayout) {
    const auto dialog = Open();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Preferences"));
    // 687 with the layout's font; wider only where a substitute font needs the room.
    EXPECT_GE(dialog->width(), 687);
    EXPECT_TRUE(dialog->windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
    EXPECT_EQ(dialog->OkButton()->text(), QStringLiteral("&Ok"));
    EXPECT_EQ(dialog->CancelButton()->text(), QStringLiteral("&Cancel"));
    EXPECT_EQ(dialog->OkButton()->size(), QSize(81, 23));
    EXPECT_TRUE(dialog->OkButton()->isDefault());
    EXPECT_EQ(dialog->CheckBox2()->text(),
              QStringLiteral("&Deep search (takes up more resources)"));
    EXPECT_EQ(dialog->Comp()->text(), QStringLiteral("Compatibillity mode"));
    EXPECT_EQ(dialog->CheckBox5()->text(), QStringLiteral("Ena&ble events"));
    EXPECT_EQ(dialog->DelButton()->text(), QStringLiteral("Delete Event"));
    ASSERT_EQ(dialog->TaskPri()->count(), 3);
    EXPECT_EQ(dialog->TaskPri()->itemText(1), QStringLiteral("medium"));
    EXPECT_EQ(dialog->KeepLongest()->itemText(1), QStringLiteral("longest fingerprint"));
    ASSERT_EQ(dialog->Simult()->count(), 2);
    EXPECT_EQ(dialog->Simult()->currentText(), QStringLiteral("2"));
}

TEST_F(TForm3Test, NoControlOverlapsAnotherOrLeavesItsGroup) {
    const auto dialog = Open();
    dialog->show();
    QApplication::processEvents();
    for (const QGroupBox* group : dialog->findChildren<QGroupBox*>()) {
        QList<QWidget*> controls;
        for (QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child->isVisible()) controls << child;
        }
        for (int i = 0; i < controls.size(); ++i) {
            const QRect shape = controls[i]->geometry();
            EXPECT_TRUE(group->rect().contains(shape))
                << group->title().toStdString() << ": " << controls[i]->objectName().toStdString();
            for (int j = i + 1; j < controls.size(); ++j) {
                EXPECT_FALSE(shape.intersects(controls[j]->geometry()))
                    << controls[i]->objectName().toStdString() << " / "
                    << controls[j]->objectName().toStdString();
            }
        }
    }
}

TEST_F(TForm3Test, ShowsTheDefaultsOfAFirstStart) {
    const auto dialog = Open();
    EXPECT_EQ(dialog->FolderFilesEdit1()->text(), Q(Dir.Folder() + "fp/"));
    EXPECT_TRUE(dialog->CheckBox2()->isChecked());
    EXPECT_TRUE(dialog->CheckBoxBalloon()->isChecked());
    EXPECT_TRUE(dialog->CheckBoxTray()->isChecked());
    EXPECT_TRUE(dialog->StartOnLoad()->isChecked());
    EXPECT_FALSE(dialog->SpAnnounce()->isChecked());
    EXPECT_FALSE(dialog->highInteg()->isChecked());
    EXPECT_FALSE(dialog->Comp()->isChecked());
    EXPECT_FALSE(dialog->RobustSearch()->isChecked());
    EXPECT_EQ(dialog->RobustSearch()->text(), QStringLiteral("Robust recognition (noisy input)"));
    EXPECT_EQ(dialog->TaskPri()->currentText(), QStringLiteral("low"));
    EXPECT_EQ(dialog->KeepLongest()->currentText(), QStringLiteral("longest fingerprint"));
    EXPECT_EQ(dialog->Edit3()->text(), QStringLiteral("5"));
    EXPECT_FALSE(dialog->CheckBox5()->isChecked());
}

TEST_F(TForm3Test, OkSavesTheControlsToTheStoreAndTheNextDialogShowsThem) {
    {
        const auto dialog = Open();
        dialog->FolderFilesEdit1()->setText(Q(Dir.Folder() + "other"));
        dialog->FolderFilesEdit2()->setText(Q(Dir.Folder() + "music/"));
        dialog->CheckBox2()->setChecked(false);
        dialog->CheckBoxTray()->setChecked(false);
        dialog->StartOnLoad()->setChecked(false);
        dialog->SpAnnounce()->setChecked(true);
        dialog->highInteg()->setChecked(true);
        dialog->RobustSearch()->setChecked(true);
        dialog->TaskPri()->setCurrentIndex(2);
        dialog->KeepLongest()->setCurrentIndex(0);
        dialog->Edit3()->setText(QStringLiteral("12"));
        dialog->CheckBox5()->setChecked(true);
        QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
    }

    const auto disk = OnDisk();
    EXPECT_EQ(disk->value(QStringLiteral("FpFolder")).toString(), Q(Dir.Folder() + "other/"));
    EXPECT_EQ(disk->value(QStringLiteral("BatFolder")).toString(), Q(Dir.Folder() + "music/"));
    EXPECT_EQ(disk->value(QStringLiteral("DeepSearch")).toInt(), 0);
    EXPECT_EQ(disk->value(QStringLiteral("Systray")).toInt(), 0);
    EXPECT_EQ(disk->value(QStringLiteral("Balloon")).toInt(), 0);
    EXPECT_EQ(disk->value(QStringLiteral("ActiveOnLoad")).toInt(), 0);
    EXPECT_EQ(disk->value(QStringLiteral("Announce")).toInt(), 1);
    EXPECT_EQ(disk->value(QStringLiteral("Highquality")).toInt(), 1);
    EXPECT_EQ(disk->value(QStringLiteral("RobustSearch")).toInt(), 1);
    EXPECT_TRUE(Store->Snapshot().RobustSearch);
    EXPECT_EQ(disk->value(QStringLiteral("Priority")).toInt(), 1);
    EXPECT_EQ(disk->value(QStringLiteral("DuplicateKeep")).toInt(), 0);
    EXPECT_EQ(disk->value(QStringLiteral("IdleTimeout")).toInt(), 12);
    EXPECT_EQ(disk->value(QStringLiteral("EventsEnabled")).toInt(), 1);
    EXPECT_FALSE(Store->Snapshot().Form3Checkbox2checked);
    EXPECT_FALSE(Store->Snapshot().Form3KeepLongest);

    Store = std::make_unique<app::TSettingsStore>(Location);
    ASSERT_TRUE(Store->RegStuff(false));
    const auto again = Open();
    EXPECT_EQ(again->FolderFilesEdit1()->text(), Q(Dir.Folder() + "other/"));
    EXPECT_FALSE(again->CheckBox2()->isChecked());
    EXPECT_FALSE(again->CheckBoxTray()->isChecked());
    EXPECT_FALSE(again->CheckBoxBalloon()->isChecked());
    EXPECT_FALSE(again->CheckBoxBalloon()->isEnabled());
    EXPECT_TRUE(again->SpAnnounce()->isChecked());
    EXPECT_TRUE(again->highInteg()->isChecked());
    EXPECT_TRUE(again->RobustSearch()->isChecked());
    EXPECT_EQ(again->TaskPri()->currentText(), QStringLiteral("high"));
    EXPECT_EQ(again->KeepLongest()->currentText(), QStringLiteral("shortest fingerprint"));
    EXPECT_EQ(again->Edit3()->text(), QStringLiteral("12"));
    EXPECT_TRUE(again->CheckBox5()->isChecked());
}

TEST_F(TForm3Test, TaskPriorityIsStoredAsTheListIndexLessOne) {
    for (int index = 0; index < 3; ++index) {
        const auto dialog = Open();
        dialog->TaskPri()->setCurrentIndex(index);
        dialog->OkClick();
        EXPECT_EQ(OnDisk()->value(QStringLiteral("Priority")).toInt(), index - 1);
        EXPECT_EQ(Store->Settings.Priority, index - 1);
    }
}

TEST_F(TForm3Test, CancelLoadsTheStoredSettingsAgainAndRestoresTheChannels) {
    const app::TSettings stored = Store->Settings;
    const auto dialog = Open();
    dialog->CheckBox2()->setChecked(false);
    dialog->Edit3()->setText(QStringLiteral("99"));
    dialog->TaskPri()->setCurrentIndex(2);
    // Something switched the channels while the dialog was open.
    Active = {false, true};
    // An edit of the live copy that was never saved goes too.
    Store->Settings.Announce = true;

    QTest::mouseClick(dialog->CancelButton(), Qt::LeftButton);

    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(Store->Settings, stored);
    EXPECT_EQ(Active, (std::vector<bool>{true, false}));
    EXPECT_EQ(OnDisk()->value(QStringLiteral("IdleTimeout")).toInt(), 5);
    const auto again = Open();
    EXPECT_TRUE(again->CheckBox2()->isChecked());
    EXPECT_EQ(again->Edit3()->text(), QStringLiteral("5"));
}

TEST_F(TForm3Test, EscapeCancels) {
    const auto dialog = Open();
    dialog->show();
    dialog->SpAnnounce()->setChecked(true);
    Active = {false, false};
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_FALSE(Store->Settings.Announce);
    EXPECT_EQ(Active, (std::vector<bool>{true, false}));
}

TEST_F(TForm3Test, TheCloseBoxKeepsTheEditsLiveWithoutSavingOrLoading) {
    const QByteArray before =
        QByteArray::fromStdString(orvane::test::ReadBytes(Dir.File("OrvanePro3.conf")));
    const auto dialog = Open();
    dialog->show();
    dialog->SpAnnounce()->setChecked(true);
    dialog->FolderFilesEdit2()->setText(Q(Dir.Folder() + "edited"));
    Active = {false, true};

    dialog->close();

    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(QByteArray::fromStdString(orvane::test::ReadBytes(Dir.File("OrvanePro3.conf"))),
              before);
    EXPECT_TRUE(Store->Settings.Announce);
    EXPECT_EQ(Store->Settings.BatFolder, Dir.Folder() + "edited/");
    EXPECT_EQ(Active, (std::vector<bool>{false, true}));
    const auto again = Open();
    EXPECT_TRUE(again->SpAnnounce()->isChecked());
}

TEST_F(TForm3Test, ExecuteTellsOkFromCancel) {
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<TForm3*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->OkButton()->click();
    });
    EXPECT_TRUE(TForm3::Execute(nullptr, Context()));

    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<TForm3*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->CancelButton()->click();
    });
    EXPECT_FALSE(TForm3::Execute(nullptr, Context()));
}

TEST_F(TForm3Test, FolderFieldsEndWithTheSeparatorWhenLeft) {
    const std::string base = Dir.Folder();
    struct TCase {
        std::string Typed;
        std::string Expected;
    };
    const std::vector<TCase> cases = {
        {base + "songs", base + "songs/"},
        {base + "songs/", base + "songs/"},
        {"/", "/"},
        {"", base + "fp/"},  // an emptied field gets back the folder it showed
    };
    for (const TCase& item : cases) {
        const auto dialog = Open();
        dialog->FolderFilesEdit1()->setText(Q(item.Typed));
        LeaveField(dialog->FolderFilesEdit1());
        EXPECT_EQ(dialog->FolderFilesEdit1()->text(), Q(item.Expected)) << item.Typed;
    }
    const auto dialog = Open();
    dialog->FolderFilesEdit2()->setText(Q(base + "batch2"));
    dialog->OkClick();
    EXPECT_EQ(Store->Settings.BatFolder, base + "batch2/");
}

TEST_F(TForm3Test, BrowseButtonsTakeTheChosenFolderAndIgnoreACancelledBrowser) {
    QString answer;
    QStringList titles;
    TForm3Context context = Context();
    context.BrowseFolder = [&](QWidget*, const QString& title, const QString& folder) {
        titles << title + QStringLiteral(" @ ") + folder;
        return answer;
    };
    TForm3 dialog(context);
    dialog.Prepare();

    answer = Q(Dir.Folder() + "picked");
    dialog.FolderFilesButton1()->click();
    EXPECT_EQ(dialog.FolderFilesEdit1()->text(), Q(Dir.Folder() + "picked/"));

    answer.clear();
    dialog.FolderFilesButton2()->click();
    EXPECT_EQ(dialog.FolderFilesEdit2()->text(), Q(Dir.Folder() + "batch/"));

    ASSERT_EQ(titles.size(), 2);
    EXPECT_EQ(titles[0], QStringLiteral("Select fingerprints folder @ ") + Q(Dir.Folder() + "fp/"));
    EXPECT_EQ(titles[1],
              QStringLiteral("Select batch conversion folder @ ") + Q(Dir.Folder() + "batch/"));
}

TEST_F(TForm3Test, TheBalloonOptionFollowsTheTrayOption) {
    for (const bool balloon : {true, false}) {
        const auto dialog = Open();
        dialog->CheckBoxBalloon()->setChecked(balloon);
        dialog->CheckBoxTray()->setChecked(false);
        EXPECT_FALSE(dialog->CheckBoxBalloon()->isEnabled());
        EXPECT_FALSE(dialog->CheckBoxBalloon()->isChecked());
        dialog->CheckBoxTray()->setChecked(true);
        EXPECT_TRUE(dialog->CheckBoxBalloon()->isEnabled());
        EXPECT_EQ(dialog->CheckBoxBalloon()->isChecked(), balloon);
    }
}

TEST_F(TForm3Test, TheIdleTimeoutFieldTakesDigitsOnlyAndReadsZeroWhenLeftEmpty) {
    const auto dialog = Open();
    dialog->Edit3()->clear();
    QTest::keyClicks(dialog->Edit3(), QStringLiteral("1a-2 "));
    EXPECT_EQ(dialog->Edit3()->text(), QStringLiteral("12"));
    QTest::keyClick(dialog->Edit3(), Qt::Key_Backspace);
    QTest::keyClick(dialog->Edit3(), Qt::Key_Backspace);
    EXPECT_EQ(dialog->Edit3()->text(), QString());
    LeaveField(dialog->Edit3());
    EXPECT_EQ(dialog->Edit3()->text(), QStringLiteral("0"));

    dialog->Edit3()->clear();
    dialog->OkClick();
    EXPECT_EQ(OnDisk()->value(QStringLiteral("IdleTimeout")).toInt(), 0);
    EXPECT_EQ(dialog->Edit3()->text(), QStringLiteral("0"));
}

TEST_F(TForm3Test, EventControlsAreEnabledExactlyWhileEventsAreEnabled) {
    const auto dialog = Open();
    for (const bool enabled : {true, false, true}) {
        dialog->CheckBox5()->setChecked(enabled);
        EXPECT_EQ(dialog->EvList()->isEnabled(), enabled);
        EXPECT_EQ(dialog->UpButton()->isEnabled(), enabled);
        EXPECT_EQ(dialog->DownButton()->isEnabled(), enabled);
        EXPECT_EQ(dialog->DelButton()->isEnabled(), enabled);
    }
}

TEST_F(TForm3Test, ListsTheEventsByRankAndMovesThemInMemoryUntilOk) {
    StoreThreeEvents();
    const auto dialog = Open();
    dialog->CheckBox5()->setChecked(true);
    EXPECT_EQ(Rows(*dialog), Names({"First", "Second", "Third"}));

    // Without a selection the buttons do nothing.
    dialog->UpButton()->click();
    dialog->DownButton()->click();
    dialog->DelButton()->click();
    EXPECT_EQ(Rows(*dialog), Names({"First", "Second", "Third"}));

    dialog->EvList()->setCurrentRow(0);
    dialog->UpButton()->click();
    EXPECT_EQ(Rows(*dialog), Names({"First", "Second", "Third"}));
    dialog->EvList()->setCurrentRow(2);
    dialog->DownButton()->click();
    EXPECT_EQ(Rows(*dialog), Names({"First", "Second", "Third"}));

    dialog->UpButton()->click();
    EXPECT_EQ(Rows(*dialog), Names({"First", "Third", "Second"}));
    EXPECT_EQ(dialog->EvList()->currentRow(), 1);
    dialog->UpButton()->click();
    EXPECT_EQ(Rows(*dialog), Names({"Third", "First", "Second"}));
    EXPECT_EQ(StoredRanking(), Names({"First", "Second", "Third"}));

    dialog->OkClick();
    EXPECT_EQ(StoredRanking(), Names({"Third", "First", "Second"}));
}

TEST_F(TForm3Test, DeletingKeepsEveryRowOnItsOwnEvent) {
    StoreThreeEvents();
    const auto dialog = Open();
    dialog->CheckBox5()->setChecked(true);
    dialog->EvList()->setCurrentRow(0);
    dialog->DelButton()->click();
    EXPECT_EQ(Rows(*dialog), Names({"Second", "Third"}));
    // The later definitions moved down a slot; the rows must follow them.
    dialog->EvList()->setCurrentRow(1);
    dialog->UpButton()->click();
    EXPECT_EQ(Rows(*dialog), Names({"Third", "Second"}));
    dialog->EvList()->setCurrentRow(1);
    dialog->DelButton()->click();
    EXPECT_EQ(Rows(*dialog), Names({"Third"}));
    EXPECT_EQ(StoredRanking(), Names({"First", "Second", "Third"}));

    dialog->OkClick();
    EXPECT_EQ(StoredRanking(), Names({"Third"}));
    EXPECT_EQ(Events.NoEvents(), 1);
    EXPECT_EQ(Events.Event(0).Data, (tracking::TEventData{6, "echo third", false, 0}));
}

TEST_F(TForm3Test, CancelBringsBackTheStoredOrderAndTheDeletedEvents) {
    StoreThreeEvents();
    const auto dialog = Open();
    dialog->CheckBox5()->setChecked(true);
    dialog->EvList()->setCurrentRow(2);
    dialog->UpButton()->click();
    dialog->EvList()->setCurrentRow(0);
    dialog->DelButton()->click();
    EXPECT_EQ(Rows(*dialog), Names({"Third", "Second"}));

    dialog->CancelClick();

    EXPECT_EQ(Rows(*dialog), Names({"First", "Second", "Third"}));
    EXPECT_EQ(Events.NoEvents(), 3);
    EXPECT_EQ(StoredRanking(), Names({"First", "Second", "Third"}));
    EXPECT_TRUE(Errors.empty());
}

TEST_F(TForm3Test, ControlsWithAHelpContextExplainThemselves) {
    const auto dialog = Open();
    const std::vector<std::pair<QWidget*, int>> controls = {
        {dialog->FolderFilesEdit1(), 1}, {dialog->FolderFilesEdit2(), 2},
        {dialog->KeepLongest(), 10},     {dialog->CheckBox2(), 11},
        {dialog->CheckBoxBalloon(), 12}, {dialog->CheckBoxTray(), 13},
        {dialog->StartOnLoad(), 13},     {dialog->SpAnnounce(), 14},
        {dialog->highInteg(), 15},       {dialog->Comp(), 16},
        {dialog->TaskPri(), 17},         {dialog->Simult(), 18},
        {dialog->Edit3(), 20},           {dialog->CheckBox5(), 21},
        {dialog->RobustSearch(), 22},
    };
    for (const auto& [control, context] : controls) {
        EXPECT_FALSE(TForm3::HelpText(context).isEmpty()) << context;
        EXPECT_EQ(control->whatsThis(), TForm3::HelpText(context)) << context;
    }
    EXPECT_EQ(TForm3::HelpText(1),
              QStringLiteral("All fingerprint files (*.qnf) will be read from and written into "
                             "this directory."));
    EXPECT_EQ(TForm3::HelpText(16),
              QStringLiteral("Compatibility mode uses \"safe\" settings, e.g. 22KHz sampling "
                             "rate. "));
    EXPECT_EQ(TForm3::HelpText(17),
              QStringLiteral("Change the process task priority of the recognition algorithm "
                             "thread. \r \u00b7 Choose low if this program tends to block other "
                             "programs\r \u00b7 Choose normal or medium if you get buffer "
                             "overrun errors"));
    EXPECT_TRUE(TForm3::HelpText(20).endsWith(QStringLiteral("for that time. ")));
    for (const int empty : {-1, 0, 3, 9, 19, 23, 100}) {
        EXPECT_TRUE(TForm3::HelpText(empty).isEmpty()) << empty;
        EXPECT_FALSE(dialog->ShowHelp(empty, QPoint(10, 10))) << empty;
    }
    EXPECT_TRUE(dialog->UpButton()->whatsThis().isEmpty());
}

TEST_F(TForm3Test, F1ShowsTheFocusedControlsText) {
    const auto dialog = Open();
    dialog->show();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    dialog->Edit3()->setFocus();
    ASSERT_EQ(dialog->focusWidget(), dialog->Edit3());

    QTest::keyClick(dialog->Edit3(), Qt::Key_F1);

    EXPECT_TRUE(PopupShown());
    QWhatsThis::hideText();
    EXPECT_TRUE(dialog->ShowHelp(20, QPoint(10, 10)));
    QWhatsThis::hideText();

    QTest::keyClick(dialog->Edit3(), Qt::Key_F1, Qt::ShiftModifier);
    EXPECT_TRUE(QWhatsThis::inWhatsThisMode());
    QWhatsThis::leaveWhatsThisMode();
}

TEST_F(TForm3Test, TheHelpButtonsClickOnAControlShowsItsTextLineByLine) {
    const auto dialog = Open();
    dialog->show();
    QHelpEvent click(QEvent::WhatsThis, QPoint(2, 2), dialog->TaskPri()->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(dialog->TaskPri(), &click);
    EXPECT_TRUE(PopupShown());
    QWhatsThis::hideText();

    const QString shown = TForm3::PopupText(TForm3::HelpText(17));
    EXPECT_FALSE(shown.contains(QLatin1Char('\r')));
    EXPECT_EQ(shown.count(QLatin1Char('\n')), 2);
    EXPECT_TRUE(
        shown.startsWith(QStringLiteral("Change the process task priority of the "
                                        "recognition algorithm thread. \n \u00b7 Choose low")));
}

TEST_F(TForm3Test, CancelSwitchesTheRunningApplicationsChannelBackOn) {
    platform::InstallAudioConversion();
    std::filesystem::create_directories(Store->Settings.FpFolder);
    TPlainView view;
    app::TMainFormOptions options;
    options.Location = Location;
    options.MakeCapture = [] { return std::make_unique<TSilentCapture>(); };
    app::TMainForm form(view, options);
    form.Init();
    QCoreApplication::processEvents();
    ASSERT_TRUE(form.ChannelActive());

    TForm3 dialog(TForm3::ContextOf(form, Events, *EventStore));
    dialog.Prepare();
    ASSERT_EQ(dialog.ActiveChannels(), std::vector<bool>{true});
    dialog.highInteg()->setChecked(true);
    form.SetChannelActive(false);
    dialog.CancelClick();

    EXPECT_TRUE(form.ChannelActive());
    EXPECT_FALSE(form.SettingsStore().Settings.Highquality);
    form.Shutdown();
}

}  // namespace
}  // namespace orvane::ui
