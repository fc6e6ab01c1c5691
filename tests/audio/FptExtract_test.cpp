#include "audio/FptExtract.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "AudioTestUtil.h"
#include "fingerprint/FptAux.h"
#include "fingerprint/FptFile.h"
#include "signal/QnFFT.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"

namespace orvane::audio {
namespace {

using test::TSamples;

std::string DataDir() {
    const char* env = std::getenv("ORVANE_TEST_DATA");
    return env != nullptr ? env : ORVANE_AUDIO_TEST_DATA;
}

/// Keys of `samples` computed the plain way: one contiguous stream, frames every 128 samples
/// from sample 4224 on, the reference transform, 32 keys per full chunk from the third on.
std::vector<std::uint32_t> ReferenceKeys(const TSamples& samples) {
    signal::QnKeyConversion literal(signal::TSpectrumPath::spLiteral);
    const std::size_t chunks = samples.size() / 4096;
    std::vector<std::uint32_t> keys;
    for (std::size_t p = 0; chunks >= 3 && p < 32 * (chunks - 2); ++p) {
        keys.push_back(literal.wav2linekeyMod(samples.data(),
                                              static_cast<std::int32_t>(4224 + 128 * p),
                                              static_cast<std::int32_t>(samples.size())));
    }
    return keys;
}

std::vector<std::uint32_t> FileKeys(const std::string& path, signal::QnKeyConversion& converter) {
    auto reader = OpenAudioReader(path, AudioFileTypeOf(path));
    auto song = MakeRef<fingerprint::TSongServer>();
    EXPECT_TRUE(ComputeLineKeys(*reader, converter, *song, nullptr));
    return song->CopyKeys();
}

/// Records what a fingerprinting run tells its surroundings.
class TRecordingHost : public IExtractHost {
public:
    void Report(const std::string& text, int icon) override { Messages.push_back({text, icon}); }
    bool TitleLoaded(const std::string& title) override { return title == LoadedTitle; }
    void LoadFingerprintFile(const std::string& path) override { Loaded.push_back(path); }
    void PauseRecognition() override { ++Pauses; }
    void ResumeRecognition() override { --Pauses; }
    void ShowStats(const std::string& caption) override { Captions.push_back(caption); }
    bool Cancelled() override { return ++Polls > CancelAfter; }
    void HideStats() override { ++StatsHidden; }
    void HideDialog() override { ++DialogsHidden; }

