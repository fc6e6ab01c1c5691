// The live path end to end: a fingerprinted clip played into a private PulseAudio server's
// null sink is recorded from the sink's monitor by a channel in audio-in mode and recognised by
// the recognition thread with the right title.
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>

#include "audio/FptExtract.h"
#include "database/TFptLibrary.h"
#include "database/TMemorySongListView.h"
#include "database/TPlainLibraryUi.h"
#include "database/TStandaloneLibrary.h"
#include "platform/PlatformAudio.h"
#include "platform/PulseCapture.h"
#include "platform/PulseDevices.h"
#include "recognition/QnChServer.h"
#include "recognition/QnCheckKey.h"
#include "recognition/TChannel.h"
#include "recognition/TSearch.h"
#include "signal/QnFFT.h"
#include "support/PulseServer.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"
#include "tracking/IRecognitionPause.h"
#include "tracking/TLogSystem.h"
#include "tracking/TMemoryGuard.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TSystemClock.h"
#include "tracking/TSystemMemoryStatus.h"

namespace orvane::platform {
namespace {

class TQuietHost final : public audio::IExtractHost {
public:
    void Report(const std::string& text, int icon) override {
        if (icon == 4) Errors += text + "\n";
    }
    std::string Errors;
};

TEST(LiveRecognition, AClipPlayedIntoTheSinkIsRecognisedWithItsTitle) {
    InstallAudioConversion();
    test::TPulseServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    QnDevices devices;
    const audio::TLInfo* monitor = devices.FindByName(test::TPulseServer::MonitorName());
    ASSERT_NE(monitor, nullptr) << devices.ErrorMessage;

    // A 12-second clip, fingerprinted as the application does.
    test::TTempDir dir;
    const std::string wav = dir.File("Live Clip.wav");
    const test::TSamples clip = test::Music(42, 12 * 11025);
    test::WriteWav(wav, clip, 11025);
    const std::string folder = dir.Folder() + "fp/";
    std::filesystem::create_directories(folder);
    signal::QnKeyConversion converter;
    TQuietHost host;
    ASSERT_EQ(audio::ExtractFingerprint(wav, audio::TAudioFileType::ftWav, folder, converter, host,
                                        false),
              audio::TExtractResult::erWritten)
        << host.Errors;

    database::TStandaloneLibrary standalone(folder);
    auto& [poster, clock, memory, posting, guard, pause, view, songs, index, progress, window,
           library] = standalone;
    library.MenuItemLoadFingerprintsClick(nullptr);
    ASSERT_EQ(songs.Count(), 1);

    recognition::TRecognitionLock lock;
    recognition::QnCheckKey verifier(songs);
    recognition::TSearchSettings settings;
    recognition::TSearch search(converter, verifier, index, posting, settings);
    recognition::QnChServer recognitionThread(lock, search, converter, settings);
    recognition::TChannel channel(0, 0, "Channel01", lock, posting, MakePulseCapture());
    channel.SoundDevice = *monitor;
    recognitionThread.AddChannel(channel);
    recognitionThread.Start();
    channel.SetActive(true);
    ASSERT_EQ(channel.LastInputError(), "");

    tracking::capInfo heard;
    {
        const test::TPlayer player(clip, 11025);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            heard = channel.ReadCap();
            if (!heard.Caption.empty()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    channel.SetActive(false);
    recognitionThread.Terminate();

    EXPECT_EQ(heard.Caption, "Live Clip");
    EXPECT_NE(heard.UniqueID, tracking::NoClipID);
    EXPECT_GT(heard.Pos, 0.0f);
    EXPECT_LT(heard.Pos, 12.0f);
    EXPECT_NEAR(heard.length, 12.0f, 1.0f);
}

}  // namespace
}  // namespace orvane::platform
