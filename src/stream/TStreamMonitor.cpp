#include "stream/TStreamMonitor.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <stop_token>
#include <thread>
#include <utility>
#include <variant>

#include "database/TMediumDB.h"
#include "database/TSongList.h"
#include "playlog/PlayLog.h"
#include "recognition/QnCheckKey.h"
#include "recognition/TSearch.h"
#include "signal/QnFFT.h"
#include "stream/TStreamChannel.h"
#include "stream/UtcTime.h"
#include "tracking/TPosting.h"
#include "tracking/TStreamClock.h"
#include "tracking/TSystemClock.h"

namespace orvane::stream {

namespace {

using Clock = std::chrono::steady_clock;

/// How far a real-time source may run ahead of the wall clock, in milliseconds of audio.
constexpr std::int64_t BurstMs = 10000;

/// Milliseconds of engine audio in `samples` samples.
std::int64_t SamplesToMs(std::int64_t samples) {
    return samples * 1000 / static_cast<std::int64_t>(recognition::EngineSampleRate);
}

/// A wait as "4 s", "0.04 s".
std::string SecondsText(int ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", ms / 1000.0);
    return text;
}

}  // namespace

/// The engine's posts of a monitor: actions (tray hints, balloons, announcements) have no one
/// to show them and are dropped; activity entries other than log lines become notices.
class TStreamMonitor::TPoster final : public tracking::IMainThreadPoster {
public:
    explicit TPoster(TStreamMonitor& owner) : FOwner(owner) {}
    void Post(tracking::TPostedMessage message) override {
        const auto* entry = std::get_if<tracking::TActivityData>(&message);
        if (entry == nullptr || entry->Icon == tracking::TActivityIcon::aiArrow) return;
        const TNoticeKind kind =
            entry->Icon == tracking::TActivityIcon::aiError       ? TNoticeKind::nkError
            : entry->Icon == tracking::TActivityIcon::aiAttention ? TNoticeKind::nkWarning
                                                                  : TNoticeKind::nkInfo;
        FOwner.EmitNotice({}, kind, entry->Str);
    }

private:
    TStreamMonitor& FOwner;
};

/// One recognition thread with the search state it owns; the index and songs are shared.
struct TStreamMonitor::TLane {
    TLane(const database::TSongList& songs, const database::TMediumDB& index,
          const tracking::TPosting& posting, const recognition::TRecognitionOptions& options)
        : Verifier(songs),
          Search(Converter, Verifier, index, posting, Settings),
          Server(Lock, Search, Converter, Settings) {
        Server.PublishSettings(options);
        // Headless: results are wanted as if a window showed them.
        Settings.Form1Visible = true;
        Settings.Form1TrayVisible = false;
    }
    recognition::TRecognitionLock Lock;
    signal::QnKeyConversion Converter;
    recognition::QnCheckKey Verifier;
    recognition::TSearchSettings Settings;
    recognition::TSearch Search;
    recognition::QnChServer Server;
};

/// One stream: its channel, tracker and worker.
class TMonitoredStream final : public tracking::IClipObserver {
public:
    TMonitoredStream(TStreamMonitor& owner, const TStreamEntry& entry,
                     recognition::TRecognitionLock& lock, tracking::IMainThreadPoster& poster)
        : Entry(entry),
          FOwner(owner),
          FPosting(poster, FStreamClock),
          FChannel(entry.Name, lock, FPosting),
          FTracker(FPosting, FStreamClock) {
        FTracker.SetIdleTimeout(owner.FOptions.IdleTimeout);
        FTracker.AddChannel(FChannel);
        FTracker.AddObserver(*this);
        if (owner.FMakeRecorder) {
            FRecorder = owner.FMakeRecorder(entry.Name, [this] { return CurrentTitle(); });
            if (FRecorder) FTracker.AddObserver(*FRecorder);
        }
        FChannel.SetLogSystem(&FTracker);
    }
    ~TMonitoredStream() override {
        FWorker = {};
        FChannel.SetLogSystem(nullptr);
        FTracker.RemoveObserver(*this);
        if (FRecorder) FTracker.RemoveObserver(*FRecorder);
    }

    void Start() {
        FWorker = std::jthread([this](std::stop_token stop) { Run(stop); });
    }
    void RequestStop() { FWorker.request_stop(); }
    void Join() {
        if (FWorker.joinable()) FWorker.join();
    }
    /// After the workers and recognition have stopped: logs the clip still playing and ends
    /// an open outage.
    void Finish() {
        const std::int64_t now = UtcNowMs();
        FStreamClock.Set(std::max(FStreamClock.Now(), StampOfMs(now)));
        FChannel.SetActive(false);
        EndOutage(now);
    }
    bool FileEnded() const { return FEnded.load(); }
    bool FileFailed() const { return FFailed.load(); }