    struct TMessage {
        std::string Text;
        int Icon;
    };
    std::vector<TMessage> Messages;
    std::vector<std::string> Loaded, Captions;
    std::string LoadedTitle = "\x01none";
    int Pauses = 0, Polls = 0, CancelAfter = 1 << 30, StatsHidden = 0, DialogsHidden = 0;
};

class TFptExtractTest : public ::testing::Test {
protected:
    void SetUp() override { test::EnsureAudioConversion(); }
    test::TTempDir FDir;
    signal::QnKeyConversion FConverter;
};

TEST_F(TFptExtractTest, TakesFramesEvery128SamplesFromSample4224AndDropsTheShortLastChunk) {
    // Chunk counts around the edges: fewer than three full chunks give no keys.
    for (std::size_t samples : {std::size_t{12287}, std::size_t{12288},
                                std::size_t{3 * 4096 + 4095}, std::size_t{7 * 4096 + 100}}) {
        const TSamples audio = test::Music(static_cast<std::uint32_t>(samples), samples);
        const std::string path = FDir.File("m.wav");
        test::WriteWav(path, audio, 11025);
        // The reader decodes whole 512-byte blocks only.
        const TSamples decoded(audio.begin(),
                               audio.begin() + static_cast<std::ptrdiff_t>(samples / 256 * 256));
        const auto keys = FileKeys(path, FConverter);
        EXPECT_EQ(keys.size(), decoded.size() / 4096 >= 3 ? 32 * (decoded.size() / 4096 - 2) : 0u)
            << samples;
        EXPECT_EQ(keys, ReferenceKeys(decoded)) << samples;
    }
}

TEST_F(TFptExtractTest, GivesTheGoldenKeysOfTheCheckedInFilesWithTheReferenceTransformToo) {
    for (const char* name : {"chirp-11025", "chirp-16000"}) {
        std::ifstream golden(DataDir() + "/cli/" + name + ".keys");
        std::vector<std::uint32_t> expected;
        for (std::string line; std::getline(golden, line);)
            expected.push_back(static_cast<std::uint32_t>(std::stoul(line, nullptr, 16)));
        ASSERT_FALSE(expected.empty()) << name;
        signal::QnKeyConversion literal(signal::TSpectrumPath::spLiteral);
        const std::string wav = DataDir() + "/cli/" + name + ".wav";
        EXPECT_EQ(FileKeys(wav, literal), expected) << name;
        EXPECT_EQ(FileKeys(wav, FConverter), expected) << name;
    }
}

TEST_F(TFptExtractTest, AFileGivesTheSameKeysWhateverWasConvertedBefore) {
    const std::string a = FDir.File("a.wav"), b = FDir.File("b.wav");
    test::WriteWav(a, test::Noise(1, 30000), 11025);
    test::WriteWav(b, test::Music(2, 30000), 11025);
    signal::QnKeyConversion fresh;
    const auto alone = FileKeys(b, fresh);
    FileKeys(a, FConverter);
    EXPECT_EQ(FileKeys(b, FConverter), alone);
}

TEST_F(TFptExtractTest, TitlesComeFromTheFileNameOrTheId3v1Tag) {
    // An MP3 with an ID3v1 tag appended: song name at byte 3, artist at byte 33, zero-padded.
    auto tagged = [&](const std::string& name, const std::string& song, const std::string& artist) {
        std::string bytes = test::ReadBytes(DataDir() + "/audio/tone1k_44100_stereo.mp3");
        std::string tag(128, '\0');
        tag.replace(0, 3, "TAG");
        tag.replace(3, song.size(), song);
        tag.replace(33, artist.size(), artist);
        const std::string path = FDir.File(name);
        test::WriteBytes(path, bytes + tag);
        return path;
    };
    EXPECT_EQ(FingerprintTitle(tagged("x.mp3", "Song B", " Band A "), TAudioFileType::ftMp3),
              "Band A - Song B");
    EXPECT_EQ(FingerprintTitle(tagged("y.MP3", "Solo", ""), TAudioFileType::ftMp3), " - Solo");
    EXPECT_EQ(FingerprintTitle(tagged("z.mp3", "Caf\xE9", "Bj\xF6rk"), TAudioFileType::ftMp3),
              "Björk - Café");
    EXPECT_EQ(FingerprintTitle(DataDir() + "/audio/tone1k_48000_mono.mp3", TAudioFileType::ftMp3),
              "tone1k_48000_mono");
    EXPECT_EQ(FingerprintTitle("/music/Rock: Live.v2.wav", TAudioFileType::ftWav), "Rock: Live.v2");
    EXPECT_EQ(AudioFileTypeOf("a.WaV"), TAudioFileType::ftWav);
    EXPECT_EQ(AudioFileTypeOf("a.mP3"), TAudioFileType::ftMp3);
    EXPECT_EQ(AudioFileTypeOf("a.ogg"), TAudioFileType::ftOther);
}

TEST_F(TFptExtractTest, WritesTheFingerprintAndHandsItToTheLibraryThenSkipsItAsCalculated) {
    const std::string wav = FDir.File("Rock: Live?.wav");
    const TSamples audio = test::Music(7, 11025 * 3);
    test::WriteWav(wav, audio, 11025);
    std::filesystem::create_directory(FDir.Path() / "fp");
    const std::string folder = FDir.Folder() + "fp/";

    TRecordingHost host;
    ASSERT_EQ(ExtractFingerprint(wav, TAudioFileType::ftWav, folder, FConverter, host),
              TExtractResult::erWritten);
    const std::string fpt = folder + "Rock_ Live_.qnf";
    ASSERT_EQ(host.Loaded, std::vector<std::string>{fpt});
    EXPECT_EQ(host.Pauses, 0);
    EXPECT_EQ(host.Captions, std::vector<std::string>{"Decoding \"Rock: Live?.wav\"..."});
    EXPECT_EQ(host.StatsHidden, 1);
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.Messages[0].Text, "Extracting fingerprint from \"Rock: Live?.wav\"");
    EXPECT_EQ(host.Messages[0].Icon, 2);

