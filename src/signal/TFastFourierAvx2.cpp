// Eight-lane versions of the hot loops of TFastFourier, compiled for AVX2 and only called after
// the processor was found to support it. Same operations per value as the reference, so the
// results are identical. This unit uses intrinsics and plain pointers only: no inline function
// of a shared header is compiled here, so none of its AVX2 copies can replace the portable one.
#include "signal/TFastFourierAvx2.h"

#include <immintrin.h>

namespace orvane::signal::avx2 {
namespace {

inline __m256 Reverse8(__m256 v) { return _mm256_permutevar8x32_ps(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0)); }
inline __m128 Reverse4(__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)); }

}  // namespace

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
        const __m256 ordered =
            _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(sums), _MM_SHUFFLE(3, 1, 2, 0)));
        _mm256_storeu_ps(out + i, _mm256_mul_ps(ordered, half));
    }
}

float* LaterStages(float* s, float* d, const float* cosineTable, const float* sineTable, std::size_t n) {
    for (std::size_t bigN = 16; bigN < n; bigN *= 2) {
        const std::size_t half = bigN / 2;
        const float* cosines = cosineTable + (half - 4);
        const float* sines = sineTable + (half - 4);
        for (std::size_t i = 0; i < n; i += 2 * bigN) {
            const float* a = s + i;
            const float* bb = s + i + bigN;
            float* r = d + i;
            float* q = d + i + bigN;
            r[0] = a[0] + bb[0];
            q[0] = a[0] - bb[0];
            r[half] = a[half];
            q[half] = bb[half];
            if (half < 16) {
                for (std::size_t j = 1;; j += 4) {
                    if (j > half - 4) j = half - 4;
                    const __m128 c = _mm_loadu_ps(cosines + j), sn = _mm_loadu_ps(sines + j);
                    const __m128 b1 = _mm_loadu_ps(bb + j), b2 = _mm_loadu_ps(bb + half + j);
                    const __m128 a1 = _mm_loadu_ps(a + j), a2 = _mm_loadu_ps(a + half + j);
                    const __m128 v = _mm_sub_ps(_mm_mul_ps(b1, c), _mm_mul_ps(b2, sn));
                    _mm_storeu_ps(r + j, _mm_add_ps(a1, v));
                    _mm_storeu_ps(r + bigN - j - 3, Reverse4(_mm_sub_ps(a1, v)));
                    const __m128 w = _mm_add_ps(_mm_mul_ps(b1, sn), _mm_mul_ps(b2, c));
                    _mm_storeu_ps(q + j, _mm_add_ps(w, a2));
                    _mm_storeu_ps(q + bigN - j - 3, Reverse4(_mm_sub_ps(w, a2)));
                    if (j == half - 4) break;
                }
                continue;
            }
            // j = 1 ... half-1 in eights; the last group overlaps the one before and rewrites
            // the same values.
            for (std::size_t j = 1;; j += 8) {
                if (j > half - 8) j = half - 8;
                const __m256 c = _mm256_loadu_ps(cosines + j), sn = _mm256_loadu_ps(sines + j);
                const __m256 b1 = _mm256_loadu_ps(bb + j), b2 = _mm256_loadu_ps(bb + half + j);
                const __m256 a1 = _mm256_loadu_ps(a + j), a2 = _mm256_loadu_ps(a + half + j);
                const __m256 v = _mm256_sub_ps(_mm256_mul_ps(b1, c), _mm256_mul_ps(b2, sn));
                _mm256_storeu_ps(r + j, _mm256_add_ps(a1, v));
                _mm256_storeu_ps(r + bigN - j - 7, Reverse8(_mm256_sub_ps(a1, v)));
                const __m256 w = _mm256_add_ps(_mm256_mul_ps(b1, sn), _mm256_mul_ps(b2, c));
                _mm256_storeu_ps(q + j, _mm256_add_ps(w, a2));
                _mm256_storeu_ps(q + bigN - j - 7, Reverse8(_mm256_sub_ps(w, a2)));
                if (j == half - 8) break;
            }
        }
        float* t = s;
        s = d;
        d = t;
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
