// Eight-lane versions of the hot loops of TFastFourier, compiled for AVX2 and only called after
// the processor was found to support it. Same operations per value as the reference, so the
// results are identical. This unit uses intrinsics and plain pointers only: no inline function
// of a shared header is compiled here, so none of its AVX2 copies can replace the portable one.
#include "signal/TFastFourierAvx2.h"

#include <immintrin.h>

namespace orvane::signal::avx2 {
namespace {

inline __m256 Reverse8(__m256 v) {
    return _mm256_permutevar8x32_ps(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0));
}

/// The two combined first stages and the third stage of one 8-entry block per lane; input k
/// of the block sits at x[rev3(k) * n/8].
inline void EightPoint(const float* x, std::size_t eighth, __m256 h, __m256 (&out)[8]) {
    const __m256 x0 = _mm256_loadu_ps(x), x1 = _mm256_loadu_ps(x + 4 * eighth);
    const __m256 x2 = _mm256_loadu_ps(x + 2 * eighth), x3 = _mm256_loadu_ps(x + 6 * eighth);
    const __m256 y0 = _mm256_loadu_ps(x + eighth), y1 = _mm256_loadu_ps(x + 5 * eighth);
    const __m256 y2 = _mm256_loadu_ps(x + 3 * eighth), y3 = _mm256_loadu_ps(x + 7 * eighth);
    const __m256 d1 = _mm256_sub_ps(x0, x1), d3 = _mm256_sub_ps(x2, x3);
    const __m256 sx01 = _mm256_add_ps(x0, x1), sx23 = _mm256_add_ps(x2, x3);
    const __m256 d0 = _mm256_add_ps(sx01, sx23), d2 = _mm256_sub_ps(sx01, sx23);
    const __m256 d5 = _mm256_sub_ps(y0, y1), d7 = _mm256_sub_ps(y2, y3);
    const __m256 sy01 = _mm256_add_ps(y0, y1), sy23 = _mm256_add_ps(y2, y3);
    const __m256 d4 = _mm256_add_ps(sy01, sy23), d6 = _mm256_sub_ps(sy01, sy23);
    out[0] = _mm256_add_ps(d0, d4);
    out[4] = _mm256_sub_ps(d0, d4);
    out[2] = d2;
    out[6] = d6;
    __m256 v = _mm256_mul_ps(_mm256_sub_ps(d5, d7), h);
    out[1] = _mm256_add_ps(d1, v);
    out[3] = _mm256_sub_ps(d1, v);
    v = _mm256_mul_ps(_mm256_add_ps(d5, d7), h);
    out[5] = _mm256_add_ps(v, d3);
    out[7] = _mm256_sub_ps(v, d3);
}

/// Rows r[0 ... 7] become columns: afterwards r[l] holds lane l of the former rows 0 ... 7.
inline void Transpose8(__m256* r) {
    const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
    const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
    const __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
    const __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
    const __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xEE);
    const __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xEE);
    r[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
    r[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
    r[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
    r[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
    r[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
    r[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
    r[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
    r[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
}

}  // namespace

namespace {

/// The third stage on two 8-blocks a and b: out[0 ... 7] = R, out[8 ... 15] = Q.
inline void ThirdStage(const __m256 (&a)[8], const __m256 (&b)[8], const float* cos3,
                       __m256 (&out)[16]) {
    out[0] = _mm256_add_ps(a[0], b[0]);
    out[8] = _mm256_sub_ps(a[0], b[0]);
    out[4] = a[4];
    out[12] = b[4];
    for (std::size_t j = 1; j < 4; ++j) {
        const __m256 c = _mm256_set1_ps(cos3[j]);
        const __m256 sn = _mm256_set1_ps(cos3[4 - j]);
        const __m256 v = _mm256_sub_ps(_mm256_mul_ps(b[j], c), _mm256_mul_ps(b[4 + j], sn));
        out[j] = _mm256_add_ps(a[j], v);
        out[8 - j] = _mm256_sub_ps(a[j], v);
        const __m256 w = _mm256_add_ps(_mm256_mul_ps(b[j], sn), _mm256_mul_ps(b[4 + j], c));
        out[8 + j] = _mm256_add_ps(w, a[4 + j]);
        out[16 - j] = _mm256_sub_ps(w, a[4 + j]);
    }
}

}  // namespace

void FirstStages(const float* x, float* out, std::size_t n, const float* cosineTable, float h,
                 const std::uint16_t* blockStarts) {
    // Lane l of group g holds the four 8-blocks of one 32-block: 8-block rev(m) for m = 8g + l
    // and its neighbours rev(m + n/16), rev(m + n/32), rev(m + 3n/32), whose inputs lie n/16,
    // n/32 and 3n/32 further on in x.
    const std::size_t eighth = n / 8;
    const std::size_t second = n / 16;
    const std::size_t third = n / 32;
    const float* cos3 = cosineTable;      // cos(j * pi/8), j = 0 ... 3
    const float* cos4 = cosineTable + 4;  // cos(j * pi/16), j = 0 ... 7
    const __m256 hh = _mm256_set1_ps(h);
    for (std::size_t g = 0; g < third / 8; ++g) {
        __m256 a[16], b[16];
        {
            __m256 e0[8], e1[8];
            EightPoint(x + 8 * g, eighth, hh, e0);
            EightPoint(x + 8 * g + second, eighth, hh, e1);
            ThirdStage(e0, e1, cos3, a);
            EightPoint(x + 8 * g + third, eighth, hh, e0);
            EightPoint(x + 8 * g + third + second, eighth, hh, e1);
            ThirdStage(e0, e1, cos3, b);
        }
        // Fourth stage: block length 16, half 8.
        __m256 r[16], q[16];
        r[0] = _mm256_add_ps(a[0], b[0]);
        q[0] = _mm256_sub_ps(a[0], b[0]);
        r[8] = a[8];
        q[8] = b[8];
        for (std::size_t j = 1; j < 8; ++j) {
            const __m256 c = _mm256_set1_ps(cos4[j]);
            const __m256 sn = _mm256_set1_ps(cos4[8 - j]);
            const __m256 v = _mm256_sub_ps(_mm256_mul_ps(b[j], c), _mm256_mul_ps(b[8 + j], sn));
            r[j] = _mm256_add_ps(a[j], v);
            r[16 - j] = _mm256_sub_ps(a[j], v);
            const __m256 w = _mm256_add_ps(_mm256_mul_ps(b[j], sn), _mm256_mul_ps(b[8 + j], c));
            q[j] = _mm256_add_ps(w, a[8 + j]);
            q[16 - j] = _mm256_sub_ps(w, a[8 + j]);
        }
        Transpose8(r);
        Transpose8(r + 8);
        Transpose8(q);
        Transpose8(q + 8);
        for (std::size_t l = 0; l < 8; ++l) {
            float* dst = out + blockStarts[8 * g + l];
            _mm256_storeu_ps(dst, r[l]);
            _mm256_storeu_ps(dst + 8, r[8 + l]);
            _mm256_storeu_ps(dst + 16, q[l]);
            _mm256_storeu_ps(dst + 24, q[8 + l]);
        }
    }
}

void WindowAndHalve(const std::int16_t* frame, const float* window, float* out, std::size_t count) {
    const __m256 half = _mm256_set1_ps(0.5f);
    for (std::size_t i = 0; i < count; i += 8) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(frame + 2 * i));
        const __m256 lo = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_castsi256_si128(s)));
        const __m256 hi = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(_mm256_extracti128_si256(s, 1)));
        const __m256 p = _mm256_mul_ps(lo, _mm256_loadu_ps(window + 2 * i));
        const __m256 q = _mm256_mul_ps(hi, _mm256_loadu_ps(window + 2 * i + 8));
        // Per 128-bit half: (p0+p1, p2+p3, q0+q1, q2+q3 | p4+p5, p6+p7, q4+q5, q6+q7), even
        // entries as left operands; then the 64-bit pairs are put in order.
        const __m256 even = _mm256_shuffle_ps(p, q, _MM_SHUFFLE(2, 0, 2, 0));
        const __m256 odd = _mm256_shuffle_ps(p, q, _MM_SHUFFLE(3, 1, 3, 1));
        const __m256 sums = _mm256_add_ps(even, odd);
        const __m256 ordered = _mm256_castpd_ps(
            _mm256_permute4x64_pd(_mm256_castps_pd(sums), _MM_SHUFFLE(3, 1, 2, 0)));
        _mm256_storeu_ps(out + i, _mm256_mul_ps(ordered, half));
    }
}

namespace {

/// One butterfly group of a stage with block length bigN (half = bigN/2) at j ... j+7, inputs
/// given: R[j] = a1 + v, R[bigN-j] = a1 - v, Q[j] = w + a2, Q[bigN-j] = w - a2.
inline void StoreStage(float* r, float* q, std::size_t bigN, std::size_t j, __m256 a1, __m256 a2,
                       __m256 b1, __m256 b2, __m256 c, __m256 sn) {
    const __m256 v = _mm256_sub_ps(_mm256_mul_ps(b1, c), _mm256_mul_ps(b2, sn));
    _mm256_storeu_ps(r + j, _mm256_add_ps(a1, v));
    _mm256_storeu_ps(r + bigN - j - 7, Reverse8(_mm256_sub_ps(a1, v)));
    const __m256 w = _mm256_add_ps(_mm256_mul_ps(b1, sn), _mm256_mul_ps(b2, c));
    _mm256_storeu_ps(q + j, _mm256_add_ps(w, a2));
    _mm256_storeu_ps(q + bigN - j - 7, Reverse8(_mm256_sub_ps(w, a2)));
}

/// The same group kept in registers: R and Q at j ... j+7 (forward) and at bigN-j-7 ... bigN-j
/// (ascending, as they would lie in memory).
struct TGroup {
    __m256 Rf, Rr, Qf, Qr;
};
inline TGroup Butterfly(const float* a, const float* bb, std::size_t half, std::size_t j, __m256 c,
                        __m256 sn) {
    const __m256 b1 = _mm256_loadu_ps(bb + j), b2 = _mm256_loadu_ps(bb + half + j);
    const __m256 a1 = _mm256_loadu_ps(a + j), a2 = _mm256_loadu_ps(a + half + j);
    const __m256 v = _mm256_sub_ps(_mm256_mul_ps(b1, c), _mm256_mul_ps(b2, sn));
    const __m256 w = _mm256_add_ps(_mm256_mul_ps(b1, sn), _mm256_mul_ps(b2, c));
    return {_mm256_add_ps(a1, v), Reverse8(_mm256_sub_ps(a1, v)), _mm256_add_ps(w, a2),
            Reverse8(_mm256_sub_ps(w, a2))};
}

/// Stage with block length bigN >= 32 alone.
void SingleStage(const float* s, float* d, std::size_t n, std::size_t bigN, const float* cosines,
                 const float* sines) {
    const std::size_t half = bigN / 2;
    for (std::size_t i = 0; i < n; i += 2 * bigN) {
        const float* a = s + i;
        const float* bb = s + i + bigN;
        float* r = d + i;
        float* q = d + i + bigN;
        r[0] = a[0] + bb[0];
        q[0] = a[0] - bb[0];
        r[half] = a[half];
        q[half] = bb[half];
        // j = 1 ... half-1 in eights; the last group overlaps the one before and rewrites the
        // same values (the stage reads s and writes d).
        for (std::size_t j = 1;; j += 8) {
            if (j > half - 8) j = half - 8;
            StoreStage(r, q, bigN, j, _mm256_loadu_ps(a + j), _mm256_loadu_ps(a + half + j),
                       _mm256_loadu_ps(bb + j), _mm256_loadu_ps(bb + half + j),
                       _mm256_loadu_ps(cosines + j), _mm256_loadu_ps(sines + j));
            if (j == half - 8) break;
        }
    }
}

/// Two stages in one pass: block length bigN >= 32 and then 2*bigN. The group at j of the first
/// stage yields, for both of its blocks, exactly the entries the second stage needs at j and at
/// bigN-j-7, so they never leave the registers.
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
        for (std::size_t j = 1;; j += 8) {
            if (j > half - 8) j = half - 8;
            const __m256 c = _mm256_loadu_ps(cos1 + j), sn = _mm256_loadu_ps(sin1 + j);
            const TGroup g0 = Butterfly(a0, b0, half, j, c, sn);
            const TGroup g1 = Butterfly(a1, b1, half, j, c, sn);
            StoreStage(r, q, 2 * bigN, j, g0.Rf, g0.Qf, g1.Rf, g1.Qf, _mm256_loadu_ps(cos2 + j),
                       _mm256_loadu_ps(sin2 + j));
            const std::size_t mirror = bigN - j - 7;
            StoreStage(r, q, 2 * bigN, mirror, g0.Rr, g0.Qr, g1.Rr, g1.Qr,
                       _mm256_loadu_ps(cos2 + mirror), _mm256_loadu_ps(sin2 + mirror));
            if (j == half - 8) break;
        }
    }
}

}  // namespace

