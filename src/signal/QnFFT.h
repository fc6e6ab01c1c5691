// The signal path: 4096-sample frames of 16-bit mono audio at 11025 Hz become spectra
// (TFFT, QnFourier) and then 32-bit line keys (QnKeyConversion).
// Thread: none of these classes is thread-safe; each instance is used by one thread at a time
// (the recognition thread, or the main thread while recognition is paused).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace orvane::signal {

/// Samples in one analysis frame (0.3715 s at 11025 Hz).
inline constexpr int FrameSamples = 4096;
/// Samples between the starts of two consecutive frames: one line key per hop.
inline constexpr int HopSamples = 128;
/// Line keys computed for every FrameSamples new samples.
inline constexpr int KeysPerBlock = 32;
/// Points of the transform: the frame is windowed and halved to 2048 values first.
inline constexpr int TransformLength = FrameSamples / 2;
/// Band count and key width: bit i-1 of a key compares bands i and i+1 (i = 1 ... 32).
inline constexpr int BandCount = 33;
inline constexpr int KeyBits = 32;

/// Magnitudes of spectral lines, indexes 0 ... 4096: entry k+1 holds line k (k * 11025/4096 Hz);
/// entry 0 is never written.
using RealArray = std::array<float, FrameSamples + 1>;
/// Two band spectra of 33 bands: entries 0 ... 32 are half 0, entries 33 ... 65 half 1.
using BarkSpec = std::array<float, 2 * BandCount>;

/// A band difference with a rank slot that callers ranking the differences fill in.
struct singleWithIndex {
    float Value = 0.0f;
    std::uint8_t Index = 0;
};

/// A real-input transform of length n = 2^FBits, n >= 8, computed stage by stage in 32-bit
/// floats (decimation in time, alternating between the output array and a scratch buffer).
/// Output layout: F[0 ... n/2] are the real parts of lines 0 ... n/2, F[n/2 + k] is the
/// imaginary part of line k (k = 1 ... n/2-1). Unscaled. This is the reference transform; the
/// key converter uses a faster one with the same arithmetic (TFastFourier).
class TFFT {
public:
    /// Builds the bit-reversal and cosine tables for `length` points.
    /// Throws EInvalidOperation "This component is optimized for length >= 8." for length <= 4,
    /// and EInvalidOperation for a length that is not a power of two.
    explicit TFFT(std::int32_t length);
    static std::unique_ptr<TFFT> Create(std::int32_t length) {
        return std::make_unique<TFFT>(length);
    }

    /// Transforms the `Length()` real values of `X` into `F` (layout above). Both spans must
    /// hold at least `Length()` entries and must not overlap; throws EInvalidOperation otherwise.
    /// Allocates nothing.
    void Execute(std::span<float> F, std::span<const float> X);

    std::int32_t Length() const { return FLength; }
    std::int32_t Bits() const { return FBits; }
    /// Entry i is i with its Bits() low bits reversed.
    const std::vector<std::uint32_t>& LookupTable() const { return FLookupTable; }
    /// Level L (3 ... Bits()-1) holds cos(j * pi/2^L), j = 0 ... 2^(L-1)-1, from index 2^(L-1)-4.
    /// Empty for Bits() = 3.
    const std::vector<float>& CosineTable() const { return FCosineTable; }

private:
    std::int32_t FLength = 0;
    std::int32_t FBits = 0;
    std::vector<std::uint32_t> FLookupTable;
    std::vector<float> FCosineTable;
    std::vector<float> FScratch;
};

/// Spectrum of one frame: periodic Blackman window, pairs of samples averaged (the frame at
/// 5512.5 Hz), a 2048-point TFFT and magnitudes 2*|line| into XOut[k+1] for line k.
/// This is the stage-by-stage reference procedure; QnKeyConversion uses it when built with
/// TSpectrumPath::spLiteral.
class QnFourier {
public:
    QnFourier();

    /// Input frame: 4096 samples as floats (units of the 16-bit samples); overwritten by FFT.
    std::array<float, FrameSamples> _in{};
    /// Transform output (layout of TFFT).
    std::array<float, TransformLength> _out{};
    /// Window[i] = 0.42 - 0.5 cos(2 pi i/4096) + 0.08 cos(4 pi i/4096), stored as floats.
    std::array<float, FrameSamples> Window{};
    /// Lines 0 ... HighestI-1 are written to XOut; at most TransformLength/2.
    std::int32_t HighestI = 0;
    /// Destination of the magnitudes; not owned; must be set before FFT.
    RealArray* XOut = nullptr;
    std::unique_ptr<TFFT> fftr;

