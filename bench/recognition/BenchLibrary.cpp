#include "BenchLibrary.h"

#include "audio/FptExtract.h"
#include "audio/uOpenAudio.h"
#include "fingerprint/FptAux.h"
#include "fingerprint/FptFile.h"
#include "signal/QnFFT.h"
#include "support/WavWriter.h"

namespace orvane::bench {

std::int32_t TBenchLibrary::Add(const std::string& title, const std::vector<std::uint32_t>& keys) {
    auto song = MakeRef<fingerprint::TSongServer>();
    if (!keys.empty()) song->Add(keys.data(), static_cast<std::int32_t>(keys.size()));
    song->serialize();
    song->SongFile()->Title.Assign(fingerprint::EncodeTitle(title));
    const std::int32_t slot = Songs.reserveSongIndex();
    Songs.setSongServer(slot, song);
    Index.SetSorted(false);
    for (std::size_t p = 0; p < keys.size(); ++p) {
        Index.AddToDB(keys[p], static_cast<std::int32_t>(p), slot);
    }
    return slot;
}

void TBenchLibrary::Finish() { Index.Sort(); }

std::vector<std::uint32_t> SyntheticKeys(std::int32_t n, std::int32_t count) {
    std::uint64_t state = 0x9E3779B97F4A7C15ULL * (static_cast<std::uint64_t>(n) + 1);
    auto next = [&state] {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return static_cast<std::uint32_t>((state * 0x2545F4914F6CDD1DULL) >> 32);
    };
    std::vector<std::uint32_t> keys(static_cast<std::size_t>(count));
    std::uint32_t key = next();
    for (auto& k : keys) {
        const std::uint32_t flips = 2 + next() % 3;
        for (std::uint32_t f = 0; f < flips; ++f) key ^= 1u << (next() % 32);
        k = key == 0 ? 1u : key;
    }
    return keys;
}

std::unique_ptr<TBenchLibrary> SyntheticLibrary(std::int32_t count, std::int32_t keysEach) {
    auto library = std::make_unique<TBenchLibrary>();
    for (std::int32_t n = 0; n < count; ++n) {
        library->Add("Synthetic " + std::to_string(n), SyntheticKeys(n, keysEach));
    }
    library->Finish();
    return library;
}

std::vector<std::uint32_t> FingerprintOf(const std::vector<std::int16_t>& samples,
                                         const std::string& wavPath) {
    orvane::test::WriteWav(wavPath, samples, 11025);
    auto reader = audio::OpenAudioReader(wavPath, audio::TAudioFileType::ftWav);
    signal::QnKeyConversion converter;
    auto song = MakeRef<fingerprint::TSongServer>();
    audio::ComputeLineKeys(*reader, converter, *song, nullptr);
    return song->CopyKeys();
}

}  // namespace orvane::bench
