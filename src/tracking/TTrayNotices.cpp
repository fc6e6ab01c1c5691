#include "tracking/TTrayNotices.h"

namespace orvane::tracking {

std::string TrayHintFor(std::string_view title) { return std::string(title) + " - ORVANE3"; }

std::string BalloonTitleFor(std::string_view caption) {
    return "Now playing on " + std::string(caption);
}

std::string CutChars(std::string_view text, std::size_t maxChars) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
        } else if (lead >= 0xE0) {
            length = 3;
        } else if (lead >= 0xC2) {
            length = 2;
        }
        // A malformed sequence counts byte by byte, as its replacement characters would.
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                length = 1;
                break;
            }
        }
        const std::size_t width = length == 4 ? 2 : 1;
        if (units + width > maxChars) {
            break;
        }
        units += width;
        i += length;
    }
    return std::string(text.substr(0, i));
}

TTrayNotices::TTrayNotices(ITrayDisplay& display, const IClock& clock)
    : FDisplay(display), FClock(clock) {}

void TTrayNotices::SetHint(std::string_view hint) {
    FHint = CutChars(hint, TrayHintMaxChars);
    FDisplay.SetHint(FHint);
}

void TTrayNotices::ShowBalloon(std::string_view title, std::string_view text) {
    // Restarting the timer gives a new balloon its full six seconds.
    FTimerEnabled = true;
    FTimerDueMs = FClock.MonotonicMs() + BalloonTimerMs;
    FBalloonHidden.store(false);
    FDisplay.ShowBalloon(CutChars(title, BalloonTitleMaxChars), CutChars(text, BalloonTextMaxChars),
                         TBalloonIcon::biInfo, BalloonTimeoutSeconds);
}

void TTrayNotices::HideBalloon() {
    FBalloonHidden.store(true);
    FDisplay.HideBalloon();
}

void TTrayNotices::TimerBalloonTimer() {
    if (!FBalloonHidden.load()) {
        FDisplay.HideBalloon();
    }
    FBalloonHidden.store(true);
    FTimerEnabled = false;
    SetHint(TrayHintIdle);
}

bool TTrayNotices::Poll() {
    if (!FTimerEnabled || FClock.MonotonicMs() < FTimerDueMs) {
        return false;
    }
    TimerBalloonTimer();
    return true;
}

}  // namespace orvane::tracking
