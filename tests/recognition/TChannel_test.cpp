#include "recognition/TChannel.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <variant>
#include <vector>

#include "ChannelFakes.h"
#include "platform/PlatformAudio.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"
#include "tracking/TLogSystem.h"
#include "tracking/TStreamClock.h"

namespace orvane::recognition {
namespace {

using tracking::TActionCode;
using tracking::TActionMessage;
using tracking::TActivityData;

class TChannelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { platform::InstallAudioConversion(); }

    TChannelTest() : Posting(Queue, Clock) {}

    std::unique_ptr<TChannel> Make(std::int32_t side = 0) {
        auto capture = std::make_unique<test::TFakeCapture>();
        Capture = capture.get();
        return std::make_unique<TChannel>(0, side, "Channel01", Lock, Posting, std::move(capture));
    }

    /// Counts the posted channel-done actions and collects the activity entries.
    int TakeChannelDone(std::vector<TActivityData>* entries = nullptr) {
        int done = 0;
        for (auto& message : Queue.TakeAll()) {
            if (auto* action = std::get_if<TActionMessage>(&message)) {
                if (action->Code == TActionCode::acChannelDone) {
                    ++done;
                    EXPECT_EQ(std::get<std::int32_t>(action->Payload), 0);
                }
            } else if (entries != nullptr) {
                entries->push_back(std::get<TActivityData>(message));
            }
        }
        return done;
    }

