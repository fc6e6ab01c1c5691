#include "recognition/TRobustSearch.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "database/TSongList.h"
#include "fingerprint/FptAux.h"
#include "recognition/TChannelBasic.h"

namespace orvane::recognition {

TRobustSearch::TRobustSearch(const database::TSongList& songs) : FSongs(songs) {
    FHypotheses.reserve(static_cast<std::size_t>(RobustMaxHypotheses));
    FFresh.reserve(static_cast<std::size_t>(RobustMaxHypotheses));
    FScores.reserve(static_cast<std::size_t>(3 * RobustTracks));
}

void TRobustSearch::Begin() {
    FHypotheses.clear();
    FLastHypotheses = 0;
}

void TRobustSearch::Note(const database::TDBItem* entries, std::int32_t size, std::int32_t offset) {
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
    const std::int32_t length = song.Length();
    std::int32_t last = std::min(position, length - 1);
    std::int32_t slot = newestSlot - (position - last);
    float best = 0.0f;
    std::int32_t bits = 0;
    std::int64_t chanceBits = 0;
    std::int32_t compared = 0;
    constexpr std::int32_t all = std::numeric_limits<std::int32_t>::max();
    auto count = [&](std::int32_t first, std::int32_t from) {
        return QnCheckKey::CountBits(song, first, first + RobustWindowKeys - 1, ring,
                                     (from + 2 * KeyRingSize) % KeyRingSize, 0, all);
    };
    for (std::int32_t w = 0; w < RobustWindows; ++w) {
        const std::int32_t first = last - RobustWindowKeys + 1;
        if (first < 1) break;
        const std::int32_t from = slot - RobustWindowKeys + 1;
        // What chance gives for these heard keys and this part of the fingerprint: the same
        // window of the fingerprint moved out of line with the heard keys, both ways where it
        // fits. Audio whose keys favour some bit values (as most music does) differs from any
        // like-minded fingerprint in fewer than half of the bits; this measures by how much.
        std::int32_t chance = 0;
        std::int32_t shifts = 0;
        for (const std::int32_t shift : RobustChanceShifts) {
            const std::int32_t f = first + shift;
            if (f < 1 || f + RobustWindowKeys - 1 >= length) continue;
            chance += count(f, from);
            ++shifts;
        }
        if (shifts == 0) break;
        bits += count(first, from);
        chanceBits += static_cast<std::int64_t>(chance) * 2 / shifts;
        compared += RobustWindowKeys;
        // chanceBits holds twice the expected count.
        const float score = (static_cast<float>(chanceBits) / 2.0f - static_cast<float>(bits)) /
                            std::sqrt(8.0f * static_cast<float>(compared));
        if (keys == 0 || score > best) {
            best = score;
            keys = compared;
        }
        last = first - 1;
        slot = from - 1;
    }
    return best;
}

float TRobustSearch::Evidence(const TRobustScore& s) {
    float evidence = s.Score - RobustSingleScore;
    if (s.Streak >= 2) evidence = std::max(evidence, s.Chain - RobustPairScore);
    if (s.Streak >= 3) evidence = std::max(evidence, s.Chain - RobustRunScore);
    return evidence;
}

float TRobustSearch::Rescore(std::int32_t songNo, std::int32_t position, const std::uint32_t* ring,
                             std::int32_t newestSlot, std::int32_t& keys) const {
    keys = 0;
    fingerprint::ISongServer* ss = FSongs.SongServer(songNo);
    if (ss == nullptr || !ss->GetEnabled() || position < 1) return 0.0f;
    const fingerprint::TSongServer* song = ss->getClass();
    if (song == nullptr) return 0.0f;
    return ScoreOf(*song, position, ring, newestSlot, keys);
}

std::int32_t TRobustSearch::Verify(std::uint64_t channelSerial, const std::uint32_t* ring,
                                   std::int32_t newestSlot, TCandidateList& candidates,
                                   bool append) {
    std::vector<TRobustScore>& tracks = FTracks[channelSerial];

    // Every hypothesis of this search's index hits, scored.
    std::sort(FHypotheses.begin(), FHypotheses.end());
    FHypotheses.erase(std::unique(FHypotheses.begin(), FHypotheses.end()), FHypotheses.end());
    FLastHypotheses = static_cast<std::int32_t>(FHypotheses.size());
    FFresh.clear();
    for (const std::uint64_t h : FHypotheses) {
        const auto songNo = static_cast<std::int32_t>(h >> 32);
        const auto position = static_cast<std::int32_t>(static_cast<std::uint32_t>(h));
        std::int32_t keys = 0;
        const float score = Rescore(songNo, position, ring, newestSlot, keys);
        if (keys == 0 || score < RobustKeepScore) continue;
        FFresh.push_back({songNo, position, score, keys, 1, score});
    }

    // The hypotheses followed from earlier searches, 96 keys further on (a little more or less
    // when the audio runs fast or slow).
    FScores.clear();
    for (const TRobustScore& t : tracks) {
        TRobustScore next = t;
        next.Score = -1.0f;
        for (std::int32_t d = -RobustDrift; d <= RobustDrift; ++d) {
            std::int32_t keys = 0;
            const std::int32_t position = t.Position + SearchKeysPerStep + d;
            const float score = Rescore(t.SongNo, position, ring, newestSlot, keys);
            if (keys > 0 && score > next.Score) {
                next.Score = score;
                next.Position = position;
                next.Keys = keys;
            }
        }
        if (next.Score < RobustKeepScore) continue;
        next.Streak = t.Streak + 1;
        next.Chain = std::min(t.Chain, next.Score);
        FScores.push_back(next);
    }
    // New hypotheses join unless one followed already stands for them.
    std::sort(FFresh.begin(), FFresh.end(),
              [](const TRobustScore& a, const TRobustScore& b) { return a.Score > b.Score; });
    for (const TRobustScore& f : FFresh) {
        if (FScores.size() >= static_cast<std::size_t>(2 * RobustTracks)) break;
        bool known = false;
        for (const TRobustScore& t : FScores) {
            if (t.SongNo == f.SongNo && std::abs(t.Position - f.Position) <= 2 * RobustDrift) {
                known = true;
                break;
            }
        }
        if (!known) FScores.push_back(f);
    }
    std::sort(FScores.begin(), FScores.end(), [](const TRobustScore& a, const TRobustScore& b) {
        return Evidence(a) > Evidence(b);
    });
    if (FScores.size() > static_cast<std::size_t>(RobustTracks)) {
        FScores.resize(static_cast<std::size_t>(RobustTracks));
    }
    tracks = FScores;

    // Only the hypothesis with the most evidence becomes a candidate: two fingerprints that
    // share material would otherwise both pass under noise, and the choice would disable one of
    // them as a duplicate on evidence this weak.
    if (!append || FScores.empty()) return 0;
    const TRobustScore& s = FScores.front();
    const float evidence = Evidence(s);
    if (evidence < 0.0f) return 0;
    {
        FoundItem item;
        // Just enough evidence: 32, as a weak standard match; twice as much: 16.
        item.Error = std::clamp(32.0f - 4.0f * evidence, 0.0f, 39.0f);
        item.SongServer = TRefPtr<fingerprint::ISongServer>(FSongs.SongServer(s.SongNo));
        item.InitPos = newestSlot + KeyRingSize;
        item.CheckFrom = s.Position;
        item.NegativeShift = -1;
        return candidates.Append(std::move(item)) ? 1 : 0;
    }
}

}  // namespace orvane::recognition
