#include <algorithm>
#include <bit>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "signal/QnFFT.h"
#include "support/TestSignals.h"

namespace orvane::signal {
namespace {

using test::TSamples;

/// Keys of a stream in order, one per hop, as the file path computes them.
std::vector<std::uint32_t> KeysOf(QnKeyConversion& conv, const TSamples& stream) {
    std::vector<std::uint32_t> keys;
    const auto len = static_cast<std::int32_t>(stream.size());
    for (std::int32_t start = 0; start + FrameSamples <= len; start += HopSamples) {
        keys.push_back(conv.wav2linekeyMod(stream.data(), start, len));
    }
    return keys;
}

TSamples Concat(std::initializer_list<TSamples> parts) {
    TSamples out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

/// About 95 seconds of varied audio: tones, chirps, noise, music, silence, full-scale values.
TSamples VariedStream() {
    TSamples extremes(20000);
    for (std::size_t i = 0; i < extremes.size(); ++i) {
        extremes[i] = static_cast<std::int16_t>((i / 7) % 2 == 0 ? 32767 : -32768);
    }
    TSamples music;
    for (std::uint32_t seed = 40; seed < 50; ++seed) {
        const TSamples part = test::Music(seed, 50000);
        music.insert(music.end(), part.begin(), part.end());
    }
    return Concat({music, test::Tone(440.0, 30000), test::Tone(1200.0, 20000, 11025, 300.0),
                   test::Chirp(100.0, 2700.0, 60000),
                   test::Chirp(2500.0, 250.0, 40000, 11025, 20000.0), test::Noise(1, 40000),
                   test::Noise(2, 20000, 30.0), test::Silence(9000), test::Music(1, 120000),
                   test::Music(2, 100000), test::Tone(700.0, 5000, 11025, 1.0), extremes,
                   test::Music(3, 80000)});
}

TEST(QnKeyConversion, ConvertsTheBandEdgeFrequenciesToTheseLines) {
    const std::array<std::int16_t, 34> expected = {
        111, 122, 133, 145, 157, 169, 181, 194, 207, 221, 234, 249, 264, 279, 295, 311, 328,
        346, 364, 383, 403, 424, 445, 468, 491, 515, 540, 566, 594, 622, 652, 683, 715, 749};
    QnKeyConversion conv;
    for (std::size_t k = 1; k <= 34; ++k)
        EXPECT_EQ(conv.CorrectedBarkScale[k], expected[k - 1]) << k;
}

TEST(QnKeyConversion, StartsWithEveryFieldAtZero) {
    QnKeyConversion conv;
    EXPECT_EQ(conv.CAlt, 0);
    EXPECT_EQ(conv.ETot, 0.0f);
    EXPECT_EQ(conv.Energy, 0);
    EXPECT_EQ(conv.LineKey, 0u);
    for (float e : conv.E) EXPECT_EQ(e, 0.0f);
}

TEST(QnKeyConversion, GivesKeyZeroForSilenceAfterSilence) {
    for (auto path : {TSpectrumPath::spFast, TSpectrumPath::spLiteral}) {
        QnKeyConversion conv(path);
        for (std::uint32_t key : KeysOf(conv, test::Silence(12288))) ASSERT_EQ(key, 0u);
        for (std::size_t i = 1; i <= 32; ++i) EXPECT_EQ(conv.BitVal[i].Value, 0.0f);
        EXPECT_EQ(conv.ETot, 0.0f);
    }
}

TEST(QnKeyConversion, ComparesTheFirstFrameWithSilence) {
    // Band energies recomputed here from the magnitudes: bit i-1 is set exactly when band i
    // holds more energy than band i+1.
    for (auto path : {TSpectrumPath::spFast, TSpectrumPath::spLiteral}) {
        for (std::uint32_t seed : {1u, 2u, 3u}) {
            QnKeyConversion conv(path);
            const TSamples music = test::Music(seed, FrameSamples);
            const std::uint32_t key = conv.wav2linekeyMod(music.data(), 0, FrameSamples);
            float band[34];
            for (int b = 1; b <= 33; ++b) {
                const int lo = conv.CorrectedBarkScale[static_cast<std::size_t>(b)];
                const int hi = conv.CorrectedBarkScale[static_cast<std::size_t>(b) + 1];
                float sum = 0.0f;
                for (int k = lo; k <= hi; ++k) sum += conv.X[static_cast<std::size_t>(k)];
                band[b] = sum / static_cast<float>(hi - lo) / 32768.0f;
                EXPECT_EQ(conv.E[static_cast<std::size_t>(b - 1)], band[b]);
                EXPECT_EQ(conv.E[static_cast<std::size_t>(b + 32)], 0.0f);
            }
            std::uint32_t expected = 0;
            for (int i = 1; i <= 32; ++i) {
                if (band[i] > band[i + 1]) expected |= 1u << (i - 1);
            }
            EXPECT_EQ(key, expected);
            EXPECT_EQ(conv.LineKey, expected);
            EXPECT_EQ(conv.CAlt, 1);
            EXPECT_NE(key, 0u);
        }
    }
}

TEST(QnKeyConversion, SetsEachBitFromTheChangeOfItsBandSlope) {
    QnKeyConversion conv;
    const TSamples music = test::Music(4, 30000);
    const auto len = static_cast<std::int32_t>(music.size());
    BarkSpec before = conv.E;
    for (std::int32_t start = 0; start + FrameSamples <= len; start += 5 * HopSamples) {
        const std::size_t c = conv.CAlt;
        const std::uint32_t key = conv.wav2linekeyMod(music.data(), start, len);
        const float* now = conv.E.data() + 33 * c;
        const float* prev = before.data() + 33 * (1 - c);
        for (std::size_t i = 1; i <= 32; ++i) {
            const float d = (now[i - 1] - now[i]) - (prev[i - 1] - prev[i]);
            ASSERT_EQ(conv.BitVal[i].Value, d);
            ASSERT_EQ((key >> (i - 1)) & 1u, d > 0.0f ? 1u : 0u) << "bit " << i - 1;
        }
        // The previous half is left as it was; only the current half changed.
        for (std::size_t b = 0; b < 33; ++b) ASSERT_EQ(conv.E[33 * (1 - c) + b], prev[b]);
        before = conv.E;
    }
}

TEST(QnKeyConversion, GivesKeyZeroForTheSameFrameTwiceInARow) {
    QnKeyConversion conv;
    const TSamples noise = test::Noise(9, 8192);
    conv.wav2linekeyMod(noise.data(), 100, 8192);
    EXPECT_EQ(conv.wav2linekeyMod(noise.data(), 100, 8192), 0u);
}

TEST(QnKeyConversion, AccumulatesTheEnergyOfBandsOneTo32) {
    QnKeyConversion conv;
    const TSamples music = test::Music(5, 20000);
    float expected = 0.0f;
    for (std::int32_t start : {0, 128, 9000}) {
        conv.wav2linekeyMod(music.data(), start, 20000);
        const std::size_t c = conv.CAlt ^ 1u;
        for (std::size_t b = 0; b < 32; ++b) expected += conv.E[33 * c + b];
    }
    EXPECT_EQ(conv.ETot, expected);
    EXPECT_GT(conv.ETot, 0.0f);
}

TEST(QnKeyConversion, WrapsAFrameAroundTheEndOfTheCircularBuffer) {
    // The buffer is longer than bufLen: entries beyond bufLen must never be read.
    constexpr std::int32_t bufLen = 12288;
    TSamples buffer = test::Music(6, bufLen);
    buffer.resize(bufLen + 5000, 12345);
    struct TCase {
        std::int32_t Start;
        std::int32_t Rotated;  // where the same frame starts in the unrolled buffer
    };
    const TCase cases[] = {{bufLen - 1, bufLen - 1},
                           {bufLen, 0},
                           {bufLen - 4096, bufLen - 4096},
                           {bufLen - 4095, bufLen - 4095},
                           {bufLen - 100, bufLen - 100},
                           {2 * bufLen + 7, 7},
                           {0, 0}};
    TSamples unrolled(buffer.begin(), buffer.begin() + bufLen);
    unrolled.insert(unrolled.end(), buffer.begin(), buffer.begin() + bufLen);
    for (auto path : {TSpectrumPath::spFast, TSpectrumPath::spLiteral}) {
        for (const TCase& tc : cases) {
            SCOPED_TRACE(tc.Start);
            QnKeyConversion wrapped(path), straight(path);
            const std::uint32_t key = wrapped.wav2linekeyMod(buffer.data(), tc.Start, bufLen);
            const std::uint32_t expected =
                straight.wav2linekeyMod(unrolled.data(), tc.Rotated, 2 * bufLen);
            EXPECT_EQ(key, expected);
            EXPECT_EQ(wrapped.X, straight.X);
        }
    }
}

TEST(QnKeyConversion, StartAtBufLenReadsTheFrameAtZero) {
    const TSamples music = test::Music(7, FrameSamples);
    QnKeyConversion a, b;
    EXPECT_EQ(a.wav2linekeyMod(music.data(), FrameSamples, FrameSamples),
              b.wav2linekeyMod(music.data(), 0, FrameSamples));
}

TEST(QnKeyConversion, KeepsItsKeysWhenTheStreamIsScaled) {
    // A quiet base so that no factor clips; base * factor is an exact integer for every case.
    TSamples base = test::Music(8, 60000);
    for (auto& s : base) s = static_cast<std::int16_t>(s / 4);
    struct TCase {
        int Factor;
        double MinKeyShare;  // keys identical to the base's
        double MinBitShare;  // key bits identical to the base's
    };
    // A power of two scales every float exactly; other factors round differently and may flip
    // bits whose band difference is within rounding of zero.
    for (const TCase tc :
         {TCase{2, 1.0, 1.0}, TCase{4, 1.0, 1.0}, TCase{3, 0.98, 0.999}, TCase{7, 0.98, 0.999}}) {
        SCOPED_TRACE(tc.Factor);
        TSamples scaled(base.size());
        for (std::size_t i = 0; i < base.size(); ++i) {
            scaled[i] = static_cast<std::int16_t>(base[i] * tc.Factor);
        }
        QnKeyConversion a, b;
        const auto keys = KeysOf(a, base);
        const auto scaledKeys = KeysOf(b, scaled);
        std::size_t sameKeys = 0, differentBits = 0;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            sameKeys += keys[i] == scaledKeys[i] ? 1 : 0;
            differentBits += static_cast<std::size_t>(std::popcount(keys[i] ^ scaledKeys[i]));
        }
        const auto count = static_cast<double>(keys.size());
        EXPECT_GE(sameKeys / count, tc.MinKeyShare);
        EXPECT_GE(1.0 - static_cast<double>(differentBits) / (32.0 * count), tc.MinBitShare);
        RecordProperty("same_keys_x" + std::to_string(tc.Factor), std::to_string(sameKeys / count));
    }
}

TEST(QnKeyConversion, ClearSpectrumMakesKeysIndependentOfHistory) {
    const TSamples clip = test::Music(10, 20000);
    QnKeyConversion fresh;
    const auto expected = KeysOf(fresh, clip);
    QnKeyConversion used;
    KeysOf(used, test::Noise(11, 9000));
    used.wav2linekeyMod(clip.data(), 0, 20000);  // leaves CAlt at 1 after an odd count
    used.ClearSpectrum();
    EXPECT_EQ(used.CAlt, 0);
    for (float e : used.E) ASSERT_EQ(e, 0.0f);
    EXPECT_EQ(KeysOf(used, clip), expected);
}

TEST(QnKeyConversion, SetCAltChoosesTheHalfThatReceivesTheFrame) {
    const TSamples music = test::Music(12, FrameSamples);
    QnKeyConversion zero, one;
    one.SetCAlt(1);
    EXPECT_EQ(one.CAlt, 1);
    EXPECT_EQ(zero.wav2linekeyMod(music.data(), 0, FrameSamples),
              one.wav2linekeyMod(music.data(), 0, FrameSamples));
    EXPECT_EQ(one.CAlt, 0);
    for (std::size_t b = 0; b < 33; ++b) {
        EXPECT_EQ(one.E[33 + b], zero.E[b]);
        EXPECT_EQ(one.E[b], 0.0f);
    }
}

TEST(QnKeyConversion, RefusesBuffersItCannotReadSafely) {
    QnKeyConversion conv;
    const TSamples buffer(8192, 1);
    EXPECT_THROW(conv.wav2linekeyMod(nullptr, 0, 8192), EInvalidOperation);
    EXPECT_THROW(conv.wav2linekeyMod(buffer.data(), 0, 4095), EInvalidOperation);
    EXPECT_THROW(conv.wav2linekeyMod(buffer.data(), -1, 8192), EInvalidOperation);
    EXPECT_THROW(conv.wav2linekeyMod(buffer.data(), 0, -5), EInvalidOperation);
}

TEST(QnKeyConversion, FastPathMatchesTheReferenceProcedureBitForBit) {
    const TSamples stream = VariedStream();
    QnKeyConversion fast(TSpectrumPath::spFast), literal(TSpectrumPath::spLiteral);
    const auto len = static_cast<std::int32_t>(stream.size());
    std::size_t keys = 0, sameKeys = 0, sameSpectra = 0;
    for (std::int32_t start = 0; start + FrameSamples <= len; start += HopSamples) {
        const std::uint32_t a = fast.wav2linekeyMod(stream.data(), start, len);
        const std::uint32_t b = literal.wav2linekeyMod(stream.data(), start, len);
        ++keys;
        sameKeys += a == b ? 1 : 0;
        sameSpectra +=
            std::memcmp(fast.X.data() + 1, literal.X.data() + 1, 749 * sizeof(float)) == 0 ? 1 : 0;
    }
    ASSERT_GT(keys, 8000u);
    EXPECT_EQ(sameKeys, keys);
    EXPECT_EQ(sameSpectra, keys);
    EXPECT_EQ(fast.E, literal.E);
    EXPECT_EQ(fast.ETot, literal.ETot);
}

TEST(QnKeyConversion, KeepsTheKeysOfAFixedSignal) {
    // Every stored fingerprint depends on these keys: any change of the arithmetic shows here.
    QnKeyConversion conv;
    const auto keys = KeysOf(conv, test::Music(1, 40000));
    std::uint64_t hash = 1469598103934665603ull;
    std::size_t bits = 0;
    for (std::uint32_t key : keys) {
        hash = (hash ^ key) * 1099511628211ull;
        bits += static_cast<std::size_t>(std::popcount(key));
    }
    EXPECT_EQ(keys.size(), 281u);
    EXPECT_EQ(keys.front(), 0x5254d3c4u) << std::hex << keys.front();
    EXPECT_EQ(hash, 0xec1c62bb484c9306ull) << std::hex << hash << " bits " << std::dec << bits;
}

}  // namespace
}  // namespace orvane::signal
