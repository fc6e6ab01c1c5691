// The posting operations every thread uses to reach the main thread: activity entries (or an
// answer to a requesting program) and actions.
// Thread: any; the operations never block beyond the poster's queue lock (an answer channel
// may block for up to 1200 ms).
#pragma once

#include <cstdint>
#include <string_view>

#include "base/RefCounted.h"
#include "tracking/IAnswerChannel.h"
#include "tracking/IClock.h"
#include "tracking/IMainThreadPoster.h"

namespace orvane::tracking {

class TPosting {
public:
    /// Both must outlive this object; neither is owned.
    TPosting(IMainThreadPoster& poster, const IClock& clock) : FPoster(poster), FClock(clock) {}

    /// Posts an activity entry with a copy of `text`; `time` 0 stands for the clock's now.
    void PostActivity(std::string_view text, TActivityIcon icon, TDateTime time = 0.0) const;
    /// Sends `text` to `answer` when one is given (and posts nothing); otherwise PostActivity.
    void AnswerOrPostActivity(IAnswerChannel* answer, std::string_view text, TActivityIcon icon,
                              TDateTime time = 0.0) const;
    /// An action with a plain value (acHideBalloon, acChannelDone).
    void PostAction(TActionCode code, std::int32_t value) const;
    /// An action with one string (acTrayHint).
    void PostActionText(TActionCode code, std::string_view text) const;
    /// An action with two strings (acShowBalloon, acAnnounce).
    void PostActionTexts(TActionCode code, std::string_view text1, std::string_view text2) const;
    /// An action with a counted object (acDuplicateDisabled); the reference moves into the
    /// message and is released by the handler.
    void PostActionObject(TActionCode code, TRefPtr<TRefCounted> object) const;

    const IClock& Clock() const { return FClock; }

private:
    IMainThreadPoster& FPoster;
    const IClock& FClock;
};

}  // namespace orvane::tracking
