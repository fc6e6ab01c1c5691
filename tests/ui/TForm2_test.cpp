// The capture dialog and the capture flow: the dialog's rules, the checks before a capture, what
// saving writes (and refuses to overwrite), and a capture from a live channel of a private
// PulseAudio server that is recognised when the clip plays again.
#include "ui/TForm2.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include "UiTestApp.h"
#include "database/TStandaloneLibrary.h"
#include "fingerprint/FptFile.h"
#include "platform/PlatformAudio.h"
#include "platform/PulseCapture.h"
#include "platform/PulseDevices.h"
#include "recognition/FptRecorder.h"
#include "recognition/QnChServer.h"
#include "recognition/QnCheckKey.h"
#include "recognition/TChannel.h"
#include "recognition/TRecognitionPause.h"
#include "recognition/TSearch.h"
#include "signal/QnFFT.h"
#include "support/PulseServer.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "tracking/IRecognitionPause.h"
#include "ui/TForm2Capture.h"

namespace orvane::ui {
namespace {

using recognition::FptRecorder;
using recognition::IRecInfo;
using recognition::TRecInfo;

class TForm2Test : public test::TUiTest {
protected:
    tracking::TCountingRecognitionPause Pause;
    FptRecorder Recorder{Pause};
    TForm2 Dialog;
};

std::vector<std::uint32_t> Keys(std::uint32_t first, std::int32_t count) {
    std::vector<std::uint32_t> keys(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < keys.size(); ++i) keys[i] = first + static_cast<std::uint32_t>(i);
    return keys;
}

/// Processes events until `done` holds or `seconds` have passed; returns `done()`.
template <class TDone>
bool WaitFor(TDone done, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

/// Runs `act` once `dialog` is showing (the flow may process events before it shows the dialog,
/// for instance while it waits for the recognition pause).
void WhenShown(QDialog& dialog, std::function<void()> act) {
    auto* poll = new QTimer(&dialog);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, &dialog, [poll, &dialog, act = std::move(act)] {
        if (!dialog.isVisible()) return;
        poll->stop();
        poll->deleteLater();
        act();
    });
    poll->start();
}

TEST_F(TForm2Test, ShowsItsCaptionButtonsAndTheRunningDurationAtOnce) {
    auto capture = MakeRef<TRecInfo>();
    Recorder.registerRecording(capture, 0);
    const auto keys = Keys(1, 870);
    Recorder.AddKeys(0, keys.data(), 870);
    Dialog.Prepare(capture, &Recorder);
    Dialog.show();

    EXPECT_EQ(Dialog.windowTitle(), QStringLiteral("Generate fingerprint from audio in"));
    EXPECT_EQ(Dialog.Button4->text(), QStringLiteral("&Stop capturing"));
    EXPECT_EQ(Dialog.Button3->text(), QStringLiteral("S&ave && close"));
    EXPECT_EQ(Dialog.Button2->text(), QStringLiteral("&Cancel"));
    EXPECT_TRUE(Dialog.Button4->isEnabled());
    EXPECT_TRUE(Dialog.Button4->isDefault());
    EXPECT_FALSE(Dialog.Button3->isEnabled());
    EXPECT_EQ(Dialog.focusWidget(), Dialog.Edit1);
    EXPECT_TRUE(Dialog.Timer1->isActive());
    EXPECT_EQ(Dialog.Timer1->interval(), 1000);
    // 870 keys are 10.1 s.
    EXPECT_EQ(Dialog.StatusText(),
              QStringLiteral("Capturing in progress... [0:10] - max 3 h 23 min"));
    Dialog.hide();
    EXPECT_FALSE(Dialog.Timer1->isActive());
}

TEST(CapturingStatus, ShowsTheDurationOfTheKeysRoundedToTheSecondAndTheRealLimit) {
    struct TCase {
        std::int64_t Keys;
        const char* Text;
    };
    for (const TCase& c : {TCase{0, "0:00"}, TCase{43, "0:00"}, TCase{86, "0:01"},
                           TCase{5168, "1:00"}, TCase{1048320, "202:51"}}) {
        EXPECT_EQ(CapturingStatus(c.Keys).toStdString(),
                  std::string("Capturing in progress... [") + c.Text + "] - max 3 h 23 min")
            << c.Keys;
    }
}

TEST_F(TForm2Test, StopBeforeATitleFocusesTheTitleAndSaveWaitsForText) {
    auto capture = MakeRef<TRecInfo>();
    Recorder.registerRecording(capture, 0);
    Dialog.Prepare(capture, &Recorder);
    Dialog.show();
    Dialog.Button4->setFocus();

    QTest::mouseClick(Dialog.Button4, Qt::LeftButton);

    EXPECT_FALSE(capture->GetActive());
    EXPECT_EQ(Recorder.Count(), 0);
    EXPECT_FALSE(Dialog.Timer1->isActive());
    EXPECT_FALSE(Dialog.Button4->isEnabled());
    EXPECT_TRUE(Dialog.Button3->isDefault());
    EXPECT_FALSE(Dialog.Button3->isEnabled());
    EXPECT_EQ(Dialog.focusWidget(), Dialog.Edit1);
    EXPECT_EQ(Dialog.StatusText(), QStringLiteral("Capturing stopped"));

    QTest::keyClicks(Dialog.Edit1, QStringLiteral("Artist - Song"));
    EXPECT_TRUE(Dialog.Button3->isEnabled());
    Dialog.Edit1->clear();
    EXPECT_FALSE(Dialog.Button3->isEnabled());
    Dialog.hide();
}

TEST_F(TForm2Test, TypingEnablesSaveOnlyOnceCapturingHasStopped) {
    auto capture = MakeRef<TRecInfo>();
    Recorder.registerRecording(capture, 0);
    Dialog.Prepare(capture, &Recorder);
    Dialog.show();

    QTest::keyClicks(Dialog.Edit1, QStringLiteral("Artist - Song"));
    EXPECT_FALSE(Dialog.Button3->isEnabled());
    EXPECT_TRUE(capture->GetActive());

    Dialog.Button4Click();
    EXPECT_TRUE(Dialog.Button3->isEnabled());
    Dialog.hide();
}

TEST_F(TForm2Test, ACaptureBeyondTheKeyLimitStopsByItself) {
    auto capture = MakeRef<TRecInfo>();
    Recorder.registerRecording(capture, 0);
    const auto keys = Keys(1, recognition::MaxCaptureKeys + 1);
    capture->AppendKeys(keys.data(), static_cast<std::int32_t>(keys.size()));
    Dialog.Prepare(capture, &Recorder);

    Dialog.show();

    EXPECT_FALSE(Dialog.Capturing());
    EXPECT_EQ(Dialog.StatusText(), QStringLiteral("Capturing stopped"));
    EXPECT_EQ(Recorder.Count(), 0);
    EXPECT_FALSE(Dialog.Button4->isEnabled());
    EXPECT_FALSE(Dialog.Timer1->isActive());
    Dialog.hide();
}

TEST_F(TForm2Test, EscapeClosesTheDialogAsCancel) {
    Dialog.Prepare(MakeRef<TRecInfo>(), &Recorder);
    WhenShown(Dialog, [&] { QTest::keyClick(&Dialog, Qt::Key_Escape); });
    QTimer::singleShot(10000, &Dialog, [&] { Dialog.done(42); });
    EXPECT_EQ(Dialog.exec(), QDialog::Rejected);
}

/// A capture flow with a recording host, a temporary fingerprint folder and a way to act on the
/// dialog while it runs modally.
class TCaptureFlowTest : public TForm2Test {
protected:
    TCaptureFlowTest() {
        Folder = Dir.Folder() + "fp";
        std::filesystem::create_directories(Folder);
        Host.OtherTasksRunning = [this] { return Busy; };
        Host.ActiveChannelCount = [this] { return ActiveChannels; };
        Host.ShowMessage = [this](const std::string& text) { Messages.push_back(text); };
        Host.AskOkCancel = [this](const std::string& text) {
            Questions.push_back(text);
            return AnswerOk;
        };
        Host.FingerprintFolder = [this] { return Folder; };
        Host.LoadFingerprintFile = [this](const std::string& path) { Loaded.push_back(path); };
    }

