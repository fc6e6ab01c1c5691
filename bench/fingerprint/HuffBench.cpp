// Packing and unpacking speed of fingerprint payloads (bytes/s of unpacked payload).
#include <benchmark/benchmark.h>
#include <cstdint>
#include <random>
#include <vector>

#include "fingerprint/FptFile.h"

namespace {

using namespace orvane::fingerprint;

// The payload of a 10-minute fingerprint: 51,679 keys whose neighbours differ in a few bits,
// delta-coded as in a file.
std::vector<std::uint8_t> TypicalPayload() {
    std::mt19937 random(1);
    auto song = orvane::MakeRef<TSongServer>();
    std::vector<std::uint32_t> keys(51679);
    std::uint32_t key = 0x5A5A5A5A;
    for (auto& k : keys) {
        for (int flips = random() % 4; flips > 0; --flips) key ^= 1u << (random() % 32);
        k = key;
    }
    song->Add(keys.data(), static_cast<std::int32_t>(keys.size()));
    song->SongFile()->Title.Assign(EncodeTitle("A typical title"));
    song->serialize();
    EncodeKeyDeltas(*song);
    const auto* p = reinterpret_cast<const std::uint8_t*>(song->SongFile());
    return std::vector<std::uint8_t>(p, p + song->alignedSize());
}

void BM_Pack(benchmark::State& state) {
    const auto payload = TypicalPayload();
    for (auto _ : state) benchmark::DoNotOptimize(Pack(payload.data(), payload.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(payload.size()));
}
BENCHMARK(BM_Pack);

void BM_Unpack(benchmark::State& state) {
    const auto payload = TypicalPayload();
    const auto image = Pack(payload.data(), payload.size());
    state.counters["ratio"] =
        static_cast<double>(payload.size()) / static_cast<double>(image.size());
    for (auto _ : state) benchmark::DoNotOptimize(Unpack(image.data(), image.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(payload.size()));
}
BENCHMARK(BM_Unpack);

void BM_UnpackRandomBytes(benchmark::State& state) {
    std::mt19937 random(2);
    std::vector<std::uint8_t> data(1 << 20);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    const auto image = Pack(data.data(), data.size());
    for (auto _ : state) benchmark::DoNotOptimize(Unpack(image.data(), image.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(data.size()));
}
BENCHMARK(BM_UnpackRandomBytes);

}  // namespace
