// Finds the first MPEG audio frame of a file: its sample rate and channel mode.
// Thread: any; works on the file it is given.
#pragma once

#include <cstdint>
#include <optional>

#include "audio/AudioFile.h"

namespace orvane::audio {

/// One decoded MPEG audio frame header.
struct TMp3FrameInfo {
    std::uint64_t Offset = 0;       ///< byte offset of the header in the file
    int Version = 1;                ///< 1 = MPEG 1, 2 = MPEG 2, 25 = MPEG 2.5
    int Layer = 3;                  ///< 1, 2 or 3
    std::uint32_t Bitrate = 0;      ///< bit/s
    std::uint32_t SampleRate = 0;   ///< Hz
    int Padding = 0;                ///< 0 or 1
    int ChannelMode = 0;            ///< 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    std::uint32_t FrameLength = 0;  ///< bytes, header included
    bool Mono() const { return ChannelMode == 3; }
};

/// Decodes the 4 header bytes at `bytes` (which must hold 4 bytes). Returns nothing when they
/// are not a frame sync or use a value this decoder rejects: a reserved version, layer or
/// sample rate index, bitrate index 15 or 0 (free format: the length is unknown), or a
/// bitrate/channel mode combination that MPEG 1 layer II forbids.
std::optional<TMp3FrameInfo> DecodeMp3Header(const std::uint8_t* bytes);

/// Size in bytes of an ID3v2 tag at the start of `bytes` (10 + size + 10 with a footer), or 0
/// when `count` bytes do not start with a complete ID3v2 tag header.
std::uint64_t Id3v2TagSize(const std::uint8_t* bytes, std::size_t count);

/// Bytes the probe reads from the start of the file (more when an ID3v2 tag needs it).
constexpr std::size_t Mp3ProbeSize = 6000;

/// Finds the first accepted frame: skips an ID3v2 tag, scans byte by byte for a header whose
/// successor (at offset + frame length, read from the file when it lies beyond the probe
/// buffer) is a frame sync inside the file. Returns nothing when no frame is found.
/// Throws orvane::EFileError when the file cannot be read.
std::optional<TMp3FrameInfo> ProbeMp3(const TAudioFile& file);

}  // namespace orvane::audio
