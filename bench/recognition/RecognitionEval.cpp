// How well recognition works: a library of 32 clips of generated music-like audio (60 to 175 s
// each), queried with 10 s excerpts played through `match`'s file path — clean, with white noise
// at 15 and 5 dB SNR, as MP3 at 32 kbit/s, band-limited to 300-3400 Hz, 1 % fast and slow — and
// with excerpts of audio that is not in the library. Prints per condition how many queries were
// recognised with the right title (and their position error), with a wrong title, or not at all.
// Needs sox and lame on the path for the coded and filtered conditions (skipped otherwise).
// ORVANE_EVAL_QUERIES=n sets the excerpts per clip (default 2).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "BenchLibrary.h"
#include "platform/PlatformAudio.h"
#include "recognition/TFileRecognizer.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"

namespace {

using namespace orvane;
using TSamples = std::vector<std::int16_t>;
namespace fs = std::filesystem;

constexpr int Rate = 11025;
constexpr double ExcerptSeconds = 10.0;
constexpr std::int32_t LibraryClips = 32;
constexpr std::int32_t OutsideClips = 16;

struct TClip {
    std::string Title;
    TSamples Audio;
};

/// Clip n: 60 ... 175 s of music-like audio; odd clips get a second voice for variety.
TClip MakeClip(std::uint32_t seed) {
    const double seconds = 60.0 + static_cast<double>((seed * 37u) % 116u);
    const auto count = static_cast<std::size_t>(seconds * Rate);
    TSamples audio = orvane::test::Music(seed, count);
    if (seed % 2 == 1) {
        const TSamples voice = orvane::test::Music(seed + 7919u, count);
        for (std::size_t i = 0; i < count; ++i) {
            audio[i] = static_cast<std::int16_t>(
                std::clamp(audio[i] * 3 / 4 + voice[i] / 2, -32768, 32767));
        }
    }
    return {"Clip " + std::to_string(seed), std::move(audio)};
}

TSamples WithNoise(const TSamples& signal, double snrDb, std::uint32_t seed) {
    double power = 0;
    for (auto s : signal) power += static_cast<double>(s) * s;
    power /= static_cast<double>(std::max<std::size_t>(1, signal.size()));
    const double amplitude = std::sqrt(3.0 * power / std::pow(10.0, snrDb / 10.0));
    const TSamples noise = orvane::test::Noise(seed, signal.size(), amplitude);
    TSamples out(signal.size());
    for (std::size_t i = 0; i < signal.size(); ++i) {
        out[i] = static_cast<std::int16_t>(std::clamp(signal[i] + noise[i], -32768, 32767));
    }
    return out;
}

bool Have(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

/// One condition: makes the query file from the clean excerpt's WAV (returns its path, or ""
/// when it cannot), and the speed factor of the result.
struct TCondition {
    std::string Name;
    double Speed;
    std::function<std::string(const TSamples& excerpt, const std::string& cleanWav,
                              const fs::path& dir, std::uint32_t seed)>
        Make;
};

struct TTally {
    std::int32_t Queries = 0;
    std::int32_t Right = 0;
    std::int32_t RightWithin01 = 0;
    std::int32_t Wrong = 0;
    std::int32_t Nothing = 0;
    std::vector<double> Errors;  // |position error| of right answers, seconds
};

}  // namespace

int main() {
    platform::InstallAudioConversion();
    const auto started = std::chrono::steady_clock::now();
    std::int32_t perClip = 2;
    if (const char* q = std::getenv("ORVANE_EVAL_QUERIES")) perClip = std::max(1, std::atoi(q));
    const fs::path dir = fs::temp_directory_path() / "orvane-recognition-eval";
    fs::create_directories(dir);
    const bool sox = Have("sox");
    const bool lame = Have("lame");

    bench::TBenchLibrary library;
    std::vector<TClip> clips;
    double librarySeconds = 0;
    for (std::int32_t n = 0; n < LibraryClips; ++n) {
        clips.push_back(MakeClip(static_cast<std::uint32_t>(100 + n)));
        library.Add(clips.back().Title,
                    bench::FingerprintOf(clips.back().Audio, (dir / "clip.wav").string()));
        librarySeconds += static_cast<double>(clips.back().Audio.size()) / Rate;
    }
    library.Finish();
    std::printf("Library: %d clips, %.1f minutes of generated audio, %lld index entries\n",
                LibraryClips, librarySeconds / 60.0,
                static_cast<long long>(library.Index.TotalCount()));

    const std::vector<TCondition> conditions = {
        {"clean", 1.0,
         [](const TSamples&, const std::string& wav, const fs::path&, std::uint32_t) {
             return wav;
         }},
        {"white noise 15 dB", 1.0,
         [](const TSamples& x, const std::string&, const fs::path& d, std::uint32_t seed) {
             const std::string out = (d / "noise15.wav").string();
             orvane::test::WriteWav(out, WithNoise(x, 15.0, seed), Rate);
             return out;
         }},
        {"white noise 5 dB", 1.0,
         [](const TSamples& x, const std::string&, const fs::path& d, std::uint32_t seed) {
             const std::string out = (d / "noise5.wav").string();
             orvane::test::WriteWav(out, WithNoise(x, 5.0, seed), Rate);
             return out;
         }},
        {"MP3 32 kbit/s", 1.0,
         [lame](const TSamples&, const std::string& wav, const fs::path& d, std::uint32_t) {
             const std::string out = (d / "q.mp3").string();
             return lame && Run("lame --quiet -b 32 " + Quote(wav) + " " + Quote(out))
                        ? out
                        : std::string();
         }},
        {"band 300-3400 Hz", 1.0,
         [sox](const TSamples&, const std::string& wav, const fs::path& d, std::uint32_t) {
             const std::string out = (d / "band.wav").string();
             return sox && Run("sox " + Quote(wav) + " " + Quote(out) + " sinc 300-3400")
                        ? out
                        : std::string();
         }},
        {"speed +1 %", 1.01,
         [sox](const TSamples&, const std::string& wav, const fs::path& d, std::uint32_t) {
             const std::string out = (d / "fast.wav").string();
             return sox && Run("sox " + Quote(wav) + " " + Quote(out) + " speed 1.01")
                        ? out
                        : std::string();
         }},
        {"speed -1 %", 0.99,
         [sox](const TSamples&, const std::string& wav, const fs::path& d, std::uint32_t) {
             const std::string out = (d / "slow.wav").string();
             return sox && Run("sox " + Quote(wav) + " " + Quote(out) + " speed 0.99")
                        ? out
                        : std::string();
         }},
    };

    recognition::TRecognitionOptions options;
    options.Form3Checkbox2checked = true;
    const recognition::TFileRecognizer recognizer(library.Songs, library.Index, options);
    const auto excerptSamples = static_cast<std::size_t>(ExcerptSeconds * Rate);
    const std::string cleanWav = (dir / "clean.wav").string();

    std::vector<TTally> tallies(conditions.size());
    std::vector<bool> available(conditions.size(), true);
    for (std::int32_t c = 0; c < LibraryClips; ++c) {
        const TClip& clip = clips[static_cast<std::size_t>(c)];
        for (std::int32_t q = 0; q < perClip; ++q) {
            // Excerpt starts spread over the clip, off the 128-sample key grid.
            const std::size_t room = clip.Audio.size() - excerptSamples;
            const std::size_t start =
                (room / static_cast<std::size_t>(perClip + 1)) * static_cast<std::size_t>(q + 1) +
                static_cast<std::size_t>(c * 53 + q * 31) % 128u;
            const TSamples excerpt(
                clip.Audio.begin() + static_cast<std::ptrdiff_t>(start),
                clip.Audio.begin() + static_cast<std::ptrdiff_t>(start + excerptSamples));
            orvane::test::WriteWav(cleanWav, excerpt, Rate);
            const double t0 = static_cast<double>(start) / Rate;
            for (std::size_t k = 0; k < conditions.size(); ++k) {
                const std::string file = conditions[k].Make(excerpt, cleanWav, dir,
                                                            static_cast<std::uint32_t>(c * 10 + q));
                if (file.empty()) {
                    available[k] = false;
                    continue;
                }
                const auto result = recognizer.Recognize(file);
                TTally& t = tallies[k];
                ++t.Queries;
                bool right = false;
                bool wrong = false;
                double error = 1e9;
                for (const auto& r : result.Clips) {
                    if (r.Logged.Title == clip.Title) {
                        // The clip position the engine gives for the file point of its first
                        // record, against the truth at that point of the file.
                        const double filePoint =
                            r.Logged.FirstHeard * 86400.0 - recognition::StampLeadSeconds;
                        const double truth = t0 + conditions[k].Speed * filePoint;
                        if (!right) error = std::fabs(r.FirstPos - truth);
                        right = true;
                    } else {
                        wrong = true;
                    }
                }
                if (right) {
                    ++t.Right;
                    t.Errors.push_back(error);
                    if (error <= 0.1) ++t.RightWithin01;
                }
                if (wrong) ++t.Wrong;
                if (!right && !wrong) ++t.Nothing;
            }
        }
    }

    TTally outside;
    for (std::int32_t n = 0; n < OutsideClips; ++n) {
        const TClip clip = MakeClip(static_cast<std::uint32_t>(5000 + n));
        for (std::int32_t q = 0; q < perClip; ++q) {
            const std::size_t start = (clip.Audio.size() - excerptSamples) /
                                      static_cast<std::size_t>(perClip + 1) *
                                      static_cast<std::size_t>(q + 1);
            const TSamples excerpt(
                clip.Audio.begin() + static_cast<std::ptrdiff_t>(start),
                clip.Audio.begin() + static_cast<std::ptrdiff_t>(start + excerptSamples));
            orvane::test::WriteWav(cleanWav, excerpt, Rate);
            const auto result = recognizer.Recognize(cleanWav);
            ++outside.Queries;
            if (result.Clips.empty()) {
                ++outside.Nothing;
            } else {
                ++outside.Wrong;
            }
        }
    }

    std::printf("\nQueries: %d excerpts of %.0f s per clip; deep search on; normal integrity.\n",
                perClip, ExcerptSeconds);
    std::printf("%-22s %7s %7s %9s %10s %10s %7s %8s\n", "condition", "queries", "right",
                "pos<=0.1s", "median err", "max err", "wrong", "nothing");
    for (std::size_t k = 0; k < conditions.size(); ++k) {
        if (!available[k]) {
            std::printf("%-22s (skipped: %s not found)\n", conditions[k].Name.c_str(),
                        conditions[k].Name.rfind("MP3", 0) == 0 ? "lame" : "sox");
            continue;
        }
        TTally& t = tallies[k];
        std::sort(t.Errors.begin(), t.Errors.end());
        const double median = t.Errors.empty() ? 0.0 : t.Errors[t.Errors.size() / 2];
        const double worst = t.Errors.empty() ? 0.0 : t.Errors.back();
        std::printf("%-22s %7d %7d %9d %9.3fs %9.3fs %7d %8d\n", conditions[k].Name.c_str(),
                    t.Queries, t.Right, t.RightWithin01, median, worst, t.Wrong, t.Nothing);
    }
    std::printf("%-22s %7d %7s %9s %10s %10s %7d %8d\n", "not in the library", outside.Queries, "-",
                "-", "-", "-", outside.Wrong, outside.Nothing);
    std::printf("\n(%.0f s)\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    fs::remove_all(dir);
    return 0;
}
