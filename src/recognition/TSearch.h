// The search: the recognition engine's step for one block of a channel. Every block becomes 32
// line keys with a record of their 6 least reliable bits; every third block the 96 newest keys
// are looked up (with up to 64 variants of their weak bits), the hits verified, the best one
// entered into the channel's 8-search history, the recognised clip chosen and published.
// Thread: the recognition thread only, with the recognition lock held (ProcessBlock). The
// settings snapshot is written by the main thread under that lock (user options) and by the
// recognition thread itself (window state).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "database/TDBItem.h"
#include "recognition/QnCheckKey.h"
#include "recognition/TRobustSearch.h"
#include "recognition/TChannelBasic.h"
#include "tracking/TDateTime.h"
#include "tracking/TPosting.h"

namespace orvane::database {
class TMediumDB;
}
namespace orvane::signal {
class QnKeyConversion;
}

namespace orvane::recognition {

/// Entries of the lookup buffer: a key's entries beyond these are not examined.
inline constexpr std::int32_t LookupCapacity = 4112;
/// Newest keys a search covers: those of the last three blocks.
inline constexpr std::int32_t SearchKeys = 96;
/// Weak bits per key and the flip patterns made of them.
inline constexpr std::int32_t WeakBits = 6;
inline constexpr std::int32_t FlipPatterns = 1 << WeakBits;
/// Two candidates whose errors differ by less than this are possible duplicates.
inline constexpr float DuplicateErrorDistance = 14.0f;
/// A history entry is recognised while Error + Penalty stays below this.
inline constexpr float RecognitionLimit = 40.0f;
/// Age penalty per search: normal and with Assume high integrity.
inline constexpr float PenaltyStep = 4.0f;
inline constexpr float HighIntegrityPenaltyStep = 12.0f;
/// Appended to the tray hint of a recognised clip; the hint alone without one.
inline constexpr const char* TrayHintSuffix = " - ORVANE3";
inline constexpr const char* TrayHintIdle = "ORVANE3";

/// The settings the search reads, as a snapshot kept by the recognition thread.
/// Thread: the user options are written by the main thread under the recognition lock; the
/// window fields by the recognition thread; the search reads them under the lock.
struct TSearchSettings {
    bool Form3CheckBoxBalloonChecked = false;  ///< announce clips as tray balloons
    bool Form1Visible = true;                  ///< the main window is visible
    bool Form1TrayVisible = false;             ///< the tray icon is shown
    bool Form3highIntegChecked = false;        ///< Assume high integrity: penalty 12, else 4
    bool Form3Checkbox2checked = false;        ///< Deep search: all 96 keys, else every third
    bool Form3KeepLongest = true;              ///< DuplicateKeep: longest, else shortest
    /// Robust recognition for noisy input: all 96 keys are looked up, and when no hit passes
    /// the 256-key check, every hit is scored over up to 768 keys (TRobustSearch).
    bool RobustSearch = false;
};

/// Captures in progress that take the keys a channel hears.
class ICaptureKeys {
public:
    virtual ~ICaptureKeys() = default;
    /// Appends `count` keys heard on channel `channelId` to every running capture of that
    /// channel; called once per block, twice when the new keys wrap around the key ring.
    /// Recognition thread, recognition lock held.
    virtual void AddKeys(std::int32_t channelId, const std::uint32_t* keys, std::int32_t count) = 0;
};

class TSearch final : public IBlockProcessor {
public:
    /// All must outlive the search; none is owned. `converter` is the one key converter (used
    /// by others only while recognition is paused), `verifier` the one match verifier, `index`
    /// the main key index, `settings` the recognition thread's snapshot. `captures` (may be
    /// null; not owned), for instance the program's FptRecorder, takes the keys of every block.
    TSearch(signal::QnKeyConversion& converter, QnCheckKey& verifier,
            const database::TMediumDB& index, const tracking::TPosting& posting,
            const TSearchSettings& settings, ICaptureKeys* captures = nullptr);
    TSearch(const TSearch&) = delete;
    TSearch& operator=(const TSearch&) = delete;

