// The main window's commands on the offscreen platform, with a settings store and folders of the
// test's own, a capture that hears nothing, and the window's questions and dialogs answered by
// the test: menus and their enabling, drops, Del and Shift+Del, rename, the fingerprinting menu
// operations, exports, action handlers, the tray, the list keys, the collapse rules and a
// fingerprint-then-recognise run through a file channel.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include "UiTestApp.h"
#include "UiTestKit.h"
#include "app/TCommandHandler.h"
#include "app/TQtPoster.h"
#include "audio/FptExtract.h"
#include "database/TFptLibrary.h"
#include "database/TMediumDB.h"
#include "database/TSongList.h"
#include "platform/PlatformAudio.h"
#include "recognition/TChannel.h"
#include "signal/QnFFT.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"
#include "tracking/TActivityHistory.h"
#include "ui/QnTitle.h"
#include "ui/TForm1.h"
#include "ui/TForm11.h"

namespace orvane::ui {
namespace {

using test::TQuietHost;
using test::TSilentCapture;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// A window with folders of its own; every question is answered from the fields below.
class TMainWindowTest : public test::TUiTest {
protected:
    void SetUp() override {
        platform::InstallAudioConversion();
        FpFolder = Dir.Folder() + "fp/";
        BatFolder = Dir.Folder() + "batch/";
        std::filesystem::create_directories(FpFolder);
        std::filesystem::create_directories(BatFolder);
        Location = app::TSettingsLocation::File(QString::fromStdString(Dir.File("settings.conf")),
                                                QString::fromStdString(Dir.Folder()),
                                                QString::fromStdString(Dir.Folder()));
    }

    void SaveSettings(bool activeOnLoad, bool systray = true) {
        app::TSettingsStore store(Location);
        store.RegStuff(false);
        store.Settings.FpFolder = FpFolder;
        store.Settings.BatFolder = BatFolder;
        store.Settings.ActiveOnLoad = activeOnLoad;
        store.Settings.Systray = systray;
        store.RegStuff(true);
    }

    /// A WAV file of `seconds` of music in `folder`.
    std::string Wav(const std::string& folder, const std::string& name, std::uint32_t seed,
                    int seconds = 3) {
        const std::string path = folder + name;
        orvane::test::WriteWav(path, orvane::test::Music(seed, seconds * 11025), 11025);
        return path;
    }

    /// A fingerprint file of a generated clip in the fingerprint folder.
    std::string Fingerprint(const std::string& title, std::uint32_t seed, int seconds = 3) {
        const std::string wav = Wav(Dir.Folder(), title + ".wav", seed, seconds);
        signal::QnKeyConversion converter;
        TQuietHost host;
        EXPECT_EQ(audio::ExtractFingerprint(wav, audio::TAudioFileType::ftWav, FpFolder, converter,
                                            host, false),
                  audio::TExtractResult::erWritten);
        return FpFolder + title + ".qnf";
    }

    std::unique_ptr<TForm1> Start(bool init = true) {
        app::TMainFormOptions options;
        options.Location = Location;
        options.MakeCapture = [] { return std::make_unique<TSilentCapture>(); };
        auto window = std::make_unique<TForm1>(options, nullptr, [this] { return TrayAvailable; });
        window->Prompts.YesNo = [this](const QString& text) {
            Questions.push_back(text.toStdString());
            return Answer;
        };
        window->Prompts.Message = [this](const QString& text) {
            Boxes.push_back(text.toStdString());
        };
        window->Prompts.OpenAudioFile = [this] { return QString::fromStdString(Chosen); };
        window->Prompts.SaveCsvFile = [this](const QString& title, const QString& name) {
            SaveTitles.push_back(title.toStdString() + "|" + name.toStdString());
            return QString::fromStdString(SaveTo);
        };
        window->Prompts.ChannelName = [this](const QString& name) -> std::optional<QString> {
            Asked.push_back(name.toStdString());
            if (!NewName) return std::nullopt;
            return QString::fromStdString(*NewName);
        };
        window->Prompts.OpenUrl = [this](const QString& url) { Urls.push_back(url.toStdString()); };
        window->Prompts.FirstSteps = [this] { ++FirstSteps; };
        window->Prompts.QuickSearch = [this](QChar first) { Searched += first; };
        if (init) {
            window->Init();
            QCoreApplication::processEvents();
        }
        return window;
    }

