// What the search, verifier and recognition-thread tests share: a song list and key index with
// fingerprints made from seeded keys, a channel, the verifier and the search, all on plain
// stand-ins (queue poster, hand-set clock, counting pause).
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "database/DBTabl.h"
#include "database/TMemorySongListView.h"
#include "database/TSongList.h"
#include "fingerprint/FptAux.h"
#include "fingerprint/FptFile.h"
#include "recognition/QnCheckKey.h"
#include "recognition/TChannelBasic.h"
#include "recognition/TRecognitionLock.h"
#include "recognition/TSearch.h"
#include "signal/QnFFT.h"
#include "tracking/IRecognitionPause.h"
#include "tracking/TPosting.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TrackingFakes.h"

namespace orvane::recognition::test {

/// `count` keys of a clip: each key flips two bits of the one before, as real keys change
/// slowly; never 0.
inline std::vector<std::uint32_t> SeededKeys(std::uint32_t seed, std::int32_t count) {
    std::vector<std::uint32_t> keys(static_cast<std::size_t>(count));
    std::uint32_t state = seed * 2654435761u + 12345u;
    std::uint32_t key = state | 1u;
    for (auto& k : keys) {
        state = state * 1664525u + 1013904223u;
        key ^= (1u << (state >> 27)) | (1u << ((state >> 22) & 31u));
        k = key == 0 ? 1u : key;
    }
    return keys;
}

struct TSearchKit {
    tracking::TQueuePoster Poster;
    tracking::test::TFakeClock Clock;
    tracking::TPosting Posting{Poster, Clock};
    tracking::TCountingRecognitionPause Pause;
    database::TMemorySongListView View;
    database::TSongList Songs{Pause, Posting, View};
    database::TMediumDB Index;
    QnCheckKey Verifier{Songs};
    signal::QnKeyConversion Converter;
    TSearchSettings Settings;
    TSearch Search{Converter, Verifier, Index, Posting, Settings};
    TRecognitionLock Lock;
    TChannelBasic Channel{0, 0, "Channel01", Lock, Posting};

    /// Loads a fingerprint of `keys` titled `title` into the song list and the (sorted) index;
    /// returns its slot.
    std::int32_t AddClip(const std::string& title, const std::vector<std::uint32_t>& keys) {
        auto song = MakeRef<fingerprint::TSongServer>();
        if (!keys.empty()) song->Add(keys.data(), static_cast<std::int32_t>(keys.size()));
        song->SongFile()->Title.Assign(fingerprint::EncodeTitle(title));
        const std::int32_t slot = Songs.reserveSongIndex();
        Songs.setSongServer(slot, song);
        for (std::size_t p = 0; p < keys.size(); ++p) {
            Index.AddToDB(keys[p], static_cast<std::int32_t>(p), slot);
        }
        Index.Sort();
        return slot;
    }
    fingerprint::ISongServer& Song(std::int32_t slot) { return *Songs.SongServer(slot); }

    /// Fills the channel's key ring so that slot `slot` holds key `position` of `keys` and the
    /// slots before it the keys before it (as far as there are any; the rest stays as it was).
    void Align(const std::vector<std::uint32_t>& keys, std::int32_t position, std::int32_t slot) {
        for (std::int32_t j = 0; j <= position && j < KeyRingSize; ++j) {
            const std::int32_t s = ((slot - j) % KeyRingSize + KeyRingSize) % KeyRingSize;
            Channel.RingBuffer[static_cast<std::size_t>(s)] =
                keys[static_cast<std::size_t>(position - j)];
        }
    }

    /// The messages posted since the last call.
    std::vector<tracking::TPostedMessage> Posts() { return Poster.TakeAll(); }
};

/// The actions among `posts`, with their codes.
inline std::vector<tracking::TActionMessage> Actions(
    const std::vector<tracking::TPostedMessage>& posts) {
    std::vector<tracking::TActionMessage> actions;
    for (const auto& m : posts) {
        if (const auto* a = std::get_if<tracking::TActionMessage>(&m)) actions.push_back(*a);
    }
    return actions;
}
inline std::vector<tracking::TActivityData> Entries(
    const std::vector<tracking::TPostedMessage>& posts) {
    std::vector<tracking::TActivityData> entries;
    for (const auto& m : posts) {
        if (const auto* a = std::get_if<tracking::TActivityData>(&m)) entries.push_back(*a);
    }
    return entries;
}
inline int CountCode(const std::vector<tracking::TActionMessage>& actions,
                     tracking::TActionCode code) {
    int n = 0;
    for (const auto& a : actions) n += a.Code == code ? 1 : 0;
    return n;
}

}  // namespace orvane::recognition::test
