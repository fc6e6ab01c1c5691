// What the recognition benchmark and evaluation share: a song list and key index built in
// memory (synthetic fingerprints or fingerprints of generated audio), on plain stand-ins.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "database/DBTabl.h"
#include "database/TMemorySongListView.h"
#include "database/TSongList.h"
#include "tracking/IRecognitionPause.h"
#include "tracking/TPosting.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TStreamClock.h"

namespace orvane::bench {

/// A library held in memory: song list, sorted key index.
struct TBenchLibrary {
    tracking::TQueuePoster Poster;
    tracking::TStreamClock Clock;
    tracking::TPosting Posting{Poster, Clock};
    tracking::TCountingRecognitionPause Pause;
    database::TMemorySongListView View;
    database::TSongList Songs{Pause, Posting, View};
    database::TMediumDB Index;

    /// Adds a fingerprint of `keys` titled `title` (index left unsorted); returns its slot.
    std::int32_t Add(const std::string& title, const std::vector<std::uint32_t>& keys);
    /// Sorts the index once everything is added.
    void Finish();
};

/// Keys of synthetic fingerprint `n`: `count` keys, each flipping 2 to 4 random bits of the one
/// before, as consecutive keys of real audio share most of their bits. Never 0.
std::vector<std::uint32_t> SyntheticKeys(std::int32_t n, std::int32_t count);

/// A library of `count` synthetic fingerprints of `keysEach` keys.
std::unique_ptr<TBenchLibrary> SyntheticLibrary(std::int32_t count, std::int32_t keysEach);

/// The line keys of 11025 Hz mono samples as fingerprinting a file of them gives (written to
/// `wavPath` and read back, so the same path as the tools).
std::vector<std::uint32_t> FingerprintOf(const std::vector<std::int16_t>& samples,
                                         const std::string& wavPath);

}  // namespace orvane::bench
