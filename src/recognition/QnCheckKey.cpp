#include "recognition/QnCheckKey.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "database/TSongList.h"
#include "fingerprint/FptAux.h"
#include "recognition/TChannelBasic.h"

namespace orvane::recognition {

namespace {

constexpr std::int32_t RingMask = KeyRingSize - 1;
static_assert((KeyRingSize & RingMask) == 0, "the key ring size is a power of two");
constexpr std::int32_t BlockMask = fingerprint::KeysPerBlock - 1;
constexpr std::int32_t BlockShift =
    std::countr_zero(static_cast<unsigned>(fingerprint::KeysPerBlock));
static_assert((1 << BlockShift) == fingerprint::KeysPerBlock);

/// Keys compared between two looks at the running sum: the result is the same as looking after
/// every key (the sum only grows), and a wrong hypothesis still stops after a handful of keys.
constexpr std::int32_t ExitStride = 4;

}  // namespace

TCandidateList::TCandidateList()
    : FItems(std::make_unique<std::array<FoundItem, MaxCandidates>>()) {}

bool TCandidateList::Append(FoundItem item) {
    if (Full()) return false;
    (*FItems)[static_cast<std::size_t>(FCount)] = std::move(item);
    ++FCount;
    return true;
}

void TCandidateList::Clear() {
    for (std::int32_t i = 0; i < FCount; ++i) (*FItems)[static_cast<std::size_t>(i)] = FoundItem{};
    FCount = 0;
}

QnCheckKey::QnCheckKey(const database::TSongList& songs) : FSongs(songs) {
    for (unsigned i = 0; i < BitsTable.size(); ++i) {
        BitsTable[i] = static_cast<std::uint8_t>(std::popcount(i));
    }
}

std::int32_t QnCheckKey::CountBits(const fingerprint::TSongServer& song, std::int32_t first,
                                   std::int32_t last, const std::uint32_t* ring, std::int32_t slot,
                                   std::int32_t counter, std::int32_t thresh) {
    const auto blocks = song.Blocks();
    std::int32_t q = first;
    std::int32_t c = slot & RingMask;
    while (q <= last) {
        const std::int32_t offset = q & BlockMask;
        // One run: inside one fingerprint block and without wrapping around the ring.
        const std::int32_t n =
            std::min({last - q + 1, fingerprint::KeysPerBlock - offset, KeyRingSize - c});
        const std::uint32_t* a = blocks[static_cast<std::size_t>(q >> BlockShift)] + offset;
        const std::uint32_t* b = ring + c;
        std::int32_t i = 0;
        for (; i + ExitStride <= n; i += ExitStride) {
            counter += std::popcount(a[i] ^ b[i]) + std::popcount(a[i + 1] ^ b[i + 1]) +
                       std::popcount(a[i + 2] ^ b[i + 2]) + std::popcount(a[i + 3] ^ b[i + 3]);
            if (counter > thresh) return counter;
        }
        for (; i < n; ++i) counter += std::popcount(a[i] ^ b[i]);
        if (counter > thresh) return counter;
        q += n;
        c = (c + n) & RingMask;
    }
    return counter;
}

std::int32_t QnCheckKey::Check(std::int32_t level, const database::TDBItem* keys,
                               std::int32_t size) {
    (void)level;
    if (size <= 0 || keys == nullptr) return -1;
    if (!ORVANE_VERIFY(RingBuffer != nullptr && KPos != nullptr && LPos != nullptr)) return -1;
    Thresh = CheckThreshold;
    std::int32_t result = -1;
    for (std::int32_t e = 0; e < size; ++e) {
        CheckFrom = keys[e].LineNo();
        SongNo = keys[e].SongNo();
        // The song list holds the reference while recognition runs: slots change only while it
        // is paused, so the comparison needs no reference of its own.
        fingerprint::ISongServer* ss = FSongs.SongServer(SongNo);
        if (ss == nullptr || !ss->GetEnabled()) continue;
        const fingerprint::TSongServer* song = ss->getClass();
        if (song == nullptr || CheckFrom >= song->Length()) continue;
        InitPos = *KPos + KeyRingSize;
        std::int32_t first;
        std::int32_t c;
        if (CheckFrom >= CheckKeys) {
            Counter = 0;
            first = CheckFrom - (CheckKeys - 1);
            c = InitPos - (CheckKeys - 1);
        } else {
            Counter = (CheckKeys - CheckFrom) * MissingKeyBits;
            first = 1;
            c = InitPos - CheckFrom + 1;
        }
        if (Counter > Thresh) continue;
        if (first <= CheckFrom) {
            Counter = CountBits(*song, first, CheckFrom, RingBuffer, c, Counter, Thresh);
        }
        if (Counter > Thresh) continue;
        Error = static_cast<float>(Counter) / 256.0f / 32.0f * 100.0f;
        if (!Candidates.Full()) {
            FoundItem item;
            item.Error = Error;
            item.SongServer = TRefPtr<fingerprint::ISongServer>(ss);
            item.InitPos = InitPos;
            item.CheckFrom = CheckFrom;
            item.NegativeShift = *LPos;
            Candidates.Append(std::move(item));
        }
        result = 1;
    }
    return result;
}

}  // namespace orvane::recognition
