#include "recognition/TSearch.h"

#include <cmath>
#include <limits>
#include <mutex>
#include <utility>

#include "database/TMediumDB.h"
#include "fingerprint/FptAux.h"
#include "fingerprint/FptFile.h"
#include "signal/QnFFT.h"

namespace orvane::recognition {

namespace {

/// Guards the disabling of duplicates (the fingerprints' Tag and Enabled) across searches.
std::mutex& DuplicateLock() {
    static std::mutex lock;
    return lock;
}

constexpr double SecondsPerKey = 128.0 / EngineSampleRate;
constexpr double SecondsPerDay = 86400.0;

/// Rounds to the nearest integer, halves to even, clamped to 32 bits.
std::int32_t RoundHalfEven(double x) {
    const double r = std::nearbyint(x);
    if (!(r > std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    if (!(r < std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(r);
}

std::string TitleOf(const fingerprint::ISongServer& song) {
    return fingerprint::TitleOf(*song.SongFile());
}

/// Releases the candidates however the search ends.
class TCandidateRelease {
public:
    explicit TCandidateRelease(TCandidateList& list) : FList(list) {}
    ~TCandidateRelease() { FList.Clear(); }
    TCandidateRelease(const TCandidateRelease&) = delete;
    TCandidateRelease& operator=(const TCandidateRelease&) = delete;

private:
    TCandidateList& FList;
};

}  // namespace

TSearch::TSearch(signal::QnKeyConversion& converter, QnCheckKey& verifier,
                 const database::TMediumDB& index, const tracking::TPosting& posting,
                 const TSearchSettings& settings, ICaptureKeys* captures)
    : Captures(captures),
      FConverter(converter),
      FVerifier(verifier),
      FIndex(index),
      FPosting(posting),
      FSettings(settings),
      FRobust(verifier.Songs()) {
    FDuplicates.reserve(static_cast<std::size_t>(MaxCandidates) + 1);
}

void TSearch::ProcessBlock(TChannelBasic& channel) {
    if (!ComputeKeys(channel)) return;
    TCandidateRelease release(FVerifier.Candidates);
    LookUp(channel);
    Choose(channel);
    const std::int32_t next = (channel.ReadPos.load(std::memory_order_relaxed) + 1) % StreamBlocks;
    const tracking::TDateTime dataEndingTime = channel.StreamTime[static_cast<std::size_t>(next)];
    Decide(channel, dataEndingTime);
    if (OnSearched) OnSearched(channel, dataEndingTime);
}

std::uint32_t TSearch::RankWeakBits(signal::QnKeyConversion& converter) {
    auto& bitVal = converter.BitVal;
    for (int j = 1; j <= signal::KeyBits; ++j)
        bitVal[static_cast<std::size_t>(j)].Index = static_cast<std::uint8_t>(j);
    std::uint32_t record = 0;
    for (int j = 1; j <= WeakBits; ++j) {
        int smallest = j;
        float smallestValue = std::fabs(bitVal[static_cast<std::size_t>(j)].Value);
        for (int i = j + 1; i <= signal::KeyBits; ++i) {
            const float v = std::fabs(bitVal[static_cast<std::size_t>(i)].Value);
            if (v < smallestValue) {
                smallest = i;
                smallestValue = v;
            }
        }
        converter.TempBitVal = bitVal[static_cast<std::size_t>(j)];
        bitVal[static_cast<std::size_t>(j)] = bitVal[static_cast<std::size_t>(smallest)];
        bitVal[static_cast<std::size_t>(smallest)] = converter.TempBitVal;
        record += static_cast<std::uint32_t>(bitVal[static_cast<std::size_t>(j)].Index - 1)
                  << (5 * (j - 1));
    }
    return record;
}

std::array<std::uint32_t, FlipPatterns> TSearch::FlipPatternsOf(std::uint32_t record) {
    std::array<std::uint32_t, FlipPatterns> patterns{};
    for (int m = 1; m < FlipPatterns; ++m) {
        // Pattern m is pattern m without its lowest bit, with that weak bit inverted as well.
        const int t = std::countr_zero(static_cast<unsigned>(m));
        const std::uint32_t bit = 1u << ((record >> (5 * t)) & 31u);
        patterns[static_cast<std::size_t>(m)] =
            patterns[static_cast<std::size_t>(m & (m - 1))] ^ bit;
    }
    return patterns;
}

bool TSearch::ComputeKeys(TChannelBasic& channel) {
    FConverter.ETot = 0.0f;
    channel.LoadSpectrum(FConverter);
    const std::int32_t block = channel.ReadPos.load(std::memory_order_relaxed);
    for (std::int32_t i = 1; i <= signal::KeysPerBlock; ++i) {
        const std::int32_t start = block * BlockSamples + signal::HopSamples * i;
        const std::uint32_t key =
            FConverter.wav2linekeyMod(channel.StreamData.data(), start, StreamSamples);
        const auto slot = static_cast<std::size_t>(channel.RingPos);
        channel.RingBuffer[slot] = key;
        channel.LikelihoodRing[slot] = RankWeakBits(FConverter);
        channel.RingPos = (channel.RingPos + 1) % KeyRingSize;
    }
    channel.SaveSpectrum(FConverter);
    if (Captures != nullptr) {
        const std::int32_t s = (channel.RingPos - signal::KeysPerBlock + KeyRingSize) % KeyRingSize;
        const std::uint32_t* ring = channel.RingBuffer.data();
        if (s + signal::KeysPerBlock > KeyRingSize) {
            Captures->AddKeys(channel.Id(), ring + s, KeyRingSize - s);
            Captures->AddKeys(channel.Id(), ring, s + signal::KeysPerBlock - KeyRingSize);
        } else {
            Captures->AddKeys(channel.Id(), ring + s, signal::KeysPerBlock);
        }
    }
    FConverter.Energy = RoundHalfEven(static_cast<double>(FConverter.ETot) / 30.0);
    channel.UpdateI = (channel.UpdateI + 1) % 3;
    return channel.UpdateI == 0;
}

void TSearch::LookUp(TChannelBasic& channel) {
    TCandidateList& candidates = FVerifier.Candidates;
    candidates.Clear();
    FLookups = 0;
    FVerifier.SetRing(channel.RingBuffer.data(), &FKPos, &FLPos);
    const bool robust = FSettings.RobustSearch;
    const bool deep = FSettings.Form3Checkbox2checked || robust;
    if (robust) FRobust.Begin();
    for (std::int32_t offset = -1; offset >= -SearchKeys; --offset) {
        if (!deep && offset % 3 != 0) continue;
        const std::int32_t slot = (channel.RingPos + offset + KeyRingSize) % KeyRingSize;
        const std::uint32_t key = channel.RingBuffer[static_cast<std::size_t>(slot)];
        if (key == 0) continue;
        FKPos = slot;
        FLPos = offset;
        const auto patterns =
            FlipPatternsOf(channel.LikelihoodRing[static_cast<std::size_t>(slot)]);
        for (std::int32_t m = 0; m < FlipPatterns; ++m) {
            const std::int32_t found = FIndex.GetFromDB(
                FLookupBuffer.data(), LookupCapacity, key ^ patterns[static_cast<std::size_t>(m)]);
            ++FLookups;
            if (robust) FRobust.Note(FLookupBuffer.data(), found, offset);
            if (FVerifier.Check(m, FLookupBuffer.data(), found) == 1) break;
        }
        if (candidates.Full()) break;
    }
    if (robust) {
        FRobust.Verify(channel.Serial(), channel.RingBuffer.data(),
                       (channel.RingPos - 1 + KeyRingSize) % KeyRingSize, candidates,
                       candidates.Count() == 0);
    }
}

void TSearch::Choose(TChannelBasic& channel) {
    auto& history = channel.FoundItemsList;
    for (std::size_t k = history.size() - 1; k > 0; --k) history[k] = std::move(history[k - 1]);
    history[0] = FoundItem{};

    TCandidateList& candidates = FVerifier.Candidates;
    if (candidates.Count() == 0) return;
    std::int32_t best = 0;
    for (std::int32_t i = 1; i < candidates.Count(); ++i) {
        const FoundItem& c = candidates[i];
        const FoundItem& b = candidates[best];
        if (c.Error < b.Error || (c.Error == b.Error && c.Priority && !b.Priority)) best = i;
    }
    FoundItem& entry = history[0];
    entry = candidates[best];

    FDuplicates.clear();
    for (const FoundItem& c : candidates.Items()) {
        if (c.SongServer.get() != entry.SongServer.get() &&
            std::fabs(c.Error - entry.Error) < DuplicateErrorDistance) {
            FDuplicates.push_back(c.SongServer.get());
        }
    }
    if (!FDuplicates.empty()) {
        FDuplicates.push_back(entry.SongServer.get());
        const bool keepLongest = FSettings.Form3KeepLongest;
        fingerprint::ISongServer* kept = FDuplicates.front();
        for (fingerprint::ISongServer* x : FDuplicates) {
            const std::int32_t length = x->SongFile()->Length;
            const std::int32_t keptLength = kept->SongFile()->Length;
            if (keepLongest ? length > keptLength : length < keptLength) kept = x;
        }
        // Searches of several recognition threads may disable the same fingerprint at once.
        std::lock_guard disabling(DuplicateLock());
        for (fingerprint::ISongServer* x : FDuplicates) {
            if (x == kept || !x->GetEnabled()) continue;
            if (fingerprint::TSongServer* server = x->getClass()) {
                server->Tag = TRefPtr<fingerprint::ISongServer>(kept);
            }
            FPosting.PostActivity(
                "\"" + TitleOf(*x) + "\" disabled: Possible duplicate fingerprint",
                tracking::TActivityIcon::aiAttention);
            FPosting.PostActionObject(tracking::TActionCode::acDuplicateDisabled,
                                      TRefPtr<TRefCounted>(x));
            x->SetEnabled(false);
        }
        entry.SongServer = TRefPtr<fingerprint::ISongServer>(kept);
    }
    candidates.Clear();
}

void TSearch::Decide(TChannelBasic& channel, tracking::TDateTime dataEndingTime) {
    auto& history = channel.FoundItemsList;
    const float step = FSettings.Form3highIntegChecked ? HighIntegrityPenaltyStep : PenaltyStep;
    float best = 100.0f;
    std::int32_t chosen = -1;
    for (std::int32_t k = 0; k < HistorySize; ++k) {
        FoundItem& e = history[static_cast<std::size_t>(k)];
        const float pen = static_cast<float>(k) * step;
        if (e.SongServer && e.Error + pen < best && e.SongServer->GetEnabled()) {
            chosen = k;
            best = e.Error + pen;
            e.Penalty = pen;
        }
    }
    const bool recognised =
        chosen >= 0 && history[static_cast<std::size_t>(chosen)].Error +
                               history[static_cast<std::size_t>(chosen)].Penalty <
                           RecognitionLimit;
    const bool tray = FSettings.Form1TrayVisible;
    const bool balloons = FSettings.Form3CheckBoxBalloonChecked;
    if (recognised) {
        if (!FSettings.Form1Visible && !tray) return;
        const FoundItem& f = history[static_cast<std::size_t>(chosen)];
        const fingerprint::TSong& header = *f.SongServer->SongFile();
        const std::string title = fingerprint::TitleOf(header);
        const std::int32_t shift = f.NegativeShift - SearchKeys * chosen;
        tracking::capInfo cap = channel.ReadCap();
        cap.length = static_cast<float>(header.Length * SecondsPerKey);
        cap.Caption = title;
        cap.Pos = static_cast<float>(f.CheckFrom * SecondsPerKey);
        cap.TimeStamp = dataEndingTime + shift * SecondsPerKey / SecondsPerDay;
        cap.UniqueID = header.UniqueID;
        cap.DontRead = false;
        // Readers get the record whole or not at all, so DontRead never shows true.
        channel.WriteCap(cap);
        FPosting.PostActionText(tracking::TActionCode::acTrayHint, title + TrayHintSuffix);
        if (header.UniqueID != channel.LastUniqueID.load()) {
            const std::string caption = channel.Caption();
            if (tray && balloons) {
                FPosting.PostActionTexts(tracking::TActionCode::acShowBalloon,
                                         "Now playing on " + caption, title);
            }
            FPosting.PostActionTexts(tracking::TActionCode::acAnnounce, title, caption);
            channel.LastUniqueID.store(header.UniqueID);
        }
        channel.ProgressBarIntegrityPosition.store(
            // Times 2.5 rather than / 40 x 100: exact, so a true half rounds to even.
            RoundHalfEven((RecognitionLimit - (static_cast<double>(f.Error) + f.Penalty)) *
                          (100.0 / RecognitionLimit)));
        return;
    }
    FPosting.PostActionText(tracking::TActionCode::acTrayHint, TrayHintIdle);
    if (tray && balloons && BalloonHidden && !BalloonHidden()) {
        FPosting.PostAction(tracking::TActionCode::acHideBalloon, 0);
    }
    tracking::capInfo cap = channel.ReadCap();
    cap.Caption.clear();
    cap.Pos = 0.0f;
    cap.length = 0.0f;
    cap.UniqueID = tracking::NoClipID;
    channel.WriteCap(cap);
    channel.ProgressBarIntegrityPosition.store(0);
}

}  // namespace orvane::recognition