    /// Runs the flow; `inDialog` acts on the shown dialog (a safety timer closes it after 20 s).
    TCaptureOutcome Run(const std::function<void()>& inDialog) {
        TForm2Capture flow(Recorder, Dialog, Host);
        WhenShown(Dialog, inDialog);
        QTimer::singleShot(20000, &Dialog, [this] { Dialog.reject(); });
        const TCaptureOutcome outcome = flow.MenuItemCapAudioInClick();
        EXPECT_FALSE(flow.RecordAudioInFP());
        LastFile = flow.LastFileName();
        return outcome;
    }

    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(Folder))
            names.push_back(e.path().filename().string());
        return names;
    }

    void Feed(std::int32_t count) {
        const auto keys = Keys(1000, count);
        Recorder.AddKeys(CaptureChannel, keys.data(), count);
    }

    orvane::test::TTempDir Dir;
    std::string Folder;
    TCaptureHost Host;
    bool Busy = false;
    std::int32_t ActiveChannels = 1;
    bool AnswerOk = true;
    std::vector<std::string> Messages;
    std::vector<std::string> Questions;
    std::vector<std::string> Loaded;
    std::string LastFile;
};

TEST_F(TCaptureFlowTest, RefusesOrStopsBeforeCapturingWhenItCannotOrShouldNotStart) {
    struct TCase {
        bool Busy;
        std::int32_t Active;
        bool Ok;
        TCaptureOutcome Outcome;
        std::vector<std::string> Messages;
    };
    const std::vector<TCase> cases = {
        {true, 1, true, TCaptureOutcome::coOtherTasks, {"There are currently other tasks running"}},
        {false,
         0,
         true,
         TCaptureOutcome::coNoActiveChannel,
         {"There are currently no active channels. \nFingerprints can only be captured from "
          "active channels."}},
        {false, 1, false, TCaptureOutcome::coDeclined, {}},
    };
    for (const TCase& c : cases) {
        Busy = c.Busy;
        ActiveChannels = c.Active;
        AnswerOk = c.Ok;
        Messages.clear();
        Questions.clear();
        bool dialogShown = false;
        WhenShown(Dialog, [&] {
            dialogShown = true;
            Dialog.reject();
        });
        TForm2Capture flow(Recorder, Dialog, Host);
        EXPECT_EQ(flow.MenuItemCapAudioInClick(), c.Outcome);
        EXPECT_FALSE(dialogShown);
        EXPECT_EQ(Messages, c.Messages);
        EXPECT_EQ(Questions.size(), c.Outcome == TCaptureOutcome::coDeclined ? 1u : 0u);
        EXPECT_EQ(Recorder.Count(), 0);
        EXPECT_FALSE(flow.RecordAudioInFP());
    }
    EXPECT_TRUE(Files().empty());
    EXPECT_TRUE(Loaded.empty());
}

