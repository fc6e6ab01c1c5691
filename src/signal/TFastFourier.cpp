#include "signal/TFastFourier.h"

#include <cmath>
#include <numbers>

#include "base/Errors.h"
#include "signal/TFastFourierAvx2.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvane::signal {
namespace {

// Four floats processed alike. Every lane sees exactly the operation the scalar reference
// performs on that value (IEEE add, sub, mul and sqrt round the same in a lane as alone), so
// the result matches the reference bit for bit. Without SSE2 the same code runs on arrays.
#if defined(__SSE2__)
struct V4 {
    __m128 V;
};
inline V4 Load(const float* p) { return {_mm_loadu_ps(p)}; }
inline void Store(float* p, V4 a) { _mm_storeu_ps(p, a.V); }
inline V4 Splat(float f) { return {_mm_set1_ps(f)}; }
inline V4 operator+(V4 a, V4 b) { return {_mm_add_ps(a.V, b.V)}; }
inline V4 operator-(V4 a, V4 b) { return {_mm_sub_ps(a.V, b.V)}; }
inline V4 operator*(V4 a, V4 b) { return {_mm_mul_ps(a.V, b.V)}; }
inline V4 Sqrt(V4 a) { return {_mm_sqrt_ps(a.V)}; }
inline V4 Reverse(V4 a) { return {_mm_shuffle_ps(a.V, a.V, _MM_SHUFFLE(0, 1, 2, 3))}; }
inline void Transpose(V4& a, V4& b, V4& c, V4& d) { _MM_TRANSPOSE4_PS(a.V, b.V, c.V, d.V); }
/// (p[0]+p[1], p[2]+p[3], q[0]+q[1], q[2]+q[3]) with even entries as left operands.
inline V4 PairSums(V4 p, V4 q) {
    const __m128 even = _mm_shuffle_ps(p.V, q.V, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 odd = _mm_shuffle_ps(p.V, q.V, _MM_SHUFFLE(3, 1, 3, 1));
    return {_mm_add_ps(even, odd)};
}
/// Eight 16-bit samples as two vectors of floats (exact conversion).
inline void LoadSamples(const std::int16_t* p, V4& lo, V4& hi) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    lo.V = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(s, s), 16));
    hi.V = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(s, s), 16));
}
#else
struct V4 {
    std::array<float, 4> V;
};
inline V4 Load(const float* p) { return {{p[0], p[1], p[2], p[3]}}; }
inline void Store(float* p, V4 a) {
    for (std::size_t l = 0; l < 4; ++l) p[l] = a.V[l];
}
inline V4 Splat(float f) { return {{f, f, f, f}}; }
inline V4 operator+(V4 a, V4 b) {
    for (std::size_t l = 0; l < 4; ++l) a.V[l] = a.V[l] + b.V[l];
    return a;
}
inline V4 operator-(V4 a, V4 b) {
    for (std::size_t l = 0; l < 4; ++l) a.V[l] = a.V[l] - b.V[l];
    return a;
}
inline V4 operator*(V4 a, V4 b) {
    for (std::size_t l = 0; l < 4; ++l) a.V[l] = a.V[l] * b.V[l];
    return a;
}
inline V4 Sqrt(V4 a) {
    for (std::size_t l = 0; l < 4; ++l) a.V[l] = std::sqrt(a.V[l]);
    return a;
}
inline V4 Reverse(V4 a) { return {{a.V[3], a.V[2], a.V[1], a.V[0]}}; }
inline void Transpose(V4& a, V4& b, V4& c, V4& d) {
    const V4 ra = a, rb = b, rc = c, rd = d;
    a = {{ra.V[0], rb.V[0], rc.V[0], rd.V[0]}};
    b = {{ra.V[1], rb.V[1], rc.V[1], rd.V[1]}};
    c = {{ra.V[2], rb.V[2], rc.V[2], rd.V[2]}};
    d = {{ra.V[3], rb.V[3], rc.V[3], rd.V[3]}};
}
inline V4 PairSums(V4 p, V4 q) {
    return {{p.V[0] + p.V[1], p.V[2] + p.V[3], q.V[0] + q.V[1], q.V[2] + q.V[3]}};
}
inline void LoadSamples(const std::int16_t* p, V4& lo, V4& hi) {
    for (std::size_t l = 0; l < 4; ++l) {
        lo.V[l] = static_cast<float>(p[l]);
        hi.V[l] = static_cast<float>(p[4 + l]);
    }
}
#endif

