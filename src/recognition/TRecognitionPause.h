// The recognition pause with the recognition thread behind it: the main thread publishes a pause
// request under the recognition lock and waits, keeping its event loop running, until the
// recognition thread acknowledges in a pass that processed nothing. Calls nest.
// Thread: PauseRecognition and ResumeRecognition act only on the main thread (the thread that
// created the pause); from any other thread they return at once and change nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

#include "recognition/TRecognitionLock.h"
#include "tracking/IRecognitionPause.h"

namespace orvane::recognition {

/// Wait between two looks at the acknowledgement, in milliseconds.
inline constexpr int PausePollMs = 50;

class TRecognitionPause final : public tracking::IRecognitionPause {
public:
    /// `lock` must outlive the pause. `pumpEvents` processes the main thread's pending events
    /// while a pause waits (may be empty). `threadRunning` tells whether the recognition thread
    /// runs; while it does not, nobody can acknowledge, and a pause returns as soon as the
    /// request is published (no pass can start without seeing it). The creating thread is the
    /// main thread.
    TRecognitionPause(TRecognitionLock& lock, std::function<void()> pumpEvents,
                      std::function<bool()> threadRunning);

    /// Main thread: counts one more pause, publishes the request under the lock and returns
    /// once the recognition thread has acknowledged it, pumping events every 50 ms meanwhile.
    /// A new request (the count going from 0 to 1) first withdraws an old acknowledgement, so
    /// only an idle pass after this request lets it return. Other threads: nothing.
    void PauseRecognition() override;
    /// Main thread: one pause less; recognition runs again when the count reaches 0. Does not
    /// wait. A resume without a pause is a programmer error and is ignored. Other threads:
    /// nothing.
    void ResumeRecognition() override;

    /// Pauses not yet ended. Thread safe.
    std::int32_t PauseCount() const { return FPauseCount.load(); }

private:
    TRecognitionLock& FLock;
    std::function<void()> FPumpEvents;
    std::function<bool()> FThreadRunning;
    std::thread::id FMainThread;
    std::atomic<std::int32_t> FPauseCount{0};
};

}  // namespace orvane::recognition
