#include "signal/QnFFT.h"

#include <cmath>
#include <numbers>
#include <utility>

#include "base/Errors.h"

namespace orvane::signal {

TFFT::TFFT(std::int32_t length) {
    if (length <= 4) {
        throw EInvalidOperation("This component is optimized for length >= 8.");
    }
    if ((length & (length - 1)) != 0 || length > (1 << 24)) {
        throw EInvalidOperation("The transform length must be a power of two.");
    }
    FLength = length;
    while ((1 << FBits) < length) ++FBits;

    // Reversed increment: add n/2 and carry towards the low bits. The update is skipped after
    // the last entry, where it would walk c down to 0 and never stop.
    const auto n = static_cast<std::uint32_t>(length);
    FLookupTable.resize(n);
    std::uint32_t b = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        FLookupTable[i] = b;
        if (i + 1 == n) break;
        std::uint32_t c = n / 2;
        b ^= c;
        while ((c & b) == 0) {
            c /= 2;
            b ^= c;
        }
    }

    if (FBits >= 4) {
        FCosineTable.resize((std::size_t{1} << (FBits - 1)) - 4);
        for (int level = 3; level <= FBits - 1; ++level) {
            const std::size_t m = std::size_t{1} << (level - 1);
            const auto step = static_cast<float>(std::numbers::pi / (2.0 * static_cast<double>(m)));
            for (std::size_t j = 0; j < m; ++j) {
                FCosineTable[m - 4 + j] = static_cast<float>(
                    std::cos(static_cast<double>(j) * static_cast<double>(step)));
            }
        }
    }
    FScratch.assign(n, 0.0f);
}

void TFFT::Execute(std::span<float> F, std::span<const float> X) {
    const auto n = static_cast<std::size_t>(FLength);
    if (F.size() < n || X.size() < n) {
        throw EInvalidOperation("TFFT.Execute: arrays shorter than the transform length.");
    }
    const bool overlap = F.data() < X.data() + n && X.data() < F.data() + n;
    if (overlap) {
        throw EInvalidOperation("TFFT.Execute: input and output overlap.");
    }

    // FBits - 1 passes alternate between F and the scratch buffer; an even pass count (odd
    // FBits) starts in the scratch buffer so that the last pass always lands in F.
    float* d = (FBits % 2 == 1) ? FScratch.data() : F.data();
    float* s = (d == F.data()) ? FScratch.data() : F.data();
    const std::uint32_t* rev = FLookupTable.data();
    const float* x = X.data();

    for (std::size_t i = 0; i < n; i += 4) {
        const float x0 = x[rev[i]];
        const float x1 = x[rev[i + 1]];
        const float x2 = x[rev[i + 2]];
        const float x3 = x[rev[i + 3]];
        d[i + 1] = x0 - x1;
        d[i + 3] = x2 - x3;
        d[i] = (x0 + x1) + (x2 + x3);
        d[i + 2] = (x0 + x1) - (x2 + x3);
    }
    std::swap(d, s);

    const auto h = static_cast<float>(std::numbers::sqrt2 / 2.0);
    for (std::size_t i = 0; i < n; i += 8) {
        d[i] = s[i] + s[i + 4];
        d[i + 4] = s[i] - s[i + 4];
        d[i + 2] = s[i + 2];
        d[i + 6] = s[i + 6];
        float v = (s[i + 5] - s[i + 7]) * h;
        d[i + 1] = s[i + 1] + v;
        d[i + 3] = s[i + 1] - v;
        v = (s[i + 5] + s[i + 7]) * h;
        d[i + 5] = v + s[i + 3];
        d[i + 7] = v - s[i + 3];
    }
    std::swap(d, s);

    for (int p = 3; p < FBits; ++p) {
        const std::size_t bigN = std::size_t{1} << p;
        const std::size_t half = bigN / 2;
        const float* cosines = FCosineTable.data() + (half - 4);
        for (std::size_t i = 0; i < n; i += 2 * bigN) {
            const float* a = s + i;
            const float* bb = s + i + bigN;
            float* r = d + i;
            float* q = d + i + bigN;
            r[0] = a[0] + bb[0];
            q[0] = a[0] - bb[0];
            r[half] = a[half];
            q[half] = bb[half];
            for (std::size_t j = 1; j < half; ++j) {
                const float c = cosines[j];
                const float sn = cosines[half - j];
                const float v = bb[j] * c - bb[half + j] * sn;
                r[j] = a[j] + v;
                r[bigN - j] = a[j] - v;
                const float w = bb[j] * sn + bb[half + j] * c;
                q[j] = w + a[half + j];
                q[bigN - j] = w - a[half + j];
            }
        }
        std::swap(d, s);
    }
}

QnFourier::QnFourier() : fftr(std::make_unique<TFFT>(TransformLength)) {
    for (int i = 0; i < FrameSamples; ++i) {
        const double t = static_cast<double>(i) / FrameSamples;
        Window[static_cast<std::size_t>(i)] =
            static_cast<float>(0.42 - 0.5 * std::cos(2.0 * std::numbers::pi * t) +
                               0.08 * std::cos(4.0 * std::numbers::pi * t));
    }
}

void QnFourier::FFT() {
    if (XOut == nullptr || HighestI < 0 || HighestI > TransformLength / 2) {
        throw EInvalidOperation("QnFourier.FFT: no destination or HighestI out of range.");
    }
    for (std::size_t i = 0; i < TransformLength; ++i) {
        _in[i] = (_in[2 * i] * Window[2 * i] + _in[2 * i + 1] * Window[2 * i + 1]) / 2.0f;
    }
    fftr->Execute(_out, std::span<const float>(_in.data(), TransformLength));
    constexpr std::size_t nyquist = TransformLength / 2;
    _out[nyquist] = 0.0f;
    RealArray& xOut = *XOut;
    for (std::size_t k = 0; k < static_cast<std::size_t>(HighestI); ++k) {
        const float re = _out[k];
        const float im = _out[nyquist + k];
        xOut[k + 1] = 2.0f * std::sqrt(re * re + im * im);
    }
}

}  // namespace orvane::signal
