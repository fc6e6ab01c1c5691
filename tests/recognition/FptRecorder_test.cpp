#include "recognition/FptRecorder.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "SearchTestKit.h"
#include "support/TestSignals.h"
#include "tracking/IRecognitionPause.h"

namespace orvane::recognition {
namespace {

using test::TSearchKit;

/// A pause that records how many captures the recorder held whenever it was taken and ended.
class TWatchingPause final : public tracking::IRecognitionPause {
public:
    void PauseRecognition() override { ++Depth; }
    void ResumeRecognition() override { --Depth; }
    int Depth = 0;
};

/// A pause that notes, at every resume, how many captures the list held.
class TListWatchingPause final : public tracking::IRecognitionPause {
public:
    void PauseRecognition() override { ++Pauses; }
    void ResumeRecognition() override { CountsAtResume.push_back(Recorder->Count()); }
    FptRecorder* Recorder = nullptr;
    int Pauses = 0;
    std::vector<std::int32_t> CountsAtResume;
};

std::vector<std::uint32_t> KeysOf(const IRecInfo& capture) {
    return capture.GetSongServer()->getClass()->CopyKeys();
}

std::vector<std::uint32_t> Ramp(std::uint32_t first, std::int32_t count) {
    std::vector<std::uint32_t> keys(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < keys.size(); ++i) keys[i] = first + static_cast<std::uint32_t>(i);
    return keys;
}

TEST(FptRecorder, RegisteringGivesAnEmptyActiveContainerForTheChannelAndListsItUnderThePause) {
    TListWatchingPause pause;
    FptRecorder recorder(pause);
    pause.Recorder = &recorder;
    auto capture = MakeRef<TRecInfo>();
    EXPECT_FALSE(capture->GetActive());
    EXPECT_FALSE(capture->GetSongServer());

    recorder.registerRecording(capture, 3);

    EXPECT_TRUE(capture->GetActive());
    EXPECT_EQ(capture->GetChannel(), 3);
    ASSERT_TRUE(capture->GetSongServer());
    EXPECT_EQ(capture->KeyCount(), 0);
    EXPECT_EQ(pause.Pauses, 1);
    // The capture was already listed when the pause ended.
    EXPECT_EQ(pause.CountsAtResume, std::vector<std::int32_t>{1});
    ASSERT_EQ(recorder.Recs().size(), 1u);
    EXPECT_EQ(recorder.Recs()[0].get(), capture.get());
}

TEST(FptRecorder, RegisteringAgainStartsAFreshContainerWithoutListingTheCaptureTwice) {
    TWatchingPause pause;
    FptRecorder recorder(pause);
    auto capture = MakeRef<TRecInfo>();
    recorder.registerRecording(capture, 0);
    const auto keys = Ramp(1, 32);
    recorder.AddKeys(0, keys.data(), 32);
    recorder.registerRecording(capture, 0);
    EXPECT_EQ(recorder.Count(), 1);
    EXPECT_EQ(capture->KeyCount(), 0);
    EXPECT_EQ(pause.Depth, 0);
}

TEST(FptRecorder, UnregisteringDeactivatesAndRemovesOnlyThatCaptureKeepingTheOrder) {
    TWatchingPause pause;
    FptRecorder recorder(pause);
    auto a = MakeRef<TRecInfo>();
    auto b = MakeRef<TRecInfo>();
    auto c = MakeRef<TRecInfo>();
    recorder.registerRecording(a, 0);
    recorder.registerRecording(b, 0);
    recorder.registerRecording(c, 0);

    recorder.unregisterRecording(b);

    EXPECT_FALSE(b->GetActive());
    EXPECT_TRUE(a->GetActive());
    EXPECT_TRUE(c->GetActive());
    const auto recs = recorder.Recs();
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].get(), a.get());
    EXPECT_EQ(recs[1].get(), c.get());
    // Only the capture's own reference is left; its container stays readable.
    EXPECT_EQ(b->RefCount(), 1);
    EXPECT_TRUE(b->GetSongServer());
}

TEST(FptRecorder, UnregisteringACaptureThatIsNotListedOnlyDeactivatesIt) {
    TWatchingPause pause;
    FptRecorder recorder(pause);
    auto listed = MakeRef<TRecInfo>();
    auto stranger = MakeRef<TRecInfo>();
    recorder.registerRecording(listed, 0);
    stranger->Activate();

    recorder.unregisterRecording(stranger);
    recorder.unregisterRecording(stranger);
    recorder.unregisterRecording(TRefPtr<IRecInfo>());

    EXPECT_FALSE(stranger->GetActive());
    EXPECT_EQ(recorder.Count(), 1);
    EXPECT_TRUE(listed->GetActive());
}

