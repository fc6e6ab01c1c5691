#include "stream/TStreamChannel.h"

#include <utility>

namespace orvane::stream {

TStreamChannel::TStreamChannel(std::string name, recognition::TRecognitionLock& lock,
                               const tracking::TPosting& posting)
    : TChannelBasic(0, 0, std::move(name), lock, posting) {}

bool TStreamChannel::WriteBlock(const std::int16_t* samples, tracking::TDateTime stamp) {
    if (RingFull()) return false;
    CopyEngineBlock(reinterpret_cast<const std::uint8_t*>(samples), recognition::BlockSamples * 2);
    PublishBlock(stamp);
    return true;
}

}  // namespace orvane::stream
