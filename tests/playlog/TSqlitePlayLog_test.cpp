#include "playlog/sqlite/TSqlitePlayLog.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "base/Errors.h"
#include "playlog/PlayTime.h"
#include "support/TempDir.h"

extern char** environ;

namespace orvane::playlog {
namespace {

constexpr std::int64_t Base = 1796878800000;  // 2026-12-10T05:00:00.000Z

/// Rows of a query through a connection of its own, each row's columns joined by "|".
std::vector<std::string> Rows(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::vector<std::string> rows;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db);
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
    } else {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::string row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                if (i) row += "|";
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
                row += text ? text : "NULL";
            }
            rows.push_back(row);
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

TPlayStart Start(const std::string& stream, const std::string& title, std::int64_t atMs,
                 double beginS) {
    TPlayStart start;
    start.Stream = stream;
    start.Title = title;
    start.File = "/fp/" + title + ".qnf";
    start.StreamTitle = "Now: " + title;
    start.StartedAtMs = atMs;
    start.ClipBeginS = beginS;
    return start;
}

TPlayEnd End(std::int64_t atMs, double beginS, double endS) {
    return TPlayEnd{atMs, endS - beginS, beginS, endS};
}

TEST(TSqlitePlayLog, CreatesItsTablesInWalModeWithASchemaVersion) {
    test::TTempDir dir;
    const std::string path = dir.File("data/orvane3/plays.sqlite");  // the folders are made
    { OpenSqlitePlayLog(path); }
    EXPECT_EQ(Rows(path, "PRAGMA journal_mode"), std::vector<std::string>{"wal"});
    EXPECT_EQ(Rows(path, "PRAGMA user_version"), std::vector<std::string>{"1"});
    const auto columns = [&](const char* table) {
        std::set<std::string> names;
        for (const auto& row : Rows(path, std::string("SELECT name, type, \"notnull\", pk FROM "
                                                      "pragma_table_info('") +
                                              table + "')")) {
            names.insert(row);
        }
        return names;
    };
    const std::set<std::string> plays = columns("plays");
    for (const char* column :
         {"id|INTEGER|0|1", "stream|TEXT|1|0", "title|TEXT|1|0", "file|TEXT|0|0",
          "started_at|TEXT|1|0", "ended_at|TEXT|0|0", "duration_s|REAL|0|0",
          "clip_begin_s|REAL|0|0", "clip_end_s|REAL|0|0", "stream_title|TEXT|0|0",
          "last_seen_at|TEXT|0|0"}) {
        EXPECT_EQ(plays.count(column), 1u) << column;
    }
    const std::set<std::string> outages = columns("outages");
    for (const char* column :
         {"stream|TEXT|1|0", "started_at|TEXT|1|0", "ended_at|TEXT|0|0", "reason|TEXT|0|0"}) {
        EXPECT_EQ(outages.count(column), 1u) << column;
    }
}

TEST(TSqlitePlayLog, CommitsEveryCallWithUtcTimesToTheMillisecond) {
    test::TTempDir dir;
    const std::string path = dir.File("plays.sqlite");
    auto log = OpenSqlitePlayLog(path);
    const std::int64_t id = log->BeginPlay(Start("Radio One", "Alpha", Base + 14123, 28));
    // Another connection sees each step while the writer still runs.
    EXPECT_EQ(Rows(path,
                   "SELECT stream, title, file, started_at, ended_at, clip_begin_s, "
                   "stream_title, last_seen_at FROM plays"),
              std::vector<std::string>{"Radio One|Alpha|/fp/Alpha.qnf|2026-12-10T05:00:14.123Z|"
                                       "NULL|28.0|Now: Alpha|2026-12-10T05:00:14.123Z"});
    log->SeenPlay(id, Base + 17001, 32);
    EXPECT_EQ(Rows(path, "SELECT last_seen_at, ended_at FROM plays"),
              std::vector<std::string>{"2026-12-10T05:00:17.001Z|NULL"});
    log->EndPlay(id, End(Base + 20999, 28, 35));
    EXPECT_EQ(Rows(path, "SELECT ended_at, duration_s, clip_begin_s, clip_end_s FROM plays"),
              std::vector<std::string>{"2026-12-10T05:00:20.999Z|7.0|28.0|35.0"});

    const std::int64_t outage = log->BeginOutage("Radio One", Base + 30000, "no audio for 10 s");
    EXPECT_EQ(
        Rows(path, "SELECT stream, started_at, ended_at, reason FROM outages"),
        std::vector<std::string>{"Radio One|2026-12-10T05:00:30.000Z|NULL|no audio for 10 s"});
    log->EndOutage(outage, Base + 45500);
    EXPECT_EQ(Rows(path, "SELECT ended_at FROM outages"),
              std::vector<std::string>{"2026-12-10T05:00:45.500Z"});

    const std::int64_t brief = log->BeginPlay(Start("Radio One", "Blip", Base + 50000, 3));
    log->DiscardPlay(brief);
    EXPECT_EQ(Rows(path, "SELECT count(*) FROM plays"), std::vector<std::string>{"1"});
}

TEST(TSqlitePlayLog, ReportsPlaysByStreamAndTimeAndSumsTheirAirtime) {
    test::TTempDir dir;
    const std::string path = dir.File("plays.sqlite");
    {
        auto log = OpenSqlitePlayLog(path);
        const struct {
            const char* Stream;
            const char* Title;
            std::int64_t AtS;
            double Begin, End;
        } plays[] = {
            {"One", "Alpha", 0, 0, 180},  {"Two", "Alpha", 10, 5, 65},
            {"One", "Beta", 200, 0, 90},  {"One", "Alpha", 400, 10, 100},
            {"Two", "Gamma", 500, 0, 30},
        };
        for (const auto& p : plays) {
            const auto id = log->BeginPlay(Start(p.Stream, p.Title, Base + p.AtS * 1000, p.Begin));
            log->EndPlay(id, End(Base + p.AtS * 1000 + 1000, p.Begin, p.End));
        }
        log->BeginPlay(Start("One", "Open", Base + 600000, 0));
        log->SeenPlay(log->BeginPlay(Start("One", "Open", Base + 600000, 0)), Base + 610000, 10);
        // Still open when the report reads: listed, not summed.
        const auto rows = log->Plays({});
        ASSERT_EQ(rows.size(), 7u);
        EXPECT_FALSE(rows.back().EndedAtMs.has_value());
    }
    TSqlitePlayLog log(path, TSqlitePlayLog::TOpenMode::omRead);
    const auto titles = [](const std::vector<TPlayRow>& rows) {
        std::vector<std::string> out;
        for (const auto& r : rows) out.push_back(r.Stream + ":" + r.Title);
        return out;
    };
    EXPECT_EQ(titles(log.Plays({"One", std::nullopt, std::nullopt})),
              (std::vector<std::string>{"One:Alpha", "One:Beta", "One:Alpha", "One:Open"}));
    EXPECT_EQ(titles(log.Plays({"", Base + 10000, Base + 400000})),
              (std::vector<std::string>{"Two:Alpha", "One:Beta"}));  // [from, to)
    EXPECT_TRUE(log.Plays({"Three", std::nullopt, std::nullopt}).empty());

    std::vector<std::string> summary;
    for (const auto& s : log.Summary({})) {
        summary.push_back(s.Stream + ":" + s.Title + ":" + std::to_string(s.Plays) + ":" +
                          std::to_string(static_cast<int>(s.AirtimeS)));
    }
    // The play left open by the writer was closed at its last sighting when the writer closed;
    // the one never seen long enough to log was dropped.
    EXPECT_EQ(summary,
              (std::vector<std::string>{"One:Alpha:2:270", "One:Beta:1:90", "One:Open:1:10",
                                        "Two:Alpha:1:60", "Two:Gamma:1:30"}));
}

TEST(TSqlitePlayLog, RefusesANewerSchemaAMissingLogAndAnImpossiblePath) {
    test::TTempDir dir;
    const std::string path = dir.File("plays.sqlite");
    EXPECT_THROW(
        {
            try {
                TSqlitePlayLog log(path, TSqlitePlayLog::TOpenMode::omRead);
            } catch (const EError& e) {
                EXPECT_EQ(std::string(e.what()), "No play log at " + path);
                throw;
            }
        },
        EError);
    { OpenSqlitePlayLog(path); }
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 7", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    try {
        OpenSqlitePlayLog(path);
        ADD_FAILURE() << "a log of schema 7 was opened";
    } catch (const EError& e) {
        EXPECT_NE(std::string(e.what()).find("schema version 7"), std::string::npos) << e.what();
    }
    test::WriteBytes(dir.File("file"), "x");
    EXPECT_THROW(OpenSqlitePlayLog(dir.File("file/plays.sqlite")), EError);
}