TEST(FptRecorder, FeedsOnlyActiveCapturesOfTheChannelTheKeysCameFrom) {
    TWatchingPause pause;
    FptRecorder recorder(pause);
    auto channel0 = MakeRef<TRecInfo>();
    auto channel1 = MakeRef<TRecInfo>();
    auto paused = MakeRef<TRecInfo>();
    recorder.registerRecording(channel0, 0);
    recorder.registerRecording(channel1, 1);
    recorder.registerRecording(paused, 0);
    paused->Deactivate();

    const auto keys = Ramp(100, 32);
    recorder.AddKeys(0, keys.data(), 32);

    EXPECT_EQ(KeysOf(*channel0), keys);
    EXPECT_EQ(channel1->KeyCount(), 0);
    EXPECT_EQ(paused->KeyCount(), 0);
}

TEST(FptRecorder, TheSearchFeedsEveryBlockInTimeOrderAcrossTheEndOfTheKeyRing) {
    TSearchKit kit;
    TWatchingPause pause;
    FptRecorder recorder(pause);
    kit.Search.Captures = &recorder;
    auto capture = MakeRef<TRecInfo>();
    recorder.registerRecording(capture, kit.Channel.Id());
    auto other = MakeRef<TRecInfo>();
    recorder.registerRecording(other, kit.Channel.Id() + 1);

    const auto music = orvane::test::Music(11, static_cast<std::size_t>(StreamSamples));
    std::copy(music.begin(), music.end(), kit.Channel.StreamData.begin());
    // Three blocks starting 40 keys before the end of the ring: the second one wraps (8 + 24).
    kit.Channel.RingPos = KeyRingSize - 40;
    std::vector<std::uint32_t> heard;
    for (std::int32_t block = 0; block < 3; ++block) {
        kit.Channel.ReadPos.store(block);
        const std::int32_t first = kit.Channel.RingPos;
        kit.Search.ComputeKeys(kit.Channel);
        for (std::int32_t i = 0; i < 32; ++i) {
            heard.push_back(
                kit.Channel.RingBuffer[static_cast<std::size_t>((first + i) % KeyRingSize)]);
        }
    }

    ASSERT_EQ(heard.size(), 96u);
    EXPECT_NE(std::count(heard.begin(), heard.end(), 0u), 96);
    EXPECT_EQ(KeysOf(*capture), heard);
    EXPECT_EQ(other->KeyCount(), 0);
}

TEST(FptRecorder, ACaptureStopsItselfOnlyWhenItHoldsMoreThanTheLimit) {
    struct TCase {
        std::int64_t Keys;
        bool Stops;
    };
    for (const TCase& c :
         {TCase{0, false}, TCase{MaxCaptureKeys - 1, false}, TCase{MaxCaptureKeys, false},
          TCase{MaxCaptureKeys + 1, true}, TCase{MaxCaptureKeys + 32, true}}) {
        EXPECT_EQ(CaptureLimitReached(c.Keys), c.Stops) << c.Keys;
    }
    EXPECT_EQ(MaxCaptureKeys, 1048320);

    TWatchingPause pause;
    FptRecorder recorder(pause);
    auto capture = MakeRef<TRecInfo>();
    recorder.registerRecording(capture, 0);
    const auto block = Ramp(7, 32);
    // 0xFFF00 is a multiple of 32: exactly at the limit the capture still runs.
    for (std::int32_t n = 0; n < MaxCaptureKeys / 32; ++n) recorder.AddKeys(0, block.data(), 32);
    EXPECT_EQ(capture->KeyCount(), MaxCaptureKeys);
    EXPECT_TRUE(capture->GetActive());
    recorder.AddKeys(0, block.data(), 32);
    EXPECT_EQ(capture->KeyCount(), MaxCaptureKeys + 32);
    EXPECT_FALSE(capture->GetActive());
    recorder.AddKeys(0, block.data(), 32);
    EXPECT_EQ(capture->KeyCount(), MaxCaptureKeys + 32);
}

TEST(FptRecorder, ACaptureUnregisteredWhileTheSearchRunsGetsNoKeyAfterwards) {
    TWatchingPause pause;
    FptRecorder recorder(pause);
    auto steady = MakeRef<TRecInfo>();
    recorder.registerRecording(steady, 0);
    std::atomic<bool> stop{false};
    std::atomic<std::int64_t> blocks{0};
    std::thread search([&] {
        const auto keys = Ramp(1, 32);
        while (!stop.load()) {
            recorder.AddKeys(0, keys.data(), 32);
            blocks.fetch_add(1);
        }
    });
    for (int round = 0; round < 300; ++round) {
        auto capture = MakeRef<TRecInfo>();
        recorder.registerRecording(capture, 0);
        const std::int64_t start = blocks.load();
        while (blocks.load() < start + 2) std::this_thread::yield();
        recorder.unregisterRecording(capture);
        const std::int32_t count = capture->KeyCount();
        EXPECT_EQ(count % 32, 0);
        const std::int64_t after = blocks.load();
        while (blocks.load() < after + 2) std::this_thread::yield();
        ASSERT_EQ(capture->KeyCount(), count) << round;
        // The container is the caller's now: completing it cannot meet an append.
        capture->GetSongServer()->serialize();
    }
    stop.store(true);
    search.join();
    EXPECT_EQ(recorder.Count(), 1);
    EXPECT_GT(steady->KeyCount(), 0);
}

}  // namespace
}  // namespace orvane::recognition
