// The record of the clip a channel currently recognises, as the search writes it and the song
// tracker and the main window read it.
// Thread: a plain value; a channel hands out consistent copies of its own record (see
// recognition/TChannelBasic.h), so a reader never sees a half-written one.
#pragma once

#include <cstdint>
#include <string>

#include "tracking/TDateTime.h"

namespace orvane::tracking {

/// The UniqueID that means "no clip".
inline constexpr std::int64_t NoClipID = 0x7FFFFFFFFFFFFFFF;

/// What a channel recognises at the moment.
struct capInfo {
    /// Decoded title of the recognised fingerprint; empty when nothing is recognised.
    std::string Caption;
    /// Not written by the engine: the main window keeps a display text here.
    std::string LastTime;
    /// UniqueID of the recognised fingerprint; NoClipID when nothing is recognised.
    std::int64_t UniqueID = NoClipID;
    /// Seconds from the start of the clip to the matched key.
    float Pos = 0.0f;
    /// Length of the clip in seconds.
    float length = 0.0f;
    /// When the matched key was heard: local date-time for live input; for a file the key's
    /// position in the file as a date-time counted from 0 (seconds / 86400).
    TDateTime TimeStamp = 0.0;
    /// True while the search rewrites the record (readers get copies and need not look at it).
    bool DontRead = false;
    /// Seconds into the played file; not written by the engine.
    float FilePos = 0.0f;

    friend bool operator==(const capInfo&, const capInfo&) = default;
};

}  // namespace orvane::tracking
