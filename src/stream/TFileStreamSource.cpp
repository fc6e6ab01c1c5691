#include "stream/TFileStreamSource.h"

#include <cstring>
#include <utility>

#include "audio/FptExtract.h"

namespace orvane::stream {

TFileStreamSource::TFileStreamSource(std::string fileName) : FFileName(std::move(fileName)) {}

void TFileStreamSource::Open() {
    const audio::TAudioFileType type = audio::AudioFileTypeOf(FFileName);
    if (type == audio::TAudioFileType::ftOther) {
        throw EStreamError("only .mp3 and .wav files can be played");
    }
    try {
        FReader = audio::OpenAudioReader(FFileName, type);
    } catch (const std::exception& e) {
        throw EStreamError(e.what());
    }
}

bool TFileStreamSource::Read(std::vector<std::int16_t>& samples) {
    if (!FReader) throw EStreamError("the file is not open");
    std::int32_t got = 0;
    try {
        got = FReader->ReadChunk();
    } catch (const std::exception& e) {
        throw EStreamError(e.what());
    }
    if (got <= 0 || static_cast<std::uint32_t>(got) != FReader->Size()) return false;
    const std::size_t n = static_cast<std::size_t>(got) / 2;
    const std::size_t old = samples.size();
    samples.resize(old + n);
    std::memcpy(samples.data() + old, FReader->Data(), n * 2);
    return true;
}

}  // namespace orvane::stream
