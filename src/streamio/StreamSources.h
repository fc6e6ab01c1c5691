// The source factory of a monitor on this machine: network streams through FFmpeg, sound
// inputs through PulseAudio, local WAV and MP3 files through the engine's readers (other
// local files through FFmpeg).
// Thread: the factory is called on the streams' workers; thread safe.
#pragma once

#include "stream/IStreamSource.h"

namespace orvane::streamio {

/// With `ffmpegForFiles`, local WAV and MP3 files go through FFmpeg too (the decoding path of
/// network streams; for benchmarks).
stream::TSourceFactory MakeSourceFactory(bool ffmpegForFiles = false);

}  // namespace orvane::streamio
