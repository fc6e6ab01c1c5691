// What the main thread does with the messages other threads post to it: the activity entry and
// the actions. The main window implements it; the command-line tool has a plain one.
// Thread: every method runs on the main thread, one message at a time, in posting order.
#pragma once

#include <cstdint>
#include <string>

#include "base/RefCounted.h"
#include "tracking/IMainThreadPoster.h"

namespace orvane::app {

class IMainThreadHandler {
public:
    virtual ~IMainThreadHandler() = default;
    /// An activity entry for the history.
    virtual void AddActivity(tracking::TActivityData entry) = 0;
    /// acTrayHint: the new tray hint.
    virtual void TrayHint(std::string hint) = 0;
    /// acShowBalloon: Str1 the balloon title, Str2 its text.
    virtual void ShowBalloon(tracking::TTwoStr balloon) = 0;
    /// acHideBalloon.
    virtual void HideBalloon() = 0;
    /// acAnnounce: Str1 the clip title, Str2 the channel caption.
    virtual void Announce(tracking::TTwoStr clip) = 0;
    /// acDuplicateDisabled: the fingerprint disabled as a duplicate (an ISongServer); the
    /// handler holds the one reference the poster took, released when `fingerprint` goes.
    virtual void DuplicateDisabled(TRefPtr<TRefCounted> fingerprint) = 0;
    /// acChannelDone: the channel whose file-reading thread ended.
    virtual void ChannelDone(std::int32_t channel) = 0;
    /// An action code with no meaning, or with a payload that does not belong to its code.
    virtual void UndefinedAction(std::int32_t code) = 0;
    /// The same with the message's parameter (the payload's number; 0 when it carries none).
    /// By default the parameter is dropped.
    virtual void UnhandledAction(std::int32_t code, std::int64_t lParam) {
        static_cast<void>(lParam);
        UndefinedAction(code);
    }
};

/// Hands `message` to the method of `handler` that its kind and code name. Main thread.
/// Exceptions of the handler propagate.
void DispatchPosted(IMainThreadHandler& handler, tracking::TPostedMessage message);

}  // namespace orvane::app
