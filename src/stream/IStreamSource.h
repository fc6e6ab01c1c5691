// Where a monitored stream's audio comes from: a network stream, a sound input or a local
// file, delivered as samples of the engine audio format (16-bit mono at 11025 Hz).
// Thread: created, opened and read by the stream's own worker thread; Interrupt and
// StreamTitle from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "stream/StreamList.h"

namespace orvane::stream {

/// A source that cannot be opened or read; the message is the reason, for the log.
class EStreamError : public EError {
public:
    using EError::EError;
};

/// Seconds without audio after which a source gives up (and the stream is reopened).
inline constexpr int NoAudioTimeoutSeconds = 10;

class IStreamSource {
public:
    virtual ~IStreamSource() = default;
    /// Connects and reads the headers. Throws EStreamError (also when interrupted or when
    /// nothing arrives within the source's time-outs). Worker thread.
    virtual void Open() = 0;
    /// Appends the next samples (16-bit mono at 11025 Hz; possibly none) to `samples`.
    /// Returns false at the end of the stream. Throws EStreamError on an error, on an
    /// interrupt, and when no audio arrived for NoAudioTimeoutSeconds. Worker thread.
    virtual bool Read(std::vector<std::int16_t>& samples) = 0;
    /// Makes a blocked Open or Read return soon (with EStreamError). Any thread.
    virtual void Interrupt() = 0;
    /// What the station says it plays (ICY StreamTitle), or empty. Thread safe.
    virtual std::string StreamTitle() const { return {}; }
    /// Whether the source delivers audio at its own real-time pace (network, sound input);
    /// false for files, which the monitor paces (or plays as fast as it can).
    virtual bool RealTime() const = 0;
};

/// Makes the source of a stream (not yet opened). Throws EStreamError when the kind of source
/// is not available. Worker thread.
using TSourceFactory = std::function<std::unique_ptr<IStreamSource>(const TStreamEntry& entry)>;

}  // namespace orvane::stream