/// Start of the 16-entry block written by lane m of the first stages: 8 * rev8(m).
constexpr std::array<std::uint16_t, 128> MakeBlockStarts() {
    std::array<std::uint16_t, 128> starts{};
    for (std::uint32_t m = 0; m < 128; ++m) {
        std::uint32_t r = 0;
        for (int bit = 0; bit < 8; ++bit) r |= ((m >> bit) & 1u) << (7 - bit);
        starts[m] = static_cast<std::uint16_t>(8 * r);
    }
    return starts;
}
constexpr std::array<std::uint16_t, 128> BlockStarts = MakeBlockStarts();

/// The two combined first stages and the third stage of one 8-entry block per lane. `x` points
/// at the lanes' first input; input k of the block sits at x[rev3(k) * 256] (2048 points).
inline void EightPoint(const float* x, float h, V4 (&out)[8]) {
    constexpr std::size_t q = TransformLength / 8;
    const V4 x0 = Load(x), x1 = Load(x + 4 * q), x2 = Load(x + 2 * q), x3 = Load(x + 6 * q);
    const V4 y0 = Load(x + q), y1 = Load(x + 5 * q), y2 = Load(x + 3 * q), y3 = Load(x + 7 * q);
    const V4 d1 = x0 - x1, d3 = x2 - x3;
    const V4 d0 = (x0 + x1) + (x2 + x3), d2 = (x0 + x1) - (x2 + x3);
    const V4 d5 = y0 - y1, d7 = y2 - y3;
    const V4 d4 = (y0 + y1) + (y2 + y3), d6 = (y0 + y1) - (y2 + y3);
    const V4 hh = Splat(h);
    out[0] = d0 + d4;
    out[4] = d0 - d4;
    out[2] = d2;
    out[6] = d6;
    V4 v = (d5 - d7) * hh;
    out[1] = d1 + v;
    out[3] = d1 - v;
    v = (d5 + d7) * hh;
    out[5] = v + d3;
    out[7] = v - d3;
}

}  // namespace

TFastFourier::TFastFourier(bool allowWideLanes) : FWideLanes(allowWideLanes && avx2::Available()) {
    // The tables come from the reference classes so both paths use identical constants.
    const QnFourier reference;
    FWindow = reference.Window;
    FCosines = reference.fftr->CosineTable();
    FSines.assign(FCosines.size(), 0.0f);
    for (std::size_t half = 4; half < FN / 2; half *= 2) {
        const std::size_t base = half - 4;
        for (std::size_t j = 1; j < half; ++j) FSines[base + j] = FCosines[base + half - j];
    }
}

void TFastFourier::WindowAndHalve(const std::int16_t* frame) {
    const V4 halfV = Splat(0.5f);
    for (std::size_t i = 0; i < FN; i += 4) {
        V4 lo, hi;
        LoadSamples(frame + 2 * i, lo, hi);
        const V4 p = lo * Load(FWindow.data() + 2 * i);
        const V4 q = hi * Load(FWindow.data() + 2 * i + 4);
        // Halving by multiplication is exact, as the division by 2 is.
        Store(FHalved.data() + i, PairSums(p, q) * halfV);
    }
}