TEST_F(TCaptureFlowTest, CancelAfterCapturingWritesNothingAndReleasesTheCapture) {
    IRecInfo* seen = nullptr;
    const TCaptureOutcome outcome = Run([&] {
        ASSERT_EQ(Recorder.Count(), 1);
        seen = Recorder.Recs()[0].get();
        Feed(320);
        QTest::mouseClick(Dialog.Button4, Qt::LeftButton);
        QTest::keyClicks(Dialog.Edit1, QStringLiteral("Artist - Song"));
        QTest::mouseClick(Dialog.Button2, Qt::LeftButton);
    });
    EXPECT_EQ(outcome, TCaptureOutcome::coDiscarded);
    EXPECT_NE(seen, nullptr);
    EXPECT_EQ(Questions, std::vector<std::string>{"Click OK to start recording."});
    EXPECT_EQ(Recorder.Count(), 0);
    EXPECT_TRUE(Files().empty());
    EXPECT_TRUE(Loaded.empty());
}

TEST_F(TCaptureFlowTest, SavingWritesTheKeysUnderTheTitleMadeSafeAndLoadsTheFile) {
    const std::string title = "AC/DC: Live? \"Best\" <1> | *2*";
    const TCaptureOutcome outcome = Run([&] {
        Feed(100);
        Feed(28);
        QTest::keyClicks(Dialog.Edit1, QString::fromStdString(title));
        QTest::mouseClick(Dialog.Button3, Qt::LeftButton);  // disabled while capturing
        EXPECT_TRUE(Dialog.isVisible());
        QTest::mouseClick(Dialog.Button4, Qt::LeftButton);
        Feed(32);  // after the stop: not taken
        QTest::mouseClick(Dialog.Button3, Qt::LeftButton);
    });
    ASSERT_EQ(outcome, TCaptureOutcome::coSaved);
    const std::string safeName = "AC_DC_ Live_ _Best_ _1_ _ _2_.qnf";
    EXPECT_EQ(Files(), std::vector<std::string>{safeName});
    EXPECT_EQ(LastFile, Folder + "/" + safeName);
    EXPECT_EQ(Loaded, std::vector<std::string>{LastFile});
    auto song = fingerprint::ReadFingerprintFile(LastFile);
    EXPECT_EQ(fingerprint::TitleOf(*song->SongFile()), title);
    std::vector<std::uint32_t> expected = Keys(1000, 100);
    const auto more = Keys(1000, 28);
    expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(song->CopyKeys(), expected);
    EXPECT_EQ(Recorder.Count(), 0);
}