    /// The search has analysed a block of this stream: the tracker steps at the stream time
    /// of the analysed audio. Recognition thread, lane lock held.
    void Searched(tracking::TDateTime dataEndingTime) {
        FStreamClock.Set(dataEndingTime);
        FTracker.HandleChannel(0);
    }

    // IClipObserver: the station's title when a clip starts, the log line when it ends.
    void ClipStarted(std::int32_t, const tracking::capInfo&, const std::string&) override {
        FStartTitle = CurrentTitle();
    }
    void ClipSeen(std::int32_t, const tracking::capInfo&) override {}
    void ClipEnded(std::int32_t, const tracking::capInfo&, const tracking::capInfo&,
                   const tracking::TLoggedClip* clip) override {
        if (clip == nullptr) return;
        TMonitorClip out;
        out.Stream = Entry.Name;
        out.Logged = *clip;
        out.StartedAtMs = MsOfStamp(clip->FirstHeard);
        out.EndedAtMs = MsOfStamp(clip->LastHeard);
        out.StreamTitle = FStartTitle;
        FOwner.EmitClip(out);
    }

    std::string CurrentTitle() const {
        std::lock_guard lock(FSourceLock);
        return FSource != nullptr ? FSource->StreamTitle() : std::string();
    }

    const TStreamEntry Entry;
    TStreamChannel& Channel() { return FChannel; }

private:
    void Run(std::stop_token stop);
    void Pump(IStreamSource& source, std::stop_token stop, bool& delivered);
    void Disconnected(const std::string& reason, std::int64_t nowMs);
    void EndOutage(std::int64_t nowMs);
    /// Sleeps until `deadline` or a stop request; false when stopped.
    bool SleepUntil(std::stop_token stop, Clock::time_point deadline) {
        std::unique_lock lock(FSleepLock);
        return !FWake.wait_until(lock, stop, deadline, [] { return false; }) &&
               !stop.stop_requested();
    }