    static std::vector<std::string> Messages(TForm1& window) {
        QCoreApplication::processEvents();
        std::vector<std::string> messages;
        for (const auto& row : window.Form().History().Rows()) messages.push_back(row.Message);
        return messages;
    }

    static std::vector<std::string> Titles(TForm1& window) {
        std::vector<std::string> titles;
        for (int i = 0; i < window.SonglistListview()->topLevelItemCount(); ++i) {
            titles.push_back(window.SonglistListview()->topLevelItem(i)->text(0).toStdString());
        }
        return titles;
    }

    static void Select(TForm1& window, int row) {
        QTreeWidgetItem* item = window.SonglistListview()->topLevelItem(row);
        window.SonglistListview()->setCurrentItem(item);
        item->setSelected(true);
    }

    orvane::test::TTempDir Dir;
    std::string FpFolder;
    std::string BatFolder;
    app::TSettingsLocation Location;
    bool TrayAvailable = true;
    bool Answer = true;
    std::vector<std::string> Questions;
    std::vector<std::string> Boxes;
    std::string Chosen;
    std::string SaveTo;
    std::vector<std::string> SaveTitles;
    std::optional<std::string> NewName;
    std::vector<std::string> Asked;
    std::vector<std::string> Urls;
    int FirstSteps = 0;
    QString Searched;
};

// --- menus -------------------------------------------------------------------------------

struct TMenuItemCase {
    const char* Name;
    const char* Caption;
    QKeySequence Shortcut;
};

TEST_F(TMainWindowTest, EveryMenuItemHasItsCaptionShortcutAndName) {
    SaveSettings(false);
    auto window = Start(false);
    const std::vector<TMenuItemCase> items = {
        {"Listentoallchannels1", "Activate &all channels", QKeySequence(Qt::Key_F5)},
        {"Deactivateallchannels1", "&Deactivate all channels", {}},
        {"Channelsoverview1", "Channels over&view...", QKeySequence(Qt::Key_F10)},
        {"MenuItemLoadFingerprints", "Re&load all fingerprints from harddisk",
         QKeySequence(Qt::Key_F2)},
        {"MenuItemClearSonglist", "Clear &fingerprint memory", QKeySequence(Qt::Key_F3)},
        {"MenuItemExtractWav", "&Take fingerprint of an audio file...", {}},
        {"MenuItemExtractAllWav",
         "Take fingerprints of &all audio files in batch conversion folder",
         {}},
        {"MenuItemCapAudioIn", "&Capture from audio in...", {}},
        {"Minimizetosystemtray1", "&Minimize to system tray", {}},
        {"MenuItemClose", "&Close", QKeySequence(Qt::ALT | Qt::Key_F4)},
        {"Preferences1", "&Preferences...", QKeySequence(Qt::Key_F9)},
        {"Selectsounddevice1", "&Select sound device...", {}},
        {"RenameChannel1", "R&ename Channel...", {}},
        {"About1", "&About...", QKeySequence(Qt::Key_F1)},
        {"Visitourwebsite1", "&Visit our website...", {}},
        {"Properties1", "&Properties...", {}},
        {"FptEnabled", "E&nabled", {}},
        {"Removefrommemory", "&Remove fingerprint from memory", {}},
        {"Deletepermanently", "&Delete fingerprint permanently", {}},
        {"Savelistingas1", "&Save memory listing as...", {}},
        {"MenuItemClear", "&Clear memory", {}},
        {"Debugfingerprint1", "&Debug fingerprint...", {}},
        {"Debugwholedatabase1", "&Debug whole database...", {}},
        {"Addtodeletionlist1", "&Add to deletion list...", {}},
        {"Savehistoryas1", "&Save history as...", {}},
        {"Clear1", "&Clear history", {}},
        {"Renamechannel2", "&Rename channel...", {}},
        {"Open1", "&Open ORVANE3", {}},
        {"Close2", "&Close", {}},
    };
    for (const TMenuItemCase& item : items) {
        SCOPED_TRACE(item.Name);
        QAction* action = window->Action(QString::fromLatin1(item.Name));
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->text().toStdString(), item.Caption);
        EXPECT_EQ(action->shortcut(), item.Shortcut);
    }
}

TEST_F(TMainWindowTest, MenuTitlesAreDisabledUntilInitHasRun) {
    SaveSettings(false);
    auto window = Start(false);
    ASSERT_EQ(window->MenuTitles().size(), 3U);
    for (QMenu* menu : window->MenuTitles()) EXPECT_FALSE(menu->isEnabled());
    EXPECT_EQ(window->MenuTitles()[2]->title(), QStringLiteral("&Help"));
    window->Init();
    for (QMenu* menu : window->MenuTitles()) EXPECT_TRUE(menu->isEnabled());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Quendal Music Database 3.2"));
}

TEST_F(TMainWindowTest, TheFingerprintPopupIsEnabledOnlyWithASelectedRow) {
    Fingerprint("Alpha", 1);
    SaveSettings(true);
    auto window = Start();
    ASSERT_EQ(Titles(*window).size(), 1U);
    window->SonglistListview()->clearSelection();
    window->SonglistListview()->setCurrentItem(nullptr);
    window->UpdateSongPopup();
    for (const char* name :
         {"Properties1", "FptEnabled", "Removefrommemory", "Deletepermanently"}) {
        EXPECT_FALSE(window->Action(QString::fromLatin1(name))->isEnabled()) << name;
    }
    EXPECT_FALSE(window->Action(QStringLiteral("FptEnabled"))->isChecked());
    Select(*window, 0);
    window->UpdateSongPopup();
    for (const char* name :
         {"Properties1", "FptEnabled", "Removefrommemory", "Deletepermanently"}) {
        EXPECT_TRUE(window->Action(QString::fromLatin1(name))->isEnabled()) << name;
    }
    EXPECT_TRUE(window->Action(QStringLiteral("FptEnabled"))->isChecked());
}

TEST_F(TMainWindowTest, VisitOurWebsiteOpensTheProductAddress) {
    SaveSettings(false);
    auto window = Start();
    window->Action(QStringLiteral("Visitourwebsite1"))->trigger();
    ASSERT_EQ(Urls.size(), 1U);
    EXPECT_EQ(Urls[0], "https://orvane3.example.org/");
}

TEST_F(TMainWindowTest, AnEmptyFolderOpensTheFirstStepsWindowOnce) {
    SaveSettings(false);
    std::filesystem::remove_all(FpFolder);
    auto window = Start();
    QElapsedTimer clock;
    clock.start();
    while (FirstSteps == 0 && clock.elapsed() < 5000) QTest::qWait(50);
    QTest::qWait(600);
    EXPECT_EQ(FirstSteps, 1);
}

// --- drops -------------------------------------------------------------------------------

struct TDropCase {
    int Files;
    bool SortedDuringDrop;
};

class TMainWindowDrop : public TMainWindowTest, public ::testing::WithParamInterface<TDropCase> {};

TEST_P(TMainWindowDrop, MoreThan48FilesMarkTheIndexUnsortedFirstAndAllAreLoadedSorted) {
    const TDropCase c = GetParam();
    std::vector<std::string> paths;
    for (int i = 0; i < c.Files; ++i) {
        paths.push_back(Fingerprint("Clip " + std::to_string(100 + i), 10 + i, 2));
    }
    SaveSettings(false);
    auto window = Start();
    ASSERT_TRUE(Titles(*window).empty());
    std::optional<bool> sortedAfterFirst;
    // Runs in the event processing after each command: the index state once files go in.
    QTimer probe;
    probe.setInterval(0);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (!sortedAfterFirst && window->Form().SongList()->Count() > 0) {
            sortedAfterFirst = window->Form().MainDB()->Sorted();
        }
    });
    probe.start();
    window->Form().DropFiles(paths);
    probe.stop();
    ASSERT_TRUE(sortedAfterFirst.has_value());
    EXPECT_EQ(*sortedAfterFirst, c.SortedDuringDrop);
    EXPECT_TRUE(window->Form().MainDB()->Sorted());
    EXPECT_EQ(static_cast<int>(Titles(*window).size()), c.Files);
    EXPECT_EQ(window->MemoryOverview()->tabText(0),
              QStringLiteral("Sound clips (%1)").arg(c.Files));
}