TEST_F(TCaptureFlowTest, ATitleWhoseFileExistsIsRefusedAndAnotherOneCanBeChosen) {
    const std::string existing = Folder + "/Artist - Song.qnf";
    { std::ofstream(existing) << "another fingerprint"; }
    const TCaptureOutcome outcome = Run([&] {
        Feed(64);
        QTest::mouseClick(Dialog.Button4, Qt::LeftButton);
        QTest::keyClicks(Dialog.Edit1, QStringLiteral("Artist - Song"));
        QTest::mouseClick(Dialog.Button3, Qt::LeftButton);
        EXPECT_TRUE(Dialog.isVisible());
        EXPECT_EQ(Dialog.focusWidget(), Dialog.Edit1);
        Dialog.Edit1->setText(QStringLiteral("Artist - Song (live)"));
        QTest::mouseClick(Dialog.Button3, Qt::LeftButton);
    });
    ASSERT_EQ(outcome, TCaptureOutcome::coSaved);
    EXPECT_EQ(Messages, std::vector<std::string>{
                            "A fingerprint file named \"Artist - Song.qnf\" exists already in the "
                            "fingerprint folder. Please enter another title."});
    std::ifstream in(existing);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "another fingerprint");
    EXPECT_TRUE(std::filesystem::exists(Folder + "/Artist - Song (live).qnf"));
}

TEST(StoredTitle, CutsLongTitlesAtACharacterBoundaryWithinTheHeader) {
    EXPECT_EQ(StoredTitle("Artist - Song"), "Artist - Song");
    const std::string ascii(120, 'a');
    EXPECT_EQ(StoredTitle(ascii), std::string(105, 'a'));
    std::string accented;
    for (int i = 0; i < 60; ++i) accented += "\xC3\xA9";  // é, two bytes each
    EXPECT_EQ(StoredTitle(accented).size(), 104u);
}

