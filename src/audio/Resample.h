// The step from 16000 Hz to the engine rate of 11025 Hz by linear interpolation.
// Thread: owned by one reader; used by its thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvane::audio {

/// Resamples a 16000 Hz stream to 11025 Hz continuously across the blocks it is fed.
/// Output sample n (counted from the first input sample) interpolates linearly at input
/// position x = n * 16000 / 11025, computed exactly in integers:
///   k = floor(16000 n / 11025), r = 16000 n mod 11025,
///   out[n] = round((in[k] * (11025 - r) + in[k + 1] * r) / 11025), ties to even,
/// and is produced as soon as input sample k + 1 has arrived. Example: after 256 inputs the
/// outputs n = 0 ... 175 exist (n = 175 needs in[254]; n = 176 needs in[256]).
/// Only the position and the last input sample carry over from block to block.
class TResampleTo11025 {
public:
    static constexpr std::uint64_t InRate = 16000;
    static constexpr std::uint64_t OutRate = 11025;

    /// Appends the output samples that `count` more input samples make available to `out`.
    void ResampleTo11025(const std::int16_t* in, std::size_t count, std::vector<std::int16_t>& out);

    /// Input samples received so far.
    std::uint64_t InputCount() const { return FInCount; }
    /// Output samples produced so far.
    std::uint64_t OutputCount() const { return FOutCount; }

private:
    std::uint64_t FInCount = 0;   // input samples received
    std::uint64_t FOutCount = 0;  // index n of the next output sample
    std::int16_t FLast = 0;       // input sample FInCount - 1
};

/// Number of 11025 Hz samples that `inputCount` samples at 16000 Hz give: the n with
/// floor(16000 n / 11025) + 1 <= inputCount - 1.
std::uint64_t ResampledCount(std::uint64_t inputCount);

}  // namespace orvane::audio
