// The recognition channel of one monitored stream: its stream ring is fed by the stream's
// worker thread, one 4096-sample block at a time, each stamped with the UTC time its audio
// arrived (days since 1970, see UtcTime.h). Its caption is the stream's name.
// Thread: switched on and off by the stream's worker (and by the monitor when it stops); the
// worker is the ring's producer, the recognition thread of its lane the consumer.
#pragma once

#include <cstdint>
#include <string>

#include "recognition/TChannelBasic.h"

namespace orvane::stream {

class TStreamChannel final : public recognition::TChannelBasic {
public:
    /// An off channel named `name`; `lock` is its lane's recognition lock.
    TStreamChannel(std::string name, recognition::TRecognitionLock& lock,
                   const tracking::TPosting& posting);

    /// Writes one block of 4096 engine samples stamped `stamp`. Returns false and writes
    /// nothing when 28 blocks are waiting. Producer; allocates nothing.
    bool WriteBlock(const std::int16_t* samples, tracking::TDateTime stamp);
    /// Whether the recognition thread has analysed everything it can (at most the last block
    /// waits, whose successor the frames would need). Thread safe.
    bool Drained() const { return WaitingBlocks() <= 1; }
};

}  // namespace orvane::stream
