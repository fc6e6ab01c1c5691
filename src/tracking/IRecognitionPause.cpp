#include "tracking/IRecognitionPause.h"

#include "base/Errors.h"

namespace orvane::tracking {

void TCountingRecognitionPause::PauseRecognition() {
    if (std::this_thread::get_id() != FMainThread) {
        return;
    }
    FPauseCount.fetch_add(1, std::memory_order_acq_rel);
}

void TCountingRecognitionPause::ResumeRecognition() {
    if (std::this_thread::get_id() != FMainThread) {
        return;
    }
    // A count below zero would make the next pause a no-op; keep it at zero instead.
    if (!ORVANE_VERIFY(FPauseCount.load(std::memory_order_acquire) > 0)) {
        return;
    }
    FPauseCount.fetch_sub(1, std::memory_order_acq_rel);
}

}  // namespace orvane::tracking
