// The hand-over of work to the main (user-interface) thread: activity entries and actions with
// value payloads, delivered in posting order.
// Thread: Post is called from any thread; the main thread handles what was posted.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "base/RefCounted.h"
#include "tracking/TActivityData.h"

namespace orvane::tracking {

/// The actions the main thread performs for other threads. The numbers are fixed; a handler
/// reports any other code as undefined.
enum class TActionCode : std::int32_t {
    acTrayHint = 2,           ///< payload std::string: the new tray hint
    acShowBalloon = 3,        ///< payload TTwoStr: Str1 balloon title, Str2 balloon text
    acHideBalloon = 4,        ///< payload std::int32_t 0
    acAnnounce = 7,           ///< payload TTwoStr: Str1 clip title, Str2 channel caption
    acDuplicateDisabled = 8,  ///< payload TRefPtr: the fingerprint (an ISongServer) disabled
    acChannelDone = 12,       ///< payload std::int32_t: the channel number, 0-based
};

/// Two strings of one action.
struct TTwoStr {
    std::string Str1;
    std::string Str2;
    friend bool operator==(const TTwoStr&, const TTwoStr&) = default;
};

/// An action and its payload. The counted pointer carries the one reference the poster took
/// for the receiver; the handler downcasts it to the fingerprint interface.
struct TActionMessage {
    using TPayload = std::variant<std::int32_t, std::string, TTwoStr, TRefPtr<TRefCounted>>;
    TActionCode Code = TActionCode::acHideBalloon;
    TPayload Payload;
};

/// Whatever is posted to the main thread: an activity entry or an action. Owned by the message
/// from the moment it is posted; a poster never touches it afterwards.
using TPostedMessage = std::variant<TActivityData, TActionMessage>;

class IMainThreadPoster {
public:
    virtual ~IMainThreadPoster() = default;
    /// Queues `message` for the main thread and returns at once; never waits for the handler and
    /// never reports failure. Messages of one posting thread arrive in posting order.
    /// Thread safe.
    virtual void Post(TPostedMessage message) = 0;
};

}  // namespace orvane::tracking
