// Stream arguments and lists, derived names, shards, ICY titles and UTC texts.
#include "stream/StreamList.h"

#include <gtest/gtest.h>

#include "stream/IcyMetadata.h"
#include "stream/UtcTime.h"

namespace orvane::stream {
namespace {

TEST(StreamList, ArgumentsGiveNameSourceAndKind) {
    struct TCase {
        const char* Text;
        const char* Name;
        const char* Source;
        TSourceKind Kind;
    };
    const TCase cases[] = {
        {"http://radio.example/live.mp3", "", "http://radio.example/live.mp3",
         TSourceKind::skNetwork},
        {"jazz=https://x.example/a?b=c", "jazz", "https://x.example/a?b=c", TSourceKind::skNetwork},
        {"http://x.example/a?b=c", "", "http://x.example/a?b=c", TSourceKind::skNetwork},
        {"desk=pulse:default", "desk", "pulse:default", TSourceKind::skPulse},
        {"pulse:alsa_input.usb", "", "pulse:alsa_input.usb", TSourceKind::skPulse},
        {"  test = /tmp/a b.wav ", "test", "/tmp/a b.wav", TSourceKind::skFile},
        {"rtsp://cam.example:554/audio", "", "rtsp://cam.example:554/audio",
         TSourceKind::skNetwork},
        {"dir/clip.mp3", "", "dir/clip.mp3", TSourceKind::skFile},
    };
    for (const TCase& c : cases) {
        const TStreamEntry entry = ParseStreamArgument(c.Text);
        EXPECT_EQ(entry.Name, c.Name) << c.Text;
        EXPECT_EQ(entry.Source, c.Source) << c.Text;
        EXPECT_EQ(entry.Kind, c.Kind) << c.Text;
    }
}

TEST(StreamList, UnusableArgumentsAreRefusedWithAReason) {
    for (const char* text : {"", "name=", "pulse:", "a=b\x01"}) {
        EXPECT_THROW(ParseStreamArgument(text), EStreamList) << text;
    }
}

TEST(StreamList, ListSkipsCommentsAndBlanksAndNamesTheBadLine) {
    const auto streams = ParseStreamList(
        "# stations\n\n  one=http://a.example/one\r\n  # off=http://b.example\nc.wav\n", "list");
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].Name, "one");
    EXPECT_EQ(streams[0].Source, "http://a.example/one");
    EXPECT_EQ(streams[1].Source, "c.wav");
    try {
        ParseStreamList("ok.wav\nbad=\n", "streams.txt");
        FAIL() << "a line without a source was accepted";
    } catch (const EStreamList& e) {
        EXPECT_EQ(std::string(e.what()).rfind("streams.txt:2: ", 0), 0u) << e.what();
    }
    EXPECT_THROW(ReadStreamList("/nonexistent/streams.txt"), EStreamList);
}

TEST(StreamList, DerivedNamesComeFromTheSourceAndAreMadeUnique) {
    EXPECT_EQ(DefaultStreamName("http://radio.example:8000/jazz.mp3"), "jazz");
    EXPECT_EQ(DefaultStreamName("http://user:pw@radio.example:8000/"), "radio.example");
    EXPECT_EQ(DefaultStreamName("https://radio.example/live/?x=1"), "live");
    EXPECT_EQ(DefaultStreamName("pulse:default"), "default");
    EXPECT_EQ(DefaultStreamName("/music/a.b.wav"), "a.b");
    EXPECT_EQ(DefaultStreamName("http:///"), "stream");

    std::vector<TStreamEntry> streams = {
        ParseStreamArgument("http://a.example/x.mp3"), ParseStreamArgument("x=http://b.example/y"),
        ParseStreamArgument("http://c.example/x.mp3"), ParseStreamArgument("/tmp/x.wav")};
    AssignStreamNames(streams);
    EXPECT_EQ(streams[0].Name, "x-2");
    EXPECT_EQ(streams[1].Name, "x");
    EXPECT_EQ(streams[2].Name, "x-3");
    EXPECT_EQ(streams[3].Name, "x-4");

    std::vector<TStreamEntry> twice = {ParseStreamArgument("a=one.wav"),
                                       ParseStreamArgument("a=two.wav")};
    EXPECT_THROW(AssignStreamNames(twice), EStreamList);
}

TEST(StreamList, ShardsSplitAListWithoutOverlapAndTheSameOnEveryRun) {
    // FNV-1a 64 of "a" is 0xaf63dc4c8601ec8c.
    EXPECT_EQ(ShardOf("a", 1000), 0xaf63dc4c8601ec8cULL % 1000);
    std::vector<int> perShard(3, 0);
    for (int i = 0; i < 300; ++i) ++perShard[ShardOf("station-" + std::to_string(i), 3)];
    for (int n : perShard) EXPECT_GT(n, 60);
    EXPECT_EQ(perShard[0] + perShard[1] + perShard[2], 300);

    std::uint32_t index = 9;
    std::uint32_t count = 9;
    ParseShard("2/3", index, count);
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(count, 3u);
    for (const char* bad : {"0/3", "4/3", "3", "a/b", "1/", "/2", "1/0"}) {
        EXPECT_THROW(ParseShard(bad, index, count), EStreamList) << bad;
    }
}

TEST(IcyMetadata, StreamTitlesAreTakenCleanedAndBounded) {
    struct TCase {
        std::string Packet;
        std::optional<std::string> Title;
    };
    const TCase cases[] = {
        {"StreamTitle='Nina Simone - Sinnerman';StreamUrl='';", "Nina Simone - Sinnerman"},
        {"StreamTitle='Don't Stop';", "Don't Stop"},
        {"StreamUrl='x';StreamTitle='  Late ';", "Late"},
        {std::string("StreamTitle='Cut'\0\0\0", 20), "Cut"},
        {"StreamTitle='';", ""},
        {"StreamUrl='http://x';", std::nullopt},
        {"", std::nullopt},
        {"StreamTitle='Caf\xe9';", "Caf\xc3\xa9"},      // Latin-1 becomes UTF-8
        {"StreamTitle='Caf\xc3\xa9';", "Caf\xc3\xa9"},  // UTF-8 stays
        {"StreamTitle='a\x01\x1f"
         "b';",
         "a  b"},  // control characters become blanks
    };
    for (const TCase& c : cases) EXPECT_EQ(ParseStreamTitle(c.Packet), c.Title) << c.Packet;

    const std::string huge = "StreamTitle='" + std::string(100000, 'x') + "';";
    EXPECT_EQ(ParseStreamTitle(huge)->size(), MaxStreamTitleBytes);
    std::string accents = "StreamTitle='";
    for (int i = 0; i < 1000; ++i) accents += "\xc3\xa9";
    const std::string cut = *ParseStreamTitle(accents + "';");
    EXPECT_EQ(cut.size(), MaxStreamTitleBytes);  // 512 whole two-byte characters
    EXPECT_EQ(CleanTitleText(cut), cut);
}

TEST(UtcTime, TextsAreIsoWithMillisecondsAndStampsRoundTrip) {
    EXPECT_EQ(UtcIsoText(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(UtcIsoText(1796881754123), "2026-12-10T05:49:14.123Z");
    EXPECT_EQ(MsOfStamp(StampOfMs(1796881754123)), 1796881754123);
}

}  // namespace
}  // namespace orvane::stream
