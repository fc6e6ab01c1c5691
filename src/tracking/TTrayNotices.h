// The tray hint and the "Now playing on" balloon as logic: their texts and cuts, BalloonHidden
// and the six-second balloon timer; a tray display only has to show what it is told.
// Thread: main thread only, except BalloonHidden, which the recognition thread may read.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tracking/IClock.h"

namespace orvane::tracking {

/// The tray hint while nothing is recognised.
inline constexpr std::string_view TrayHintIdle = "ORVANE3";
/// Characters of a tray hint that are shown.
inline constexpr std::size_t TrayHintMaxChars = 64;
/// Characters of a balloon title and text that are shown.
inline constexpr std::size_t BalloonTitleMaxChars = 63;
inline constexpr std::size_t BalloonTextMaxChars = 255;
/// A balloon is hidden this long after it was shown, in milliseconds.
inline constexpr std::int64_t BalloonTimerMs = 6000;
/// The time-out the balloon itself asks of the display, in seconds.
inline constexpr int BalloonTimeoutSeconds = 3;

/// The icon of a balloon; the values are the display's.
enum class TBalloonIcon : std::int32_t { biNone = 0, biInfo = 1, biWarning = 2, biError = 3 };

/// The tray hint while clip `title` is recognised: the title and " - ORVANE3".
std::string TrayHintFor(std::string_view title);
/// The balloon title naming the channel with display caption `caption`.
std::string BalloonTitleFor(std::string_view caption);

/// The first `maxChars` characters of UTF-8 `text`, counted as the display counts them (UTF-16
/// code units); a character that does not fit whole is left out, so the result is never cut
/// inside a character. Thread: any.
std::string CutChars(std::string_view text, std::size_t maxChars);

/// What shows the hint and balloons: the tray icon of the window, or a stand-in.
class ITrayDisplay {
public:
    virtual ~ITrayDisplay() = default;
    /// Sets the tooltip; `hint` is already cut. Reports nothing.
    virtual void SetHint(const std::string& hint) = 0;
    /// Shows a balloon; `title` and `text` are already cut. Reports nothing.
    virtual void ShowBalloon(const std::string& title, const std::string& text, TBalloonIcon icon,
                             int timeoutSeconds) = 0;
    /// Hides the balloon, if any. Reports nothing.
    virtual void HideBalloon() = 0;
};

class TTrayNotices {
public:
    /// Both must outlive this object; neither is owned. The hint starts as "ORVANE3" (the
    /// display is not touched until the first change).
    TTrayNotices(ITrayDisplay& display, const IClock& clock);

    /// acTrayHint: the hint becomes the first 64 characters of `hint`.
    void SetHint(std::string_view hint);
    /// The hint as shown.
    const std::string& Hint() const { return FHint; }

    /// acShowBalloon: restarts the balloon timer, BalloonHidden := false, and shows `title`
    /// and `text` (cut to 63 and 255 characters) with the information icon for 3 seconds.
    void ShowBalloon(std::string_view title, std::string_view text);
    /// acHideBalloon: BalloonHidden := true and the balloon hidden.
    void HideBalloon();
    /// The balloon timer's event: hides a balloon still showing, BalloonHidden := true, stops
    /// the timer and sets the hint to "ORVANE3".
    void TimerBalloonTimer();
    /// Runs TimerBalloonTimer when the timer is on and its 6000 ms have passed by the clock's
    /// monotonic counter; the window calls it from a periodic tick. Returns whether it ran.
    bool Poll();

    /// True when no balloon of the program is showing. Thread safe (the search reads it to
    /// decide whether a hide request is needed).
    bool BalloonHidden() const { return FBalloonHidden.load(); }
    /// Whether the balloon timer runs.
    bool TimerEnabled() const { return FTimerEnabled; }
    /// When the running balloon timer fires, on the clock's monotonic counter in ms.
    std::int64_t TimerDueMs() const { return FTimerDueMs; }

private:
    ITrayDisplay& FDisplay;
    const IClock& FClock;
    std::string FHint{TrayHintIdle};
    std::atomic<bool> FBalloonHidden{true};
    bool FTimerEnabled = false;
    std::int64_t FTimerDueMs = 0;
};

}  // namespace orvane::tracking
