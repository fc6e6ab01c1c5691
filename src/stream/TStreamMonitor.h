// Watches many streams at once: every stream has a worker thread of its own that opens its
// source, feeds its channel in real time and reopens it with backoff when it fails, and a song
// tracker of its own whose clips become log lines (and plays of the play log); recognition
// threads ("lanes") share the one read-only key index, each serving a fixed share of the
// channels. One stream's trouble never holds up another: a worker blocks only on its own
// source, a lane only computes.
// Thread: constructed, started and stopped on one thread (the monitor's owner); the callbacks
// run on workers and recognition threads, one at a time (the monitor serialises them).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "recognition/QnChServer.h"
#include "stream/IStreamSource.h"
#include "stream/StreamList.h"
#include "tracking/TLogSystem.h"
#include "tracking/TPosting.h"

namespace orvane::database {
class TMediumDB;
class TSongList;
}  // namespace orvane::database
namespace orvane::playlog {
class IPlayLog;
}

namespace orvane::stream {

/// One clip heard on a stream, when it has ended.
struct TMonitorClip {
    std::string Stream;
    /// The log line "NAME: title [begin - end] (duration)" with its parts; FirstHeard and
    /// LastHeard are UTC stamps (UtcTime.h).
    tracking::TLoggedClip Logged;
    std::int64_t StartedAtMs = 0;  ///< UTC ms when the first recognised audio arrived
    std::int64_t EndedAtMs = 0;    ///< UTC ms when the clip was last heard
    std::string StreamTitle;       ///< what the station said it played when the clip began
};

enum class TNoticeKind : std::uint8_t { nkInfo, nkWarning, nkError };

struct TMonitorOptions {
    recognition::TRecognitionOptions Recognition;
    /// Recognition threads (at least 1; never more than there are streams).
    int Threads = 1;
    /// Local files as fast as the engine goes instead of in real time.
    bool Fast = false;
    /// The trackers' idle timeout in seconds.
    int IdleTimeout = 5;
    /// Reopening: the first wait and the longest, in milliseconds; doubled after each failure.
    int FirstBackoffMs = 1000;
    int MaxBackoffMs = 60000;
};

/// Makes the play-log observer of one stream's tracker: `stream` is the name, `streamTitle`
/// returns the current ICY title. May return null.
using TRecorderFactory = std::function<std::unique_ptr<tracking::IClipObserver>(
    const std::string& stream, std::function<std::string()> streamTitle)>;

class TMonitoredStream;

class TStreamMonitor {
public:
    /// `songs` and `index` (sorted) must outlive the monitor and stay unchanged while it runs;
    /// `playLog` (may be null, not owned) receives the outages, `makeRecorder` (may be empty)
    /// the plays. Throws EInvalidOperation for an empty stream list.
    TStreamMonitor(const database::TSongList& songs, const database::TMediumDB& index,
                   std::vector<TStreamEntry> streams, TMonitorOptions options,
                   TSourceFactory makeSource, playlog::IPlayLog* playLog = nullptr,
                   TRecorderFactory makeRecorder = {});
    /// Stop().
    ~TStreamMonitor();
    TStreamMonitor(const TStreamMonitor&) = delete;
    TStreamMonitor& operator=(const TStreamMonitor&) = delete;

    /// Starts the recognition threads and one worker per stream. Once.
    void Start();
    /// Stops the workers, then recognition, then logs every clip still playing and closes
    /// open outages. Later calls do nothing.
    void Stop();
    /// Whether every stream is a local file played to its end (the monitor has nothing left
    /// to do). Thread safe.
    bool AllFilesEnded() const;
    /// With Fast: the local files that could not be played (they are not retried). Thread safe.
    int FailedFiles() const;

    /// A clip has ended (set before Start). Serialised.
    std::function<void(const TMonitorClip& clip)> OnClip;
    /// Something to tell the user about a stream ("connected", why it failed). Serialised.
    std::function<void(const std::string& stream, TNoticeKind kind, const std::string& text)>
        OnNotice;

    /// The streams, in the order given. Names are unique.
    const std::vector<TStreamEntry>& Streams() const { return FEntries; }
    /// Recognition threads in use.
    int LaneCount() const { return static_cast<int>(FLanes.size()); }
    /// Blocks analysed so far over all streams. Thread safe.
    std::int64_t BlocksAnalysed() const { return FBlocksAnalysed.load(); }

private:
    friend class TMonitoredStream;
    struct TLane;
    class TPoster;

    void EmitClip(const TMonitorClip& clip);
    void EmitNotice(const std::string& stream, TNoticeKind kind, const std::string& text);

    const database::TSongList& FSongs;
    const database::TMediumDB& FIndex;
    std::vector<TStreamEntry> FEntries;
    TMonitorOptions FOptions;
    TSourceFactory FMakeSource;
    playlog::IPlayLog* FPlayLog;
    TRecorderFactory FMakeRecorder;
    std::mutex FOutputLock;  // serialises OnClip and OnNotice
    std::unique_ptr<TPoster> FPoster;
    std::vector<std::unique_ptr<tracking::TPosting>> FLanePostings;
    std::vector<std::unique_ptr<TLane>> FLanes;
    std::vector<std::unique_ptr<TMonitoredStream>> FStreams;
    std::atomic<std::int64_t> FBlocksAnalysed{0};
    bool FStarted = false;
    bool FStopped = false;
};

}  // namespace orvane::stream