float* LaterStages(float* s, float* d, const float* cosineTable, const float* sineTable,
                   std::size_t n) {
    std::size_t bigN = 32;
    auto swap = [&s, &d] {
        float* t = s;
        s = d;
        d = t;
    };
    for (; 2 * bigN < n; bigN *= 4) {
        StagePair(s, d, n, bigN, cosineTable, sineTable);
        swap();
    }
    if (bigN < n) {
        SingleStage(s, d, n, bigN, cosineTable + (bigN / 2 - 4), sineTable + (bigN / 2 - 4));
        swap();
    }
    return s;
}

void Magnitudes(const float* f, std::size_t nyquist, float* xOut, std::size_t count) {
    const __m256 two = _mm256_set1_ps(2.0f);
    for (std::size_t k = 0;; k += 8) {
        if (k > count - 8) k = count - 8;
        const __m256 re = _mm256_loadu_ps(f + k);
        const __m256 im = _mm256_loadu_ps(f + nyquist + k);
        const __m256 sum = _mm256_add_ps(_mm256_mul_ps(re, re), _mm256_mul_ps(im, im));
        _mm256_storeu_ps(xOut + k + 1, _mm256_mul_ps(two, _mm256_sqrt_ps(sum)));
        if (k == count - 8) break;
    }
}

}  // namespace orvane::signal::avx2
