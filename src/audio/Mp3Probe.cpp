#include "audio/Mp3Probe.h"

#include <algorithm>
#include <vector>

namespace orvane::audio {
namespace {

// Bitrates in kbit/s by bitrate index 0..14.
constexpr std::uint16_t Mpeg1Layer1[15] = {0,   32,  64,  96,  128, 160, 192, 224,
                                           256, 288, 320, 352, 384, 416, 448};
constexpr std::uint16_t Mpeg1Layer2[15] = {0,   32,  48,  56,  64,  80,  96, 112,
                                           128, 160, 192, 224, 256, 320, 384};
constexpr std::uint16_t Mpeg1Layer3[15] = {0,   32,  40,  48,  56,  64,  80, 96,
                                           112, 128, 160, 192, 224, 256, 320};
constexpr std::uint16_t Mpeg2Layer1[15] = {0,   32,  48,  56,  64,  80,  96, 112,
                                           128, 144, 160, 176, 192, 224, 256};
constexpr std::uint16_t Mpeg2Layer23[15] = {0,  8,  16, 24,  32,  40,  48, 56,
                                            64, 80, 96, 112, 128, 144, 160};
constexpr std::uint32_t Mpeg1Rates[3] = {44100, 48000, 32000};

bool IsSync(const std::uint8_t* b) { return b[0] == 0xFF && b[1] >= 0xE0; }

}  // namespace

std::optional<TMp3FrameInfo> DecodeMp3Header(const std::uint8_t* b) {
    if (!IsSync(b)) return std::nullopt;
    const int versionBits = (b[1] >> 3) & 3;
    const int layerBits = (b[1] >> 1) & 3;
    const int bitrateIndex = (b[2] >> 4) & 15;
    const int rateIndex = (b[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || rateIndex == 3 || bitrateIndex == 15 ||
        bitrateIndex == 0) {
        return std::nullopt;
    }
    TMp3FrameInfo info;
    info.Version = versionBits == 3 ? 1 : (versionBits == 2 ? 2 : 25);
    info.Layer = 4 - layerBits;
    info.Padding = (b[2] >> 1) & 1;
    info.ChannelMode = (b[3] >> 6) & 3;
    const std::uint16_t* table = nullptr;
    if (info.Version == 1) {
        table = info.Layer == 1 ? Mpeg1Layer1 : (info.Layer == 2 ? Mpeg1Layer2 : Mpeg1Layer3);
    } else {
        table = info.Layer == 1 ? Mpeg2Layer1 : Mpeg2Layer23;
    }
    const std::uint32_t kbit = table[bitrateIndex];
    if (info.Version == 1 && info.Layer == 2) {
        const bool mono = info.ChannelMode == 3;
        const bool lowRate = kbit == 32 || kbit == 48 || kbit == 56 || kbit == 80;
        const bool highRate = kbit == 224 || kbit == 256 || kbit == 320 || kbit == 384;
        if ((lowRate && !mono) || (highRate && mono)) return std::nullopt;
    }
    info.Bitrate = kbit * 1000;
    const std::uint32_t divisor = info.Version == 1 ? 1 : (info.Version == 2 ? 2 : 4);
    info.SampleRate = Mpeg1Rates[rateIndex] / divisor;
    const std::uint32_t pad = static_cast<std::uint32_t>(info.Padding);
    if (info.Layer == 1) {
        info.FrameLength = 4 * (12 * info.Bitrate / info.SampleRate + pad);
    } else if (info.Layer == 2 || info.Version == 1) {
        info.FrameLength = 144 * info.Bitrate / info.SampleRate + pad;
    } else {
        info.FrameLength = 72 * info.Bitrate / info.SampleRate + pad;
    }
    return info;
}

std::uint64_t Id3v2TagSize(const std::uint8_t* b, std::size_t count) {
    if (count < 10 || b[0] != 'I' || b[1] != 'D' || b[2] != '3') return 0;
    const std::uint64_t size = (static_cast<std::uint64_t>(b[6] & 0x7F) << 21) |
                               (static_cast<std::uint64_t>(b[7] & 0x7F) << 14) |
                               (static_cast<std::uint64_t>(b[8] & 0x7F) << 7) |
                               static_cast<std::uint64_t>(b[9] & 0x7F);
    return 10 + size + ((b[5] & 0x10) != 0 ? 10 : 0);
}

std::optional<TMp3FrameInfo> ProbeMp3(const TAudioFile& file) {
    const std::uint64_t fileSize = file.Size();
    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(Mp3ProbeSize, fileSize)));
    buffer.resize(file.ReadAt(0, buffer.data(), buffer.size()));

    std::uint64_t start = Id3v2TagSize(buffer.data(), buffer.size());
    if (start > 0 && buffer.size() < start + 3000 && buffer.size() < fileSize) {
        // A long tag: read again so that 3000 bytes after it are searched.
        buffer.resize(static_cast<std::size_t>(std::min<std::uint64_t>(start + 3000, fileSize)));
        buffer.resize(file.ReadAt(0, buffer.data(), buffer.size()));
    }

    const std::uint8_t* data = buffer.data();
    const std::uint64_t size = buffer.size();
    for (std::uint64_t i = start; i + 4 <= size; ++i) {
        if (!IsSync(data + i)) continue;
        std::optional<TMp3FrameInfo> info = DecodeMp3Header(data + i);
        if (!info) continue;
        // A frame is believed when the next header follows where its length says.
        const std::uint64_t next = i + info->FrameLength;
        if (next + 4 > fileSize) continue;
        std::uint8_t following[2];
        if (next + 2 <= size) {
            following[0] = data[next];
            following[1] = data[next + 1];
        } else if (file.ReadAt(next, following, 2) != 2) {
            continue;
        }
        if (!IsSync(following)) continue;
        info->Offset = i;
        return info;
    }
    return std::nullopt;
}

}  // namespace orvane::audio