    auto song = fingerprint::ReadFingerprintFile(fpt);
    EXPECT_EQ(fingerprint::TitleOf(*song->SongFile()), "Rock: Live?");
    EXPECT_EQ(song->CopyKeys(),
              ReferenceKeys(TSamples(audio.begin(), audio.begin() + audio.size() / 256 * 256)));
    // The header is packed: copy its fields before comparing.
    const fingerprint::TSong& h = *song->SongFile();
    const std::int64_t uniqueId = h.UniqueID;
    const double recTime = h.ChunkStartRecTime;
    const int firstChunk = h.FirstChunk, source = h.Source;
    EXPECT_EQ(uniqueId, 0);
    EXPECT_EQ(recTime, 0.0);
    EXPECT_EQ(firstChunk, 0);
    EXPECT_EQ(source, 0);

    TRecordingHost again;
    EXPECT_EQ(ExtractFingerprint(wav, TAudioFileType::ftWav, folder, FConverter, again),
              TExtractResult::erAlreadyCalculated);
    ASSERT_EQ(again.Messages.size(), 1u);
    EXPECT_EQ(again.Messages[0].Text,
              "Fingerprint of \"Rock: Live?.wav\" has already been calculated");
    EXPECT_EQ(again.Messages[0].Icon, 3);
    EXPECT_EQ(again.Loaded, std::vector<std::string>{fpt});

