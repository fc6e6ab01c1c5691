#include "tracking/TLogSystem.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "base/TimeText.h"
#include "tracking/Replace.h"

namespace orvane::tracking {

namespace {

constexpr double SecondsPerDay = 86400.0;

/// The zeroed record of a tracker that has not seen its channel yet: UniqueID 0 differs from
/// the no-clip value on purpose, so the first step after activation sees a change.
capInfo ZeroRecord() {
    capInfo record;
    record.UniqueID = 0;
    return record;
}

capInfo NoClipRecord() { return capInfo{}; }

}  // namespace

TLogData::TLogData()
    : LSLast(ZeroRecord()),
      LSCurr(ZeroRecord()),
      LSTimeOut(ZeroRecord()),
      LSStart(ZeroRecord()),
      LastSeenEqualToLSStart(ZeroRecord()) {}

TLogSystem::TLogSystem(const TPosting& posting, const IClock& clock)
    : FPosting(posting), FClock(clock) {}

TLogSystem::~TLogSystem() { Shutdown(); }

std::int32_t TLogSystem::AddChannel(ITrackedChannel& channel) {
    std::lock_guard lock(FLock);
    FChannels.push_back(&channel);
    LogData.emplace_back();
    return static_cast<std::int32_t>(FChannels.size() - 1);
}

std::int32_t TLogSystem::ChannelCount() const {
    std::lock_guard lock(FLock);
    return static_cast<std::int32_t>(FChannels.size());
}

void TLogSystem::LogHandler() {
    const TDateTime now = FClock.Now();
    std::lock_guard lock(FLock);
    if (FShutDown) return;
    for (std::size_t i = 0; i < FChannels.size(); ++i) {
        StepLocked(static_cast<std::int32_t>(i), now);
    }
}

void TLogSystem::HandleChannel(std::int32_t index) { HandleChannel(index, FClock.Now()); }

void TLogSystem::HandleChannel(std::int32_t index, TDateTime now) {
    std::lock_guard lock(FLock);
    if (FShutDown || index < 0 || index >= static_cast<std::int32_t>(FChannels.size())) return;
    StepLocked(index, now);
}

void TLogSystem::FinalizeChannel(std::int32_t index) {
    std::lock_guard lock(FLock);
    if (FShutDown || index < 0 || index >= static_cast<std::int32_t>(FChannels.size())) return;
    FinalizeLocked(index);
}

void TLogSystem::Shutdown() {
    std::lock_guard lock(FLock);
    if (FShutDown) return;
    FShutDown = true;
    for (std::size_t i = 0; i < FChannels.size(); ++i) {
        const TLogData& t = LogData[i];
        if (t.LastActiveState && !t.LSStart.Caption.empty()) {
            SongEndedOrExpired(static_cast<std::int32_t>(i), t.LSStart, t.LastSeenEqualToLSStart,
                               FChannels[i]->Caption());
        }
    }
}

TLogData TLogSystem::Data(std::int32_t index) const {
    std::lock_guard lock(FLock);
    if (index < 0 || index >= static_cast<std::int32_t>(LogData.size())) return {};
    return LogData[static_cast<std::size_t>(index)];
}

void TLogSystem::StopTracking(TLogData& data) {
    data.LSStart = NoClipRecord();
    data.LastSeenEqualToLSStart = NoClipRecord();
}

void TLogSystem::FinalizeLocked(std::int32_t index) {
    TLogData& t = LogData[static_cast<std::size_t>(index)];
    if (t.LSStart.UniqueID != NoClipID) {
        SongEndedOrExpired(index, t.LSStart, t.LastSeenEqualToLSStart,
                           FChannels[static_cast<std::size_t>(index)]->Caption());
    }
    StopTracking(t);
}

void TLogSystem::StepLocked(std::int32_t index, TDateTime now) {
    TLogData& t = LogData[static_cast<std::size_t>(index)];
    ITrackedChannel& channel = *FChannels[static_cast<std::size_t>(index)];

    const bool active = channel.Active();
    if (active != t.LastActiveState) {
        if (active) {
            t.TimeoutStamp = 0;
            t.IdleTimerRunning = false;
            StopTracking(t);
        } else {
            FinalizeLocked(index);
        }
    }
    t.LastActiveState = active;
    if (!active) return;

    t.LSCurr = channel.ReadCap();
    const std::string caption = channel.Caption();

    if (t.LSCurr.UniqueID != t.LSLast.UniqueID) {
        if (t.LSCurr.UniqueID == NoClipID) {
            // Lost: the tracked clip stays open until it returns or the idle timeout passes.
            t.TimeoutStamp = now;
            t.IdleTimerRunning = true;
            t.LSTimeOut = t.LSCurr;
        } else {
            t.TimeoutStamp = 0;
            t.IdleTimerRunning = false;
            if (t.LSStart.UniqueID != t.LSCurr.UniqueID) {
                if (t.LSStart.UniqueID != NoClipID) {
                    SongEndedOrExpired(index, t.LSStart, t.LastSeenEqualToLSStart, caption);
                } else {
                    Trigger(TTrackerEvent::teClipAfterIdle,
                            {"%date", ShortDateText(now), "%time", LongTimeText(now), "%channel",
                             caption});
                }
                t.LSStart = t.LSCurr;
                t.LastSeenEqualToLSStart = t.LSStart;
                for (IClipObserver* observer : FObservers) {
                    observer->ClipStarted(index, t.LSStart, caption);
                }
                Trigger(TTrackerEvent::teClipStarted,
                        {"%title", t.LSCurr.Caption, "%position", MinSecText(t.LSCurr.Pos), "%date",
                         ShortDateText(t.LSCurr.TimeStamp), "%time",
                         LongTimeText(t.LSCurr.TimeStamp), "%channel", caption});
            }
        }
    }

    if (t.IdleTimerRunning &&
        (now - t.TimeoutStamp) * SecondsPerDay > static_cast<double>(FIdleTimeout.load())) {
        t.TimeoutStamp = 0;
        t.IdleTimerRunning = false;
        channel.ClearLastUniqueID();
        // Only a clip that was tracked can expire: a channel that recognised nothing since it
        // was switched on reports no expiry.
        const bool tracked = t.LSStart.UniqueID != NoClipID;
        if (tracked) SongEndedOrExpired(index, t.LSStart, t.LastSeenEqualToLSStart, caption);
        StopTracking(t);
        if (tracked) {
            Trigger(TTrackerEvent::teClipExpired,
                    {"%date", ShortDateText(now), "%time", LongTimeText(now), "%channel", caption});
        }
    }

    if (t.LSCurr.UniqueID == t.LSStart.UniqueID && t.LSCurr.UniqueID != NoClipID) {
        t.LastSeenEqualToLSStart = t.LSCurr;
        for (IClipObserver* observer : FObservers) observer->ClipSeen(index, t.LSCurr);
    }
    t.LSLast = t.LSCurr;
}

bool TLogSystem::FormatLogLine(const capInfo& start, const capInfo& lastSeen,
                               const std::string& caption, TLoggedClip& clip) {
    const double startPos = start.Pos;
    const double lastPos = lastSeen.Pos;
    if (!std::isfinite(startPos) || !std::isfinite(lastPos)) return false;
    if (RoundHalfEven(std::fabs(lastPos - startPos)) <= 1) return false;

    const long long begin = std::max(0LL, RoundHalfEven(startPos - 1.5));
    const long long end = std::max(0LL, RoundHalfEven(lastPos + 0.3));
    const TDateTime moment = start.TimeStamp;
    clip.Line =
        Replace("%channel: %title [%begin - %end] (%duration)",
                {"%title", start.Caption, "%begin", MinSecText(static_cast<double>(begin)), "%end",
                 MinSecText(static_cast<double>(end)), "%duration",
                 MinSecText(static_cast<double>(end - begin)), "%date", ShortDateText(moment),
                 "%time", LongTimeText(moment), "%channel", caption});
    clip.Channel = caption;
    clip.Title = start.Caption;
    clip.UniqueID = start.UniqueID;
    clip.Begin = begin;
    clip.End = end;
    clip.FirstHeard = moment;
    clip.LastHeard = lastSeen.TimeStamp;
    return true;
}

void TLogSystem::SongEndedOrExpired(std::int32_t index, const capInfo& start,
                                    const capInfo& lastSeen, const std::string& caption) {
    TLoggedClip clip;
    if (!FormatLogLine(start, lastSeen, caption, clip)) {
        for (IClipObserver* observer : FObservers) {
            observer->ClipEnded(index, start, lastSeen, nullptr);
        }
        return;
    }
    // The row carries the moment the clip was first heard, not when it was logged.
    FPosting.PostActivity(clip.Line, TActivityIcon::aiArrow, clip.FirstHeard);
    for (IClipObserver* observer : FObservers) observer->ClipEnded(index, start, lastSeen, &clip);
    if (OnClipLogged) OnClipLogged(clip);
}

void TLogSystem::AddObserver(IClipObserver& observer) {
    std::lock_guard lock(FLock);
    FObservers.push_back(&observer);
}

void TLogSystem::RemoveObserver(IClipObserver& observer) {
    std::lock_guard lock(FLock);
    std::erase(FObservers, &observer);
}

void TLogSystem::Trigger(TTrackerEvent kind, std::vector<std::string> pairs) {
    if (OnTriggerEvent) OnTriggerEvent(kind, pairs);
}

}  // namespace orvane::tracking
