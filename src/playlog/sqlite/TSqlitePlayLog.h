// The play log in an SQLite file (WAL journal, one committed transaction per call), and the
// queries of the play report.
// Thread: any; one connection guarded by one lock.
//
// Schema (PRAGMA user_version 1); times are UTC ISO 8601 texts with milliseconds,
// "2026-12-10T05:49:14.123Z":
//   plays(id INTEGER PRIMARY KEY, stream TEXT NOT NULL, title TEXT NOT NULL, file TEXT,
//         started_at TEXT NOT NULL, ended_at TEXT, duration_s REAL, clip_begin_s REAL,
//         clip_end_s REAL, stream_title TEXT, last_seen_at TEXT, last_seen_pos_s REAL)
//   outages(id INTEGER PRIMARY KEY, stream TEXT NOT NULL, started_at TEXT NOT NULL,
//           ended_at TEXT, reason TEXT)
// A play with ended_at NULL is open; opening the file closes the plays and outages that a
// crashed writer left open, at the time they were last seen.
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

class TSqlitePlayLog;

/// Opens (creating it and its folder when missing) the play log at `path`, and closes the plays
/// and outages left open by a writer that died. Throws EError with SQLite's text.
std::unique_ptr<TSqlitePlayLog> OpenSqlitePlayLog(const std::string& path);

/// $XDG_DATA_HOME/orvane3/plays.sqlite, or ~/.local/share/orvane3/plays.sqlite.
std::string DefaultPlayLogPath();

}  // namespace orvane::playlog
