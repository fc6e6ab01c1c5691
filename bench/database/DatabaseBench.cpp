// How fast the key index loads, sorts, merges one fingerprint and answers lookups, and how much
// memory a stored key costs, on synthetic libraries of 18,000-key fingerprints.
// Default runs use 1,000 fingerprints (18 M keys); ORVANE_BENCH_BIG=1 adds 10,000 (180 M keys,
// about 1.5 GB).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "database/DBTabl.h"

namespace {

using orvane::database::TDBItem;
using orvane::database::TMediumDB;
using orvane::database::TShareMode;
using orvane::database::TSortStats;
using orvane::database::TSubMediumDB;
using Clock = std::chrono::steady_clock;

constexpr std::int32_t KeysPerFingerprint = 18000;

bool BigRuns() {
    const char* big = std::getenv("ORVANE_BENCH_BIG");
    return big != nullptr && big[0] == '1';
}

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

/// xorshift64*: fast and reproducible.
struct TRandom {
    std::uint64_t State;
    std::uint32_t Next() {
        State ^= State >> 12;
        State ^= State << 25;
        State ^= State >> 27;
        return static_cast<std::uint32_t>((State * 0x2545F4914F6CDD1DULL) >> 32);
    }
};

/// The keys of fingerprint songNo: each key flips 2 to 4 random bits of the previous one, as
/// consecutive line keys of real audio share most of their bits.
void FingerprintKeys(std::int32_t songNo, std::vector<std::uint32_t>& keys) {
    TRandom rng{0x9E3779B97F4A7C15ULL * (static_cast<std::uint64_t>(songNo) + 1)};
    keys.resize(KeysPerFingerprint);
    std::uint32_t key = rng.Next();
    for (auto& k : keys) {
        const std::uint32_t flips = 2 + rng.Next() % 3;
        for (std::uint32_t f = 0; f < flips; ++f) {
            key ^= 1u << (rng.Next() % 32);
        }
        k = key;
    }
}

void AddFingerprint(TMediumDB& db, const std::vector<std::uint32_t>& keys, std::int32_t songNo) {
    for (std::size_t i = 0; i < keys.size(); ++i) {
        db.AddToDB(keys[i], static_cast<std::int32_t>(i), songNo);
    }
}

struct TBuilt {
    std::unique_ptr<TMediumDB> DB;
    double AddSeconds = 0;
    double SortSeconds = 0;
};

/// Adds `fingerprints` fingerprints and sorts once, as a bulk load does.
TBuilt Build(std::int32_t fingerprints, TShareMode mode) {
    TBuilt built;
    built.DB = std::make_unique<TMediumDB>();
    built.DB->SetShareMode(mode);
    std::vector<std::uint32_t> keys;
    for (std::int32_t f = 0; f < fingerprints; ++f) {
        FingerprintKeys(f, keys);  // generation is kept out of the add time
        const auto start = Clock::now();
        AddFingerprint(*built.DB, keys, f);
        built.AddSeconds += Seconds(start, Clock::now());
    }
    const auto start = Clock::now();
    built.DB->Sort();
    built.SortSeconds = Seconds(start, Clock::now());
    return built;
}

/// One sorted library per size, built on first use (or kept from BM_AddAndSort) for the later
/// benchmarks.
std::unique_ptr<TMediumDB>& CachedLibrary(std::int32_t fingerprints) {
    static std::map<std::int32_t, std::unique_ptr<TMediumDB>> cache;
    return cache[fingerprints];
}

TMediumDB& Library(std::int32_t fingerprints) {
    auto& slot = CachedLibrary(fingerprints);
    if (!slot) {
        slot = Build(fingerprints, TShareMode::smThreads).DB;
    }
    return *slot;
}

void BM_AddAndSort(benchmark::State& state) {
    const auto fingerprints = static_cast<std::int32_t>(state.range(0));
    const auto mode = state.range(1) != 0 ? TShareMode::smThreads : TShareMode::smSequential;
    for (auto _ : state) {
        auto built = Build(fingerprints, mode);
        state.SetIterationTime(built.AddSeconds + built.SortSeconds);
        const auto keys = static_cast<double>(built.DB->TotalCount());
        state.counters["keys"] = keys;
        state.counters["add_s"] = built.AddSeconds;
        state.counters["sort_s"] = built.SortSeconds;
        state.counters["add_keys_per_s"] = keys / built.AddSeconds;
        state.counters["sort_keys_per_s"] = keys / built.SortSeconds;
        state.counters["keys_per_s"] = keys / (built.AddSeconds + built.SortSeconds);
        state.counters["bytes_per_key"] = static_cast<double>(built.DB->AllocatedBytes()) / keys;
        auto& cached = CachedLibrary(fingerprints);
        if (!cached && mode == TShareMode::smThreads) {
            cached = std::move(built.DB);
        }
    }
}

void BM_MergeOneFingerprint(benchmark::State& state) {
    const auto fingerprints = static_cast<std::int32_t>(state.range(0));
    TMediumDB& library = Library(fingerprints);
    std::vector<std::uint32_t> keys;
    FingerprintKeys(fingerprints, keys);
    double addSeconds = 0;
    double mergeSeconds = 0;
    double freeSeconds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        auto temp = std::make_unique<TMediumDB>();
        AddFingerprint(*temp, keys, fingerprints);
        const auto t1 = Clock::now();
        temp->MergeInto(library);
        const auto t2 = Clock::now();
        temp.reset();
        const auto t3 = Clock::now();
        addSeconds += Seconds(t0, t1);
        mergeSeconds += Seconds(t1, t2);
        freeSeconds += Seconds(t2, t3);
        state.SetIterationTime(Seconds(t0, t3));
        library.DelSong(fingerprints);  // back to the library as built; not timed
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["add_ms"] = addSeconds / n * 1e3;
    state.counters["merge_ms"] = mergeSeconds / n * 1e3;
    state.counters["free_ms"] = freeSeconds / n * 1e3;
    state.counters["library_keys"] = static_cast<double>(library.TotalCount());
}

/// The alternative to merging: append the fingerprint to the library and sort it all again.
void BM_AppendAndFullResort(benchmark::State& state) {
    const auto fingerprints = static_cast<std::int32_t>(state.range(0));
    TMediumDB& library = Library(fingerprints);
    std::vector<std::uint32_t> keys;
    FingerprintKeys(fingerprints, keys);
    for (auto _ : state) {
        const auto t0 = Clock::now();
        AddFingerprint(library, keys, fingerprints);
        library.Sort();
        state.SetIterationTime(Seconds(t0, Clock::now()));
        library.DelSong(fingerprints);
    }
}

/// What a merge would spend if it sorted every (already sorted) library partition again.
void BM_ResortSortedLibrary(benchmark::State& state) {
    TMediumDB& library = Library(static_cast<std::int32_t>(state.range(0)));
    for (auto _ : state) {
        const auto t0 = Clock::now();
        library.SetSorted(false);
        library.Sort();
        state.SetIterationTime(Seconds(t0, Clock::now()));
    }
}

/// The linear "already in order?" check a merge makes on every library partition.
void BM_SortedCheckOfLibrary(benchmark::State& state) {
    TMediumDB& library = Library(static_cast<std::int32_t>(state.range(0)));
    for (auto _ : state) {
        const auto t0 = Clock::now();
        bool sorted = true;
        for (std::int32_t p = 0; p < orvane::database::PartitionCount; ++p) {
            sorted = library.SubDB(p).IsSortedByKey() && sorted;
        }
        benchmark::DoNotOptimize(sorted);
        state.SetIterationTime(Seconds(t0, Clock::now()));
    }
}

void BM_Lookup(benchmark::State& state) {
    const auto fingerprints = static_cast<std::int32_t>(state.range(0));
    const bool hits = state.range(1) != 0;
    TMediumDB& library = Library(fingerprints);
    std::vector<std::uint32_t> keys;
    if (hits) {
        FingerprintKeys(fingerprints / 2, keys);
    } else {
        TRandom rng{12345};
        keys.resize(KeysPerFingerprint);
        for (auto& k : keys) {
            k = rng.Next();
        }
    }
    std::vector<TDBItem> buffer(4112);
    std::int64_t found = 0;
    std::int64_t nonEmpty = 0;
    for (auto _ : state) {
        for (const auto key : keys) {
            const auto n = library.GetFromDB(buffer.data(), 4112, key);
            found += n;
            nonEmpty += n > 0 ? 1 : 0;
        }
        benchmark::ClobberMemory();
    }
    const auto lookups = static_cast<double>(state.iterations()) * static_cast<double>(keys.size());
    state.SetItemsProcessed(static_cast<std::int64_t>(lookups));
    state.counters["ns_per_lookup"] = benchmark::Counter(
        lookups * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["hit_ratio"] = static_cast<double>(nonEmpty) / lookups;
    state.counters["entries_per_lookup"] = static_cast<double>(found) / lookups;
}

/// One library-sized partition that is sorted except for a few appended keys: the pattern a
/// bulk load into a loaded library leaves behind.
void BM_PartitionSortAfterAppend(benchmark::State& state) {
    const auto count = static_cast<std::int32_t>(state.range(0));
    TSortStats stats;
    for (auto _ : state) {
        state.PauseTiming();
        TSubMediumDB sub;
        TRandom rng{77};
        for (std::int32_t i = 0; i < count; ++i) {
            sub.Add(TDBItem::Pack(static_cast<std::uint32_t>(i) * 16, i, 1));
        }
        for (int i = 0; i < 5; ++i) {
            sub.Add(TDBItem::Pack(rng.Next() % 1000, i, 2));  // small keys at the end
        }
        state.ResumeTiming();
        sub.Sort(&stats);
    }
    state.counters["heap_sorts"] = static_cast<double>(stats.HeapSorts);
    state.counters["partition_steps"] = static_cast<double>(stats.Partitions);
    state.counters["depth_limited"] = static_cast<double>(stats.DepthLimited);
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->Arg(1000);
    if (BigRuns()) {
        b->Arg(10000);
    }
}

void SizesWithMode(benchmark::internal::Benchmark* b) {
    b->Args({1000, 1});
    b->Args({1000, 0});
    if (BigRuns()) {
        b->Args({10000, 1});
    }
}

void SizesWithHits(benchmark::internal::Benchmark* b) {
    for (std::int64_t size : {1000, 10000}) {
        if (size == 10000 && !BigRuns()) {
            continue;
        }
        b->Args({size, 1});
        b->Args({size, 0});
    }
}

BENCHMARK(BM_AddAndSort)->Apply(SizesWithMode)->ArgNames({"fingerprints", "threads"})
    ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MergeOneFingerprint)->Apply(Sizes)->ArgNames({"fingerprints"})->Iterations(5)
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendAndFullResort)->Apply(Sizes)->ArgNames({"fingerprints"})->Iterations(1)
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResortSortedLibrary)->Apply(Sizes)->ArgNames({"fingerprints"})->Iterations(1)
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortedCheckOfLibrary)->Apply(Sizes)->ArgNames({"fingerprints"})->Iterations(3)
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lookup)->Apply(SizesWithHits)->ArgNames({"fingerprints", "hits"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PartitionSortAfterAppend)->Arg(44000)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
