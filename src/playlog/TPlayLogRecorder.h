// Turns the clips of one song tracker into plays of the play log: a play is begun when its clip
// is first recognised, its last-seen time is kept every few seconds, and it is completed (or
// discarded, when it was heard too briefly to be logged) when the clip ends.
// Thread: the tracker calls it on its stepping thread with the tracker lock held; the recorder
// serialises its own state, so it may also observe several trackers.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "playlog/PlayLog.h"
#include "tracking/TLogSystem.h"

namespace orvane::playlog {

class TPlayLogRecorder final : public tracking::IClipObserver {
public:
    /// Wall time between two SeenPlay calls of one play, in milliseconds of the clip records.
    static constexpr std::int64_t SeenIntervalMs = 3000;

    /// `log` must outlive the recorder. Register it with TLogSystem::AddObserver and keep it
    /// until the tracker is gone: the tracker's shutdown completes the open plays through it.
    /// `stream` names the stream in the log; when empty the tracker's channel caption is used.
    /// `streamTitle`, when given, returns the station's current ICY title (called when a play
    /// begins, on the stepping thread).
    TPlayLogRecorder(IPlayLog& log, std::string stream,
                     std::function<std::string()> streamTitle = {});

    /// Converts a clip record's TimeStamp into wall ms since 1970 UTC. The default reads it as
    /// local date-time (live input); a caller that steps the tracker with stream time sets its own.
    std::function<std::int64_t(tracking::TDateTime)> ToUtcMs;

    /// The fingerprint file of a clip by its UniqueID, stored with the play; called when a play
    /// begins, on the stepping thread. Without it plays have no file.
    std::function<std::string(std::int64_t uniqueId)> FileOf;

    /// Called with the message of a play-log failure (the play goes on unrecorded); once per run
    /// of failures. Stepping thread. Without it failures are dropped silently.
    std::function<void(const std::string& message)> OnError;

    void ClipStarted(std::int32_t channel, const tracking::capInfo& start,
                     const std::string& caption) override;
    void ClipSeen(std::int32_t channel, const tracking::capInfo& lastSeen) override;
    void ClipEnded(std::int32_t channel, const tracking::capInfo& start,
                   const tracking::capInfo& lastSeen, const tracking::TLoggedClip* clip) override;

    /// Id of the channel's open play, or 0 when none is open. Thread safe.
    std::int64_t OpenPlay(std::int32_t channel) const;

private:
    struct TOpen {
        std::int64_t Id = 0;             // 0: no play open
        tracking::capInfo Start;         // the clip's first record
        bool Written = false;            // a SeenPlay was written
        std::int64_t LastWrittenMs = 0;  // its time
    };
    TOpen& Slot(std::int32_t channel);
    void Report(const std::string& message);

    IPlayLog& FLog;
    std::string FStream;
    std::function<std::string()> FStreamTitle;
    mutable std::mutex FLock;  // guards FOpen and FFailing
    std::vector<TOpen> FOpen;  // one per channel number
    bool FFailing = false;     // the last call failed and was reported
};

/// Wall ms since 1970 UTC of a local date-time (days since 1899-12-30).
std::int64_t LocalDateTimeToUtcMs(tracking::TDateTime value);

}  // namespace orvane::playlog
