// The play log in an SQLite file (WAL journal, one committed transaction per call), and the
// queries of the play report.
// Thread: any; one connection guarded by one lock.
//
// Schema (PRAGMA user_version 1); times are UTC ISO 8601 texts with milliseconds,
// "2026-12-10T05:49:14.123Z":
//   plays(id INTEGER PRIMARY KEY, stream TEXT NOT NULL, title TEXT NOT NULL, file TEXT,
//         started_at TEXT NOT NULL, ended_at TEXT, duration_s REAL, clip_begin_s REAL,
//         clip_end_s REAL, stream_title TEXT,
//         last_seen_at TEXT, last_seen_clip_end_s REAL, writer INTEGER)
//   outages(id INTEGER PRIMARY KEY, stream TEXT NOT NULL, started_at TEXT NOT NULL,
//           ended_at TEXT, reason TEXT, writer INTEGER)
//   writers(id INTEGER PRIMARY KEY, pid INTEGER, started_at TEXT)
// A play or outage with ended_at NULL is open. Every writer holds a lock on the byte at its id
// in the file "<log>-writers" for as long as it lives, so several processes can write one log;
// opening for writing closes what writers that died left open: a play at the time it was last
// seen (dropped when it was never seen long enough to be logged), an outage at the time of the
// opening (the stream was not heard until then).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "playlog/PlayLog.h"

namespace orvane::playlog {

/// One row of plays, as the report reads it. Times in ms since 1970 UTC.
struct TPlayRow {
    std::int64_t Id = 0;
    std::string Stream, Title, File, StreamTitle;
    std::int64_t StartedAtMs = 0;
    std::optional<std::int64_t> EndedAtMs;  ///< empty while the play is open
    double DurationS = 0, ClipBeginS = 0, ClipEndS = 0;
};

/// Which plays the report reads: of one stream (empty: all), starting in [FromMs, ToMs).
struct TPlayQuery {
    std::string Stream;
    std::optional<std::int64_t> FromMs, ToMs;
};

/// Plays and airtime of one title on one stream.
struct TPlaySummary {
    std::string Stream, Title;
    std::int64_t Plays = 0;
    double AirtimeS = 0;
};

/// One row of outages. Times in ms since 1970 UTC.
struct TOutageRow {
    std::int64_t Id = 0;
    std::string Stream, Reason;
    std::int64_t StartedAtMs = 0;
    std::optional<std::int64_t> EndedAtMs;  ///< empty while the outage lasts
};

class TSqlitePlayLog final : public IPlayLog {
public:
    static constexpr int SchemaVersion = 1;
    enum class TOpenMode { omWrite, omRead };

    /// omWrite creates the file (and its folder) when missing, brings its schema up to date and
    /// closes what dead writers left open; omRead only reads an existing log. Throws EError with
    /// SQLite's text (or "No play log at PATH" when reading a missing file).
    TSqlitePlayLog(const std::string& path, TOpenMode mode);
    /// A writer closes its own open plays and outages as a dead writer's would be closed.
    ~TSqlitePlayLog() override;
    TSqlitePlayLog(const TSqlitePlayLog&) = delete;
    TSqlitePlayLog& operator=(const TSqlitePlayLog&) = delete;

    std::int64_t BeginPlay(const TPlayStart& start) override;
    void SeenPlay(std::int64_t id, std::int64_t lastSeenMs, double clipEndS) override;
    void EndPlay(std::int64_t id, const TPlayEnd& end) override;
    void DiscardPlay(std::int64_t id) override;
    std::int64_t BeginOutage(const std::string& stream, std::int64_t startedAtMs,
                             const std::string& reason) override;
    void EndOutage(std::int64_t id, std::int64_t endedAtMs) override;

    /// The plays of the query in order of their start. Throws EError.
    std::vector<TPlayRow> Plays(const TPlayQuery& query) const;
    /// Per stream and title (in that order) the completed plays of the query and their airtime.
    /// Throws EError.
    std::vector<TPlaySummary> Summary(const TPlayQuery& query) const;
    /// The outages of the query in order of their start. Throws EError.
    std::vector<TOutageRow> Outages(const TPlayQuery& query) const;
    /// Plays that opening closed or dropped because their writer had died.
    std::int64_t RecoveredPlays() const;
    const std::string& Path() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> F;
};

/// Opens the play log at `path` for writing (TOpenMode::omWrite). Throws EError.
std::unique_ptr<TSqlitePlayLog> OpenSqlitePlayLog(const std::string& path);

/// $XDG_DATA_HOME/orvane3/plays.sqlite, or ~/.local/share/orvane3/plays.sqlite.
std::string DefaultPlayLogPath();

}  // namespace orvane::playlog
