#include "tracking/TQueuePoster.h"

#include <utility>

namespace orvane::tracking {

void TQueuePoster::Post(TPostedMessage message) {
    {
        std::lock_guard queueLock(FLock);
        FQueue.push_back(std::move(message));
    }
    FArrived.notify_one();
}

std::optional<TPostedMessage> TQueuePoster::TryTake() {
    std::lock_guard queueLock(FLock);
    if (FQueue.empty()) {
        return std::nullopt;
    }
    TPostedMessage message = std::move(FQueue.front());
    FQueue.pop_front();
    return message;
}

std::optional<TPostedMessage> TQueuePoster::WaitTake(std::chrono::milliseconds timeout) {
    std::unique_lock queueLock(FLock);
    if (!FArrived.wait_for(queueLock, timeout, [this] { return !FQueue.empty(); })) {
        return std::nullopt;
    }
    TPostedMessage message = std::move(FQueue.front());
    FQueue.pop_front();
    return message;
}

std::vector<TPostedMessage> TQueuePoster::TakeAll() {
    std::lock_guard queueLock(FLock);
    std::vector<TPostedMessage> all;
    all.reserve(FQueue.size());
    for (auto& message : FQueue) {
        all.push_back(std::move(message));
    }
    FQueue.clear();
    return all;
}

std::size_t TQueuePoster::Count() const {
    std::lock_guard queueLock(FLock);
    return FQueue.size();
}

}  // namespace orvane::tracking
