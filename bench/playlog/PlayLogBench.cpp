// How many play-log calls a second the SQLite log commits (each its own transaction, synced to
// the disk), and what one whole play costs: begin, a sighting every 3 s of a 3-minute clip, end.
// The log lives in $TMPDIR (default /tmp); the figures are those of that file system.
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "playlog/sqlite/TSqlitePlayLog.h"

namespace {

using orvane::playlog::OpenSqlitePlayLog;
using orvane::playlog::TPlayEnd;
using orvane::playlog::TPlayStart;
using orvane::playlog::TSqlitePlayLog;

/// A fresh log in a folder of its own, removed afterwards.
class TBenchLog {
public:
    TBenchLog() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orvane-playlog-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        FDir = pattern;
        Log = OpenSqlitePlayLog(FDir + "/plays.sqlite");
    }
    ~TBenchLog() {
        Log.reset();
        std::filesystem::remove_all(FDir);
    }
    std::unique_ptr<TSqlitePlayLog> Log;

private:
    std::string FDir;
};

constexpr std::int64_t Base = 1796878800000;  // 2026-12-10T05:00:00.000Z

TPlayStart Start(std::int64_t n) {
    TPlayStart start;
    start.Stream = "Radio " + std::to_string(n % 100);
    start.Title = "Title " + std::to_string(n % 1000);
    start.StreamTitle = "Artist - Title";
    start.StartedAtMs = Base + n * 180000;
    start.ClipBeginS = 0;
    return start;
}

void BM_SeenPlay(benchmark::State& state) {
    TBenchLog bench;
    const std::int64_t id = bench.Log->BeginPlay(Start(0));
    std::int64_t ms = Base;
    for (auto _ : state) bench.Log->SeenPlay(id, ms += 3000, 10);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SeenPlay)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A 3-minute clip: 1 begin, 60 sightings, 1 end.
void BM_WholePlay(benchmark::State& state) {
    TBenchLog bench;
    std::int64_t n = 0;
    for (auto _ : state) {
        const TPlayStart start = Start(++n);
        const std::int64_t id = bench.Log->BeginPlay(start);
        for (int i = 1; i <= 60; ++i) bench.Log->SeenPlay(id, start.StartedAtMs + i * 3000, i * 3);
        bench.Log->EndPlay(id, TPlayEnd{start.StartedAtMs + 180000, 180, 0, 180});
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WholePlay)->Unit(benchmark::kMillisecond)->UseRealTime();

// The report over 10,000 plays of 100 streams.
void BM_Summary(benchmark::State& state) {
    TBenchLog bench;
    for (std::int64_t n = 0; n < 10000; ++n) {
        const TPlayStart start = Start(n);
        bench.Log->EndPlay(bench.Log->BeginPlay(start),
                           TPlayEnd{start.StartedAtMs + 180000, 180, 0, 180});
    }
    for (auto _ : state) benchmark::DoNotOptimize(bench.Log->Summary({}));
}
BENCHMARK(BM_Summary)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
