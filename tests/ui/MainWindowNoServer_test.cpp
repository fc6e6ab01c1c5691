// The main window's first start on a machine where no sound server runs: the window comes
// first, then one titled message that names the channel, the input and what is wrong.
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "UiTestApp.h"
#include "app/RegStuff.h"
#include "support/TempDir.h"
#include "ui/TForm1.h"

namespace orvane::ui {
namespace {

/// Points PulseAudio at a socket nobody listens on, for the life of the object.
class TNoSoundServer {
public:
    explicit TNoSoundServer(const std::string& socket) {
        if (const char* old = std::getenv("PULSE_SERVER")) FOld = old, FHad = true;
        ::setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    }
    ~TNoSoundServer() {
        if (FHad) {
            ::setenv("PULSE_SERVER", FOld.c_str(), 1);
        } else {
            ::unsetenv("PULSE_SERVER");
        }
    }
    TNoSoundServer(const TNoSoundServer&) = delete;
    TNoSoundServer& operator=(const TNoSoundServer&) = delete;

private:
    bool FHad = false;
    std::string FOld;
};

class TMainWindowNoServer : public test::TUiTest {};

TEST_F(TMainWindowNoServer, TheWindowComesFirstThenTheMessageNamesTheChannelTheInputAndTheCause) {
    orvane::test::TTempDir dir;
    const TNoSoundServer noServer(dir.File("no-server"));
    const auto location = app::TSettingsLocation::File(
        QString::fromStdString(dir.File("OrvanePro3.conf")),
        QString::fromStdString(dir.File("Documents")), QString::fromStdString(dir.File("Music")));
    {
        app::TSettingsStore store(location);
        store.Settings.ActiveOnLoad = true;  // a new user's start: the channel goes on at once
        ASSERT_TRUE(store.RegStuff(true));
    }
    app::TMainFormOptions options;  // the sound server's capture, as in the application
    options.Location = location;
    TForm1 window(options, nullptr, [] { return false; });
    struct TBox {
        std::string Text;
        bool WindowShown;
    };
    std::vector<TBox> boxes;
    window.Prompts.Message = [&](const QString& text) {
        boxes.push_back({text.toStdString(), window.isVisible()});
    };
    window.Prompts.FirstSteps = [] {};

    window.Init();
    EXPECT_TRUE(boxes.empty()) << boxes.front().Text;
    window.show();
    QCoreApplication::processEvents();
    window.Form().ShowDeferredMessages();

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].WindowShown);
    EXPECT_EQ(
        boxes[0].Text,
        "Channel01: the audio input \"default\" cannot be opened: no sound server (PulseAudio "
        "or PipeWire) is running. (Connection refused)");
    // A later attempt tells it at once, in the same words.
    window.Form().SetChannelActive(false);
    window.Form().SetChannelActive(true);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].Text, boxes[0].Text);
}

}  // namespace
}  // namespace orvane::ui