void TFastFourier::FirstStages() {
    // Lane l of group g holds 8-block b = rev8(4g + l), whose inputs are x[rev3(k)*256 + 4g + l]:
    // four neighbouring inputs serve four blocks. Block b is even for 4g + l < 128, and its
    // partner b + 1 (the second half of the 16-block of stage three) is rev8(4g + l + 128).
    const auto h = static_cast<float>(std::numbers::sqrt2 / 2.0);
    const float* cos3 = FCosines.data();  // level 3: cos(j * pi/8), j = 0 ... 3
    for (std::uint32_t g = 0; g < 32; ++g) {
        V4 a[8], b[8];
        EightPoint(FHalved.data() + 4 * g, h, a);
        EightPoint(FHalved.data() + 4 * g + 128, h, b);
        V4 r[8], q[8];
        r[0] = a[0] + b[0];
        q[0] = a[0] - b[0];
        r[4] = a[4];
        q[4] = b[4];
        for (std::size_t j = 1; j < 4; ++j) {
            const V4 c = Splat(cos3[j]);
            const V4 s = Splat(cos3[4 - j]);
            const V4 v = b[j] * c - b[4 + j] * s;
            r[j] = a[j] + v;
            r[8 - j] = a[j] - v;
            const V4 w = b[j] * s + b[4 + j] * c;
            q[j] = w + a[4 + j];
            q[8 - j] = w - a[4 + j];
        }
        Transpose(r[0], r[1], r[2], r[3]);
        Transpose(r[4], r[5], r[6], r[7]);
        Transpose(q[0], q[1], q[2], q[3]);
        Transpose(q[4], q[5], q[6], q[7]);
        for (std::uint32_t l = 0; l < 4; ++l) {
            float* dst = FBufA.data() + BlockStarts[4 * g + l];
            Store(dst, r[l]);
            Store(dst + 4, r[4 + l]);
            Store(dst + 8, q[l]);
            Store(dst + 12, q[4 + l]);
        }
    }
}

namespace {

/// One butterfly group at j ... j+3 of a stage with block length bigN, inputs given:
/// R[j] = a1 + v, R[bigN-j] = a1 - v, Q[j] = w + a2, Q[bigN-j] = w - a2.
inline void StoreStage(float* r, float* q, std::size_t bigN, std::size_t j, V4 a1, V4 a2, V4 b1,
                       V4 b2, V4 c, V4 sn) {
    const V4 v = b1 * c - b2 * sn;
    Store(r + j, a1 + v);
    Store(r + bigN - j - 3, Reverse(a1 - v));
    const V4 w = b1 * sn + b2 * c;
    Store(q + j, w + a2);
    Store(q + bigN - j - 3, Reverse(w - a2));
}

/// A stage with block length bigN >= 16 alone; j = 1 ... half-1 in fours, the last group
/// overlapping the one before it (it recomputes and rewrites the same values: the stage reads
/// s and writes d).
void SingleStage(const float* s, float* d, std::size_t n, std::size_t bigN, const float* cosTable,
                 const float* sinTable) {
    const std::size_t half = bigN / 2;
    const float* cosines = cosTable + (half - 4);
    const float* sines = sinTable + (half - 4);
    for (std::size_t i = 0; i < n; i += 2 * bigN) {
        const float* a = s + i;
        const float* bb = s + i + bigN;
        float* r = d + i;
        float* q = d + i + bigN;
        r[0] = a[0] + bb[0];
        q[0] = a[0] - bb[0];
        r[half] = a[half];
        q[half] = bb[half];
        for (std::size_t j = 1;; j += 4) {
            if (j > half - 4) j = half - 4;
            StoreStage(r, q, bigN, j, Load(a + j), Load(a + half + j), Load(bb + j),
                       Load(bb + half + j), Load(cosines + j), Load(sines + j));
            if (j == half - 4) break;
        }
    }
}

/// Two stages in one pass, block length bigN >= 16 and then 2*bigN: the group at j of the
/// first stage yields, for both of its blocks, exactly what the second stage needs at j and at
/// bigN-j-3, so those values stay in registers.
void StagePair(const float* s, float* d, std::size_t n, std::size_t bigN, const float* cosTable,
               const float* sinTable) {
    const std::size_t half = bigN / 2;
    const float* cos1 = cosTable + (half - 4);
    const float* sin1 = sinTable + (half - 4);
    const float* cos2 = cosTable + (bigN - 4);
    const float* sin2 = sinTable + (bigN - 4);
    for (std::size_t i = 0; i < n; i += 4 * bigN) {
        const float* a0 = s + i;
        const float* b0 = s + i + bigN;
        const float* a1 = s + i + 2 * bigN;
        const float* b1 = s + i + 3 * bigN;
        float* r = d + i;
        float* q = d + i + 2 * bigN;
        // Entries 0 and half of the first stage, then entries 0 and bigN/2 of the second.
        const float r0Zero = a0[0] + b0[0], q0Zero = a0[0] - b0[0], r0Half = a0[half],
                    q0Half = b0[half];
        const float r1Zero = a1[0] + b1[0], q1Zero = a1[0] - b1[0], r1Half = a1[half],
                    q1Half = b1[half];
        r[0] = r0Zero + r1Zero;
        q[0] = r0Zero - r1Zero;
        r[bigN] = q0Zero;
        q[bigN] = q1Zero;
        {
            const float c = cos2[half];
            const float sn = sin2[half];
            const float v = r1Half * c - q1Half * sn;
            r[half] = r0Half + v;
            r[2 * bigN - half] = r0Half - v;
            const float w = r1Half * sn + q1Half * c;
            q[half] = w + q0Half;
            q[2 * bigN - half] = w - q0Half;
        }
        for (std::size_t j = 1;; j += 4) {
            if (j > half - 4) j = half - 4;
            const V4 c = Load(cos1 + j), sn = Load(sin1 + j);
            // First stage on both blocks: R and Q at j (forward) and at bigN-j-3 (ascending).
            const V4 a0j = Load(a0 + j), a0h = Load(a0 + half + j), b0j = Load(b0 + j),
                     b0h = Load(b0 + half + j);
            const V4 a1j = Load(a1 + j), a1h = Load(a1 + half + j), b1j = Load(b1 + j),
                     b1h = Load(b1 + half + j);
            const V4 v0 = b0j * c - b0h * sn, w0 = b0j * sn + b0h * c;
            const V4 v1 = b1j * c - b1h * sn, w1 = b1j * sn + b1h * c;
            StoreStage(r, q, 2 * bigN, j, a0j + v0, w0 + a0h, a1j + v1, w1 + a1h, Load(cos2 + j),
                       Load(sin2 + j));
            const std::size_t mirror = bigN - j - 3;
            StoreStage(r, q, 2 * bigN, mirror, Reverse(a0j - v0), Reverse(w0 - a0h),
                       Reverse(a1j - v1), Reverse(w1 - a1h), Load(cos2 + mirror),
                       Load(sin2 + mirror));
            if (j == half - 4) break;
        }
    }
}

}  // namespace

