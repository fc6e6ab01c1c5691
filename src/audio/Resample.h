// The step from 16000 Hz to the engine rate of 11025 Hz by linear interpolation, and the cheap
// decimation by a whole factor (44,100 or 22,050 Hz to 11,025 Hz, 48,000 Hz to 16,000 Hz).
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

/// Lowers the rate by a whole factor M (2 to 8) with a Kaiser-windowed sinc low-pass spanning
/// 1.09 ms each side (2 ceil(6 rate / 11025) + 1 taps: 49 at 44,100 Hz), cutoff 5,500 Hz:
/// flat within 0.01 dB up to 2.5 kHz, so the key bands up to 2,015 Hz see no tilt, and at
/// least 75 dB down from 8 kHz, so nothing that could fold into them survives. Output sample
/// k is centred on input sample M k: the signal is not delayed. The stream before the first
/// and after the last input counts as silence. Much cheaper than a general rate changer.
class TDecimator {
public:
    /// `factor` M, `inputRate` in Hz (the cutoff is 5,500 Hz whatever the rate, below half of
    /// 11,025). Throws orvane::EInvalidOperation for a factor outside 2 ... 8 or an input rate
    /// whose output would not carry 5,500 Hz.
    TDecimator(int factor, std::uint32_t inputRate);

    /// Appends the output samples that `count` more input samples make available.
    void Process(const float* in, std::size_t count, std::vector<float>& out);
    /// Appends the outputs still due (up to the one centred on the last input); call once at
    /// the end of the stream.
    void Flush(std::vector<float>& out);

    int Factor() const { return FFactor; }
    /// The filter: the symmetric taps followed by zeros (they make whole vectors).
    const std::vector<float>& Taps() const { return FTaps; }

private:
    void Produce(std::vector<float>& out);

    int FFactor;
    std::int64_t FHalf;            // taps left of the centre
    std::int64_t FRight = 0;       // taps right of it, zero padding included
    std::vector<float> FTaps;      // 12 M + 1 symmetric ones summing to 1, then zeros
    std::vector<float> FHistory;   // inputs from stream index FHistoryStart on
    std::int64_t FHistoryStart;    // stream index of FHistory[0] (negative: leading silence)
    std::uint64_t FInCount = 0;    // inputs received
    std::uint64_t FOutCount = 0;   // outputs produced; the next is centred on M x FOutCount
};

/// Number of 11025 Hz samples that `inputCount` samples at 16000 Hz give: the n with
/// floor(16000 n / 11025) + 1 <= inputCount - 1.
std::uint64_t ResampledCount(std::uint64_t inputCount);

}  // namespace orvane::audio