    tracking::TQueuePoster Queue;
    tracking::test::TFakeClock Clock;
    tracking::TPosting Posting;
    TRecognitionLock Lock;
    test::TFakeCapture* Capture = nullptr;
};

/// Plays the recognition thread's part: takes the recognition lock and processes every block
/// that may be processed, until told to stop.
class TConsumer {
public:
    TConsumer(TChannelBasic& channel, TRecognitionLock& lock, IBlockProcessor& search)
        : FThread([&channel, &lock, &search](std::stop_token stop) {
              while (!stop.stop_requested()) {
                  bool worked = false;
                  {
                      std::lock_guard guard(lock);
                      if (channel.Active() && channel.newDataAvailable.load()) {
                          worked = channel.ProcessWaitingBlocks(search) > 0;
                      }
                  }
                  if (!worked) std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          }) {}

private:
    std::jthread FThread;
};

/// Waits (bounded, so a fault fails instead of hanging) until `done` holds.
template <class F>
bool Eventually(F done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST_F(TChannelTest, StartsTheDeviceWithTheFormatOfItsSideAndCompatibility) {
    struct TCase {
        std::int32_t Side;
        bool Compatible;
        std::uint32_t Rate;
        std::uint16_t Channels;
        std::uint32_t Buffer;
    };
    const TCase cases[] = {
        {0, false, 11025, 1, 8192},
        {0, true, 22050, 1, 16384},
        {1, false, 11025, 2, 16384},
        {2, true, 22050, 2, 32768},
    };
    for (const TCase& c : cases) {
        auto channel = Make(c.Side);
        channel->SetCompatibility(c.Compatible);
        channel->SoundDevice.DevNo = 3;
        channel->SetActive(true);
        EXPECT_TRUE(channel->Active());
        EXPECT_EQ(Capture->LastFormat.DevNo, 3u);
        EXPECT_EQ(Capture->LastFormat.SampleRate, c.Rate);
        EXPECT_EQ(Capture->LastFormat.Channels, c.Channels);
        EXPECT_EQ(Capture->LastFormat.BufferBytes, c.Buffer);
    }
}

TEST_F(TChannelTest, DeliveredBuffersReachTheRingAndSwitchingTwiceDoesNothing) {
    auto channel = Make();
    channel->SetActive(true);
    channel->SetActive(true);
    EXPECT_EQ(Capture->Starts, 1);
    EXPECT_TRUE(Capture->Deliver(std::vector<std::int16_t>(BlockSamples, 5)));
    EXPECT_EQ(test::BlockOf(*channel, 1), std::vector<std::int16_t>(BlockSamples, 5));
    channel->SetActive(false);
    EXPECT_FALSE(channel->Active());
    EXPECT_EQ(Capture->Stops, 1);
    EXPECT_EQ(channel->WritePos.load(), 1);  // cleared
}

TEST_F(TChannelTest, ADeviceThatCannotStartIsReportedAndTheChannelCountsAsOn) {
    auto channel = Make();
    Capture->FailStart = true;
    std::string shown;
    channel->OnCaptureError = [&](const std::string& message) { shown = message; };
    channel->SetActive(true);
    EXPECT_TRUE(channel->Active());
    EXPECT_EQ(shown, "The device is busy.");
}

TEST_F(TChannelTest, TheModeChangesOnlyWhileOffAndShowsInTheCaption) {
    auto channel = Make();
    channel->SetMode(ChannelMode::cmManual);
    EXPECT_EQ(channel->Caption(), "Channel01 | file");
    channel->SetMode(ChannelMode::cmAudioIn);
    channel->SetActive(true);
    try {
        channel->SetMode(ChannelMode::cmManual);
        FAIL() << "no exception";
    } catch (const EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Cannot change mode while active.");
    }
    EXPECT_EQ(channel->Mode(), ChannelMode::cmAudioIn);
}

TEST_F(TChannelTest, AMissingFileLeavesTheChannelOffWithoutAMessage) {
    orvane::test::TTempDir dir;
    auto channel = Make();
    channel->SetMode(ChannelMode::cmManual);
    channel->SetFile(dir.File("missing.wav"), audio::TAudioFileType::ftWav);
    channel->SetActive(true);
    EXPECT_FALSE(channel->Active());
    EXPECT_FALSE(channel->LastInputError().empty());
    EXPECT_EQ(Queue.Count(), 0u);
    EXPECT_EQ(channel->InputPosition(), -1.0f);
}

TEST_F(TChannelTest, AFileIsReadIntoTheRingInOrderAndTheChannelSwitchesItselfOff) {
    constexpr int Chunks = 100;  // more than two turns of the ring
    orvane::test::TTempDir dir;
    const std::string path = dir.File("song.wav");
    // Each block starts with its own number, so order and gaps show.
    auto samples = orvane::test::Music(7, Chunks * BlockSamples + 1000);
    for (int k = 0; k < Chunks; ++k)
        samples[static_cast<std::size_t>(k) * BlockSamples] = static_cast<std::int16_t>(k);
    orvane::test::WriteWav(path, samples, 11025);

    auto channel = Make();
    tracking::TStreamClock streamClock;
    tracking::TLogSystem tracker(Posting, streamClock);
    tracker.AddChannel(*channel);
    channel->SetLogSystem(&tracker);
    channel->SetMode(ChannelMode::cmManual);
    channel->SetFile(path, audio::TAudioFileType::ftWav);

    std::vector<std::vector<std::int16_t>> seen;
    std::vector<double> endTimes;
    test::TRecordingSearch search;
    search.OnBlock = [&](TChannelBasic& ch) {
        const std::int32_t block = ch.ReadPos.load();
        seen.push_back(test::BlockOf(ch, block));
        endTimes.push_back(ch.StreamTime[static_cast<std::size_t>((block + 1) % StreamBlocks)]);
        // A clip heard from 10 s on, as a search would write it; the tracker follows the
        // analysed stream time.
        tracking::capInfo record;
        record.Caption = "Song";
        record.UniqueID = 1024;
        record.Pos = 10.0f + static_cast<float>(seen.size()) * 4096.0f / 11025.0f;
        record.TimeStamp = endTimes.back();
        ch.WriteCap(record);
        streamClock.Set(ch.AnalysedStreamTime());
        tracker.HandleChannel(0);
    };
    {
        // The consumer starts late, so the reader meets a full ring first.
        channel->SetActive(true);
        ASSERT_TRUE(Eventually([&] { return channel->WaitingBlocks() == MaxWaitingBlocks; }));
        TConsumer consumer(*channel, Lock, search);
        ASSERT_TRUE(Eventually([&] { return !channel->Active(); }));
    }
    EXPECT_EQ(channel->Mode(), ChannelMode::cmAudioIn);
    EXPECT_EQ(channel->Caption(), "Channel01");

    // Block 0 is the noise of the cleared ring; then every chunk but the last, whose frames
    // would need a following block.
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(Chunks));
    for (int k = 0; k + 1 < Chunks; ++k) {
        const std::vector<std::int16_t> expected(samples.begin() + k * BlockSamples,
                                                 samples.begin() + (k + 1) * BlockSamples);
        ASSERT_EQ(seen[static_cast<std::size_t>(k) + 1], expected) << "chunk " << k;
        // The processed audio ends with the following chunk: exact seconds of the file.
        EXPECT_EQ(endTimes[static_cast<std::size_t>(k) + 1],
                  static_cast<double>((k + 2) * BlockSamples) / 11025.0 / 86400.0);
    }

    std::vector<TActivityData> entries;
    ASSERT_TRUE(Eventually([&] { return Queue.Count() >= 2; }));
    channel.reset();  // joins the finished reading thread
    EXPECT_EQ(TakeChannelDone(&entries), 1);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Str.substr(0, 31), "Channel01 | file: Song [0:09 - ");
}

TEST_F(TChannelTest, SwitchingOffWhileTheReaderWaitsOnAFullRingDoesNotDeadlock) {
    orvane::test::TTempDir dir;
    const std::string path = dir.File("long.wav");
    orvane::test::WriteWav(path, orvane::test::Noise(3, 60 * BlockSamples), 11025);
    auto channel = Make();
    channel->SetMode(ChannelMode::cmManual);
    channel->SetFile(path, audio::TAudioFileType::ftWav);
    for (int round = 0; round < 3; ++round) {
        channel->SetMode(ChannelMode::cmManual);
        channel->SetActive(true);
        ASSERT_TRUE(Eventually([&] { return channel->WaitingBlocks() == MaxWaitingBlocks; }));
        EXPECT_GE(channel->InputPosition(), 0.0f);
        channel->SetActive(false);
        EXPECT_FALSE(channel->Active());
        EXPECT_EQ(channel->Mode(), ChannelMode::cmAudioIn);
        EXPECT_EQ(TakeChannelDone(), 1);
    }
}

TEST_F(TChannelTest, TheEndOfAFileRacingTheMainThreadSwitchesOffOnce) {
    // A file shorter than the ring: the reader reaches its end at once, while the main thread
    // switches the channel off and on and the tracker's timer runs.
    orvane::test::TTempDir dir;
    const std::string path = dir.File("short.wav");
    orvane::test::WriteWav(path, orvane::test::Noise(5, 6 * BlockSamples), 11025);
    auto channel = Make();
    tracking::TLogSystem tracker(Posting, Clock);
    tracker.AddChannel(*channel);
    channel->SetLogSystem(&tracker);
    test::TRecordingSearch search;
    auto consumer = std::make_unique<TConsumer>(*channel, Lock, search);
    for (int round = 0; round < 20; ++round) {
        channel->SetMode(ChannelMode::cmManual);
        channel->SetFile(path, audio::TAudioFileType::ftWav);
        channel->SetActive(true);
        tracker.LogHandler();
        if (round % 2 == 0) channel->SetActive(false);
        ASSERT_TRUE(Eventually([&] { return !channel->Active(); }));
        tracker.LogHandler();
    }
    consumer.reset();
    channel->SetLogSystem(nullptr);
    channel.reset();
    EXPECT_EQ(TakeChannelDone(), 20);
}

}  // namespace
}  // namespace orvane::recognition
