// The recognition lock and the two pause flags it publishes: the recognition thread holds the
// lock for each pass over the channels; the main thread takes it to publish a pause request or
// the settings snapshot, and a channel takes it to reset its rings.
// Thread: lock/unlock from any thread; the flags are written under the lock and may be read
// without it (thread safe, non-blocking).
#pragma once

#include <atomic>
#include <mutex>

namespace orvane::recognition {

class TRecognitionLock {
public:
    /// BasicLockable, so call sites take it through std::lock_guard / std::unique_lock.
    void lock() { FMutex.lock(); }
    void unlock() { FMutex.unlock(); }
    bool try_lock() { return FMutex.try_lock(); }

    /// The main thread asks the recognition thread to stop processing channels. Written under
    /// the lock by the main thread.
    std::atomic<bool> PauseRequested{false};
    /// The recognition thread has finished its last pass and seen the request. Written under the
    /// lock by the recognition thread, only in a pass that processed nothing.
    std::atomic<bool> PauseAcknowledged{false};

private:
    std::mutex FMutex;
};

}  // namespace orvane::recognition