INSTANTIATE_TEST_SUITE_P(Bulk, TMainWindowDrop,
                         ::testing::Values(TDropCase{49, false}, TDropCase{2, true}));

// --- Del and Shift+Del -------------------------------------------------------------------

struct TDeleteCase {
    const char* Name;
    Qt::KeyboardModifiers Modifiers;
    bool Answer;
    const char* Question;
    bool RowGone;
    bool FileGone;
};

std::string DeleteCaseName(const ::testing::TestParamInfo<TDeleteCase>& testCase) {
    return testCase.param.Name;
}

class TMainWindowDelete : public TMainWindowTest,
                          public ::testing::WithParamInterface<TDeleteCase> {};

TEST_P(TMainWindowDelete, DelAsksAndRemovesShiftDelAsksAndDeletesTheFile) {
    const TDeleteCase c = GetParam();
    const std::string file = Fingerprint("Beta", 2);
    SaveSettings(true);
    auto window = Start();
    ASSERT_EQ(Titles(*window).size(), 1U);
    Answer = c.Answer;
    Select(*window, 0);
    QTest::keyClick(window->SonglistListview(), Qt::Key_Delete, c.Modifiers);
    QCoreApplication::processEvents();
    ASSERT_EQ(Questions.size(), 1U);
    EXPECT_EQ(Questions[0].rfind(c.Question, 0), 0U) << Questions[0];
    EXPECT_EQ(Titles(*window).empty(), c.RowGone);
    EXPECT_EQ(!std::filesystem::exists(file), c.FileGone);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, TMainWindowDelete,
    ::testing::Values(TDeleteCase{"DelYes", Qt::NoModifier, true,
                                  "Remove this fingerprint from memory?", true, false},
                      TDeleteCase{"DelNo", Qt::NoModifier, false,
                                  "Remove this fingerprint from memory?", false, false},
                      TDeleteCase{"ShiftDelYes", Qt::ShiftModifier, true,
                                  "Permanently remove this fingerprint?", true, true},
                      TDeleteCase{"ShiftDelNo", Qt::ShiftModifier, false,
                                  "Permanently remove this fingerprint?", false, false}),
    DeleteCaseName);

