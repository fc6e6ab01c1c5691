// The robust search for noisy input: every index hit of a search's lookups (the heard key or one
// of its weak-bit variants) becomes a hypothesis "the newest heard key is fingerprint F at
// position p"; each distinct hypothesis is compared over up to 768 keys (about 9 s) that end at
// the newest key. Unrelated audio differs in close to half of the bits, and the spread of that
// share shrinks with the square root of the keys compared, so a long comparison tells a match
// buried in noise from chance where 256 keys cannot. A hypothesis is scored by its best
// window (128, 256, ... keys, each ending at the newest key):
//     score = (differing bits by chance - differing bits) / sqrt(8 n)     (n keys compared)
// that is how many standard deviations of independent random bits it lies below chance; the best
// hypothesis of each fingerprint becomes a candidate when its score reaches the threshold.
// "Half" is measured, not assumed: it is the share of differing bits between the same heard keys
// and the same fingerprint keys moved out of line (RobustChanceShifts).
// Thread: recognition thread, recognition lock held (as the search).
#pragma once

#include <cstdint>
#include <unordered_map>
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
/// How far the fingerprint is moved out of line with the heard keys to measure chance (more
/// keys than the frames of neighbouring keys overlap).
inline constexpr std::int32_t RobustChanceShifts[] = {97, -131};
/// Scores that make a hypothesis a candidate: alone, or as the weakest of 2 or of 3 consecutive
/// searches that followed it at a consistent alignment.
inline constexpr float RobustSingleScore = 26.0f;
inline constexpr float RobustPairScore = 19.0f;
inline constexpr float RobustRunScore = 14.0f;
/// Hypotheses scoring below this are not followed.
inline constexpr float RobustKeepScore = 2.0f;
/// Hypotheses followed per channel from one search to the next (96 found no more clips).
inline constexpr std::int32_t RobustTracks = 32;
/// Keys a followed hypothesis may drift per search (audio played a little fast or slow).
inline constexpr std::int32_t RobustDrift = 1;
/// Keys heard between two searches.
inline constexpr std::int32_t SearchKeysPerStep = 96;
/// Hypotheses one search verifies at most (further index hits are not noted).
inline constexpr std::int32_t RobustMaxHypotheses = 16384;

/// One hypothesis and how it fared.
struct TRobustScore {
    std::int32_t SongNo = -1;
    /// Fingerprint position of the newest heard key.
    std::int32_t Position = 0;
    float Score = 0.0f;
    /// Keys of the window that gave the score.
    std::int32_t Keys = 0;
    /// Consecutive searches that found it at a consistent alignment, and its weakest score in
    /// them.
    std::int32_t Streak = 1;
    float Chain = 0.0f;
};

class TRobustSearch {
public:
    /// `songs` must outlive the search. Reserves its buffers once.
    explicit TRobustSearch(const database::TSongList& songs);

    /// Starts a search: forgets the hypotheses of the last one.
    void Begin();
    /// Notes the `size` index entries of a lookup of the key at `offset` (-1 ... -96) from the
    /// newest key as hypotheses.
    void Note(const database::TDBItem* entries, std::int32_t size, std::int32_t offset);
    /// Scores the noted hypotheses and those the channel numbered `channelSerial` followed from its
    /// last search (96 keys on) against its key ring (2048 keys, newest at `newestSlot`), keeps the
    /// 32 with the most evidence to follow, and with `append` adds the one with the most evidence,
    /// when it has enough (alone, or over 2 or 3 consecutive searches), to `candidates` (Error 32
    /// at the limit, less with more evidence; CheckFrom its position, NegativeShift -1). Returns
    /// the candidates appended (0 or 1).
    std::int32_t Verify(std::uint64_t channelSerial, const std::uint32_t* ring,
                        std::int32_t newestSlot, TCandidateList& candidates, bool append);

    /// Score of fingerprint keys ... `position` against the ring keys ending at `newestSlot`:
    /// the best window of 128, 256, ... 768 keys (inside the fingerprint, position 0 excluded).
    /// `keys` receives the window's length (0 when none fits).
    static float ScoreOf(const fingerprint::TSongServer& song, std::int32_t position,
                         const std::uint32_t* ring, std::int32_t newestSlot, std::int32_t& keys);
    /// How far a hypothesis is past the limit of being a candidate (negative: short of it).
    static float Evidence(const TRobustScore& s);

    /// The hypotheses the last Verify kept to follow, most evidence first (for tests, tuning).
    const std::vector<TRobustScore>& Scores() const { return FScores; }
    /// Hypotheses of index hits the last Verify scored.
    std::int32_t LastHypotheses() const { return FLastHypotheses; }

private:
    float Rescore(std::int32_t songNo, std::int32_t position, const std::uint32_t* ring,
                  std::int32_t newestSlot, std::int32_t& keys) const;

    const database::TSongList& FSongs;
    // Song number in the high half, position of the newest key in the low half.
    std::vector<std::uint64_t> FHypotheses;
    std::vector<TRobustScore> FFresh;
    std::vector<TRobustScore> FScores;
    // Per channel (its serial number): the hypotheses it follows.
    std::unordered_map<std::uint64_t, std::vector<TRobustScore>> FTracks;
    std::int32_t FLastHypotheses = 0;
};

}  // namespace orvane::recognition
