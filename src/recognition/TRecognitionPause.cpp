#include "recognition/TRecognitionPause.h"

#include <mutex>
#include <utility>

#include "base/Errors.h"

namespace orvane::recognition {

TRecognitionPause::TRecognitionPause(TRecognitionLock& lock, std::function<void()> pumpEvents,
                                     std::function<bool()> threadRunning)
    : FLock(lock),
      FPumpEvents(std::move(pumpEvents)),
      FThreadRunning(std::move(threadRunning)),
      FMainThread(std::this_thread::get_id()) {}

void TRecognitionPause::PauseRecognition() {
    if (std::this_thread::get_id() != FMainThread) return;
    const std::int32_t count = FPauseCount.fetch_add(1) + 1;
    {
        std::lock_guard guard(FLock);
        // An acknowledgement left from an earlier pause says nothing about this one.
        if (!FLock.PauseRequested.load()) FLock.PauseAcknowledged.store(false);
        FLock.PauseRequested.store(count > 0);
    }
    for (;;) {
        if (FPumpEvents) FPumpEvents();
        if (FLock.PauseAcknowledged.load()) return;
        if (FThreadRunning && !FThreadRunning()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(PausePollMs));
    }
}

void TRecognitionPause::ResumeRecognition() {
    if (std::this_thread::get_id() != FMainThread) return;
    if (!ORVANE_VERIFY(FPauseCount.load() > 0)) return;
    const std::int32_t count = FPauseCount.fetch_sub(1) - 1;
    std::lock_guard guard(FLock);
    FLock.PauseRequested.store(count > 0);
}

}  // namespace orvane::recognition