TEST_F(TMainWindowTest, ShiftDelMovesTheWavBesideTheFingerprintToTheTrashAndSaysSo) {
    const std::string file = Fingerprint("Beta", 2);
    const std::string wav = FpFolder + "Beta.wav";
    orvane::test::WriteWav(wav, orvane::test::Tone(440, 4000), 11025);
    // The user's trash stays untouched: the test's own data folder holds the trash.
    const std::string data = Dir.File("data");
    std::filesystem::create_directories(data);
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(data));
    SaveSettings(true);
    auto window = Start();
    ASSERT_EQ(Titles(*window).size(), 1U);
    Answer = true;
    Select(*window, 0);
    QTest::keyClick(window->SonglistListview(), Qt::Key_Delete, Qt::ShiftModifier);
    QCoreApplication::processEvents();
    const std::vector<std::string> messages = Messages(*window);
    if (oldData.isNull()) {
        qunsetenv("XDG_DATA_HOME");
    } else {
        qputenv("XDG_DATA_HOME", oldData);
    }
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::exists(wav));
    EXPECT_TRUE(std::filesystem::exists(data + "/Trash/files/Beta.wav"));
    EXPECT_NE(std::find(messages.begin(), messages.end(), "\"" + wav + "\" was moved to the trash"),
              messages.end());
}

