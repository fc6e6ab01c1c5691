// Recording through a private PulseAudio server: the device list, buffers of the requested
// format in order, the error text of a missing device, a graceful stop, and a channel in
// audio-in mode on every side and rate.
#include "platform/PulseCapture.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/PulseDevices.h"
#include "recognition/TChannel.h"
#include "support/PulseServer.h"
#include "support/TestSignals.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TSystemClock.h"

namespace orvane::platform {
namespace {

using test::TPlayer;
using test::TPulseServer;

/// The frequency of a tone from its rising zero crossings, in Hz.
double FrequencyOf(const std::int16_t* samples, std::size_t count, double rate) {
    int crossings = 0;
    for (std::size_t i = 1; i < count; ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) ++crossings;
    }
    return crossings * rate / static_cast<double>(count);
}

double RmsOf(const std::int16_t* samples, std::size_t count) {
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i) sum += static_cast<double>(samples[i]) * samples[i];
    return std::sqrt(sum / static_cast<double>(count));
}

std::vector<std::int16_t> SamplesOf(const std::uint8_t* bytes, std::int32_t size) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(size) / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(
            static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    }
    return samples;
}

/// Waits up to `seconds` for `done`.
template <class F>
bool WaitFor(F done, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<int>(seconds * 1000));
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class TPulseCaptureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Server = std::make_unique<TPulseServer>(); }
    static void TearDownTestSuite() { Server.reset(); }

    void SetUp() override {
        ASSERT_TRUE(Server->Running()) << Server->Error();
        QnDevices devices;
        const audio::TLInfo* monitor = devices.FindByName(TPulseServer::MonitorName());
        ASSERT_NE(monitor, nullptr) << devices.ErrorMessage;
        Monitor = monitor->DevNo;
    }

    /// Buffers handed over, as samples, and how many; guarded by FLock.
    struct TCollected {
        std::mutex Lock;
        std::vector<std::vector<std::int16_t>> Buffers;
        std::vector<std::int32_t> Sizes;
        std::size_t Count() {
            std::lock_guard lock(Lock);
            return Buffers.size();
        }
    };
    void Collect(audio::TAudioIn& audioIn, TCollected& into) {
        audioIn.OnBufferFilled = [&into](std::uint8_t* buffer, std::int32_t& size) {
            std::lock_guard lock(into.Lock);
            into.Buffers.push_back(SamplesOf(buffer, size));
            into.Sizes.push_back(size);
            return true;
        };
    }

    static std::unique_ptr<TPulseServer> Server;
    std::uint32_t Monitor = 0;
};

std::unique_ptr<TPulseServer> TPulseCaptureTest::Server;

TEST_F(TPulseCaptureTest, TheDeviceListHasTheDefaultFirstAndTheSinkMonitor) {
    QnDevices devices;
    EXPECT_EQ(devices.ErrorMessage, "");
    ASSERT_GE(devices.LInfos.size(), 2u);
    EXPECT_EQ(devices.LInfos[0], (audio::TLInfo{"", 0xFFFFFFFF, 1}));
    const audio::TLInfo* monitor = devices.FindByName(TPulseServer::MonitorName());
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(monitor->ManID, 0);
    EXPECT_EQ(devices.Sources.DefaultSource, TPulseServer::MonitorName());
    bool described = false;
    for (const TPulseSource& source : devices.Sources.Sources) {
        if (source.Name == TPulseServer::MonitorName()) {
            described = source.Monitor && !source.Description.empty();
        }
    }
    EXPECT_TRUE(described);
    devices.disposeLInfos();
    EXPECT_TRUE(devices.LInfos.empty());
}

