// A new user's first start: no settings stored and no fingerprint folder yet. The application
// makes the folder, loads the empty library without an error, and greets with the first-steps
// window; a later start with the folder still empty greets again.
#include <filesystem>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include "UiTestApp.h"
#include "UiTestKit.h"
#include "app/uMainForm.h"
#include "support/TempDir.h"
#include "tracking/TActivityHistory.h"
#include "ui/TForm1.h"

namespace orvane::ui {
namespace {

using test::TSilentCapture;

constexpr char FirstStepsCaption[] = "Welcome to ORVANE3!";

/// What one start showed: the captions of the modal windows that came up within two seconds
/// (each closed at once), and the history's error entries.
struct TStartSeen {
    std::vector<std::string> ModalCaptions;
    std::vector<std::string> Errors;
    std::vector<std::string> Messages;
};

class TFirstRunTest : public test::TUiTest {
protected:
    app::TSettingsLocation Location() const {
        return app::TSettingsLocation::File(QString::fromStdString(Dir.File("OrvanePro3.conf")),
                                            QString::fromStdString(Dir.File("Documents")),
                                            QString::fromStdString(Dir.File("Music")));
    }
    std::string Folder() const { return Dir.File("Documents") + "/My Fingerprints/"; }

    /// Starts the window as the application does, waits two seconds (the first-steps window
    /// comes after 500 ms) closing every modal window that shows, then closes the window.
    TStartSeen Start() {
        TStartSeen seen;
        app::TMainFormOptions options;
        options.Location = Location();
        options.MakeCapture = [] { return std::make_unique<TSilentCapture>(); };
        // A modal window runs its own event loop: the closer is a timer, so it fires in there.
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&seen] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                seen.ModalCaptions.push_back(modal->windowTitle().toStdString());
                modal->close();
            }
        });
        closer.start(50);
        TForm1 window(options);
        window.Init();
        window.show();
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 2000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        closer.stop();
        for (const tracking::TMemoRow& row : window.Form().History().Rows()) {
            seen.Messages.push_back(row.Message);
            if (row.Icon == tracking::TActivityIcon::aiError) seen.Errors.push_back(row.Message);
        }
        EXPECT_EQ(window.SonglistListview()->topLevelItemCount(), 0);
        window.close();
        return seen;
    }

    orvane::test::TTempDir Dir;
};

TEST_F(TFirstRunTest, FirstStartMakesTheFolderAndGreetsWithoutAnError) {
    ASSERT_FALSE(std::filesystem::exists(Folder()));

    const TStartSeen first = Start();

    EXPECT_TRUE(std::filesystem::is_directory(Folder()));
    EXPECT_TRUE(first.Errors.empty()) << first.Errors.front();
    EXPECT_EQ(first.ModalCaptions, std::vector<std::string>{FirstStepsCaption});
    ASSERT_FALSE(first.Messages.empty());
    EXPECT_EQ(first.Messages.front(), app::WelcomeText());
    // The start saved every default, so the next start reads a store.
    EXPECT_TRUE(std::filesystem::exists(Dir.File("OrvanePro3.conf")));

    const TStartSeen second = Start();

    EXPECT_TRUE(second.Errors.empty()) << second.Errors.front();
    EXPECT_EQ(second.ModalCaptions, std::vector<std::string>{FirstStepsCaption});
}

}  // namespace
}  // namespace orvane::ui
