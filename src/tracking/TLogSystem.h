// The song tracker: turns the moment-to-moment clip records of the channels into clip starts,
// ends and expiries, and writes one log line per heard clip to the activity history.
// Thread: every step runs under the tracker's own lock, so the timer (main thread) and a file
// channel that switches itself off from its reading thread never step a channel at the same
// time. Callbacks run on the stepping thread with that lock held and must not call back into
// the tracker.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tracking/IClock.h"
#include "tracking/TPosting.h"
#include "tracking/capInfo.h"

namespace orvane::tracking {

/// What the tracker needs of a channel. Implemented by recognition::TChannelBasic.
class ITrackedChannel {
public:
    virtual ~ITrackedChannel() = default;
    /// Whether the channel is switched on. Thread safe, non-blocking.
    virtual bool Active() const = 0;
    /// A consistent copy of the channel's clip record. Thread safe.
    virtual capInfo ReadCap() const = 0;
    /// The display caption ("Channel01", "Channel01 | file"). Thread safe.
    virtual std::string Caption() const = 0;
    /// Forgets the clip last announced, so a returning clip is announced again. Thread safe.
    virtual void ClearLastUniqueID() = 0;
};

/// The happenings the tracker reports to the event table, with their placeholders in order.
enum class TTrackerEvent : std::uint8_t {
    teClipStarted = 0,    ///< %title, %position, %date, %time (of the heard audio), %channel
    teClipExpired = 2,    ///< %date, %time (now), %channel
    teClipAfterIdle = 3,  ///< %date, %time (now), %channel; just before teClipStarted
};

/// A log line as data, for callers that want more than the text (the command-line tool).
struct TLoggedClip {
    std::string Line;     ///< the text posted to the activity history
    std::string Channel;  ///< display caption of the channel
    std::string Title;
    std::int64_t UniqueID = NoClipID;
    std::int64_t Begin = 0;    ///< seconds into the clip, rounded, at least 0
    std::int64_t End = 0;      ///< seconds into the clip, rounded, at least 0
    TDateTime FirstHeard = 0;  ///< the start record's TimeStamp (the row's time)
    TDateTime LastHeard = 0;   ///< the last-seen record's TimeStamp
};

/// Follows the life of the tracked clips (the play log). Called on the stepping thread with the
/// tracker lock held; must not call back into the tracker.
class IClipObserver {
public:
    virtual ~IClipObserver() = default;
    /// A new clip is tracked on `channel`; `start` is its first record.
    virtual void ClipStarted(std::int32_t channel, const capInfo& start,
                             const std::string& caption) = 0;
    /// The tracked clip was seen again; `lastSeen` is its latest record.
    virtual void ClipSeen(std::int32_t channel, const capInfo& lastSeen) = 0;
    /// The tracked clip ended or expired. `clip` is its log line, or null when the clip was heard
    /// too briefly to be logged.
    virtual void ClipEnded(std::int32_t channel, const capInfo& start, const capInfo& lastSeen,
                           const TLoggedClip* clip) = 0;
};

/// Tracking state of one channel.
struct TLogData {
    TLogData();
    capInfo LSLast;                  ///< the record at the previous step
    capInfo LSCurr;                  ///< the record at this step
    capInfo LSTimeOut;               ///< the record when the clip was lost (kept for diagnostics)
    capInfo LSStart;                 ///< the record when the tracked clip started
    capInfo LastSeenEqualToLSStart;  ///< the latest record that still showed the tracked clip
    /// When the clip was lost (the clock's now); meaningful while IdleTimerRunning.
    TDateTime TimeoutStamp = 0;
    /// The idle timer runs (kept apart from TimeoutStamp, whose 0 is a valid stream time).
    bool IdleTimerRunning = false;
    /// Whether the channel was active at the previous step.
    bool LastActiveState = false;
};

class TLogSystem {
public:
    /// Interval at which the owner's timer calls LogHandler, in milliseconds.
    static constexpr int LogIntervalMs = 500;
    /// Idle timeout used until SetIdleTimeout, in seconds.
    static constexpr int DefaultIdleTimeout = 5;

