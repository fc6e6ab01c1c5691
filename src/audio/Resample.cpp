#include "audio/Resample.h"

namespace orvane::audio {

void TResampleTo11025::ResampleTo11025(const std::int16_t* in, std::size_t count,
                                       std::vector<std::int16_t>& out) {
    if (count == 0) return;
    const std::uint64_t first = FInCount;  // stream index of in[0]
    const std::uint64_t end = FInCount + count;
    auto sample = [&](std::uint64_t index) -> std::int64_t {
        return index < first ? FLast : in[index - first];
    };
    for (;;) {
        const std::uint64_t pos = InRate * FOutCount;
        const std::uint64_t k = pos / OutRate;
        if (k + 1 >= end) break;
        const std::int64_t r = static_cast<std::int64_t>(pos % OutRate);
        const std::int64_t num =
            sample(k) * (static_cast<std::int64_t>(OutRate) - r) + sample(k + 1) * r;
        // Floor division, then round half to even on the remainder.
        const std::int64_t d = static_cast<std::int64_t>(OutRate);
        std::int64_t q = num / d;
        std::int64_t rem = num % d;
        if (rem < 0) {
            rem += d;
            --q;
        }
        if (2 * rem > d || (2 * rem == d && (q & 1) != 0)) ++q;
        out.push_back(static_cast<std::int16_t>(q));
        ++FOutCount;
    }
    FLast = in[count - 1];
    FInCount = end;
}

std::uint64_t ResampledCount(std::uint64_t inputCount) {
    if (inputCount < 2) return 0;
    // Largest n with floor(16000 n / 11025) <= inputCount - 2, plus one.
    const std::uint64_t kMax = inputCount - 2;
    return ((kMax + 1) * TResampleTo11025::OutRate - 1) / TResampleTo11025::InRate + 1;
}

}  // namespace orvane::audio
