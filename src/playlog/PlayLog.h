// The durable play log: one row per heard clip of a stream, and one per outage of a stream.
// Thread: any; implementations serialise their calls. Every call is committed on return, so a
// crash or a kill of the process loses nothing that a call has recorded.
#pragma once

#include <cstdint>
#include <string>

namespace orvane::playlog {

/// A play as it is known when its clip is first recognised.
struct TPlayStart {
    std::string Stream;  ///< the stream's name in the log (a monitor's NAME, a channel caption)
    std::string Title;   ///< the clip's title
    std::string File;    ///< the fingerprint file of the clip; empty when unknown
    std::string StreamTitle;  ///< what the station said it played (ICY StreamTitle); may be empty
    std::int64_t StartedAtMs =
        0;                  ///< wall time the first recognised audio arrived, ms since 1970 UTC
    double ClipBeginS = 0;  ///< where the heard part begins in the clip, seconds (log-line rules)
};

/// A play as it is known when its clip has ended.
struct TPlayEnd {
    std::int64_t EndedAtMs = 0;  ///< wall time the clip was last seen, ms since 1970 UTC
    double DurationS = 0;        ///< ClipEndS - ClipBeginS, seconds
    double ClipBeginS = 0;       ///< seconds into the clip, as in the log line
    double ClipEndS = 0;         ///< seconds into the clip, as in the log line
};

class IPlayLog {
public:
    virtual ~IPlayLog() = default;
    /// Inserts an open play; returns its id. Throws EError when the log cannot be written.
    virtual std::int64_t BeginPlay(const TPlayStart& start) = 0;
    /// Keeps the time the open play was last seen (wall ms since 1970 UTC) and the clip end it
    /// would have if it ended then (seconds, log-line rules), so that a play left open by a crash
    /// can be closed later. Called every few seconds once the play is long enough to be logged.
    /// Throws EError.
    virtual void SeenPlay(std::int64_t id, std::int64_t lastSeenMs, double clipEndS) = 0;
    /// Completes the play. Throws EError.
    virtual void EndPlay(std::int64_t id, const TPlayEnd& end) = 0;
    /// Removes an open play whose clip was heard too briefly to be logged. Throws EError.
    virtual void DiscardPlay(std::int64_t id) = 0;
    /// Inserts an open outage (the stream could not be heard); returns its id. Throws EError.
    virtual std::int64_t BeginOutage(const std::string& stream, std::int64_t startedAtMs,
                                     const std::string& reason) = 0;
    /// Completes the outage (wall ms since 1970 UTC). Throws EError.
    virtual void EndOutage(std::int64_t id, std::int64_t endedAtMs) = 0;
};

}  // namespace orvane::playlog
