// The answer channel towards another program that asked for an operation: where messages go
// instead of the activity history when a request came from outside.
// Thread: one exchange is driven by one thread at a time.
#pragma once

#include <string_view>

namespace orvane::tracking {

class IAnswerChannel {
public:
    virtual ~IAnswerChannel() = default;
    /// Hands one text answer (UTF-8 here; the transport sends UTF-16 code units) to the
    /// receiving program. May block its caller for up to 1200 ms while the receiver takes it;
    /// never throws, and does nothing once the exchange has ended.
    virtual void CreateAnswer(std::string_view text) = 0;
};

}  // namespace orvane::tracking
