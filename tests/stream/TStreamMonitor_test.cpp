// The monitor end to end on sources made in the test: several streams on several recognition
// threads, reopening with backoff and outage rows, a stalled stream beside a healthy one, and
// the clip still playing when the monitor stops.
#include "stream/TStreamMonitor.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <thread>

#include "audio/FptExtract.h"
#include "audio/uOpenAudio.h"
#include "platform/PlatformAudio.h"
#include "playlog/PlayLog.h"
#include "recognition/ClipKeysKit.h"
#include "recognition/SearchTestKit.h"
#include "stream/TEngineConverter.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"

namespace orvane::stream {
namespace {

using orvane::test::TSamples;
using Clock = std::chrono::steady_clock;

constexpr int Rate = 11025;

using orvane::test::FingerprintKeys;

TSamples Join(std::initializer_list<const TSamples*> parts) {
    TSamples out;
    for (const TSamples* p : parts) out.insert(out.end(), p->begin(), p->end());
    return out;
}

/// Audio from memory in engine format, a block at a time; then the end, or (Endless) a
/// wait until interrupted.
class TMemorySource final : public IStreamSource {
public:
    TMemorySource(const TSamples& samples, bool endless, bool realTime = false)
        : FSamples(samples), FEndless(endless), FRealTime(realTime) {}
    void Open() override {}
    bool Read(std::vector<std::int16_t>& out) override {
        if (FPos >= FSamples.size()) {
            if (!FEndless) return false;
            std::unique_lock lock(FLock);
            FWake.wait_for(lock, std::chrono::seconds(30), [&] { return FInterrupted; });
            throw EStreamError("stopped");
        }
        const std::size_t n = std::min<std::size_t>(4096, FSamples.size() - FPos);
        out.insert(out.end(), FSamples.begin() + static_cast<std::ptrdiff_t>(FPos),
                   FSamples.begin() + static_cast<std::ptrdiff_t>(FPos + n));
        FPos += n;
        return true;
    }
    void Interrupt() override {
        std::lock_guard lock(FLock);
        FInterrupted = true;
        FWake.notify_all();
    }
    std::string StreamTitle() const override { return "Station says hello"; }
    bool RealTime() const override { return FRealTime; }

private:
    const TSamples& FSamples;
    bool FEndless;
    bool FRealTime;
    std::size_t FPos = 0;
    std::mutex FLock;
    std::condition_variable FWake;
    bool FInterrupted = false;
};

/// Blocks in Open until interrupted: a server that never answers.
class TStalledSource final : public IStreamSource {
public:
    void Open() override {
        std::unique_lock lock(FLock);
        FWake.wait_for(lock, std::chrono::seconds(30), [&] { return FInterrupted; });
        throw EStreamError("stopped");
    }
    bool Read(std::vector<std::int16_t>&) override { return false; }
    void Interrupt() override {
        std::lock_guard lock(FLock);
        FInterrupted = true;
        FWake.notify_all();
    }
    bool RealTime() const override { return true; }

private:
    std::mutex FLock;
    std::condition_variable FWake;
    bool FInterrupted = false;
};

/// Refuses to open a given number of times, then plays its audio.
class TRefusingSource final : public IStreamSource {
public:
    TRefusingSource(const TSamples& samples, bool refuse)
        : FAudio(samples, false), FRefuse(refuse) {}
    void Open() override {
        if (FRefuse) throw EStreamError("Connection refused");
    }
    bool Read(std::vector<std::int16_t>& out) override { return FAudio.Read(out); }
    void Interrupt() override { FAudio.Interrupt(); }
    bool RealTime() const override { return false; }

private:
    TMemorySource FAudio;
    bool FRefuse;
};

/// A play log that keeps outages in memory.
class TOutageLog final : public playlog::IPlayLog {
public:
    struct TOutage {
        std::string Stream, Reason;
        std::int64_t StartedAtMs = 0, EndedAtMs = 0;
    };
    std::int64_t BeginPlay(const playlog::TPlayStart&) override { return 0; }
    void SeenPlay(std::int64_t, std::int64_t, double) override {}
    void EndPlay(std::int64_t, const playlog::TPlayEnd&) override {}
    void DiscardPlay(std::int64_t) override {}
    std::int64_t BeginOutage(const std::string& stream, std::int64_t startedAtMs,
                             const std::string& reason) override {
        std::lock_guard lock(FLock);
        Outages.push_back({stream, reason, startedAtMs, 0});
        return static_cast<std::int64_t>(Outages.size());
    }
    void EndOutage(std::int64_t id, std::int64_t endedAtMs) override {
        std::lock_guard lock(FLock);
        Outages.at(static_cast<std::size_t>(id - 1)).EndedAtMs = endedAtMs;
    }
    std::vector<TOutage> Copy() const {
        std::lock_guard lock(FLock);
        return Outages;
    }

private:
    mutable std::mutex FLock;
    std::vector<TOutage> Outages;
};

/// The library of three 20-second clips and what the monitor reports.
class MonitorTest : public ::testing::Test {
protected:
    MonitorTest()
        : A(orvane::test::Music(101, 20 * Rate)),
          B(orvane::test::Music(202, 20 * Rate)),
          C(orvane::test::Music(303, 20 * Rate)),
          Pause(orvane::test::Silence(2 * Rate)) {
        Kit.AddClip("Alpha", FingerprintKeys(Dir, A));
        Kit.AddClip("Bravo", FingerprintKeys(Dir, B));
        Kit.AddClip("Charlie", FingerprintKeys(Dir, C));
    }