TEST_F(TMainWindowTest, ThePopupRemovesAndDeletesWithoutAsking) {
    const std::string first = Fingerprint("Gamma", 3);
    const std::string second = Fingerprint("Delta", 4);
    SaveSettings(true);
    auto window = Start();
    ASSERT_EQ(Titles(*window), (std::vector<std::string>{"Delta", "Gamma"}));
    Select(*window, 0);
    window->Action(QStringLiteral("Deletepermanently"))->trigger();
    Select(*window, 0);
    window->Action(QStringLiteral("Removefrommemory"))->trigger();
    EXPECT_TRUE(Questions.empty());
    EXPECT_TRUE(Titles(*window).empty());
    EXPECT_FALSE(std::filesystem::exists(second));
    EXPECT_TRUE(std::filesystem::exists(first));
}

// --- list keys ---------------------------------------------------------------------------

TEST_F(TMainWindowTest, SpaceMarksAndUnmarksTheSelectedFingerprint) {
    Fingerprint("Epsilon", 5);
    SaveSettings(true);
    auto window = Start();
    Select(*window, 0);
    const int slot = window->Row(0).Slot;
    QTest::keyClick(window->SonglistListview(), Qt::Key_Space);
    EXPECT_EQ(window->Row(0).ImageIndex, 6);
    EXPECT_EQ(window->Form().SongList()->SongServer(slot)->SongFile()->Options & 1U, 1U);
    QTest::keyClick(window->SonglistListview(), Qt::Key_Space);
    EXPECT_EQ(window->Row(0).ImageIndex, 0);
    EXPECT_EQ(window->Form().SongList()->SongServer(slot)->SongFile()->Options & 1U, 0U);
}

TEST_F(TMainWindowTest, LettersAndDigitsNeverReachTheListButPunctuationDoes) {
    Fingerprint("Alpha", 1);
    Fingerprint("Zulu", 26);
    SaveSettings(true);
    auto window = Start();
    Select(*window, 0);
    // The list's own type-ahead would jump to "Zulu"; the quick search takes the key instead.
    QTest::keyClick(window->SonglistListview(), Qt::Key_Z);
    EXPECT_EQ(window->SelectedRow(), 0);
    QTest::keyClick(window->SonglistListview(), Qt::Key_9);
    EXPECT_EQ(window->SelectedRow(), 0);
    EXPECT_EQ(Searched, QStringLiteral("z9"));
}

// --- rename ------------------------------------------------------------------------------

TEST_F(TMainWindowTest, RenameShowsAmpersandsLiterallySavesAndCancelChangesNothing) {
    SaveSettings(false);
    auto window = Start();
    NewName = "Rock & Roll";
    window->Action(QStringLiteral("RenameChannel1"))->trigger();
    ASSERT_EQ(Asked.size(), 1U);
    EXPECT_EQ(Asked[0], "Channel01");
    EXPECT_EQ(window->Tab()->tabText(0), QStringLiteral("Rock && Roll"));
    NewName.reset();
    window->Action(QStringLiteral("Renamechannel2"))->trigger();
    ASSERT_EQ(Asked.size(), 2U);
    EXPECT_EQ(Asked[1], "Rock & Roll");
    EXPECT_EQ(window->Tab()->tabText(0), QStringLiteral("Rock && Roll"));
    window->close();
    app::TSettingsStore store(Location);
    store.RegStuff(false);
    ASSERT_FALSE(store.Settings.Channels.empty());
    EXPECT_EQ(store.Settings.Channels[0].Caption, "Rock && Roll");
}

// --- fingerprinting menu operations ------------------------------------------------------

TEST_F(TMainWindowTest, TakingOneFingerprintLoadsItAndRefusesOtherExtensions) {
    SaveSettings(false);
    auto window = Start();
    Chosen = Wav(Dir.Folder(), "Single Clip.wav", 6);
    window->Action(QStringLiteral("MenuItemExtractWav"))->trigger();
    EXPECT_EQ(Titles(*window), (std::vector<std::string>{"Single Clip"}));
    EXPECT_TRUE(std::filesystem::exists(FpFolder + "Single Clip.qnf"));
    EXPECT_FALSE(window->ProgressForm()->Showing());

    Chosen = Dir.File("notes.ogg");
    std::ofstream(Chosen) << "x";
    window->Action(QStringLiteral("MenuItemExtractWav"))->trigger();
    EXPECT_EQ(Messages(*window).back(), app::OnlyMp3AndWavText);

    Chosen.clear();
    const auto before = Messages(*window).size();
    window->Action(QStringLiteral("MenuItemExtractWav"))->trigger();
    EXPECT_EQ(Messages(*window).size(), before);
}

