// Every command of the main window's menus opens its working window: each item is triggered on
// a started window and the windows that come up are read and closed again.
#include <filesystem>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <QtTest/QTest>

#include "UiTestApp.h"
#include "UiTestKit.h"
#include "app/RegStuff.h"
#include "audio/FptExtract.h"
#include "platform/PlatformAudio.h"
#include "signal/QnFFT.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"
#include "ui/TForm1.h"

namespace orvane::ui {
namespace {

using test::TSilentCapture;

struct TMenuCase {
    const char* Action;
    /// The captions of the windows that must come up, in order.
    std::vector<std::string> Windows;
};

void PrintTo(const TMenuCase& c, std::ostream* out) { *out << c.Action; }

class TMainWindowMenus : public test::TUiTest, public ::testing::WithParamInterface<TMenuCase> {
protected:
    void SetUp() override {
        platform::InstallAudioConversion();
        const std::string folder = Dir.Folder() + "fp/";
        std::filesystem::create_directories(folder);
        ASSERT_EQ(test::FingerprintClip(Dir.File("Menu Clip.wav"), folder, 3),
                  audio::TExtractResult::erWritten);
        Location = app::TSettingsLocation::File(QString::fromStdString(Dir.File("settings.conf")),
                                                QString::fromStdString(Dir.Folder()),
                                                QString::fromStdString(Dir.Folder()));
        app::TSettingsStore store(Location);
        store.Settings.FpFolder = folder;
        store.RegStuff(true);
    }

    /// Runs `command` while a timer reads the caption of every modal window that shows and
    /// answers it (OK in a message box, otherwise the window is closed); also lists the
    /// non-modal windows it left visible. Captions in the order they came up.
    std::vector<std::string> WindowsOf(TForm1& window, const std::function<void()>& command) {
        std::vector<std::string> seen;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&seen] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr) return;
            seen.push_back(modal->windowTitle().toStdString());
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (box != nullptr && box->button(QMessageBox::Ok) != nullptr) {
                box->button(QMessageBox::Ok)->click();
            } else {
                modal->close();
            }
        });
        closer.start(100);
        command();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 500) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        closer.stop();
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top != &window && top->isVisible() && !top->isModal() &&
                top->windowTitle() != window.windowTitle()) {
                seen.push_back(top->windowTitle().toStdString());
                top->close();
            }
        }
        return seen;
    }

    orvane::test::TTempDir Dir;
    app::TSettingsLocation Location = app::TSettingsLocation::User();
};

TEST_P(TMainWindowMenus, OpensItsWindow) {
    app::TMainFormOptions options;
    options.Location = Location;
    options.MakeCapture = [] { return std::make_unique<TSilentCapture>(); };
    TForm1 window(options, nullptr, [] { return false; });
    window.Init();
    window.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(window.SonglistListview()->topLevelItemCount(), 1);
    window.SonglistListview()->setCurrentItem(window.SonglistListview()->topLevelItem(0));

    const TMenuCase& c = GetParam();
    const std::string action = c.Action;
    const std::vector<std::string> seen = WindowsOf(window, [&] {
        if (action == "QuickSearch") {
            QTest::keyClick(window.SonglistListview(), Qt::Key_M);
        } else {
            QAction* item = window.Action(QString::fromLatin1(c.Action));
            ASSERT_NE(item, nullptr);
            ASSERT_TRUE(item->isEnabled());
            item->trigger();
        }
    });

    EXPECT_EQ(seen, c.Windows);
    window.close();
}

INSTANTIATE_TEST_SUITE_P(
    EveryWindow, TMainWindowMenus,
    ::testing::Values(
        TMenuCase{"Channelsoverview1", {"Active channels overview"}},
        TMenuCase{"Preferences1", {"Preferences"}},
        TMenuCase{"Selectsounddevice1", {"Change sound device"}},
        TMenuCase{"About1", {"About ORVANE3"}},
        // The capture asks first; answered with OK, its dialog comes up and is cancelled.
        TMenuCase{"MenuItemCapAudioIn",
                  {"Quendal Music Database", "Generate fingerprint from audio in"}},
        TMenuCase{"Properties1", {"Fingerprint Properties"}},
        TMenuCase{"Debugfingerprint1", {"Debugging and visualization"}},
        TMenuCase{"Debugwholedatabase1", {"Debugging"}},
        TMenuCase{"Addtodeletionlist1", {"Deletion List"}},
        TMenuCase{"QuickSearch", {"Jump to fingerprint"}}),
    [](const ::testing::TestParamInfo<TMenuCase>& param) {
        return std::string(param.param.Action);
    });

}  // namespace
}  // namespace orvane::ui
