// The recognition pause: the main thread stops the recognition thread before it changes data
// that thread reads, and lets it run again afterwards. Calls nest.
// Thread: PauseRecognition and ResumeRecognition do something only on the main thread; calls
// from any other thread return at once and change nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace orvane::tracking {

class IRecognitionPause {
public:
    virtual ~IRecognitionPause() = default;
    /// Counts one more pause and returns once the recognition thread has stopped (keeping the
    /// main thread's event loop running while it waits). Main thread only.
    virtual void PauseRecognition() = 0;
    /// Ends one pause; recognition runs again when the outermost pause ends. Does not wait.
    /// Main thread only.
    virtual void ResumeRecognition() = 0;
};

/// Pauses recognition for its own lifetime, so every exit path resumes; guards nest.
class TRecognitionPauseGuard {
public:
    /// `pause` must outlive the guard.
    explicit TRecognitionPauseGuard(IRecognitionPause& pause) : FPause(pause) {
        FPause.PauseRecognition();
    }
    ~TRecognitionPauseGuard() { FPause.ResumeRecognition(); }
    TRecognitionPauseGuard(const TRecognitionPauseGuard&) = delete;
    TRecognitionPauseGuard& operator=(const TRecognitionPauseGuard&) = delete;

private:
    IRecognitionPause& FPause;
};

/// A pause with no recognition thread behind it (command-line tool, tests): it only counts.
/// The thread that creates it is the main thread.
class TCountingRecognitionPause final : public IRecognitionPause {
public:
    TCountingRecognitionPause() : FMainThread(std::this_thread::get_id()) {}

    /// Main thread: one more pause. Other threads: nothing.
    void PauseRecognition() override;
    /// Main thread: one pause less; a resume without a pause is a programmer error and is
    /// ignored. Other threads: nothing.
    void ResumeRecognition() override;

    /// Pauses not yet ended. Thread safe.
    std::int32_t PauseCount() const { return FPauseCount.load(std::memory_order_acquire); }
    /// Whether recognition would stand still now. Thread safe.
    bool Paused() const { return PauseCount() > 0; }

private:
    std::thread::id FMainThread;
    std::atomic<std::int32_t> FPauseCount{0};
};

}  // namespace orvane::tracking