TEST_F(TMainWindowTest, TheBatchFingerprintsWavAndMp3NamesInAnyCaseAndSkipsOthers) {
    SaveSettings(false);
    Wav(BatFolder, "One.wav", 7);
    Wav(BatFolder, "Two.WAV", 8);
    std::ofstream(BatFolder + "readme.txt") << "not audio";
    auto window = Start();
    window->Action(QStringLiteral("MenuItemExtractAllWav"))->trigger();
    EXPECT_EQ(Titles(*window), (std::vector<std::string>{"One", "Two"}));
    EXPECT_TRUE(Boxes.empty());
    EXPECT_TRUE(window->Form().MainDB()->Sorted());
    EXPECT_FALSE(window->ProgressForm()->Showing());
}

TEST_F(TMainWindowTest, TheBatchRefusesWithAMissingFolderOrAnotherTaskRunning) {
    SaveSettings(false);
    auto window = Start();
    std::filesystem::remove_all(BatFolder);
    window->Action(QStringLiteral("MenuItemExtractAllWav"))->trigger();
    ASSERT_EQ(Boxes.size(), 1U);
    EXPECT_EQ(Boxes[0], "Error: Could not find folder \"" + BatFolder + "\".");

    std::filesystem::create_directories(BatFolder);
    window->ProgressForm()->ShowStats("Another task");
    window->Action(QStringLiteral("MenuItemExtractAllWav"))->trigger();
    window->ProgressForm()->HideStats();
    ASSERT_EQ(Boxes.size(), 2U);
    EXPECT_EQ(Boxes[1], "There are currently other tasks running");
}

// --- exports -----------------------------------------------------------------------------

TEST_F(TMainWindowTest, BothExportsWriteTheirRowsBehindTheirSaveDialogs) {
    Fingerprint("Listed", 9);
    SaveSettings(true);
    auto window = Start();
    SaveTo = Dir.File("history.csv");
    window->Action(QStringLiteral("Savehistoryas1"))->trigger();
    const std::string history = ReadFile(SaveTo);
    EXPECT_NE(history.find("[INFORMATION];"), std::string::npos);
    EXPECT_NE(history.find(";Listening to 1 channels...\r\n"), std::string::npos);

    SaveTo = Dir.File("memory.csv");
    window->Action(QStringLiteral("Savelistingas1"))->trigger();
    const std::string listing = ReadFile(SaveTo);
    EXPECT_EQ(listing.rfind("Sound clips (1)\r\n", 0), 0U) << listing;
    EXPECT_NE(listing.find("[ENABLED];Listed;" + FpFolder + "Listed.qnf;00:0:02\r\n"),
              std::string::npos)
        << listing;
    ASSERT_EQ(SaveTitles.size(), 2U);
    EXPECT_EQ(SaveTitles[0], "Save database activity history|history");
    EXPECT_EQ(SaveTitles[1], "Save memory listing|memory");
}

// --- action handlers ---------------------------------------------------------------------

TEST_F(TMainWindowTest, AnUnknownActionCodeIsReportedWithItsParameter) {
    SaveSettings(false);
    auto window = Start();
    tracking::TActionMessage action;
    action.Code = static_cast<tracking::TActionCode>(5);
    action.Payload = std::int32_t{77};
    app::DispatchPosted(window->Form(), tracking::TPostedMessage(std::move(action)));
    EXPECT_EQ(Messages(*window).back(), "Unhandled action: 5/77");
    window->Form().ChannelDone(0);
    EXPECT_FALSE(window->ActiveCheck()->isChecked());
}

// --- tray --------------------------------------------------------------------------------

TEST_F(TMainWindowTest, MinimisingWithTheTraySettingGoesToTheTrayAndAClickRestores) {
    SaveSettings(false, true);
    auto window = Start();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->showMinimized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->Tray()->Visible());
    EXPECT_FALSE(window->isVisible());
    window->TrayClick();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->Tray()->Visible());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
}