/// The live path: a clip played into the private server's sink is captured from the sink's
/// monitor by a running channel, saved under a title, loaded, and recognised when it plays again.
TEST_F(TForm2Test, ACapturedClipIsSavedLoadedAndRecognisedWhenItPlaysAgain) {
    platform::InstallAudioConversion();
    orvane::test::TPulseServer server;
    if (!server.Running()) GTEST_SKIP() << "no PulseAudio server: " << server.Error();
    platform::QnDevices devices;
    const audio::TLInfo* monitor = devices.FindByName(orvane::test::TPulseServer::MonitorName());
    ASSERT_NE(monitor, nullptr) << devices.ErrorMessage;

    orvane::test::TTempDir dir;
    const std::string folder = dir.Folder() + "fp/";
    std::filesystem::create_directories(folder);
    database::TStandaloneLibrary standalone(folder);

    signal::QnKeyConversion converter;
    recognition::TRecognitionLock lock;
    recognition::QnCheckKey verifier(standalone.Songs);
    recognition::TSearchSettings settings;
    std::unique_ptr<recognition::QnChServer> thread;
    recognition::TRecognitionPause pause(
        lock, [] { QCoreApplication::processEvents(); },
        [&] { return thread != nullptr && thread->Running(); });
    FptRecorder recorder(pause);
    recognition::TSearch search(converter, verifier, standalone.Index, standalone.Posting, settings,
                                &recorder);
    thread = std::make_unique<recognition::QnChServer>(lock, search, converter, settings);
    recognition::TChannel channel(0, 0, "Channel01", lock, standalone.Posting,
                                  platform::MakePulseCapture());
    channel.SoundDevice = *monitor;
    thread->AddChannel(channel);
    // However the test ends, the channel stops and the thread ends before either goes away.
    struct TStopAtEnd {
        recognition::TChannel& Channel;
        recognition::QnChServer& Thread;
        ~TStopAtEnd() {
            Channel.SetActive(false);
            Thread.Terminate();
        }
    } stopAtEnd{channel, *thread};
    thread->Start();
    channel.SetActive(true);
    ASSERT_EQ(channel.LastInputError(), "");

    TCaptureHost host;
    host.OtherTasksRunning = [] { return false; };
    host.ActiveChannelCount = [&] { return channel.Active() ? 1 : 0; };
    std::vector<std::string> messages;
    host.ShowMessage = [&](const std::string& text) { messages.push_back(text); };
    host.AskOkCancel = [](const std::string&) { return true; };
    host.FingerprintFolder = [&] { return folder; };
    host.LoadFingerprintFile = [&](const std::string& path) {
        const tracking::TRecognitionPauseGuard paused(pause);
        standalone.Library.LoadFingerprintFile(path, nullptr);
    };
    TForm2Capture flow(recorder, Dialog, host);

    const std::string title = "Live: Capture/Test?";
    const orvane::test::TSamples clip = orvane::test::Music(77, 14 * 11025);
    bool capturedEnough = false;
    TCaptureOutcome outcome = TCaptureOutcome::coDiscarded;
    {
        const orvane::test::TPlayer player(clip, 11025);
        WhenShown(Dialog, [&] {
            const auto recs = recorder.Recs();
            ASSERT_EQ(recs.size(), 1u);
            // About 10 s of keys (86 per second).
            capturedEnough = WaitFor([&] { return recs[0]->KeyCount() >= 10 * 86; }, 40);
            QTest::mouseClick(Dialog.Button4, Qt::LeftButton);
            QTest::keyClicks(Dialog.Edit1, QString::fromStdString(title));
            QTest::mouseClick(Dialog.Button3, Qt::LeftButton);
        });
        QTimer::singleShot(60000, &Dialog, [&] { Dialog.reject(); });
        outcome = flow.MenuItemCapAudioInClick();
    }
    ASSERT_TRUE(capturedEnough);
    ASSERT_EQ(outcome, TCaptureOutcome::coSaved) << (messages.empty() ? "" : messages[0]);
    EXPECT_TRUE(std::filesystem::exists(folder + "Live_ Capture_Test_.qnf"));
    ASSERT_EQ(standalone.Songs.Count(), 1);

    tracking::capInfo heard;
    {
        const orvane::test::TPlayer player(clip, 11025);
        WaitFor(
            [&] {
                heard = channel.ReadCap();
                return !heard.Caption.empty();
            },
            30);
    }
    EXPECT_EQ(heard.Caption, title);
}

}  // namespace
}  // namespace orvane::ui
