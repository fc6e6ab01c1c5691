// A verified candidate: a fingerprint, where in it the channel's audio matched, and how well.
// Thread: written by the recognition thread only (candidate list, a channel's history).
#pragma once

#include <cstdint>

#include "base/RefCounted.h"
#include "fingerprint/FptAux.h"

namespace orvane::recognition {

struct FoundItem {
    /// Share of differing bits over the compared keys, in percent (0 ... 40).
    float Error = 0.0f;
    /// Age penalty the search gives a history entry when it ranks the history; 0 in the list.
    float Penalty = 0.0f;
    /// Wins ties in the search's choice.
    bool Priority = false;
    /// The fingerprint; empty for an unused history entry. Holds one reference.
    TRefPtr<fingerprint::ISongServer> SongServer;
    /// Key ring slot of the query key plus 2048.
    std::int32_t InitPos = 0;
    /// Position of the matched key in the fingerprint, in keys.
    std::int32_t CheckFrom = 0;
    /// The query key's offset from the newest key of the channel, -1 ... -96.
    std::int32_t NegativeShift = 0;
};

}  // namespace orvane::recognition