    TRecordingHost loaded;
    loaded.LoadedTitle = "Rock: Live?";
    std::filesystem::remove(fpt);
    EXPECT_EQ(ExtractFingerprint(wav, TAudioFileType::ftWav, folder, FConverter, loaded),
              TExtractResult::erTitleLoaded);
    EXPECT_FALSE(std::filesystem::exists(fpt));
}

TEST_F(TFptExtractTest, TwoTitlesOfOneFileNameGetTwoFilesAndTheSameTitleStaysCalculated) {
    const std::string folder = FDir.Folder() + "fp/";
    std::filesystem::create_directory(folder);
    struct TCase {
        const char* Audio;
        TExtractResult Result;
        const char* Written;
    };
    // "song?" and "song_" share the safe name song_.qnf; a third title of that name takes (3).
    for (const TCase& c : {TCase{"song?.wav", TExtractResult::erWritten, "song_.qnf"},
                           TCase{"song_.wav", TExtractResult::erWritten, "song_ (2).qnf"},
                           TCase{"song_.wav", TExtractResult::erAlreadyCalculated, "song_ (2).qnf"},
                           TCase{"song?.wav", TExtractResult::erAlreadyCalculated, "song_.qnf"},
                           TCase{"song|.wav", TExtractResult::erWritten, "song_ (3).qnf"}}) {
        const std::string wav = FDir.File(c.Audio);
        if (!std::filesystem::exists(wav)) test::WriteWav(wav, test::Tone(440, 20000), 11025);
        TRecordingHost host;
        EXPECT_EQ(ExtractFingerprint(wav, TAudioFileType::ftWav, folder, FConverter, host),
                  c.Result)
            << c.Audio;
        EXPECT_EQ(host.Loaded, std::vector<std::string>{folder + c.Written}) << c.Audio;
        const std::string title = std::filesystem::path(c.Audio).stem().string();
        EXPECT_EQ(fingerprint::TitleOf(*fingerprint::ReadFingerprintFile(folder + c.Written)->SongFile()),
                  title);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              3);
}

TEST_F(TFptExtractTest, AFifoUnderAnAudioNameIsRefusedWithoutBlocking) {
    const std::string fifo = FDir.File("live.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    TRecordingHost host;
    EXPECT_EQ(ExtractFingerprint(fifo, TAudioFileType::ftWav, FDir.Folder(), FConverter, host),
              TExtractResult::erFailed);
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(host.Messages[0].Text, "\"live.wav\" (a FIFO) is not a regular file");
    EXPECT_EQ(host.Messages[0].Icon, 4);
    EXPECT_TRUE(host.Loaded.empty());
}

TEST_F(TFptExtractTest, WritesAnEmptyFingerprintForAClipUnderThreeChunks) {
    const std::string wav = FDir.File("short.wav");
    test::WriteWav(wav, test::Tone(440, 10000), 11025);
    TRecordingHost host;
    ASSERT_EQ(ExtractFingerprint(wav, TAudioFileType::ftWav, FDir.Folder(), FConverter, host),
              TExtractResult::erWritten);
    EXPECT_EQ(fingerprint::ReadFingerprintFile(FDir.File("short.qnf"))->Length(), 0);
}

TEST_F(TFptExtractTest, CancellingWritesNothingAndLeavesTheProgressReportingCancelled) {
    const std::string wav = FDir.File("long.wav");
    test::WriteWav(wav, test::Music(9, 11025 * 10), 11025);
    TRecordingHost host;
    host.CancelAfter = 5;
    EXPECT_EQ(ExtractFingerprint(wav, TAudioFileType::ftWav, FDir.Folder(), FConverter, host),
              TExtractResult::erCancelled);
    EXPECT_FALSE(std::filesystem::exists(FDir.File("long.qnf")));
    EXPECT_EQ(host.StatsHidden, 0);
    EXPECT_EQ(host.DialogsHidden, 1);
    EXPECT_EQ(host.Pauses, 0);
    EXPECT_TRUE(host.Loaded.empty());
    EXPECT_EQ(host.Messages.size(), 1u);  // only "Extracting ..."
}

TEST_F(TFptExtractTest, ReportsAReaderThatCannotOpenTheFileAndWritesNothing) {
    const std::string wav = FDir.File("broken.wav");
    test::WriteBytes(wav, "RIFF\x04\x00\x00\x00WAVE");
    const std::string mp3 = FDir.File("broken.mp3");
    test::WriteBytes(mp3, std::string(4000, 'x'));
    for (const auto& [path, type, text] :
         {std::tuple{wav, TAudioFileType::ftWav, "Error in wav file."},
          std::tuple{mp3, TAudioFileType::ftMp3, "Error in mp3 format."}}) {
        TRecordingHost host;
        EXPECT_EQ(ExtractFingerprint(path, type, FDir.Folder(), FConverter, host),
                  TExtractResult::erFailed);
        ASSERT_EQ(host.Messages.size(), 2u);
        EXPECT_EQ(host.Messages[1].Text, text);
        EXPECT_EQ(host.Messages[1].Icon, 3);
        EXPECT_EQ(host.Pauses, 0);
        EXPECT_TRUE(host.Loaded.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(FDir.File("broken.qnf")));
}

TEST_F(TFptExtractTest, ReportsAFileThatCannotBeOpenedAndFingerprintsReadOnlyFiles) {
    TRecordingHost missing;
    EXPECT_EQ(ExtractFingerprint(FDir.File("gone.wav"), TAudioFileType::ftWav, FDir.Folder(),
                                 FConverter, missing),
              TExtractResult::erFailed);
    ASSERT_EQ(missing.Messages.size(), 1u);
    EXPECT_EQ(missing.Messages[0].Text, "Error accessing wav file \"gone.wav\": Path not found");
    EXPECT_EQ(missing.Messages[0].Icon, 4);

    const std::string wav = FDir.File("ro.wav");
    test::WriteWav(wav, test::Music(5, 20000), 11025);
    std::filesystem::permissions(wav, std::filesystem::perms::owner_read);
    TRecordingHost host;
    EXPECT_EQ(ExtractFingerprint(wav, TAudioFileType::ftWav, FDir.Folder(), FConverter, host),
              TExtractResult::erWritten);
}

TEST_F(TFptExtractTest, AnMp3ForAnotherProgramShowsNoProgressAndCannotBeCancelled) {
    TRecordingHost host;
    host.CancelAfter = 0;
    const std::string mp3 = DataDir() + "/audio/tone1k_44100_stereo.mp3";
    EXPECT_EQ(
        ExtractFingerprint(mp3, TAudioFileType::ftMp3, FDir.Folder(), FConverter, host, false),
        TExtractResult::erWritten);
    EXPECT_TRUE(host.Captions.empty());
    EXPECT_EQ(host.Polls, 0);
    EXPECT_TRUE(std::filesystem::exists(FDir.File("tone1k_44100_stereo.qnf")));
}

}  // namespace
}  // namespace orvane::audio