/// A running orvane3-playlog-writer with a pipe to its input and one from its output.
class TWriterProcess {
public:
    explicit TWriterProcess(const std::string& db) {
        int in[2];
        int out[2];
        if (pipe(in) != 0 || pipe(out) != 0) throw EError("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string exe = ORVANE_PLAYLOG_WRITER;
        std::string arg = db;
        char* argv[] = {exe.data(), arg.data(), nullptr};
        const int rc = posix_spawn(&FPid, exe.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        FIn = in[1];
        FOut = out[0];
        if (rc != 0) throw EError("cannot start " + exe);
    }
    ~TWriterProcess() {
        if (FIn >= 0) close(FIn);
        if (FOut >= 0) close(FOut);
        if (FPid > 0) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
    }
    /// Everything the writer prints up to the first line end, waiting at most 30 s for it.
    std::string ReadLine() {
        std::string line;
        char c = 0;
        pollfd ready{FOut, POLLIN, 0};
        while (line.size() < 200 && poll(&ready, 1, 30000) == 1 && read(FOut, &c, 1) == 1 &&
               c != '\n') {
            line += c;
        }
        return line;
    }
    /// Kills the writer with SIGKILL and waits for it.
    void Kill() {
        kill(FPid, SIGKILL);
        int status = 0;
        waitpid(FPid, &status, 0);
        FPid = -1;
        EXPECT_TRUE(WIFSIGNALED(status));
    }
    /// Closes its input and returns its exit code.
    int Finish() {
        close(FIn);
        FIn = -1;
        int status = 0;
        waitpid(FPid, &status, 0);
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t FPid = -1;
    int FIn = -1;
    int FOut = -1;
};

constexpr const char* PlaysSql =
    "SELECT stream, title, started_at, ended_at, clip_begin_s, clip_end_s, duration_s "
    "FROM plays ORDER BY id";

TEST(TSqlitePlayLog, AfterASigkillTheEndedPlaysAreThereAndTheNextWriterClosesTheOpenOnes) {
    test::TTempDir dir;
    const std::string path = dir.File("plays.sqlite");
    TWriterProcess writer(path);
    ASSERT_EQ(writer.ReadLine(), "ready");

    {
        // A writer that is alive keeps its plays: a second writer beside it closes nothing.
        auto beside = OpenSqlitePlayLog(path);
        EXPECT_EQ(beside->RecoveredPlays(), 0);
        EXPECT_EQ(Rows(path, PlaysSql),
                  (std::vector<std::string>{
                      "Channel01|Alpha|2026-12-10T05:00:01.000Z|2026-12-10T05:00:11.000Z|8.0|20.0|"
                      "12.0",
                      "Channel01|Beta|2026-12-10T05:00:12.000Z|NULL|4.0|NULL|NULL",
                      "Channel02|Gamma|2026-12-10T05:00:20.000Z|NULL|48.0|NULL|NULL"}));
        EXPECT_EQ(Rows(path, "SELECT last_seen_at FROM plays WHERE title = 'Beta'"),
                  std::vector<std::string>{"2026-12-10T05:00:20.000Z"});
    }

    writer.Kill();
    EXPECT_EQ(Rows(path, "SELECT count(*) FROM plays WHERE ended_at IS NOT NULL"),
              std::vector<std::string>{"1"});  // the kill lost nothing that had ended

    const std::int64_t before = UtcNowMs();
    auto next = OpenSqlitePlayLog(path);
    EXPECT_EQ(next->RecoveredPlays(), 2);
    // Beta is closed where it was last seen (heard 0:05 to 0:13); Gamma was heard too briefly.
    EXPECT_EQ(Rows(path, PlaysSql),
              (std::vector<std::string>{
                  "Channel01|Alpha|2026-12-10T05:00:01.000Z|2026-12-10T05:00:11.000Z|8.0|20.0|"
                  "12.0",
                  "Channel01|Beta|2026-12-10T05:00:12.000Z|2026-12-10T05:00:20.000Z|4.0|13.0|"
                  "9.0"}));
    const auto outages = next->Outages({});
    ASSERT_EQ(outages.size(), 1u);
    EXPECT_EQ(outages[0].Stream, "Radio Two");
    EXPECT_EQ(outages[0].Reason, "connection refused");
    EXPECT_EQ(outages[0].StartedAtMs, Base + 15000);
    ASSERT_TRUE(outages[0].EndedAtMs.has_value());
    EXPECT_GE(*outages[0].EndedAtMs, before);  // not heard until the monitor came back
}

TEST(TSqlitePlayLog, AWriterThatEndsNormallyCompletesItsClipsStillPlaying) {
    test::TTempDir dir;
    const std::string path = dir.File("plays.sqlite");
    TWriterProcess writer(path);
    ASSERT_EQ(writer.ReadLine(), "ready");
    EXPECT_EQ(writer.Finish(), 0);
    EXPECT_EQ(Rows(path, "SELECT title, ended_at, clip_end_s FROM plays ORDER BY id"),
              (std::vector<std::string>{"Alpha|2026-12-10T05:00:11.000Z|20.0",
                                        "Beta|2026-12-10T05:00:20.000Z|13.0"}));
    EXPECT_EQ(Rows(path, "SELECT count(*) FROM outages WHERE ended_at IS NULL"),
              std::vector<std::string>{"0"});
    EXPECT_EQ(Rows(path, "SELECT count(*) FROM writers"), std::vector<std::string>{"0"});
}

}  // namespace
}  // namespace orvane::playlog
