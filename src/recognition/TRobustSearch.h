// The robust search for noisy input: every index hit of a search's lookups (the heard key or one
// of its weak-bit variants) becomes a hypothesis "the newest heard key is fingerprint F at
// position p"; each distinct hypothesis is compared over up to 768 keys (about 9 s) that end at
// the newest key. Unrelated audio differs in close to half of the bits, and the spread of that
// share shrinks with the square root of the keys compared, so a long comparison tells a match
// buried in noise from chance where 256 keys cannot. A hypothesis is scored by its best
// window (128, 256, ... keys, each ending at the newest key):
//     score = (16 n - differing bits) / sqrt(8 n)     (n keys compared)
// that is how many standard deviations of independent random bits it lies below half; the best
// hypothesis of each fingerprint becomes a candidate when its score reaches the threshold.
// Thread: recognition thread, recognition lock held (as the search).
#pragma once

#include <cstdint>
#include <vector>

#include "database/TDBItem.h"
#include "recognition/QnCheckKey.h"

namespace orvane::database {
class TSongList;
}

namespace orvane::recognition {

/// Keys per scoring window and the most windows a hypothesis is scored over (768 keys).
inline constexpr std::int32_t RobustWindowKeys = 128;
inline constexpr std::int32_t RobustWindows = 6;
/// Score a fingerprint's best hypothesis needs to become a candidate.
inline constexpr float RobustScoreThreshold = 9.0f;
/// Hypotheses one search verifies at most (further index hits are not noted).
inline constexpr std::int32_t RobustMaxHypotheses = 16384;

/// The best hypothesis of one fingerprint in a search.
struct TRobustScore {
    std::int32_t SongNo = -1;
    /// Fingerprint position of the newest heard key.
    std::int32_t Position = 0;
    float Score = 0.0f;
    /// Keys of the window that gave the score.
    std::int32_t Keys = 0;
};

class TRobustSearch {
public:
    /// `songs` must outlive the search. Reserves its buffers once.
    explicit TRobustSearch(const database::TSongList& songs);

    /// Starts a search: forgets the hypotheses and scores of the last one.
    void Begin();
    /// Notes the `size` index entries of a lookup of the key at `offset` (-1 ... -96) from the
    /// newest key as hypotheses.
    void Note(const database::TDBItem* entries, std::int32_t size, std::int32_t offset);
    /// Scores the noted hypotheses against the key ring (2048 keys, newest at `newestSlot`) and
    /// appends, for each fingerprint whose best hypothesis reaches `threshold`, one candidate
    /// (Error 32 x threshold / score, CheckFrom its position, NegativeShift -1) to `candidates`.
    /// Fills Scores with each scored fingerprint's best, best first. Returns the candidates
    /// appended.
    std::int32_t Verify(const std::uint32_t* ring, std::int32_t newestSlot,
                        TCandidateList& candidates, float threshold = RobustScoreThreshold);

    /// Score of fingerprint keys ... `position` against the ring keys ending at `newestSlot`:
    /// the best window of 128, 256, ... 768 keys (inside the fingerprint, position 0 excluded).
    /// `keys` receives the window's length (0 when none fits).
    static float ScoreOf(const fingerprint::TSongServer& song, std::int32_t position,
                         const std::uint32_t* ring, std::int32_t newestSlot, std::int32_t& keys);

    /// The last Verify's best score per fingerprint, best first (for tests and tuning).
    const std::vector<TRobustScore>& Scores() const { return FScores; }
    /// Hypotheses the last Verify scored.
    std::int32_t LastHypotheses() const { return FLastHypotheses; }

private:
    const database::TSongList& FSongs;
    // Song number in the high half, position of the newest key in the low half.
    std::vector<std::uint64_t> FHypotheses;
    std::vector<TRobustScore> FScores;
    std::int32_t FLastHypotheses = 0;
};

}  // namespace orvane::recognition
