// Files recognised end to end: fingerprinted clips played back through a file-mode channel with
// the recognition thread and a song tracker stepped on stream time.
#include "recognition/TFileRecognizer.h"

#include <cmath>
#include <gtest/gtest.h>

#include "ClipKeysKit.h"
#include "SearchTestKit.h"
#include "audio/FptExtract.h"
#include "audio/uOpenAudio.h"
#include "platform/PlatformAudio.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"

namespace orvane::recognition::test {
namespace {

using orvane::test::TSamples;

constexpr int Rate = 11025;

using orvane::test::FingerprintKeys;
using orvane::test::WithNoise;

TEST(TFileRecognizer, TwoClipsBackToBackWithNoiseGiveExactlyTheirTwoLogLines) {
    orvane::test::TTempDir dir;
    TSearchKit kit;
    const std::size_t clipSamples = 20 * Rate;
    const TSamples a = orvane::test::Music(101, clipSamples);
    const TSamples b = orvane::test::Music(202, clipSamples);
    const TSamples c = orvane::test::Music(303, clipSamples);
    kit.AddClip("Alpha", FingerprintKeys(dir, a));
    kit.AddClip("Bravo", FingerprintKeys(dir, b));
    kit.AddClip("Charlie", FingerprintKeys(dir, c));

    TSamples stream = a;
    stream.insert(stream.end(), b.begin(), b.end());
    stream.insert(stream.end(), Rate * 2, 0);  // a little silence after the last clip
    const std::string file = dir.File("stream.wav");
    orvane::test::WriteWav(file, WithNoise(stream, 25.0, 9), Rate);

    TFileRecognizer recognizer(kit.Songs, kit.Index, TRecognitionOptions{false, false, true, true});
    const TFileRecognition result = recognizer.Recognize(file);
    ASSERT_TRUE(result.Read) << result.Error;
    ASSERT_EQ(result.Clips.size(), 2u);
    const auto& first = result.Clips[0];
    const auto& second = result.Clips[1];
    EXPECT_EQ(first.Logged.Title, "Alpha");
    EXPECT_EQ(second.Logged.Title, "Bravo");
    // The log lines' spans lie within a second of the truth, [0:00 - 0:20]: the line's begin is
    // the first heard position less 1.5 s, its end the last heard one plus 0.3 s, and the
    // fingerprint of a 20 s clip reaches 18.95 s (the first two chunks only lead in).
    for (const TRecognizedClip* clip : {&first, &second}) {
        SCOPED_TRACE(clip->Logged.Line);
        EXPECT_LE(clip->Logged.Begin, 1);
        EXPECT_GE(clip->Logged.End, 19);
        EXPECT_LE(clip->Logged.End, 20);
        EXPECT_LT(clip->ClipBegin, 1.5);
        EXPECT_GT(clip->ClipEnd, 18.5);
    }
    // Where each clip starts in the file is exact to a fraction of a second.
    EXPECT_NEAR(first.ClipStartInFile, 0.0, 0.1);
    EXPECT_NEAR(second.ClipStartInFile, 20.0, 0.1);
    EXPECT_NEAR(first.StartInFile, 0.0, 1.5);
    EXPECT_NEAR(second.StartInFile, 20.0, 1.5);
    EXPECT_NEAR(first.EndInFile, 20.0, 1.5);
    EXPECT_NEAR(second.EndInFile, 40.0, 1.5);
    EXPECT_TRUE(result.Notes.empty());
    EXPECT_TRUE(first.Logged.Line.starts_with("Channel01 | file: Alpha [0:0")) << first.Logged.Line;
}

TEST(TFileRecognizer, GivesTheSameClipsOnEveryRun) {
    orvane::test::TTempDir dir;
    TSearchKit kit;
    const TSamples a = orvane::test::Music(7, 12 * Rate);
    kit.AddClip("Alpha", FingerprintKeys(dir, a));
    TSamples stream = orvane::test::Noise(3, 3 * Rate, 500.0);
    stream.insert(stream.end(), a.begin(), a.end());
    const std::string file = dir.File("stream.wav");
    orvane::test::WriteWav(file, stream, Rate);
    TFileRecognizer recognizer(kit.Songs, kit.Index, TRecognitionOptions{});
    const auto one = recognizer.Recognize(file);
    const auto two = recognizer.Recognize(file);
    ASSERT_EQ(one.Clips.size(), 1u);
    ASSERT_EQ(two.Clips.size(), 1u);
    EXPECT_EQ(one.Clips[0].Logged.Line, two.Clips[0].Logged.Line);
    EXPECT_EQ(one.Clips[0].StartInFile, two.Clips[0].StartInFile);
    EXPECT_NEAR(one.Clips[0].ClipStartInFile, 3.0, 0.1);
}

/// Three clips back to back in noise, the middle one twice: every logged line and position as
/// the recognition gave them when the reading thread and the recognition thread still slept
/// between blocks. They are computed on stream time, so how fast the threads hand the blocks
/// over must not change a digit.
TEST(TFileRecognizer, LinesAndPositionsDoNotDependOnHowTheThreadsHandOver) {
    orvane::test::TTempDir dir;
    TSearchKit kit;
    const TSamples a = orvane::test::Music(11, 14 * Rate);
    const TSamples b = orvane::test::Music(22, 9 * Rate);
    const TSamples c = orvane::test::Music(33, 17 * Rate);
    kit.AddClip("Alpha", FingerprintKeys(dir, a));
    kit.AddClip("Bravo", FingerprintKeys(dir, b));
    kit.AddClip("Charlie", FingerprintKeys(dir, c));
    TSamples stream = orvane::test::Noise(5, Rate / 2, 300.0);
    for (const TSamples* part : {&a, &b, &c, &b}) stream.insert(stream.end(), part->begin(), part->end());
    const std::string file = dir.File("stream.wav");
    orvane::test::WriteWav(file, WithNoise(stream, 20.0, 77), Rate);

    TFileRecognizer recognizer(kit.Songs, kit.Index, TRecognitionOptions{false, false, true, true});
    const TFileRecognition result = recognizer.Recognize(file);
    ASSERT_TRUE(result.Read) << result.Error;
    struct TExpected {
        const char* Line;
        double StartInFile, EndInFile, ClipBegin, ClipEnd;
    };
    const TExpected expected[] = {
        {"Channel01 | file: Alpha [0:00 - 0:13] (0:13)", 0.49922901798538044, 13.070975056689344,
         0, 12.571745681762696},
        {"Channel01 | file: Bravo [0:01 - 0:08] (0:07)", 15.520226757369613, 22.962675736961447,
         1.0193650722503662, 8.4618137359619148},
        {"Channel01 | file: Charlie [0:03 - 0:16] (0:13)", 26.375555555555554, 39.367573696145129,
         2.8769612312316895, 15.868979263305665},
        {"Channel01 | file: Bravo [0:01 - 0:08] (0:07)", 41.213106575963721, 48.075056689342404,
         0.71750569343566895, 7.5794556617736815},
    };
    ASSERT_EQ(result.Clips.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const auto& clip = result.Clips[i];
        EXPECT_EQ(clip.Logged.Line, expected[i].Line);
        EXPECT_EQ(clip.StartInFile, expected[i].StartInFile) << i;
        EXPECT_EQ(clip.EndInFile, expected[i].EndInFile) << i;
        EXPECT_EQ(clip.ClipBegin, expected[i].ClipBegin) << i;
        EXPECT_EQ(clip.ClipEnd, expected[i].ClipEnd) << i;
    }
    EXPECT_EQ(result.Seconds, 49.040544217687078);
}

TEST(TFileRecognizer, AudioNotInTheLibraryGivesNothing) {
    orvane::test::TTempDir dir;
    TSearchKit kit;
    kit.AddClip("Alpha", FingerprintKeys(dir, orvane::test::Music(1, 15 * Rate)));
    const std::string file = dir.File("other.wav");
    orvane::test::WriteWav(file, orvane::test::Music(999, 15 * Rate), Rate);
    TFileRecognizer recognizer(kit.Songs, kit.Index, TRecognitionOptions{});
    const auto result = recognizer.Recognize(file);
    EXPECT_TRUE(result.Read);
    EXPECT_TRUE(result.Clips.empty());
}

TEST(TFileRecognizer, AFileThatCannotBeOpenedIsReported) {
    orvane::test::TTempDir dir;
    TSearchKit kit;
    orvane::test::WriteBytes(dir.File("broken.wav"), "RIFF....not a wave file");
    TFileRecognizer recognizer(kit.Songs, kit.Index, TRecognitionOptions{});
    for (const std::string name : {"broken.wav", "missing.wav", "notes.txt"}) {
        const auto result = recognizer.Recognize(dir.File(name));
        EXPECT_FALSE(result.Read) << name;
        EXPECT_FALSE(result.Error.empty()) << name;
    }
}

}  // namespace
}  // namespace orvane::recognition::test