TEST_F(TMainWindowTest, WithoutTheTraySettingOnlyTheMenuCommandGoesToTheTray) {
    SaveSettings(false, false);
    auto window = Start();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->showMinimized();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->Tray()->Visible());
    window->TrayClick();
    window->Action(QStringLiteral("Minimizetosystemtray1"))->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->Tray()->Visible());
    window->Tray()->PopupMenu()->actions().front()->trigger();
    EXPECT_FALSE(window->Tray()->Visible());
}

TEST_F(TMainWindowTest, ATrayThatCannotAppearIsReportedAsAnActivityEntry) {
    TrayAvailable = false;
    SaveSettings(false, true);
    auto window = Start();
    window->Action(QStringLiteral("Minimizetosystemtray1"))->trigger();
    EXPECT_EQ(Messages(*window).back(), "Error accessing system tray");
}

// --- layout ------------------------------------------------------------------------------

TEST_F(TMainWindowTest, CollapsingTheLowerPanelFixesTheHeightAndExpandingFreesIt) {
    SaveSettings(false);
    auto window = Start();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QCoreApplication::processEvents();
    EXPECT_EQ(window->PanCh()->height(), 130);
    EXPECT_EQ(window->GroupBox1()->width(), window->PanCh()->width() - 58);
    const int before = window->height();
    const int body = window->QnTitle3()->BodyHeight();
    window->QnTitle3()->Collapse();
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->QnTitle3()->Expanded());
    EXPECT_EQ(window->height(), before - body);
    EXPECT_EQ(window->minimumHeight(), window->height());
    EXPECT_EQ(window->maximumHeight(), window->height());
    window->QnTitle3()->Expand();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->QnTitle3()->Expanded());
    EXPECT_EQ(window->height(), before);
    EXPECT_EQ(window->minimumHeight(), window->QnTitle1()->height() + 184);
    EXPECT_EQ(window->maximumHeight(), QWIDGETSIZE_MAX);
}

// --- fingerprint, then recognise ---------------------------------------------------------

TEST_F(TMainWindowTest, AFingerprintedClipIsRecognisedWithARunningPositionFromAFile) {
    SaveSettings(false);
    auto window = Start();
    window->show();
    const std::vector<std::int16_t> clip = orvane::test::Music(42, 20 * 11025);
    const std::string wav = Dir.File("Played Clip.wav");
    orvane::test::WriteWav(wav, clip, 11025);
    Chosen = wav;
    window->Action(QStringLiteral("MenuItemExtractWav"))->trigger();
    ASSERT_EQ(Titles(*window), (std::vector<std::string>{"Played Clip"}));
    // The file channel reads far faster than real time: the clip over and over keeps it heard
    // long enough to be looked at.
    std::vector<std::int16_t> played;
    for (int i = 0; i < 20; ++i) played.insert(played.end(), clip.begin(), clip.end());
    const std::string playedWav = Dir.File("played.wav");
    orvane::test::WriteWav(playedWav, played, 11025);
    QString text;
    bool bold = false;
    bool sliderShown = false;
    // The window's queue is left alone while the file plays: the channel's end, once handled,
    // would clear the record before it is looked at. A run that ends unseen (the reading thread
    // may outpace the look) is played again.
    for (int attempt = 0; attempt < 5 && !text.startsWith(QStringLiteral("Played Clip ["));
         ++attempt) {
        QCoreApplication::processEvents();
        window->Form().PlayFile(playedWav);
        window->Form().SetChannelActive(true);
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 30000) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            window->TimerCaptionTimer();
            text = window->LabelCurrSong()->text();
            bold = window->LabelCurrSong()->font().bold();
            sliderShown = window->Progress()->isVisible();
            if (text.startsWith(QStringLiteral("Played Clip [")) ||
                !window->Form().ChannelActive()) {
                break;
            }
        }
    }
    EXPECT_TRUE(text.startsWith(QStringLiteral("Played Clip ["))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("]"))) << text.toStdString();
    EXPECT_TRUE(bold);
    EXPECT_TRUE(sliderShown);
    window->close();
}

}  // namespace
}  // namespace orvane::ui
