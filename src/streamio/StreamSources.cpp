#include "streamio/StreamSources.h"

#include <memory>

#include "audio/FptExtract.h"
#include "stream/TFileStreamSource.h"
#include "streamio/TFfmpegSource.h"
#include "streamio/TPulseSource.h"

namespace orvane::streamio {

namespace {

/// A local file that only FFmpeg reads: decoded as a network stream would be, and paced by
/// the monitor like every file.
class TFfmpegFileSource final : public stream::IStreamSource {
public:
    explicit TFfmpegFileSource(const std::string& fileName) : FSource(fileName) {}
    void Open() override { FSource.Open(); }
    bool Read(std::vector<std::int16_t>& samples) override { return FSource.Read(samples); }
    void Interrupt() override { FSource.Interrupt(); }
    std::string StreamTitle() const override { return FSource.StreamTitle(); }
    bool RealTime() const override { return false; }

private:
    TFfmpegSource FSource;
};

}  // namespace

stream::TSourceFactory MakeSourceFactory(bool ffmpegForFiles) {
    return [ffmpegForFiles](
               const stream::TStreamEntry& entry) -> std::unique_ptr<stream::IStreamSource> {
        switch (entry.Kind) {
            case stream::TSourceKind::skNetwork:
                return std::make_unique<TFfmpegSource>(entry.Source);
            case stream::TSourceKind::skPulse:
                return std::make_unique<TPulseSource>(entry.Source.substr(6));
            case stream::TSourceKind::skFile:
                if (!ffmpegForFiles &&
                    audio::AudioFileTypeOf(entry.Source) != audio::TAudioFileType::ftOther) {
                    return std::make_unique<stream::TFileStreamSource>(entry.Source);
                }
                return std::make_unique<TFfmpegFileSource>(entry.Source);
        }
        return nullptr;
    };
}

}  // namespace orvane::streamio
