// A plain thread-safe queue of posted messages, for the command-line tool and tests: whoever
// plays the main thread takes the messages out in posting order.
// Thread: Post from any thread; Take... from the thread that handles the messages.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "tracking/IMainThreadPoster.h"

namespace orvane::tracking {

class TQueuePoster final : public IMainThreadPoster {
public:
    /// Appends `message`; wakes a waiting taker. Thread safe, never blocks beyond the lock.
    void Post(TPostedMessage message) override;

    /// The oldest message, or nothing when the queue is empty. Thread safe.
    std::optional<TPostedMessage> TryTake();
    /// The oldest message, waiting up to `timeout` for one to arrive. Thread safe.
    std::optional<TPostedMessage> WaitTake(std::chrono::milliseconds timeout);
    /// Every queued message, oldest first; the queue is empty afterwards. Thread safe.
    std::vector<TPostedMessage> TakeAll();
    /// Number of queued messages; may change at once. Thread safe.
    std::size_t Count() const;

private:
    mutable std::mutex FLock;
    std::condition_variable FArrived;
    std::deque<TPostedMessage> FQueue;
};

}  // namespace orvane::tracking
