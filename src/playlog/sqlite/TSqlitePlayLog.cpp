#include "playlog/sqlite/TSqlitePlayLog.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sqlite3.h>
#include <system_error>
#include <unistd.h>
#include <utility>

#include "base/Errors.h"
#include "playlog/PlayTime.h"

namespace orvane::playlog {

namespace {

struct TDbClose {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct TStmtFinalize {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using TDb = std::unique_ptr<sqlite3, TDbClose>;
using TStmt = std::unique_ptr<sqlite3_stmt, TStmtFinalize>;

/// A file descriptor closed with its owner.
class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() {
        if (FFd >= 0) ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    TFd(TFd&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
    TFd& operator=(TFd&& other) noexcept {
        std::swap(FFd, other.FFd);
        return *this;
    }
    int Get() const { return FFd; }

private:
    int FFd = -1;
};

constexpr const char* Schema1 = R"sql(
CREATE TABLE plays(
    id INTEGER PRIMARY KEY,
    stream TEXT NOT NULL,
    title TEXT NOT NULL,
    file TEXT,
    started_at TEXT NOT NULL,
    ended_at TEXT,
    duration_s REAL,
    clip_begin_s REAL,
    clip_end_s REAL,
    stream_title TEXT,
    last_seen_at TEXT,
    last_seen_clip_end_s REAL,
    writer INTEGER);
CREATE INDEX plays_started_at ON plays(started_at);
CREATE INDEX plays_stream_started_at ON plays(stream, started_at);
CREATE INDEX plays_open ON plays(writer) WHERE ended_at IS NULL;
CREATE TABLE outages(
    id INTEGER PRIMARY KEY,
    stream TEXT NOT NULL,
    started_at TEXT NOT NULL,
    ended_at TEXT,
    reason TEXT,
    writer INTEGER);
CREATE INDEX outages_started_at ON outages(started_at);
CREATE TABLE writers(
    id INTEGER PRIMARY KEY,
    pid INTEGER,
    started_at TEXT);
PRAGMA user_version = 1;
)sql";

// Closes what writers that are no longer registered left open.
constexpr const char* CloseOrphans = R"sql(
DELETE FROM plays WHERE ended_at IS NULL AND last_seen_clip_end_s IS NULL
    AND (writer IS NULL OR writer NOT IN (SELECT id FROM writers));
UPDATE plays SET ended_at = last_seen_at, clip_end_s = last_seen_clip_end_s,
    duration_s = last_seen_clip_end_s - clip_begin_s
    WHERE ended_at IS NULL AND (writer IS NULL OR writer NOT IN (SELECT id FROM writers));
UPDATE outages SET ended_at = :now
    WHERE ended_at IS NULL AND (writer IS NULL OR writer NOT IN (SELECT id FROM writers));
)sql";

std::optional<std::int64_t> TimeColumn(sqlite3_stmt* stmt, int column) {
    if (sqlite3_column_type(stmt, column) == SQLITE_NULL) return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return ParseUserTime(text ? text : "");
}

std::string TextColumn(sqlite3_stmt* stmt, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return text ? text : "";
}

}  // namespace

struct TSqlitePlayLog::TImpl {
    std::string Path;
    bool Writer = false;
    mutable std::mutex Lock;  // guards the connection and its statements
    TDb Db;
    TFd WritersFile;
    std::int64_t WriterId = 0;
    std::int64_t Recovered = 0;
    TStmt BeginPlay, SeenPlay, EndPlay, DiscardPlay, BeginOutage, EndOutage;

