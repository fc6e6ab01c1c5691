#include "support/WavWriter.h"

#include "support/TempDir.h"

namespace orvane::test {
namespace {

void Put(std::string& s, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

std::string MakeWav(const std::vector<std::int16_t>& samples, int rate, int channels, int bits) {
    const int bytesPerSample = bits / 8;
    std::string data;
    data.reserve(samples.size() * static_cast<std::size_t>(bytesPerSample));
    for (std::int16_t s : samples) {
        switch (bits) {
            case 8: data.push_back(static_cast<char>((s >> 8) + 128)); break;
            case 16: Put(data, static_cast<std::uint16_t>(s), 2); break;
            case 24: Put(data, static_cast<std::uint32_t>(static_cast<std::int32_t>(s) * 256), 3); break;
            case 32: Put(data, static_cast<std::uint32_t>(static_cast<std::int32_t>(s) * 65536), 4); break;
            default: break;
        }
    }
    std::string out = "RIFF";
    Put(out, static_cast<std::uint32_t>(36 + data.size()), 4);
    out += "WAVEfmt ";
    Put(out, 16, 4);
    Put(out, 1, 2);
    Put(out, static_cast<std::uint32_t>(channels), 2);
    Put(out, static_cast<std::uint32_t>(rate), 4);
    Put(out, static_cast<std::uint32_t>(rate * channels * bytesPerSample), 4);
    Put(out, static_cast<std::uint32_t>(channels * bytesPerSample), 2);
    Put(out, static_cast<std::uint32_t>(bits), 2);
    out += "data";
    Put(out, static_cast<std::uint32_t>(data.size()), 4);
    out += data;
    return out;
}

void WriteWav(const std::string& path, const std::vector<std::int16_t>& samples, int rate,
              int channels, int bits) {
    WriteBytes(path, MakeWav(samples, rate, channels, bits));
}

}  // namespace orvane::test