TEST_F(TPulseCaptureTest, RecordsBuffersOfTheRequestedFormatInOrder) {
    auto audioIn = MakePulseAudioIn();
    TCollected got;
    Collect(*audioIn, got);
    audioIn->SetWaveDevice(Monitor);
    audioIn->SetFrameRate(11025);
    audioIn->SetStereo(false);
    audioIn->SetBufferSize(8192);
    ASSERT_TRUE(audioIn->Start()) << audioIn->ErrorMessage();
    EXPECT_TRUE(audioIn->Active());
    // 1.6 s of 600 Hz, then 1.6 s of 1500 Hz.
    std::vector<std::int16_t> clip = test::Tone(600, 17640, 11025, 12000);
    const auto high = test::Tone(1500, 17640, 11025, 12000);
    clip.insert(clip.end(), high.begin(), high.end());
    {
        TPlayer player(clip, 11025);
        EXPECT_EQ(player.Wait(), "");
    }
    ASSERT_TRUE(WaitFor([&] { return got.Count() >= 12; }, 10));
    EXPECT_GT(audioIn->ElapsedTime(), 12 * 4096 / 11025.0 - 0.01);
    audioIn->StopAtOnce();
    EXPECT_FALSE(audioIn->Active());

    std::lock_guard lock(got.Lock);
    std::vector<double> tones;  // frequency of every loud buffer, in delivery order
    for (std::size_t i = 0; i < got.Buffers.size(); ++i) {
        EXPECT_EQ(got.Sizes[i], 8192);
        const auto& b = got.Buffers[i];
        if (RmsOf(b.data(), b.size()) > 4000)
            tones.push_back(FrequencyOf(b.data(), b.size(), 11025));
    }
    ASSERT_GE(tones.size(), 6u);
    int low = 0;
    int highCount = 0;
    bool highSeen = false;
    for (double f : tones) {
        if (std::abs(f - 600) < 15) {
            EXPECT_FALSE(highSeen) << "a 600 Hz buffer came after a 1500 Hz one";
            ++low;
        } else if (std::abs(f - 1500) < 15) {
            highSeen = true;
            ++highCount;
        }
    }
    EXPECT_GE(low, 2);
    EXPECT_GE(highCount, 2);
    EXPECT_EQ(audioIn->FilledBuffers(), static_cast<std::int32_t>(got.Buffers.size()));
}

TEST_F(TPulseCaptureTest, StartingAMissingDeviceFailsWithTheServersText) {
    auto audioIn = MakePulseAudioIn();
    audioIn->SetWaveDevice(987654);
    audioIn->SetFrameRate(11025);
    EXPECT_FALSE(audioIn->Start());
    EXPECT_EQ(audioIn->ErrorMessage(), "No such entity");
    EXPECT_FALSE(audioIn->DeviceOpen());
    EXPECT_FALSE(audioIn->Active());
}

TEST_F(TPulseCaptureTest, StartingTwiceFailsAndTheFirstRecordingGoesOn) {
    auto audioIn = MakePulseAudioIn();
    TCollected got;
    Collect(*audioIn, got);
    audioIn->SetWaveDevice(Monitor);
    audioIn->SetFrameRate(11025);
    audioIn->SetBufferSize(2048);
    ASSERT_TRUE(audioIn->Start());
    EXPECT_FALSE(audioIn->Start());
    EXPECT_EQ(audioIn->ErrorMessage(), "Wave Input device is already open");
    EXPECT_TRUE(WaitFor([&] { return got.Count() >= 3; }, 5));
}

TEST_F(TPulseCaptureTest, StopGracefullyHandsOverNothingMoreAndClosesAfterTheLastBuffer) {
    auto audioIn = MakePulseAudioIn();
    std::atomic<int> handed{0};
    std::atomic<int> stops{0};
    audioIn->OnStop = [&] { ++stops; };
    audioIn->OnBufferFilled = [&](std::uint8_t*, std::int32_t&) {
        if (++handed == 2) audioIn->StopGracefully();
        return true;
    };
    audioIn->SetWaveDevice(Monitor);
    audioIn->SetFrameRate(11025);
    audioIn->SetBufferSize(2048);  // 1024 frames: about 93 ms per buffer
    ASSERT_TRUE(audioIn->Start());
    ASSERT_TRUE(WaitFor([&] { return !audioIn->DeviceOpen(); }, 5));
    EXPECT_EQ(handed.load(), 2);
    EXPECT_EQ(stops.load(), 1);
    EXPECT_EQ(audioIn->FilledBuffers(), 2);
    EXPECT_EQ(audioIn->QueuedBuffers(), 0);
    // The two handed over, the three still in the driver when it stopped.
    EXPECT_EQ(audioIn->ProcessedBuffers(), 5);
    EXPECT_FALSE(audioIn->Active());
    EXPECT_EQ(audioIn->ElapsedTime(), 0.0);
}

