#include "recognition/TRobustSearch.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "database/TSongList.h"
#include "fingerprint/FptAux.h"
#include "recognition/TChannelBasic.h"

namespace orvane::recognition {

TRobustSearch::TRobustSearch(const database::TSongList& songs) : FSongs(songs) {
    FHypotheses.reserve(static_cast<std::size_t>(RobustMaxHypotheses));
    FScores.reserve(1024);
}

void TRobustSearch::Begin() {
    FHypotheses.clear();
    FScores.clear();
    FLastHypotheses = 0;
}

void TRobustSearch::Note(const database::TDBItem* entries, std::int32_t size,
                         std::int32_t offset) {
    for (std::int32_t e = 0; e < size; ++e) {
        if (FHypotheses.size() >= static_cast<std::size_t>(RobustMaxHypotheses)) return;
        // The newest key lies -1 - offset keys after the query key.
        const std::int64_t position =
            static_cast<std::int64_t>(entries[e].LineNo()) + (-1 - offset);
        FHypotheses.push_back((static_cast<std::uint64_t>(entries[e].SongNo()) << 32) |
                              static_cast<std::uint32_t>(position));
    }
}

float TRobustSearch::ScoreOf(const fingerprint::TSongServer& song, std::int32_t position,
                             const std::uint32_t* ring, std::int32_t newestSlot,
                             std::int32_t& keys) {
    keys = 0;
    // Past the fingerprint's end the heard keys have nothing to meet: compare up to its last key
    // (at the slot it would have been heard in).
    std::int32_t last = std::min(position, song.Length() - 1);
    std::int32_t slot = newestSlot - (position - last);
    float best = -std::numeric_limits<float>::infinity();
    std::int32_t bits = 0;
    std::int32_t compared = 0;
    for (std::int32_t w = 0; w < RobustWindows; ++w) {
        const std::int32_t first = last - RobustWindowKeys + 1;
        if (first < 1) break;
        const std::int32_t from = slot - RobustWindowKeys + 1;
        bits = QnCheckKey::CountBits(song, first, last, ring, (from + 2 * KeyRingSize) % KeyRingSize,
                                     bits, std::numeric_limits<std::int32_t>::max());
        compared += RobustWindowKeys;
        const float score = static_cast<float>(16 * compared - bits) /
                            std::sqrt(8.0f * static_cast<float>(compared));
        if (score > best) {
            best = score;
            keys = compared;
        }
        last = first - 1;
        slot = from - 1;
    }
    return keys == 0 ? 0.0f : best;
}

std::int32_t TRobustSearch::Verify(const std::uint32_t* ring, std::int32_t newestSlot,
                                   TCandidateList& candidates, float threshold) {
    std::sort(FHypotheses.begin(), FHypotheses.end());
    FHypotheses.erase(std::unique(FHypotheses.begin(), FHypotheses.end()), FHypotheses.end());
    FLastHypotheses = static_cast<std::int32_t>(FHypotheses.size());
    FScores.clear();
    for (const std::uint64_t h : FHypotheses) {
        const auto songNo = static_cast<std::int32_t>(h >> 32);
        const auto position = static_cast<std::int32_t>(static_cast<std::uint32_t>(h));
        fingerprint::ISongServer* ss = FSongs.SongServer(songNo);
        if (ss == nullptr || !ss->GetEnabled()) continue;
        const fingerprint::TSongServer* song = ss->getClass();
        if (song == nullptr || position < 1) continue;
        std::int32_t keys = 0;
        const float score = ScoreOf(*song, position, ring, newestSlot, keys);
        if (keys == 0) continue;
        // Hypotheses come sorted by song number: one entry per fingerprint, its best.
        if (FScores.empty() || FScores.back().SongNo != songNo) {
            FScores.push_back({songNo, position, score, keys});
        } else if (score > FScores.back().Score) {
            FScores.back() = {songNo, position, score, keys};
        }
    }
    std::sort(FScores.begin(), FScores.end(),
              [](const TRobustScore& a, const TRobustScore& b) { return a.Score > b.Score; });
    std::int32_t appended = 0;
    for (const TRobustScore& s : FScores) {
        if (s.Score < threshold) break;
        FoundItem item;
        item.Error = std::clamp(32.0f * threshold / s.Score, 0.0f, 39.0f);
        item.SongServer = TRefPtr<fingerprint::ISongServer>(FSongs.SongServer(s.SongNo));
        item.InitPos = newestSlot + KeyRingSize;
        item.CheckFrom = s.Position;
        item.NegativeShift = -1;
        if (!candidates.Append(std::move(item))) break;
        ++appended;
    }
    return appended;
}

}  // namespace orvane::recognition