    /// `posting` and `clock` must outlive the tracker. Live input uses the wall clock and a
    /// 500 ms timer; a file channel uses a TStreamClock set to the analysed stream time and
    /// steps the tracker after every search.
    TLogSystem(const TPosting& posting, const IClock& clock);
    /// Shutdown() unless done.
    ~TLogSystem();
    TLogSystem(const TLogSystem&) = delete;
    TLogSystem& operator=(const TLogSystem&) = delete;

    /// Registers a channel (it must outlive the tracker or be removed by destroying the
    /// tracker first); returns its number, which must equal the channel's own number. Call before
    /// any step. Main thread.
    std::int32_t AddChannel(ITrackedChannel& channel);
    std::int32_t ChannelCount() const;

    /// Idle timeout in whole seconds (the IdleTimeout setting). Thread safe.
    void SetIdleTimeout(std::int32_t seconds) { FIdleTimeout.store(seconds); }
    std::int32_t IdleTimeout() const { return FIdleTimeout.load(); }

    /// Timer step: HandleChannel for every channel in channel order. Main thread.
    void LogHandler();
    /// One tracking step of channel `index` with the clock's now. Thread safe (serialised).
    /// An unknown index does nothing.
    void HandleChannel(std::int32_t index);
    /// The same step with `now` given by the caller (file mode: the analysed stream time).
    void HandleChannel(std::int32_t index, TDateTime now);
    /// Writes the log line of the tracked clip, if any, and forgets it. Thread safe.
    void FinalizeChannel(std::int32_t index);
    /// Writes the log lines of clips still tracked on active channels; later steps do nothing.
    /// Called by the destructor unless called before. Main thread.
    void Shutdown();

    /// A copy of a channel's tracking state (for tests and diagnostics). Thread safe.
    TLogData Data(std::int32_t index) const;

    /// Called with every reported happening and its placeholder pairs as one flat list
    /// (name, value, name, value ...). Stepping thread, tracker lock held.
    std::function<void(TTrackerEvent kind, const std::vector<std::string>& pairs)> OnTriggerEvent;
    /// Called with every log line written (after it was posted). Stepping thread, lock held.
    std::function<void(const TLoggedClip& clip)> OnClipLogged;

    /// Adds an observer of the tracked clips. It must outlive the tracker (whose shutdown still
    /// reports the clips it ends) or be removed first. Thread safe.
    void AddObserver(IClipObserver& observer);
    /// Removes an observer added before; unknown observers are ignored. Thread safe.
    void RemoveObserver(IClipObserver& observer);

    /// The log line for a start record and a last-seen record, or nothing ("" and false) when
    /// the span heard rounds to 1 second or less. Pure; exposed for tests.
    static bool FormatLogLine(const capInfo& start, const capInfo& lastSeen,
                              const std::string& caption, TLoggedClip& clip);

private:
    void StepLocked(std::int32_t index, TDateTime now);
    void FinalizeLocked(std::int32_t index);
    void SongEndedOrExpired(std::int32_t index, const capInfo& start, const capInfo& lastSeen,
                            const std::string& caption);
    void Trigger(TTrackerEvent kind, std::vector<std::string> pairs);
    static void StopTracking(TLogData& data);

    const TPosting& FPosting;
    const IClock& FClock;
    mutable std::mutex FLock;  // guards every field below and serialises the steps
    std::vector<ITrackedChannel*> FChannels;
    std::vector<TLogData> LogData;
    std::vector<IClipObserver*> FObservers;
    bool FShutDown = false;
    std::atomic<std::int32_t> FIdleTimeout{DefaultIdleTimeout};
};

}  // namespace orvane::tracking