    /// Windows and halves `_in` in place, transforms it and writes XOut[1 ... HighestI].
    /// Throws EInvalidOperation when XOut is unset or HighestI is outside 0 ... 1024.
    void FFT();
};

class TFastFourier;

/// Which spectrum procedure a QnKeyConversion runs: the fast one (production) or the
/// stage-by-stage reference. Both give the same floats on x86-64 with SSE2.
enum class TSpectrumPath { spFast, spLiteral };

/// Turns one 4096-sample frame into one line key: 33 band energies between 299 Hz and 2015 Hz,
/// and for every pair of neighbouring bands whether their difference rose since the previous
/// frame. Every constant here is shared by all stored fingerprints.
/// Thread: one caller at a time; the converter is not thread-safe.
class QnKeyConversion {
public:
    QnKeyConversion();
    explicit QnKeyConversion(TSpectrumPath path);
    ~QnKeyConversion();
    QnKeyConversion(const QnKeyConversion&) = delete;
    QnKeyConversion& operator=(const QnKeyConversion&) = delete;

    /// One line key from the 4096-sample frame starting at `startIndex` of the circular buffer
    /// `samples` (16-bit mono at 11025 Hz) of `bufLen` samples; startIndex may equal bufLen
    /// (callers pass it; indexes are taken modulo bufLen). Thread: one caller at a time.
    /// Only samples[0 ... bufLen-1] are read. Throws EInvalidOperation for a null buffer,
    /// bufLen < 4096 or a negative startIndex. Allocates nothing.
    std::uint32_t wav2linekeyMod(const std::int16_t* samples, std::int32_t startIndex,
                                 std::int32_t bufLen);
    /// Selects the half of E that receives the next frame (0 or 1; other values keep bit 0).
    void SetCAlt(std::uint8_t value);
    /// Forgets the previous spectrum (both halves of E zeroed, CAlt := 0) so the next key
    /// compares against silence: used before every file so a file's fingerprint never depends
    /// on what was converted before it.
    void ClearSpectrum();

    /// Energy figure of the last batch of keys; written by the channel search, not here.
    std::int32_t Energy = 0;
    /// Sum of the energies of bands 1 ... 32 of every converted frame; never cleared here.
    float ETot = 0.0f;
    /// Current and previous band spectrum; E[33*h + b] is band b+1 of half h.
    BarkSpec E{};
    /// BitVal[i].Value (i = 1 ... 32) is the band difference behind bit i-1 of the last key;
    /// entry 0 is unused. Index is left to callers that rank the differences.
    std::array<singleWithIndex, KeyBits + 1> BitVal{};
    /// Swap slot for callers that rank BitVal.
    singleWithIndex TempBitVal{};
    /// Half of E that receives the next frame: 0 or 1.
    std::uint8_t CAlt = 0;
    /// Working edges and sum of the band being summed.
    std::int32_t Lo = 0;
    std::int32_t Hi = 0;
    float En = 0.0f;
    /// Band edges as entries of X: CorrectedBarkScale[k] (k = 1 ... 34) = round(f_k * 4096/11025);
    /// band b runs from edge b to edge b+1, both included. Entry 0 is unused.
    std::array<std::int16_t, BandCount + 2> CorrectedBarkScale{};
    /// The last key computed.
    std::uint32_t LineKey = 0;
    /// The reference analyser; present only with TSpectrumPath::spLiteral.
    std::unique_ptr<QnFourier> Fourier;
    /// Magnitudes of the last frame: X[k+1] is line k, for k = 0 ... 748.
    RealArray X{};

    /// The 34 band edge frequencies in Hz, lowest first.
    static const std::array<std::int16_t, BandCount + 1> BandEdgesHz;

private:
    TSpectrumPath FPath;
    std::unique_ptr<TFastFourier> FFast;
    /// The frame gathered into one piece when it wraps around the end of the buffer.
    std::array<std::int16_t, FrameSamples> FFrame{};
};

}  // namespace orvane::signal