    void Watch(TStreamMonitor& monitor) {
        monitor.OnClip = [this](const TMonitorClip& clip) {
            std::lock_guard lock(FLock);
            Clips.push_back(clip);
        };
        monitor.OnNotice = [this](const std::string& stream, TNoticeKind, const std::string& text) {
            std::lock_guard lock(FLock);
            Notices.push_back(stream + ": " + text);
            NoticeTimes.push_back(Clock::now());
        };
    }
    /// Waits (at most 60 s) until `done` holds.
    template <class F>
    bool WaitFor(F done) {
        const auto end = Clock::now() + std::chrono::seconds(60);
        while (Clock::now() < end) {
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    std::vector<TMonitorClip> ClipsOf(const std::string& stream) {
        std::lock_guard lock(FLock);
        std::vector<TMonitorClip> out;
        for (const auto& c : Clips) {
            if (c.Stream == stream) out.push_back(c);
        }
        return out;
    }

    orvane::test::TTempDir Dir;
    recognition::test::TSearchKit Kit;
    const TSamples A, B, C, Pause;
    std::mutex FLock;
    std::vector<TMonitorClip> Clips;
    std::vector<std::string> Notices;
    std::vector<Clock::time_point> NoticeTimes;
};

TEST_F(MonitorTest, TwoStreamsOnTwoThreadsGiveTheirClipsInOrderWithDurations) {
    const TSamples one = Join({&A, &B, &Pause});
    const TSamples two = Join({&C, &A, &Pause});
    TMonitorOptions options;
    options.Threads = 2;
    options.Fast = true;
    options.Recognition.Form3Checkbox2checked = true;
    TStreamMonitor monitor(
        Kit.Songs, Kit.Index,
        {ParseStreamArgument("one=one.raw"), ParseStreamArgument("two=two.raw")}, options,
        [&](const TStreamEntry& entry) -> std::unique_ptr<IStreamSource> {
            return std::make_unique<TMemorySource>(entry.Name == "one" ? one : two, false);
        });
    Watch(monitor);
    EXPECT_EQ(monitor.LaneCount(), 0);
    monitor.Start();
    EXPECT_EQ(monitor.LaneCount(), 2);
    ASSERT_TRUE(WaitFor([&] { return monitor.AllFilesEnded(); }));
    monitor.Stop();

    const auto first = ClipsOf("one");
    const auto second = ClipsOf("two");
    ASSERT_EQ(first.size(), 2u);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(first[0].Logged.Title, "Alpha");
    EXPECT_EQ(first[1].Logged.Title, "Bravo");
    EXPECT_EQ(second[0].Logged.Title, "Charlie");
    EXPECT_EQ(second[1].Logged.Title, "Alpha");
    for (const auto& clip : {first[0], first[1], second[0], second[1]}) {
        EXPECT_LE(clip.Logged.Begin, 3) << clip.Logged.Line;
        EXPECT_GE(clip.Logged.End, 17) << clip.Logged.Line;
        EXPECT_LE(clip.Logged.End, 21) << clip.Logged.Line;
        EXPECT_EQ(clip.StreamTitle, "Station says hello");
        EXPECT_EQ(clip.Logged.Line.rfind(clip.Stream + ": " + clip.Logged.Title + " [", 0), 0u);
        // Files are stamped at the pace they would have played: a 20 s clip spans ~20 s.
        const std::int64_t spanMs = clip.EndedAtMs - clip.StartedAtMs;
        EXPECT_NEAR(static_cast<double>(spanMs) / 1000.0,
                    static_cast<double>(clip.Logged.End - clip.Logged.Begin), 3.5);
    }
    EXPECT_LT(first[0].EndedAtMs, first[1].StartedAtMs);
}

TEST_F(MonitorTest, AStreamThatCannotBeOpenedIsReopenedWithDoublingWaitsAndOneOutage) {
    const TSamples audio = Join({&B, &Pause});
    std::atomic<int> opens{0};
    std::mutex timesLock;
    std::vector<Clock::time_point> openTimes;
    TMonitorOptions options;
    options.Fast = true;
    options.FirstBackoffMs = 40;
    options.MaxBackoffMs = 160;
    TOutageLog log;
    TStreamMonitor monitor(
        Kit.Songs, Kit.Index, {ParseStreamArgument("late=http://127.0.0.1:9/none")}, options,
        [&](const TStreamEntry&) -> std::unique_ptr<IStreamSource> {
            {
                std::lock_guard lock(timesLock);
                openTimes.push_back(Clock::now());
            }
            return std::make_unique<TRefusingSource>(audio, opens.fetch_add(1) != 5);
        },
        &log);
    Watch(monitor);
    monitor.Start();
    // A network stream that ends is reopened too (and refused again): a second outage.
    ASSERT_TRUE(WaitFor([&] { return ClipsOf("late").size() == 1 && log.Copy().size() == 2; }));
    monitor.Stop();

    std::lock_guard lock(timesLock);
    ASSERT_GE(openTimes.size(), 6u);
    const int expected[] = {40, 80, 160, 160, 160};
    for (int i = 0; i < 5; ++i) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
            openTimes[static_cast<std::size_t>(i + 1)] - openTimes[static_cast<std::size_t>(i)]);
        EXPECT_GE(waited.count(), expected[i]) << "wait " << i;
        EXPECT_LT(waited.count(), expected[i] + 3000) << "wait " << i;
    }
    const auto clips = ClipsOf("late");
    EXPECT_EQ(clips[0].Logged.Title, "Bravo");
    const auto outages = log.Copy();
    EXPECT_EQ(outages[0].Stream, "late");
    EXPECT_EQ(outages[0].Reason, "Connection refused");
    EXPECT_GT(outages[0].EndedAtMs, outages[0].StartedAtMs);
    EXPECT_EQ(outages[1].Reason, "the stream ended");
    EXPECT_GT(outages[1].EndedAtMs, 0);  // closed when the monitor stopped
    bool told = false;
    for (const auto& n : Notices)
        told = told || n == "late: Connection refused; reopening in 0.04 s";
    EXPECT_TRUE(told);
}

TEST_F(MonitorTest, AStalledStreamDoesNotHoldUpAnotherOnTheSameThread) {
    const TSamples audio = Join({&C, &Pause});
    TMonitorOptions options;
    options.Threads = 1;
    options.Fast = true;
    TStreamMonitor monitor(Kit.Songs, Kit.Index,
                           {ParseStreamArgument("stuck=http://127.0.0.1:9/stuck"),
                            ParseStreamArgument("fine=fine.raw")},
                           options,
                           [&](const TStreamEntry& entry) -> std::unique_ptr<IStreamSource> {
                               if (entry.Name == "stuck") return std::make_unique<TStalledSource>();
                               return std::make_unique<TMemorySource>(audio, false);
                           });
    Watch(monitor);
    monitor.Start();
    ASSERT_TRUE(WaitFor([&] { return ClipsOf("fine").size() == 1; }));
    EXPECT_EQ(ClipsOf("fine")[0].Logged.Title, "Charlie");
    const auto stopping = Clock::now();
    monitor.Stop();
    EXPECT_LT(Clock::now() - stopping, std::chrono::seconds(5));
    EXPECT_TRUE(ClipsOf("stuck").empty());
}

TEST_F(MonitorTest, StoppingLogsTheClipStillPlaying) {
    const TSamples audio = Join({&A, &B});  // Bravo plays on when the monitor stops
    TMonitorOptions options;
    options.Fast = true;
    TStreamMonitor monitor(Kit.Songs, Kit.Index, {ParseStreamArgument("live=http://x/live")},
                           options, [&](const TStreamEntry&) -> std::unique_ptr<IStreamSource> {
                               return std::make_unique<TMemorySource>(audio, true);
                           });
    Watch(monitor);
    monitor.Start();
    const std::int64_t blocks = static_cast<std::int64_t>(audio.size()) / 4096;
    ASSERT_TRUE(WaitFor([&] { return monitor.BlocksAnalysed() >= blocks - 3; }));
    ASSERT_EQ(ClipsOf("live").size(), 1u);
    monitor.Stop();
    const auto clips = ClipsOf("live");
    ASSERT_EQ(clips.size(), 2u);
    EXPECT_EQ(clips[0].Logged.Title, "Alpha");
    EXPECT_EQ(clips[1].Logged.Title, "Bravo");
    EXPECT_GE(clips[1].Logged.End, 17);
}

TEST_F(MonitorTest, AServerSendingFasterThanRealTimeIsReadAtThePaceOfItsAudio) {
    const TSamples audio = Join({&A, &B, &C});  // 60 s, all there at once
    TMonitorOptions options;
    TStreamMonitor monitor(Kit.Songs, Kit.Index, {ParseStreamArgument("flood=http://x/flood")},
                           options, [&](const TStreamEntry&) -> std::unique_ptr<IStreamSource> {
                               return std::make_unique<TMemorySource>(audio, true, true);
                           });
    Watch(monitor);
    monitor.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const double analysedSeconds = static_cast<double>(monitor.BlocksAnalysed()) * 4096.0 / Rate;
    monitor.Stop();
    // A burst of 10 s, then real time: at most about 11.5 s of audio after 1.5 s.
    EXPECT_GT(analysedSeconds, 1.0);
    EXPECT_LT(analysedSeconds, 13.0);
    std::lock_guard lock(FLock);
    for (const auto& n : Notices) EXPECT_EQ(n.find("Buffer overrun"), std::string::npos) << n;
}

TEST(TEngineConverter, GivesTheSamplesOfTheFileReaderForTheSameAudio) {
    platform::InstallAudioConversion();
    orvane::test::TTempDir dir;
    for (int rate : {44100, 48000, 22050}) {
        const TSamples left = orvane::test::Music(7, static_cast<std::size_t>(rate) * 3, rate);
        const TSamples right = orvane::test::Music(8, static_cast<std::size_t>(rate) * 3, rate);
        const TSamples stereo = orvane::test::Interleave({left, right});
        const std::string file = dir.File("s.wav");
        orvane::test::WriteWav(file, stereo, rate, 2);
        auto reader = audio::OpenAudioReader(file, audio::TAudioFileType::ftWav);
        TSamples fromFile;
        while (reader->ReadChunk() == static_cast<std::int32_t>(reader->Size())) {
            const auto* p = reinterpret_cast<const std::int16_t*>(reader->Data());
            fromFile.insert(fromFile.end(), p, p + reader->Size() / 2);
        }
        // The stream arrives in uneven pieces; the output must not depend on them.
        TEngineConverter converter;
        TSamples fromStream;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(stereo.data());
        std::size_t pos = 0;
        for (std::size_t piece = 1; pos < stereo.size() * 2; piece = piece * 3 % 5000 + 4) {
            const std::size_t n = std::min(piece * 4, stereo.size() * 2 - pos);
            converter.Convert({2, 16, static_cast<std::uint32_t>(rate)}, bytes + pos, n,
                              fromStream);
            pos += n;
        }
        converter.Flush(fromStream);
        ASSERT_GE(fromStream.size(), fromFile.size()) << rate;
        int worst = 0;
        for (std::size_t i = 0; i < fromFile.size(); ++i) {
            worst = std::max(worst, std::abs(fromFile[i] - fromStream[i]));
        }
        EXPECT_LE(worst, 1) << rate;
    }
}

}  // namespace
}  // namespace orvane::stream
