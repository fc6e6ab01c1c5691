#include "stream/TEngineConverter.h"

#include "base/Errors.h"

namespace orvane::stream {

void TEngineConverter::Convert(const audio::TPcmFormat& format, const std::uint8_t* data,
                               std::size_t size, std::vector<std::int16_t>& out) {
    if (!FConverter || !(format == FFormat)) {
        if (!audio::ValidPcmFormat(format)) throw EError("the stream's audio format is not usable");
        Flush(out);
        if (FTargetRate == 0) {
            FConv16 = format.SampleRate % 8000 == 0;
            FTargetRate = FConv16 ? 16000 : 11025;
        }
        audio::IAudioConversion* conversion = audio::AudioConversion();
        if (conversion == nullptr) throw EError("no audio conversion is installed");
        FConverter = conversion->CreatePcmConverter(format, FTargetRate);
        if (!FConverter) throw EError("the stream's audio cannot be converted");
        FFormat = format;
    }
    const std::size_t frameBytes = static_cast<std::size_t>(format.FrameBytes());
    const std::size_t whole = size - size % frameBytes;
    if (whole == 0) return;
    FConverted.clear();
    FConverter->Convert(data, whole, FConverted);
    Emit(out);
}

void TEngineConverter::Flush(std::vector<std::int16_t>& out) {
    if (!FConverter) return;
    FConverted.clear();
    FConverter->Flush(FConverted);
    FConverter.reset();
    Emit(out);
}

void TEngineConverter::Emit(std::vector<std::int16_t>& out) {
    if (FConv16) {
        FResampler.ResampleTo11025(FConverted.data(), FConverted.size(), out);
    } else {
        out.insert(out.end(), FConverted.begin(), FConverted.end());
    }
}

}  // namespace orvane::stream