    TStreamMonitor& FOwner;
    // The tracker's "now": the stream time of the analysed audio (UTC stamps).
    tracking::TStreamClock FStreamClock;
    tracking::TPosting FPosting;
    TStreamChannel FChannel;
    tracking::TLogSystem FTracker;
    std::unique_ptr<tracking::IClipObserver> FRecorder;
    std::string FStartTitle;         // tracker lock: written and read on the stepping thread
    mutable std::mutex FSourceLock;  // guards FSource
    IStreamSource* FSource = nullptr;
    std::mutex FSleepLock;
    std::condition_variable_any FWake;
    std::int64_t FOutageId = 0;  // worker (then Finish): the open outage row, 0 when none
    bool FInOutage = false;
    std::atomic<bool> FEnded{false};
    std::atomic<bool> FFailed{false};
    std::jthread FWorker;  // last: joined before the members it uses go away
};

void TMonitoredStream::Run(std::stop_token stop) {
    int backoffMs = FOwner.FOptions.FirstBackoffMs;
    while (!stop.stop_requested()) {
        std::string reason;
        bool delivered = false;
        bool ended = false;
        try {
            std::unique_ptr<IStreamSource> source = FOwner.FMakeSource(Entry);
            if (!source) throw EStreamError("this kind of source cannot be read");
            {
                std::lock_guard lock(FSourceLock);
                FSource = source.get();
            }
            // An interrupt reaches the source while it blocks in Open or Read.
            std::stop_callback interrupt(stop, [&] { source->Interrupt(); });
            try {
                if (!stop.stop_requested()) {
                    source->Open();
                    Pump(*source, stop, delivered);
                    ended = true;
                }
            } catch (...) {
                std::lock_guard lock(FSourceLock);
                FSource = nullptr;
                throw;
            }
            std::lock_guard lock(FSourceLock);
            FSource = nullptr;
        } catch (const std::exception& e) {
            reason = e.what();
        }
        if (stop.stop_requested()) break;
        const std::int64_t nowMs = UtcNowMs();
        if (ended && Entry.Kind == TSourceKind::skFile) {
            // A file is played once; its last clip is logged once everything was analysed.
            FChannel.SetActive(false);
            FOwner.EmitNotice(Entry.Name, TNoticeKind::nkInfo, "the file has ended");
            FEnded.store(true);
            return;
        }
        if (!ended && Entry.Kind == TSourceKind::skFile && FOwner.FOptions.Fast) {
            // As fast as possible means a run of tests or benchmarks: a file that cannot be
            // played ends its stream instead of being retried.
            FChannel.SetActive(false);
            FOwner.EmitNotice(Entry.Name, TNoticeKind::nkError, reason);
            FFailed.store(true);
            FEnded.store(true);
            return;
        }
        if (ended) reason = "the stream ended";
        if (delivered) backoffMs = FOwner.FOptions.FirstBackoffMs;
        Disconnected(reason, nowMs);
        FOwner.EmitNotice(Entry.Name, TNoticeKind::nkWarning,
                          reason + "; reopening in " + SecondsText(backoffMs));
        if (!SleepUntil(stop, Clock::now() + std::chrono::milliseconds(backoffMs))) break;
        backoffMs = std::min(backoffMs * 2, FOwner.FOptions.MaxBackoffMs);
    }
}

void TMonitoredStream::Pump(IStreamSource& source, std::stop_token stop, bool& delivered) {
    using recognition::BlockSamples;
    std::vector<std::int16_t> samples;
    samples.reserve(4 * BlockSamples);
    std::size_t used = 0;  // samples of `samples` already written as blocks
    std::int64_t written = 0;
    const std::int64_t anchorMs = UtcNowMs();
    const Clock::time_point anchor = Clock::now();
    Clock::time_point lastAudio = Clock::now();
    Clock::time_point nextOverrunNotice = Clock::now();
    const bool paced = !source.RealTime() && !FOwner.FOptions.Fast;
    const bool waitWhenFull = !source.RealTime();
    FStreamClock.Set(StampOfMs(anchorMs));
    FChannel.SetActive(true);
    FOwner.EmitNotice(Entry.Name, TNoticeKind::nkInfo, "connected");
    for (;;) {
        if (stop.stop_requested()) throw EStreamError("stopped");
        if (used > 0) {
            samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(used));
            used = 0;
        }
        const std::size_t before = samples.size();
        if (!source.Read(samples)) break;
        if (samples.size() > before) {
            lastAudio = Clock::now();
        } else if (Clock::now() - lastAudio > std::chrono::seconds(NoAudioTimeoutSeconds)) {
            throw EStreamError("no audio for " + std::to_string(NoAudioTimeoutSeconds) + " s");
        }
        while (samples.size() - used >= static_cast<std::size_t>(BlockSamples)) {
            const std::int16_t* block = samples.data() + used;
            written += BlockSamples;
            std::int64_t stampMs = UtcNowMs();
            if (source.RealTime()) {
                // A server may send faster than real time; beyond a burst of BurstMs it is read
                // at the pace of its audio, so it cannot take more than its share of recognition.
                const auto due = anchor + std::chrono::milliseconds(SamplesToMs(written) - BurstMs);
                if (due > Clock::now() && !SleepUntil(stop, due)) throw EStreamError("stopped");
            } else {
                stampMs = anchorMs + SamplesToMs(written);
                if (paced &&
                    !SleepUntil(stop, anchor + std::chrono::milliseconds(SamplesToMs(written))))
                    throw EStreamError("stopped");
            }
            const tracking::TDateTime stamp = StampOfMs(stampMs);
            if (!FChannel.WriteBlock(block, stamp)) {
                if (waitWhenFull) {
                    while (!FChannel.WriteBlock(block, stamp)) {
                        if (!SleepUntil(stop, Clock::now() + std::chrono::milliseconds(2)))
                            throw EStreamError("stopped");
                    }
                } else {
                    // Recognition fell behind this stream: what waits is dropped.
                    if (Clock::now() >= nextOverrunNotice) {
                        FOwner.EmitNotice(Entry.Name, TNoticeKind::nkError, "Buffer overrun");
                        nextOverrunNotice = Clock::now() + std::chrono::seconds(10);
                    }
                    FChannel.clearData();
                    FChannel.WriteBlock(block, stamp);
                }
            }
            used += BlockSamples;
            if (!delivered) {
                delivered = true;
                EndOutage(stampMs);
            }
        }
        // Waiting for room in the ring (or for the pace of a file) is not silence.
        if (samples.size() > before) lastAudio = Clock::now();
    }
    // The end: whatever waits is analysed before the stream counts as ended.
    while (!FChannel.Drained()) {
        if (!SleepUntil(stop, Clock::now() + std::chrono::milliseconds(5))) {
            throw EStreamError("stopped");
        }
    }
}

