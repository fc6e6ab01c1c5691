// The match verifier: takes each index hit for a heard key as a hypothesis (the channel's audio
// here is fingerprint F at position p) and tests it over the 256 keys that end there, appending
// the accepted ones with their error to the candidate list the search chooses from.
// Thread: one verifier for the application, used only by the recognition thread under the
// recognition lock. It reads the song list and the fingerprints, which the main thread changes
// only while recognition is paused (the enabled flag excepted, which is atomic).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "database/TDBItem.h"
#include "recognition/FoundItem.h"

namespace orvane::database {
class TSongList;
}
namespace orvane::fingerprint {
class TSongServer;
}

namespace orvane::recognition {

/// Candidates one search may collect; further accepted hypotheses are not listed.
inline constexpr std::int32_t MaxCandidates = 6144;
/// Keys compared per hypothesis: the query key and the 255 heard before it.
inline constexpr std::int32_t CheckKeys = 256;
/// Differing bits (of 256 x 32 = 8192) a hypothesis may have and still be accepted: 40 %.
inline constexpr std::int32_t CheckThreshold = 3277;
/// Each key missing before the start of a fingerprint counts as this many differing bits.
inline constexpr std::int32_t MissingKeyBits = 16;

/// The candidates of one search, in the order they were accepted: a fixed list, so collecting
/// them allocates nothing.
class TCandidateList {
public:
    TCandidateList();
    TCandidateList(const TCandidateList&) = delete;
    TCandidateList& operator=(const TCandidateList&) = delete;

    std::int32_t Count() const { return FCount; }
    bool Full() const { return FCount >= MaxCandidates; }
    /// The listed candidates, oldest first.
    std::span<const FoundItem> Items() const {
        return {FItems->data(), static_cast<std::size_t>(FCount)};
    }
    const FoundItem& operator[](std::int32_t i) const {
        return (*FItems)[static_cast<std::size_t>(i)];
    }
    /// Appends `item`; does nothing when the list is full. Returns whether it was listed.
    bool Append(FoundItem item);
    /// Releases every listed fingerprint reference; the count becomes 0.
    void Clear();

private:
    std::unique_ptr<std::array<FoundItem, MaxCandidates>> FItems;
    std::int32_t FCount = 0;
};

class QnCheckKey {
public:
    /// `songs` (the song list whose slots are the song numbers of index entries) must outlive
    /// the verifier. Fills BitsTable.
    explicit QnCheckKey(const database::TSongList& songs);
    QnCheckKey(const QnCheckKey&) = delete;
    QnCheckKey& operator=(const QnCheckKey&) = delete;

    /// Points the verifier at a channel's key ring (2048 keys) and at the search's current
    /// query slot and offset (-1 ... -96), which it reads at every Check. None is owned; all
    /// must stay valid while Check is called.
    void SetRing(const std::uint32_t* ringBuffer, const std::int32_t* kPos,
                 const std::int32_t* lPos) {
        RingBuffer = ringBuffer;
        KPos = kPos;
        LPos = lPos;
    }

    /// Verifies each of the `size` index entries in `keys` (as GetFromDB filled them), in
    /// buffer order. An entry is skipped when its song number has no loaded fingerprint, when
    /// that fingerprint is disabled, or when its position lies outside the fingerprint. An entry
    /// at position p compares fingerprint keys max(1, p - 255) ... p with the key ring slots
    /// ending at the query slot; each of the 256 - p keys missing below position 1 counts 16
    /// bits, so positions 0 ... 51 are always rejected. Accepted (at most 3277 differing bits):
    /// a candidate with Error = bits / 8192 * 100 % is appended while the list holds fewer
    /// than 6144. Returns 1 when at least one entry was accepted (listed or not), else -1.
    /// `level` numbers the caller's lookup and has no effect. Allocates nothing; no exception
    /// for any entry content.
    std::int32_t Check(std::int32_t level, const database::TDBItem* keys, std::int32_t size);

    /// Differing bits of fingerprint keys first ... last (1 <= first <= last < its length)
    /// against key ring slots from `slot` on (mod 2048), added to `counter`; stops as soon as
    /// the sum exceeds `thresh` (the returned sum is then above it, not exact).
    static std::int32_t CountBits(const fingerprint::TSongServer& song, std::int32_t first,
                                  std::int32_t last, const std::uint32_t* ring, std::int32_t slot,
                                  std::int32_t counter, std::int32_t thresh);

    /// The song list whose slots the index entries name.
    const database::TSongList& Songs() const { return FSongs; }

    /// The candidates collected since the search last cleared the list.
    TCandidateList Candidates;

    // What the last Check worked on, kept for diagnostics.
    std::int32_t Thresh = CheckThreshold;
    std::int32_t InitPos = 0;
    std::int32_t SongNo = 0;
    std::int32_t Counter = 0;
    std::int32_t CheckFrom = 0;
    float Error = 0.0f;
    /// BitsTable[i] = number of set bits of i (the comparison itself counts with the
    /// processor's population count).
    std::array<std::uint8_t, 256> BitsTable{};

private:
    const database::TSongList& FSongs;
    const std::uint32_t* RingBuffer = nullptr;
    const std::int32_t* KPos = nullptr;
    const std::int32_t* LPos = nullptr;
};

}  // namespace orvane::recognition