void TFastFourier::LaterStages() {
    float* s = FBufA.data();
    float* d = FBufB.data();
    std::size_t bigN = 16;
    for (; 2 * bigN < FN; bigN *= 4) {
        StagePair(s, d, FN, bigN, FCosines.data(), FSines.data());
        std::swap(s, d);
    }
    if (bigN < FN) {
        SingleStage(s, d, FN, bigN, FCosines.data(), FSines.data());
        std::swap(s, d);
    }
    FResult = s;
}

void TFastFourier::Spectrum(const std::int16_t* frame, RealArray& xOut, std::int32_t highestI) {
    if (highestI < 0 || highestI > static_cast<std::int32_t>(FN / 2)) {
        throw EInvalidOperation("TFastFourier.Spectrum: highestI out of range.");
    }
    constexpr std::size_t nyquist = FN / 2;
    const auto count = static_cast<std::size_t>(highestI);
    if (FWideLanes) {
        avx2::WindowAndHalve(frame, FWindow.data(), FHalved.data(), FN);
        avx2::FirstStages(FHalved.data(), FBufA.data(), FN, FCosines.data(),
                          static_cast<float>(std::numbers::sqrt2 / 2.0), BlockStarts.data());
        FResult = avx2::LaterStages(FBufA.data(), FBufB.data(), FCosines.data(), FSines.data(), FN);
        FResult[nyquist] = 0.0f;
        if (count >= 8) {
            avx2::Magnitudes(FResult, nyquist, xOut.data(), count);
            return;
        }
    } else {
        WindowAndHalve(frame);
        FirstStages();
        LaterStages();
    }
    float* f = FResult;
    f[nyquist] = 0.0f;
    if (count < 4) {
        for (std::size_t k = 0; k < count; ++k) {
            xOut[k + 1] = 2.0f * std::sqrt(f[k] * f[k] + f[nyquist + k] * f[nyquist + k]);
        }
        return;
    }
    const V4 two = Splat(2.0f);
    for (std::size_t k = 0;; k += 4) {
        if (k > count - 4) k = count - 4;
        const V4 re = Load(f + k);
        const V4 im = Load(f + nyquist + k);
        Store(xOut.data() + k + 1, two * Sqrt(re * re + im * im));
        if (k == count - 4) break;
    }
}

}  // namespace orvane::signal