TEST_F(TPulseCaptureTest, DeliversThroughAPostedQueueOnTheOwningThread) {
    auto audioIn = MakePulseAudioIn();
    std::mutex lock;
    std::condition_variable posted;
    std::vector<std::function<void()>> tasks;
    audioIn->Deliver = [&](std::function<void()> task) {
        std::lock_guard guard(lock);
        tasks.push_back(std::move(task));
        posted.notify_one();
    };
    const auto owner = std::this_thread::get_id();
    int handed = 0;
    audioIn->OnBufferFilled = [&](std::uint8_t*, std::int32_t&) {
        EXPECT_EQ(std::this_thread::get_id(), owner);
        ++handed;
        return true;
    };
    audioIn->SetWaveDevice(Monitor);
    audioIn->SetFrameRate(11025);
    audioIn->SetBufferSize(2048);
    ASSERT_TRUE(audioIn->Start());
    // The event loop of this thread: run what the capture thread posted.
    while (handed < 6) {
        std::vector<std::function<void()>> now;
        {
            std::unique_lock guard(lock);
            ASSERT_TRUE(
                posted.wait_for(guard, std::chrono::seconds(5), [&] { return !tasks.empty(); }));
            now.swap(tasks);
        }
        for (auto& task : now) task();
    }
    audioIn->StopAtOnce();
    std::vector<std::function<void()>> late;
    {
        std::lock_guard guard(lock);
        late.swap(tasks);
    }
    const int before = handed;
    for (auto& task : late) task();
    EXPECT_EQ(handed, before);
}

struct TSideCase {
    std::int32_t Side;
    bool Compatibility;
    double Expected;  // Hz
    std::uint32_t Rate;
    std::uint32_t BufferBytes;
};

class TPulseChannelTest : public TPulseCaptureTest,
                          public ::testing::WithParamInterface<TSideCase> {};

TEST_P(TPulseChannelTest, AChannelRecordsItsSideIntoWholeBlocks) {
    const TSideCase c = GetParam();
    tracking::TQueuePoster poster;
    tracking::TSystemClock clock;
    tracking::TPosting posting(poster, clock);
    recognition::TRecognitionLock lock;
    auto capture = std::make_unique<TAudioInCapture>(MakePulseAudioIn());
    TAudioInCapture* device = capture.get();
    recognition::TChannel channel(0, c.Side, "Channel01", lock, posting, std::move(capture));
    channel.SoundDevice.DevNo = Monitor;
    channel.SetCompatibility(c.Compatibility);
    channel.SetActive(true);
    ASSERT_TRUE(channel.Active());
    ASSERT_EQ(channel.LastInputError(), "");
    ASSERT_TRUE(device->Recording());
    EXPECT_EQ(device->AudioIn().FrameRate(), static_cast<std::int32_t>(c.Rate));
    EXPECT_EQ(device->AudioIn().BufferSize(), static_cast<std::int32_t>(c.BufferBytes));
    EXPECT_EQ(device->AudioIn().Stereo(), c.Side != 0);

    // Left 700 Hz, right 1400 Hz; a mono channel hears 1000 Hz.
    const std::size_t count = 2 * c.Rate;
    if (c.Side == 0) {
        const TPlayer player(test::Tone(1000, count, static_cast<int>(c.Rate), 12000),
                             static_cast<int>(c.Rate));
    } else {
        const TPlayer player(
            test::Interleave({test::Tone(700, count, static_cast<int>(c.Rate), 12000),
                              test::Tone(1400, count, static_cast<int>(c.Rate), 12000)}),
            static_cast<int>(c.Rate), 2);
    }
    // Blocks before WritePos are complete and stay put: nothing consumes them, and the ring
    // holds 28 blocks (10 s) before the producer refuses one.
    const std::int32_t written = channel.WritePos.load();
    int matching = 0;
    int loud = 0;
    for (std::int32_t b = 1; b < written; ++b) {
        const std::int16_t* block = channel.StreamData.data() + b * recognition::BlockSamples;
        if (RmsOf(block, recognition::BlockSamples) < 4000) continue;
        ++loud;
        const double f = FrequencyOf(block, recognition::BlockSamples, 11025);
        if (std::abs(f - c.Expected) < 15) ++matching;
    }
    EXPECT_GE(loud, 3);
    EXPECT_GE(matching, loud - 2);  // the blocks where the tone begins and ends may differ
    EXPECT_GE(matching, 3);
    channel.SetActive(false);
    EXPECT_FALSE(device->Recording());
    EXPECT_TRUE(poster.TakeAll().empty());  // no overrun
}

INSTANTIATE_TEST_SUITE_P(Sides, TPulseChannelTest,
                         ::testing::Values(TSideCase{0, false, 1000, 11025, 8192},
                                           TSideCase{1, false, 700, 11025, 16384},
                                           TSideCase{2, false, 1400, 11025, 16384},
                                           TSideCase{0, true, 1000, 22050, 16384},
                                           TSideCase{2, true, 1400, 22050, 32768}));

}  // namespace
}  // namespace orvane::platform