void TMonitoredStream::Disconnected(const std::string& reason, std::int64_t nowMs) {
    FStreamClock.Set(std::max(FStreamClock.Now(), StampOfMs(nowMs)));
    FChannel.SetActive(false);
    if (FInOutage) return;
    FInOutage = true;
    if (FOwner.FPlayLog == nullptr) return;
    try {
        FOutageId = FOwner.FPlayLog->BeginOutage(Entry.Name, nowMs, reason);
    } catch (const std::exception& e) {
        FOwner.EmitNotice(Entry.Name, TNoticeKind::nkError,
                          std::string("the outage could not be logged: ") + e.what());
    }
}

void TMonitoredStream::EndOutage(std::int64_t nowMs) {
    if (!FInOutage) return;
    FInOutage = false;
    const std::int64_t id = std::exchange(FOutageId, 0);
    if (FOwner.FPlayLog == nullptr || id == 0) return;
    try {
        FOwner.FPlayLog->EndOutage(id, nowMs);
    } catch (const std::exception& e) {
        FOwner.EmitNotice(Entry.Name, TNoticeKind::nkError,
                          std::string("the outage could not be logged: ") + e.what());
    }
}

TStreamMonitor::TStreamMonitor(const database::TSongList& songs, const database::TMediumDB& index,
                               std::vector<TStreamEntry> streams, TMonitorOptions options,
                               TSourceFactory makeSource, playlog::IPlayLog* playLog,
                               TRecorderFactory makeRecorder)
    : FSongs(songs),
      FIndex(index),
      FEntries(std::move(streams)),
      FOptions(options),
      FMakeSource(std::move(makeSource)),
      FPlayLog(playLog),
      FMakeRecorder(std::move(makeRecorder)),
      FPoster(std::make_unique<TPoster>(*this)) {
    if (FEntries.empty()) throw EInvalidOperation("no stream to monitor");
    AssignStreamNames(FEntries);
}

TStreamMonitor::~TStreamMonitor() { Stop(); }

namespace {
/// Posting of the lanes: the system clock; the search posts nothing a monitor keeps.
const tracking::TSystemClock& LaneClock() {
    static const tracking::TSystemClock clock;
    return clock;
}
}  // namespace

void TStreamMonitor::Start() {
    if (FStarted) return;
    FStarted = true;
    const int lanes = std::clamp(FOptions.Threads, 1, static_cast<int>(FEntries.size()));
    for (int i = 0; i < lanes; ++i) {
        FLanePostings.push_back(std::make_unique<tracking::TPosting>(*FPoster, LaneClock()));
        FLanes.push_back(
            std::make_unique<TLane>(FSongs, FIndex, *FLanePostings.back(), FOptions.Recognition));
    }
    for (std::size_t i = 0; i < FEntries.size(); ++i) {
        TLane& lane = *FLanes[i % FLanes.size()];
        FStreams.push_back(
            std::make_unique<TMonitoredStream>(*this, FEntries[i], lane.Lock, *FPoster));
        lane.Server.AddChannel(FStreams.back()->Channel());
    }
    for (auto& lane : FLanes) {
        lane->Search.OnSearched = [this](recognition::TChannelBasic& channel,
                                         tracking::TDateTime dataEndingTime) {
            FBlocksAnalysed.fetch_add(3);
            for (auto& s : FStreams) {
                if (&s->Channel() == &channel) {
                    s->Searched(dataEndingTime);
                    return;
                }
            }
        };
        lane->Server.Start();
    }
    for (auto& s : FStreams) s->Start();
}

void TStreamMonitor::Stop() {
    if (!FStarted || FStopped) return;
    FStopped = true;
    for (auto& s : FStreams) s->RequestStop();
    for (auto& s : FStreams) s->Join();
    for (auto& lane : FLanes) lane->Server.Terminate();
    for (auto& s : FStreams) s->Finish();
}

bool TStreamMonitor::AllFilesEnded() const {
    if (!FStarted) return false;
    return std::all_of(FStreams.begin(), FStreams.end(),
                       [](const auto& s) { return s->FileEnded(); });
}

int TStreamMonitor::FailedFiles() const {
    return static_cast<int>(std::count_if(FStreams.begin(), FStreams.end(),
                                          [](const auto& s) { return s->FileFailed(); }));
}

void TStreamMonitor::EmitClip(const TMonitorClip& clip) {
    std::lock_guard lock(FOutputLock);
    if (OnClip) OnClip(clip);
}

void TStreamMonitor::EmitNotice(const std::string& stream, TNoticeKind kind,
                                const std::string& text) {
    std::lock_guard lock(FOutputLock);
    if (OnNotice) OnNotice(stream, kind, text);
}

}  // namespace orvane::stream
