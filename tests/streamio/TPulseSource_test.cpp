// Sound inputs as monitored streams: a clip played into a private PulseAudio server is
// recognised on its sink's monitor; an unknown input gets a clear message.
#include "streamio/TPulseSource.h"

#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#include "audio/FptExtract.h"
#include "audio/uOpenAudio.h"
#include "recognition/SearchTestKit.h"
#include "stream/TStreamMonitor.h"
#include "streamio/StreamSources.h"
#include "support/PulseServer.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"

namespace orvane::streamio {
namespace {

std::vector<std::uint32_t> FingerprintKeys(const orvane::test::TTempDir& dir,
                                           const std::vector<std::int16_t>& samples) {
    const std::string path = dir.File("clip.wav");
    orvane::test::WriteWav(path, samples, 11025);
    auto reader = audio::OpenAudioReader(path, audio::TAudioFileType::ftWav);
    signal::QnKeyConversion converter;
    auto song = MakeRef<fingerprint::TSongServer>();
    audio::ComputeLineKeys(*reader, converter, *song, nullptr);
    return song->CopyKeys();
}

TEST(TPulseSource, AClipPlayedIntoASoundInputIsRecognisedAndAnUnknownInputNamed) {
    orvane::test::TPulseServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    orvane::test::TTempDir dir;
    recognition::test::TSearchKit kit;
    const auto clip = orvane::test::Music(77, 12 * 11025);
    kit.AddClip("Delta", FingerprintKeys(dir, clip));

    std::mutex lock;
    std::vector<stream::TMonitorClip> clips;
    std::vector<std::string> notices;
    stream::TMonitorOptions options;
    options.Threads = 2;
    stream::TStreamMonitor monitor(
        kit.Songs, kit.Index,
        {stream::ParseStreamArgument("desk=pulse:" + orvane::test::TPulseServer::MonitorName()),
         stream::ParseStreamArgument("nowhere=pulse:no_such_input")},
        options, MakeSourceFactory());
    monitor.OnClip = [&](const stream::TMonitorClip& c) {
        std::lock_guard guard(lock);
        clips.push_back(c);
    };
    monitor.OnNotice = [&](const std::string& name, stream::TNoticeKind, const std::string& text) {
        std::lock_guard guard(lock);
        notices.push_back(name + ": " + text);
    };
    monitor.Start();
    {
        std::vector<std::int16_t> played = clip;
        played.insert(played.end(), 11025, 0);
        orvane::test::TPlayer player(played, 11025);
        EXPECT_EQ(player.Wait(), "");
    }
    monitor.Stop();  // the clip may still be tracked: stopping logs it

    std::lock_guard guard(lock);
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(clips[0].Stream, "desk");
    EXPECT_EQ(clips[0].Logged.Title, "Delta");
    EXPECT_GE(clips[0].Logged.End - clips[0].Logged.Begin, 8);
    bool named = false;
    for (const auto& n : notices) {
        named = named || n.rfind("nowhere: no sound input \"no_such_input\"", 0) == 0;
    }
    EXPECT_TRUE(named);
}

}  // namespace
}  // namespace orvane::streamio
