// A wake-up signal from one thread to another that waits for it: the file channel's reading
// thread wakes the recognition thread when a block is ready or the file has ended, and the
// recognition thread wakes the reading thread when it has taken blocks out of the ring.
// Thread safe: any thread notifies, one thread at a time waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace orvane::recognition {

class TWakeup {
public:
    /// Wakes the waiting thread; with nobody waiting the signal is kept for the next wait.
    void Notify() {
        {
            std::lock_guard guard(FLock);
            FSignalled = true;
        }
        FChanged.notify_one();
    }
    /// Waits until notified (taking the signal), `limit` has passed or `stop` is requested;
    /// returns whether it was notified.
    bool WaitFor(std::stop_token stop, std::chrono::microseconds limit) {
        std::unique_lock guard(FLock);
        FChanged.wait_for(guard, stop, limit, [this] { return FSignalled; });
        const bool signalled = FSignalled;
        FSignalled = false;
        return signalled;
    }
    bool WaitFor(std::chrono::microseconds limit) { return WaitFor(std::stop_token{}, limit); }

private:
    std::mutex FLock;  // guards FSignalled
    std::condition_variable_any FChanged;
    bool FSignalled = false;
};

}  // namespace orvane::recognition