    /// The step for block channel.ReadPos: keys (A), and on every third block lookups (B),
    /// choice and duplicates (C) and decision (D). Does not advance ReadPos (the channel does,
    /// also when this throws). Recognition thread, recognition lock held.
    void ProcessBlock(TChannelBasic& channel) override;

    /// Step A: 32 keys and weak-bit records from the block at ReadPos into the key ring, the
    /// converter's Energy, keys to captures, UpdateI. Returns true when a search is due
    /// (UpdateI came back to 0).
    bool ComputeKeys(TChannelBasic& channel);
    /// Step B: clears the candidate list and looks up the newest keys (every third of the 96,
    /// or all with Deep search; key 0 skipped), each with flip patterns m = 0 ... 63 of its weak
    /// bits until one lookup gives an accepted hit; stops once 6144 candidates are listed.
    void LookUp(TChannelBasic& channel);
    /// Step C: ages the history, enters the best candidate, disables close rivals as
    /// duplicates (keeping the longest or shortest fingerprint), releases the candidates.
    void Choose(TChannelBasic& channel);
    /// Step D: picks the history entry with the least Error + age penalty and publishes it (or
    /// that nothing is recognised) in the clip record, the integrity figure and the posts.
    /// `dataEndingTime` is the stamp of the block after the processed one.
    void Decide(TChannelBasic& channel, tracking::TDateTime dataEndingTime);

    /// The weak-bit record of the converter's last key: bit numbers of the 6 smallest
    /// |BitVal| margins, weakest first, number j in bits 5j ... 5j+4 (first found wins ties).
    /// Reorders the converter's BitVal as it ranks them.
    static std::uint32_t RankWeakBits(signal::QnKeyConversion& converter);
    /// The 64 flip patterns of a weak-bit record: pattern m inverts weak bit t for every bit t
    /// set in m.
    static std::array<std::uint32_t, FlipPatterns> FlipPatternsOf(std::uint32_t record);

    /// Lookups (GetFromDB calls) of the last search; for tests and benchmarks.
    std::int64_t LastLookups() const { return FLookups; }
    /// The robust search's scores of the last robust search; for tests and tuning.
    const TRobustSearch& Robust() const { return FRobust; }

    /// Whether no balloon is shown (the announcement side's BalloonHidden); when false, a
    /// search without a clip posts acHideBalloon (tray shown, balloon option on). Recognition
    /// thread. Unset: hidden.
    std::function<bool()> BalloonHidden;
    /// Running captures that take the channels' keys: after every block, the block's 32 keys
    /// in time order, in two pieces when they wrap around the key ring (may be null; not owned;
    /// set it before the recognition thread starts).
    ICaptureKeys* Captures = nullptr;
    /// Called after every search (step D) with the channel and the stamp of the end of the
    /// analysed audio; a file channel steps its song tracker here. Recognition thread,
    /// recognition lock held: it must not take that lock.
    std::function<void(TChannelBasic& channel, tracking::TDateTime dataEndingTime)> OnSearched;

private:
    signal::QnKeyConversion& FConverter;
    QnCheckKey& FVerifier;
    const database::TMediumDB& FIndex;
    const tracking::TPosting& FPosting;
    const TSearchSettings& FSettings;
    std::array<database::TDBItem, LookupCapacity> FLookupBuffer{};
    // The verifier reads the query slot and offset through these.
    std::int32_t FKPos = 0;
    std::int32_t FLPos = 0;
    std::int64_t FLookups = 0;
    // The duplicate set, reserved once so choosing allocates nothing.
    std::vector<fingerprint::ISongServer*> FDuplicates;
    TRobustSearch FRobust;
};

}  // namespace orvane::recognition
