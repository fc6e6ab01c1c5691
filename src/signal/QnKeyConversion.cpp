#include <algorithm>
#include <cmath>

#include "base/Errors.h"
#include "signal/QnFFT.h"
#include "signal/TFastFourier.h"

namespace orvane::signal {

const std::array<std::int16_t, BandCount + 1> QnKeyConversion::BandEdgesHz = {
    299,  329,  359,  390,  422,  454,  488,  522,  557,  594,  631,  670,
    710,  751,  794,  838,  884,  932,  981,  1032, 1086, 1141, 1199, 1259,
    1321, 1386, 1454, 1524, 1598, 1675, 1754, 1838, 1925, 2015};

QnKeyConversion::QnKeyConversion() : QnKeyConversion(TSpectrumPath::spFast) {}

QnKeyConversion::QnKeyConversion(TSpectrumPath path) : FPath(path) {
    if (FPath == TSpectrumPath::spLiteral) {
        Fourier = std::make_unique<QnFourier>();
        Fourier->XOut = &X;
    } else {
        FFast = std::make_unique<TFastFourier>();
    }
    for (std::size_t k = 1; k <= BandEdgesHz.size(); ++k) {
        const double line = static_cast<double>(BandEdgesHz[k - 1]) * FrameSamples / 11025.0;
        CorrectedBarkScale[k] = static_cast<std::int16_t>(std::lround(line));
    }
}

QnKeyConversion::~QnKeyConversion() = default;

void QnKeyConversion::SetCAlt(std::uint8_t value) { CAlt = value & 1u; }

void QnKeyConversion::ClearSpectrum() {
    E.fill(0.0f);
    CAlt = 0;
}

std::uint32_t QnKeyConversion::wav2linekeyMod(const std::int16_t* samples, std::int32_t startIndex,
                                              std::int32_t bufLen) {
    if (samples == nullptr || bufLen < FrameSamples || startIndex < 0) {
        throw EInvalidOperation(
            "wav2linekeyMod: needs a buffer of at least 4096 samples and a start index >= 0.");
    }
    // startIndex == bufLen is a normal call (the frame then starts at sample 0).
    const std::int32_t start = startIndex % bufLen;
    const std::int32_t tail = bufLen - start;
    const std::int32_t highestI = CorrectedBarkScale[BandCount + 1];

    if (FPath == TSpectrumPath::spLiteral) {
        for (std::int32_t j = 0; j < FrameSamples; ++j) {
            const std::int64_t index = (std::int64_t{start} + j) % bufLen;
            Fourier->_in[static_cast<std::size_t>(j)] = static_cast<float>(samples[index]);
        }
        Fourier->HighestI = highestI;
        Fourier->FFT();
    } else {
        const std::int16_t* frame = samples + start;
        if (tail < FrameSamples) {
            std::copy(samples + start, samples + bufLen, FFrame.begin());
            std::copy(samples, samples + (FrameSamples - tail), FFrame.begin() + tail);
            frame = FFrame.data();
        }
        FFast->Spectrum(frame, X, highestI);
    }

    const std::size_t c = CAlt & 1u;
    float* current = E.data() + BandCount * c;
    const float* previous = E.data() + BandCount * (1 - c);
    std::array<float, BandCount + 1> sums{};  // sums[b] for band b = 1 ... 33
    if (FPath == TSpectrumPath::spLiteral) {
        for (std::size_t band = 1; band <= BandCount; ++band) {
            float sum = 0.0f;
            for (std::int32_t k = CorrectedBarkScale[band]; k <= CorrectedBarkScale[band + 1];
                 ++k) {
                sum += X[static_cast<std::size_t>(k)];
            }
            sums[band] = sum;
        }
    } else {
        // Four bands side by side over their common length, each still summed in increasing
        // order, so that four chains of additions overlap; then each band's remaining entries.
        const float* x = X.data();
        std::size_t band = 1;
        for (; band + 3 <= BandCount; band += 4) {
            std::size_t lo[4], len[4];
            for (std::size_t u = 0; u < 4; ++u) {
                lo[u] = static_cast<std::size_t>(CorrectedBarkScale[band + u]);
                len[u] = static_cast<std::size_t>(CorrectedBarkScale[band + u + 1]) - lo[u] + 1;
            }
            const std::size_t common = std::min(std::min(len[0], len[1]), std::min(len[2], len[3]));
            float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
            for (std::size_t t = 0; t < common; ++t) {
                s0 += x[lo[0] + t];
                s1 += x[lo[1] + t];
                s2 += x[lo[2] + t];
                s3 += x[lo[3] + t];
            }
            for (std::size_t t = common; t < len[0]; ++t) s0 += x[lo[0] + t];
            for (std::size_t t = common; t < len[1]; ++t) s1 += x[lo[1] + t];
            for (std::size_t t = common; t < len[2]; ++t) s2 += x[lo[2] + t];
            for (std::size_t t = common; t < len[3]; ++t) s3 += x[lo[3] + t];
            sums[band] = s0;
            sums[band + 1] = s1;
            sums[band + 2] = s2;
            sums[band + 3] = s3;
        }
        for (; band <= BandCount; ++band) {
            float sum = 0.0f;
            for (std::int32_t k = CorrectedBarkScale[band]; k <= CorrectedBarkScale[band + 1];
                 ++k) {
                sum += x[k];
            }
            sums[band] = sum;
        }
    }
    for (std::size_t band = 1; band <= BandCount; ++band) {
        Lo = CorrectedBarkScale[band];
        Hi = CorrectedBarkScale[band + 1];
        En = sums[band];
        current[band - 1] = En / static_cast<float>(Hi - Lo) / 32768.0f;
    }

    std::uint32_t key = 0;
    for (std::size_t i = 1; i <= KeyBits; ++i) {
        ETot += current[i - 1];
        const float d = (current[i - 1] - current[i]) - (previous[i - 1] - previous[i]);
        BitVal[i].Value = d;
        key = (key >> 1) | (d > 0.0f ? 0x80000000u : 0u);
    }
    LineKey = key;
    CAlt = static_cast<std::uint8_t>(c ^ 1u);
    return LineKey;
}

}  // namespace orvane::signal
