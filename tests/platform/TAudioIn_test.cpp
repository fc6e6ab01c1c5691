// The buffer rotation of TAudioIn on a recording service driven by hand.
#include <cstdint>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioIO.h"

namespace orvane::audio {
namespace {

/// A wave-in device whose buffers the test fills: Fill(value) writes `value` into every byte
/// of the oldest queued buffer and reports it, on the test's thread.
class TManualDriver final : public IWaveInDriver {
public:
    std::string Open(std::uint32_t device, const TWaveFormat& format,
                     std::function<void(std::uint32_t)> onBufferDone) override {
        ++Opens;
        Device = device;
        Format = format;
        if (!OpenError.empty()) return OpenError;
        FOnDone = std::move(onBufferDone);
        IsOpen = true;
        return {};
    }
    std::string AddBuffer(std::uint8_t* data, std::uint32_t size) override {
        if (AddCalls++ == FailAddAt) return "The buffer was refused.";
        Queue.push_back({data, size});
        return {};
    }
    std::string StartRecording() override { return StartError; }
    void Close() override {
        ++Closes;
        Queue.clear();
        IsOpen = false;
    }
    bool Position(std::uint64_t& samples) const override {
        samples = Frames;
        return true;
    }
    /// Fills and returns the oldest buffer; false when none is queued.
    bool Fill(std::uint8_t value) {
        if (Queue.empty()) return false;
        const auto [data, size] = Queue.front();
        Queue.pop_front();
        for (std::uint32_t i = 0; i < size; ++i) data[i] = value;
        Frames += size / Format.BlockAlign;
        FOnDone(size);
        return true;
    }

    struct TQueued {
        std::uint8_t* Data;
        std::uint32_t Size;
    };
    std::deque<TQueued> Queue;
    std::string OpenError;
    std::string StartError;
    int FailAddAt = -1;
    int AddCalls = 0;
    int Opens = 0;
    int Closes = 0;
    bool IsOpen = false;
    std::uint32_t Device = 0;
    std::uint64_t Frames = 0;
    TWaveFormat Format;

private:
    std::function<void(std::uint32_t)> FOnDone;
};

class TAudioInTest : public ::testing::Test {
protected:
    TAudioInTest() {
        auto driver = std::make_unique<TManualDriver>();
        Driver = driver.get();
        AudioIn = std::make_unique<TAudioIn>(std::move(driver));
        AudioIn->OnBufferFilled = [this](std::uint8_t* buffer, std::int32_t& size) {
            Handed.push_back(buffer[0]);
            Sizes.push_back(size);
            return Accept.empty() ? true : Accept[(Handed.size() - 1) % Accept.size()];
        };
        AudioIn->OnStop = [this] { ++Stops; };
        AudioIn->OnStart = [this] { ++Starts; };
    }

