// A local WAV or MP3 file as a stream source, decoded by the engine's own readers.
// Thread: the stream's worker thread.
#pragma once

#include <memory>
#include <string>

#include "audio/uOpenAudio.h"
#include "stream/IStreamSource.h"

namespace orvane::stream {

class TFileStreamSource final : public IStreamSource {
public:
    explicit TFileStreamSource(std::string fileName);
    /// Opens the reader; throws EStreamError with the reader's message.
    void Open() override;
    /// One 8192-byte chunk (4096 samples); false at the end of the file (a short last chunk
    /// is dropped, as a file channel does).
    bool Read(std::vector<std::int16_t>& samples) override;
    void Interrupt() override {}
    bool RealTime() const override { return false; }

private:
    std::string FFileName;
    std::unique_ptr<audio::TAudioReader> FReader;
};

}  // namespace orvane::stream