    [[noreturn]] void Fail(const std::string& what) const {
        throw EError("Play log \"" + Path + "\": " + what + ": " +
                     (Db ? sqlite3_errmsg(Db.get()) : "out of memory"));
    }
    void Check(int rc, const std::string& what) const {
        if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) Fail(what);
    }
    void Exec(const char* sql, const std::string& what) const {
        Check(sqlite3_exec(Db.get(), sql, nullptr, nullptr, nullptr), what);
    }
    TStmt Prepare(const char* sql) const {
        sqlite3_stmt* stmt = nullptr;
        Check(sqlite3_prepare_v3(Db.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr),
              "cannot prepare a statement");
        return TStmt(stmt);
    }
    void BindText(sqlite3_stmt* stmt, int index, const std::string& text) const {
        Check(sqlite3_bind_text(stmt, index, text.c_str(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT),
              "cannot bind a value");
    }
    void BindTime(sqlite3_stmt* stmt, int index, std::int64_t ms) const {
        BindText(stmt, index, UtcIsoText(ms));
    }
    void BindQuery(sqlite3_stmt* stmt, const TPlayQuery& query) const {
        BindText(stmt, 1, query.Stream);
        if (query.FromMs) BindTime(stmt, 2, *query.FromMs);
        if (query.ToMs) BindTime(stmt, 3, *query.ToMs);
    }
    /// Runs a statement that returns no rows, then makes it ready for the next call.
    void Run(sqlite3_stmt* stmt, const std::string& what) const {
        const int rc = sqlite3_step(stmt);
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        if (rc != SQLITE_DONE) Fail(what);
    }
    /// Runs one script with :now bound to the current time.
    void RunScript(const char* sql, const std::string& what) const {
        const std::string now = UtcIsoText(UtcNowMs());
        const char* rest = sql;
        while (rest && *rest) {
            sqlite3_stmt* raw = nullptr;
            Check(sqlite3_prepare_v2(Db.get(), rest, -1, &raw, &rest), what);
            TStmt stmt(raw);
            if (!stmt) continue;  // blank text at the end
            const int nowIndex = sqlite3_bind_parameter_index(raw, ":now");
            if (nowIndex > 0) BindText(raw, nowIndex, now);
            if (sqlite3_step(raw) != SQLITE_DONE) Fail(what);
        }
    }
    std::int64_t ScalarInt(const char* sql) const {
        TStmt stmt = Prepare(sql);
        const int rc = sqlite3_step(stmt.get());
        if (rc != SQLITE_ROW) Fail("cannot read the log");
        return sqlite3_column_int64(stmt.get(), 0);
    }

    /// Whether the writer `id` still holds its lock.
    bool WriterAlive(std::int64_t id) const {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = static_cast<off_t>(id);
        lock.l_len = 1;
        if (::fcntl(WritersFile.Get(), F_OFD_GETLK, &lock) != 0) return true;  // cannot tell
        return lock.l_type != F_UNLCK;
    }

    void OpenWriter();
    void Register();
};

void TSqlitePlayLog::TImpl::OpenWriter() {
    const std::string lockPath = Path + "-writers";
    WritersFile = TFd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (WritersFile.Get() < 0) {
        throw EFileError(
            "Play log \"" + Path + "\": cannot open \"" + lockPath + "\": " + std::strerror(errno),
            errno);
    }
    Exec("PRAGMA journal_mode = WAL", "cannot switch to the WAL journal");
    // Every commit reaches the disk before the call returns: a finished play survives a crash
    // of the machine, not only of the process.
    Exec("PRAGMA synchronous = FULL", "cannot set the synchronous mode");

    // One writer at a time migrates, recovers and registers.
    Exec("BEGIN IMMEDIATE", "cannot lock the log");
    try {
        const std::int64_t version = ScalarInt("PRAGMA user_version");
        if (version > SchemaVersion) {
            throw EError("Play log \"" + Path + "\" has schema version " + std::to_string(version) +
                         ", newer than this program's " + std::to_string(SchemaVersion));
        }
        if (version < 1) Exec(Schema1, "cannot create the tables");

        std::vector<std::int64_t> dead;
        {
            TStmt writers = Prepare("SELECT id FROM writers");
            int rc = 0;
            while ((rc = sqlite3_step(writers.get())) == SQLITE_ROW) {
                const std::int64_t id = sqlite3_column_int64(writers.get(), 0);
                if (!WriterAlive(id)) dead.push_back(id);
            }
            if (rc != SQLITE_DONE) Fail("cannot read the writers");
        }
        {
            TStmt remove = Prepare("DELETE FROM writers WHERE id = ?1");
            for (const std::int64_t id : dead) {
                sqlite3_bind_int64(remove.get(), 1, id);
                Run(remove.get(), "cannot remove a dead writer");
            }
        }
        const std::int64_t before = ScalarInt("SELECT count(*) FROM plays WHERE ended_at IS NULL");
        RunScript(CloseOrphans, "cannot close the plays left open");
        Recovered = before - ScalarInt("SELECT count(*) FROM plays WHERE ended_at IS NULL");
        Register();
        Exec("COMMIT", "cannot commit");
    } catch (...) {
        sqlite3_exec(Db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void TSqlitePlayLog::TImpl::Register() {
    TStmt insert = Prepare("INSERT INTO writers(pid, started_at) VALUES(?1, ?2)");
    sqlite3_bind_int64(insert.get(), 1, ::getpid());
    BindTime(insert.get(), 2, UtcNowMs());
    Run(insert.get(), "cannot register the writer");
    WriterId = sqlite3_last_insert_rowid(Db.get());
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(WriterId);
    lock.l_len = 1;
    if (::fcntl(WritersFile.Get(), F_OFD_SETLK, &lock) != 0) {
        throw EFileError(
            "Play log \"" + Path + "\": cannot lock the writer: " + std::strerror(errno), errno);
    }
}

TSqlitePlayLog::TSqlitePlayLog(const std::string& path, TOpenMode mode)
    : F(std::make_unique<TImpl>()) {
    F->Path = path;
    F->Writer = mode == TOpenMode::omWrite;
    int flags = SQLITE_OPEN_FULLMUTEX;
    if (F->Writer) {
        const std::filesystem::path parent = std::filesystem::path(path).parent_path();
        std::error_code error;
        if (!parent.empty()) std::filesystem::create_directories(parent, error);
        if (error) {
            throw EFileError(
                "Play log \"" + path + "\": cannot create its folder: " + error.message(),
                error.value());
        }
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    } else {
        std::error_code error;
        if (!std::filesystem::exists(path, error)) throw EError("No play log at " + path);
        flags |= SQLITE_OPEN_READONLY;
    }
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    F->Db.reset(raw);
    F->Check(rc, "cannot open");
    sqlite3_extended_result_codes(raw, 1);
    F->Check(sqlite3_busy_timeout(raw, 10000), "cannot set the busy timeout");

    if (F->Writer) {
        F->OpenWriter();
        F->BeginPlay = F->Prepare(
            "INSERT INTO plays(stream, title, file, started_at, clip_begin_s, stream_title, "
            "last_seen_at, writer) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?4, ?7)");
        F->SeenPlay = F->Prepare(
            "UPDATE plays SET last_seen_at = ?2, last_seen_clip_end_s = ?3 "
            "WHERE id = ?1 AND ended_at IS NULL");
        F->EndPlay = F->Prepare(
            "UPDATE plays SET ended_at = ?2, duration_s = ?3, clip_begin_s = ?4, clip_end_s = ?5, "
            "last_seen_at = ?2, last_seen_clip_end_s = ?5 WHERE id = ?1");
        F->DiscardPlay = F->Prepare("DELETE FROM plays WHERE id = ?1");
        F->BeginOutage = F->Prepare(
            "INSERT INTO outages(stream, started_at, reason, writer) VALUES(?1, ?2, ?3, ?4)");
        F->EndOutage = F->Prepare("UPDATE outages SET ended_at = ?2 WHERE id = ?1");
    } else {
        const std::int64_t version = F->ScalarInt("PRAGMA user_version");
        if (version != SchemaVersion) {
            throw EError("Play log \"" + path + "\" has schema version " + std::to_string(version) +
                         ", this program reads " + std::to_string(SchemaVersion));
        }
    }
}

TSqlitePlayLog::~TSqlitePlayLog() {
    if (!F->Writer || F->WriterId == 0) return;
    std::lock_guard lock(F->Lock);
    // The statements must go before the connection; what fails here is closed by the next
    // writer, since the lock on our byte goes with the file.
    try {
        F->Exec("BEGIN IMMEDIATE", "cannot lock the log");
        TStmt remove = F->Prepare("DELETE FROM writers WHERE id = ?1");
        sqlite3_bind_int64(remove.get(), 1, F->WriterId);
        F->Run(remove.get(), "cannot unregister the writer");
        F->RunScript(CloseOrphans, "cannot close the plays left open");
        F->Exec("COMMIT", "cannot commit");
    } catch (const std::exception&) {
        sqlite3_exec(F->Db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

std::int64_t TSqlitePlayLog::BeginPlay(const TPlayStart& start) {
    std::lock_guard lock(F->Lock);
    if (!F->Writer) throw EInvalidOperation("Play log \"" + F->Path + "\" is open for reading");
    sqlite3_stmt* s = F->BeginPlay.get();
    F->BindText(s, 1, start.Stream);
    F->BindText(s, 2, start.Title);
    if (!start.File.empty()) F->BindText(s, 3, start.File);
    F->BindTime(s, 4, start.StartedAtMs);
    sqlite3_bind_double(s, 5, start.ClipBeginS);
    if (!start.StreamTitle.empty()) F->BindText(s, 6, start.StreamTitle);
    sqlite3_bind_int64(s, 7, F->WriterId);
    F->Run(s, "cannot insert a play");
    return sqlite3_last_insert_rowid(F->Db.get());
}

void TSqlitePlayLog::SeenPlay(std::int64_t id, std::int64_t lastSeenMs, double clipEndS) {
    std::lock_guard lock(F->Lock);
    if (!F->Writer) throw EInvalidOperation("Play log \"" + F->Path + "\" is open for reading");
    sqlite3_stmt* s = F->SeenPlay.get();
    sqlite3_bind_int64(s, 1, id);
    F->BindTime(s, 2, lastSeenMs);
    sqlite3_bind_double(s, 3, clipEndS);
    F->Run(s, "cannot update a play");
}

void TSqlitePlayLog::EndPlay(std::int64_t id, const TPlayEnd& end) {
    std::lock_guard lock(F->Lock);
    if (!F->Writer) throw EInvalidOperation("Play log \"" + F->Path + "\" is open for reading");
    sqlite3_stmt* s = F->EndPlay.get();
    sqlite3_bind_int64(s, 1, id);
    F->BindTime(s, 2, end.EndedAtMs);
    sqlite3_bind_double(s, 3, end.DurationS);
    sqlite3_bind_double(s, 4, end.ClipBeginS);
    sqlite3_bind_double(s, 5, end.ClipEndS);
    F->Run(s, "cannot complete a play");
}

void TSqlitePlayLog::DiscardPlay(std::int64_t id) {
    std::lock_guard lock(F->Lock);
    if (!F->Writer) throw EInvalidOperation("Play log \"" + F->Path + "\" is open for reading");
    sqlite3_stmt* s = F->DiscardPlay.get();
    sqlite3_bind_int64(s, 1, id);
    F->Run(s, "cannot remove a play");
}

std::int64_t TSqlitePlayLog::BeginOutage(const std::string& stream, std::int64_t startedAtMs,
                                         const std::string& reason) {
    std::lock_guard lock(F->Lock);
    if (!F->Writer) throw EInvalidOperation("Play log \"" + F->Path + "\" is open for reading");
    sqlite3_stmt* s = F->BeginOutage.get();
    F->BindText(s, 1, stream);
    F->BindTime(s, 2, startedAtMs);
    F->BindText(s, 3, reason);
    sqlite3_bind_int64(s, 4, F->WriterId);
    F->Run(s, "cannot insert an outage");
    return sqlite3_last_insert_rowid(F->Db.get());
}

void TSqlitePlayLog::EndOutage(std::int64_t id, std::int64_t endedAtMs) {
    std::lock_guard lock(F->Lock);
    if (!F->Writer) throw EInvalidOperation("Play log \"" + F->Path + "\" is open for reading");
    sqlite3_stmt* s = F->EndOutage.get();
    sqlite3_bind_int64(s, 1, id);
    F->BindTime(s, 2, endedAtMs);
    F->Run(s, "cannot complete an outage");
}

namespace {
constexpr const char* QueryFilter =
    " (?1 = '' OR stream = ?1) AND (?2 IS NULL OR started_at >= ?2) AND"
    " (?3 IS NULL OR started_at < ?3)";
}

std::vector<TPlayRow> TSqlitePlayLog::Plays(const TPlayQuery& query) const {
    std::lock_guard lock(F->Lock);
    const std::string sql =
        std::string(
            "SELECT id, stream, title, file, stream_title, started_at, ended_at, "
            "duration_s, clip_begin_s, clip_end_s FROM plays WHERE") +
        QueryFilter + " ORDER BY started_at, id";
    TStmt stmt = F->Prepare(sql.c_str());
    F->BindQuery(stmt.get(), query);
    std::vector<TPlayRow> rows;
    int rc = 0;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        sqlite3_stmt* s = stmt.get();
        TPlayRow row;
        row.Id = sqlite3_column_int64(s, 0);
        row.Stream = TextColumn(s, 1);
        row.Title = TextColumn(s, 2);
        row.File = TextColumn(s, 3);
        row.StreamTitle = TextColumn(s, 4);
        row.StartedAtMs = TimeColumn(s, 5).value_or(0);
        row.EndedAtMs = TimeColumn(s, 6);
        row.DurationS = sqlite3_column_double(s, 7);
        row.ClipBeginS = sqlite3_column_double(s, 8);
        row.ClipEndS = sqlite3_column_double(s, 9);
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) F->Fail("cannot read the plays");
    return rows;
}

std::vector<TPlaySummary> TSqlitePlayLog::Summary(const TPlayQuery& query) const {
    std::lock_guard lock(F->Lock);
    const std::string sql =
        std::string(
            "SELECT stream, title, count(*), total(duration_s) FROM plays WHERE "
            "ended_at IS NOT NULL AND") +
        QueryFilter + " GROUP BY stream, title ORDER BY stream, title";
    TStmt stmt = F->Prepare(sql.c_str());
    F->BindQuery(stmt.get(), query);
    std::vector<TPlaySummary> rows;
    int rc = 0;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        TPlaySummary row;
        row.Stream = TextColumn(stmt.get(), 0);
        row.Title = TextColumn(stmt.get(), 1);
        row.Plays = sqlite3_column_int64(stmt.get(), 2);
        row.AirtimeS = sqlite3_column_double(stmt.get(), 3);
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) F->Fail("cannot read the plays");
    return rows;
}

std::vector<TOutageRow> TSqlitePlayLog::Outages(const TPlayQuery& query) const {
    std::lock_guard lock(F->Lock);
    const std::string sql =
        std::string("SELECT id, stream, reason, started_at, ended_at FROM outages WHERE") +
        QueryFilter + " ORDER BY started_at, id";
    TStmt stmt = F->Prepare(sql.c_str());
    F->BindQuery(stmt.get(), query);
    std::vector<TOutageRow> rows;
    int rc = 0;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        TOutageRow row;
        row.Id = sqlite3_column_int64(stmt.get(), 0);
        row.Stream = TextColumn(stmt.get(), 1);
        row.Reason = TextColumn(stmt.get(), 2);
        row.StartedAtMs = TimeColumn(stmt.get(), 3).value_or(0);
        row.EndedAtMs = TimeColumn(stmt.get(), 4);
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) F->Fail("cannot read the outages");
    return rows;
}

std::int64_t TSqlitePlayLog::RecoveredPlays() const { return F->Recovered; }

const std::string& TSqlitePlayLog::Path() const { return F->Path; }

std::unique_ptr<TSqlitePlayLog> OpenSqlitePlayLog(const std::string& path) {
    return std::make_unique<TSqlitePlayLog>(path, TSqlitePlayLog::TOpenMode::omWrite);
}

std::string DefaultPlayLogPath() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::filesystem::path base;
    if (data && *data == '/') {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home && *home ? home : ".") / ".local" / "share";
    }
    return (base / "orvane3" / "plays.sqlite").string();
}

}  // namespace orvane::playlog