    TManualDriver* Driver = nullptr;
    std::unique_ptr<TAudioIn> AudioIn;
    std::vector<std::uint8_t> Handed;  // first byte of every buffer handed over
    std::vector<std::int32_t> Sizes;
    std::vector<bool> Accept;  // the handler's answers, cycled; empty: always true
    int Stops = 0;
    int Starts = 0;
};

TEST(TAudioIO, HasTheConstructorValues) {
    TAudioIn audioIn(std::make_unique<TManualDriver>());
    EXPECT_EQ(audioIn.RequestedBufferSize(), 8192);
    EXPECT_EQ(audioIn.BufferSize(), 8192);
    EXPECT_EQ(audioIn.NumBuffers(), 4);
    EXPECT_EQ(audioIn.FrameRate(), 22050);
    EXPECT_FALSE(audioIn.Stereo());
    EXPECT_EQ(audioIn.Quantization(), 16);
    EXPECT_EQ(audioIn.WaveDevice(), 0xFFFFFFFFu);
    EXPECT_EQ(audioIn.ErrorMessage(), "");
    EXPECT_FALSE(audioIn.Active());
    const TWaveFormat format = audioIn.WaveFormat();
    EXPECT_EQ(format.FormatTag, 1);
    EXPECT_EQ(format.Channels, 1);
    EXPECT_EQ(format.BlockAlign, 2);
    EXPECT_EQ(format.AvgBytesPerSec, 44100u);
}

TEST(TAudioIO, ClampsAndAlignsTheBufferSize) {
    struct TCase {
        bool Stereo;
        std::uint16_t Bits;
        std::int32_t Asked;
        std::int32_t Requested;
        std::int32_t Effective;
    };
    const TCase cases[] = {
        {true, 16, 100, 512, 512},    {true, 16, 8190, 8190, 8188}, {false, 16, 8191, 8191, 8190},
        {false, 8, 8191, 8191, 8191}, {true, 8, 8191, 8191, 8190},  {false, 16, -5, 512, 512},
    };
    for (const TCase& c : cases) {
        TAudioIn audioIn(std::make_unique<TManualDriver>());
        audioIn.SetStereo(c.Stereo);
        audioIn.SetQuantization(c.Bits);
        audioIn.SetBufferSize(c.Asked);
        EXPECT_EQ(audioIn.RequestedBufferSize(), c.Requested) << c.Asked;
        EXPECT_EQ(audioIn.BufferSize(), c.Effective) << c.Asked;
    }
}

TEST(TAudioIO, ClampsBuffersAndQuantization) {
    TAudioIn audioIn(std::make_unique<TManualDriver>());
    const std::pair<std::int32_t, std::int32_t> buffers[] = {{7, 4}, {1, 2}, {3, 3}, {-1, 2}};
    for (const auto& [asked, got] : buffers) {
        audioIn.SetNumBuffers(asked);
        EXPECT_EQ(audioIn.NumBuffers(), got) << asked;
    }
    const std::pair<std::uint16_t, std::uint16_t> bits[] = {{12, 16}, {4, 8}, {8, 8}, {9, 16}};
    for (const auto& [asked, got] : bits) {
        audioIn.SetQuantization(asked);
        EXPECT_EQ(audioIn.Quantization(), got) << asked;
    }
}

TEST_F(TAudioInTest, StartQueuesEveryBufferOfTheFormat) {
    AudioIn->SetFrameRate(11025);
    AudioIn->SetStereo(true);
    AudioIn->SetBufferSize(16384);
    AudioIn->SetWaveDevice(3);
    ASSERT_TRUE(AudioIn->Start());
    EXPECT_EQ(Starts, 1);
    EXPECT_EQ(Driver->Device, 3u);
    EXPECT_EQ(Driver->Format.SamplesPerSec, 11025u);
    EXPECT_EQ(Driver->Format.Channels, 2);
    EXPECT_EQ(Driver->Format.BlockAlign, 4);
    EXPECT_EQ(Driver->Format.AvgBytesPerSec, 44100u);
    ASSERT_EQ(Driver->Queue.size(), 4u);
    for (const auto& queued : Driver->Queue) EXPECT_EQ(queued.Size, 16384u);
    EXPECT_EQ(AudioIn->QueuedBuffers(), 4);
    EXPECT_TRUE(AudioIn->Active());
}

TEST_F(TAudioInTest, StartingTwiceFailsWithItsText) {
    ASSERT_TRUE(AudioIn->Start());
    EXPECT_FALSE(AudioIn->Start());
    EXPECT_EQ(AudioIn->ErrorMessage(), "Wave Input device is already open");
    EXPECT_EQ(Driver->Opens, 1);
    EXPECT_TRUE(AudioIn->Active());
}

TEST_F(TAudioInTest, FailuresOfTheDeviceLeaveItsTextAndTheDeviceClosed) {
    Driver->OpenError = "No such entity";
    EXPECT_FALSE(AudioIn->Start());
    EXPECT_EQ(AudioIn->ErrorMessage(), "No such entity");
    EXPECT_FALSE(AudioIn->DeviceOpen());

    Driver->OpenError.clear();
    Driver->StartError = "Connection terminated";
    EXPECT_FALSE(AudioIn->Start());
    EXPECT_EQ(AudioIn->ErrorMessage(), "Error starting wave record: Connection terminated");
    EXPECT_FALSE(AudioIn->DeviceOpen());
    EXPECT_FALSE(Driver->IsOpen);

    Driver->StartError.clear();
    Driver->AddCalls = 0;
    Driver->FailAddAt = 2;
    EXPECT_FALSE(AudioIn->Start());
    EXPECT_EQ(AudioIn->ErrorMessage(), "The buffer was refused.");
    EXPECT_FALSE(AudioIn->DeviceOpen());
    EXPECT_FALSE(AudioIn->Active());
}

TEST_F(TAudioInTest, HandsBuffersOverInOrderAndQueuesThemAgain) {
    ASSERT_TRUE(AudioIn->Start());
    for (std::uint8_t v = 1; v <= 10; ++v) ASSERT_TRUE(Driver->Fill(v));
    EXPECT_EQ(Handed, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    for (std::int32_t size : Sizes) EXPECT_EQ(size, 8192);
    EXPECT_EQ(AudioIn->FilledBuffers(), 10);
    EXPECT_EQ(AudioIn->ProcessedBuffers(), 10);
    EXPECT_EQ(AudioIn->QueuedBuffers(), 4);
    EXPECT_EQ(Driver->Queue.size(), 4u);
}

TEST_F(TAudioInTest, ARefusedBufferLeavesTheRotationAndTheOthersStayInOrder) {
    Accept = {false, true, true, true, true, true, true, true};
    ASSERT_TRUE(AudioIn->Start());
    for (std::uint8_t v = 1; v <= 7; ++v) ASSERT_TRUE(Driver->Fill(v));
    // Each handed-over buffer carries what was recorded into it, also after the gap.
    EXPECT_EQ(Handed, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(AudioIn->QueuedBuffers(), 3);
    EXPECT_EQ(AudioIn->FilledBuffers(), 6);
    EXPECT_TRUE(AudioIn->Active());
}

TEST_F(TAudioInTest, RecordingStopsByItselfWhenEveryBufferIsOut) {
    Accept = {false};
    ASSERT_TRUE(AudioIn->Start());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Driver->Fill(1));
        EXPECT_TRUE(AudioIn->DeviceOpen());
    }
    ASSERT_TRUE(Driver->Fill(1));
    EXPECT_FALSE(AudioIn->DeviceOpen());
    EXPECT_FALSE(AudioIn->Active());
    EXPECT_EQ(Stops, 1);
    EXPECT_EQ(AudioIn->FilledBuffers(), 0);
    EXPECT_EQ(AudioIn->ProcessedBuffers(), 4);
    EXPECT_FALSE(Driver->IsOpen);
}

TEST_F(TAudioInTest, StopGracefullyLetsTheQueuedBuffersDrainWithoutHandingThemOver) {
    ASSERT_TRUE(AudioIn->Start());
    ASSERT_TRUE(Driver->Fill(1));
    AudioIn->StopGracefully();
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(AudioIn->DeviceOpen());
        ASSERT_TRUE(Driver->Fill(2));
    }
    ASSERT_TRUE(Driver->Fill(2));  // the buffer re-queued before the stop
    EXPECT_FALSE(AudioIn->DeviceOpen());
    EXPECT_EQ(Handed, (std::vector<std::uint8_t>{1}));
    EXPECT_EQ(AudioIn->ProcessedBuffers(), 5);
    EXPECT_EQ(AudioIn->QueuedBuffers(), 0);
    EXPECT_EQ(Stops, 1);
}

TEST_F(TAudioInTest, StopAtOnceClosesAndHandsNothingMore) {
    ASSERT_TRUE(AudioIn->Start());
    ASSERT_TRUE(Driver->Fill(1));
    AudioIn->StopAtOnce();
    EXPECT_FALSE(AudioIn->DeviceOpen());
    EXPECT_FALSE(AudioIn->Active());
    EXPECT_FALSE(Driver->IsOpen);
    EXPECT_EQ(AudioIn->QueuedBuffers(), 0);
    EXPECT_EQ(AudioIn->ProcessedBuffers(), 5);
    EXPECT_EQ(Stops, 1);
    AudioIn->StopAtOnce();  // closed already: nothing happens
    EXPECT_EQ(Stops, 1);
    EXPECT_EQ(Handed.size(), 1u);
    ASSERT_TRUE(AudioIn->Start());  // and it opens again
    EXPECT_EQ(AudioIn->QueuedBuffers(), 4);
}

TEST_F(TAudioInTest, AHandlerMayStopTheRecordingItIsCalledFrom) {
    AudioIn->OnBufferFilled = [this](std::uint8_t* buffer, std::int32_t&) {
        Handed.push_back(buffer[0]);
        AudioIn->StopAtOnce();
        return true;
    };
    ASSERT_TRUE(AudioIn->Start());
    ASSERT_TRUE(Driver->Fill(1));
    EXPECT_FALSE(AudioIn->DeviceOpen());
    EXPECT_FALSE(Driver->Fill(2));
    EXPECT_EQ(Handed.size(), 1u);
}

TEST_F(TAudioInTest, ElapsedTimeCountsRecordedSamplesWhileActive) {
    AudioIn->SetFrameRate(11025);
    EXPECT_EQ(AudioIn->ElapsedTime(), 0.0);
    ASSERT_TRUE(AudioIn->Start());
    ASSERT_TRUE(Driver->Fill(1));
    EXPECT_DOUBLE_EQ(AudioIn->ElapsedTime(), 4096.0 / 11025.0);
    AudioIn->StopAtOnce();
    EXPECT_EQ(AudioIn->ElapsedTime(), 0.0);
}

TEST_F(TAudioInTest, ABufferSizeWrittenWhileRecordingTakesEffectAtTheNextStart) {
    ASSERT_TRUE(AudioIn->Start());
    AudioIn->SetBufferSize(1024);
    EXPECT_EQ(AudioIn->BufferSize(), 8192);
    ASSERT_TRUE(Driver->Fill(1));
    EXPECT_EQ(Sizes.back(), 8192);
    AudioIn->StopAtOnce();
    ASSERT_TRUE(AudioIn->Start());
    EXPECT_EQ(AudioIn->BufferSize(), 1024);
    EXPECT_EQ(Driver->Queue.front().Size, 1024u);
}

TEST_F(TAudioInTest, DeliveredStepsRunWhereDeliverSendsThemAndLateOnesAreDropped) {
    std::vector<std::function<void()>> posted;
    AudioIn->Deliver = [&](std::function<void()> task) { posted.push_back(std::move(task)); };
    ASSERT_TRUE(AudioIn->Start());
    ASSERT_TRUE(Driver->Fill(1));
    ASSERT_TRUE(Driver->Fill(2));
    EXPECT_TRUE(Handed.empty());
    posted[0]();
    EXPECT_EQ(Handed, (std::vector<std::uint8_t>{1}));
    AudioIn->StopAtOnce();
    posted[1]();  // reported before the stop, run after it
    EXPECT_EQ(Handed, (std::vector<std::uint8_t>{1}));
    ASSERT_TRUE(AudioIn->Start());
    posted[1]();  // nor does it reach the next recording
    EXPECT_EQ(AudioIn->ProcessedBuffers(), 0);
    std::function<void()> late;
    ASSERT_TRUE(Driver->Fill(3));
    late = posted.back();
    AudioIn.reset();
    late();  // the recorder is gone: nothing happens
}

}  // namespace
}  // namespace orvane::audio
