// The main window on the offscreen platform: started with a settings store and a fingerprint
// folder of the test's own and a capture that hears nothing.
#include "ui/TForm1.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMenuBar>
#include <QTabWidget>
#include <QTreeWidget>

#include "UiTestApp.h"
#include "UiTestKit.h"
#include "audio/FptExtract.h"
#include "platform/PlatformAudio.h"
#include "signal/QnFFT.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"

namespace orvane::ui {
namespace {

using test::TSilentCapture;

class TForm1Test : public test::TUiTest {};

TEST_F(TForm1Test, StartsWithTheFolderLoadedTheChannelOnAndTheMenusEnabled) {
    platform::InstallAudioConversion();
    orvane::test::TTempDir dir;
    const std::string folder = dir.Folder() + "fp/";
    std::filesystem::create_directories(folder);
    ASSERT_EQ(test::FingerprintClip(dir.File("Window Clip.wav"), folder, 7),
              audio::TExtractResult::erWritten);
    const auto location = app::TSettingsLocation::File(
        QString::fromStdString(dir.File("settings.conf")), QString::fromStdString(dir.Folder()),
        QString::fromStdString(dir.Folder()));
    {
        app::TSettingsStore store(location);
        store.Settings.FpFolder = folder;
        store.RegStuff(true);
    }
    app::TMainFormOptions options;
    options.Location = location;
    options.MakeCapture = [] { return std::make_unique<TSilentCapture>(); };
    TForm1 window(options);
    EXPECT_FALSE(window.Action(QStringLiteral("MenuItemLoadFingerprints"))->isEnabled() &&
                 window.menuBar()->actions().front()->isEnabled());
    window.Init();
    QCoreApplication::processEvents();

    ASSERT_EQ(window.SonglistListview()->topLevelItemCount(), 1);
    EXPECT_EQ(window.SonglistListview()->topLevelItem(0)->text(0), QStringLiteral("Window Clip"));
    EXPECT_EQ(window.MemoryOverview()->tabText(0), QStringLiteral("Sound clips (1)"));
    EXPECT_TRUE(window.ActiveCheck()->isChecked());
    EXPECT_EQ(window.LabelCurrSong()->text(), QStringLiteral("No sound clip detected  "));
    EXPECT_TRUE(window.LabelCurrSong()->font().italic());
    EXPECT_TRUE(window.menuBar()->actions().front()->isEnabled());
    EXPECT_EQ(window.Action(QStringLiteral("MenuItemLoadFingerprints"))->shortcut(),
              QKeySequence(Qt::Key_F2));
    EXPECT_GE(window.Memo()->topLevelItemCount(), 3);
    window.close();
}

}  // namespace
}  // namespace orvane::ui
