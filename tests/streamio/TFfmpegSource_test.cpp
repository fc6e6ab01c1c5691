// Network streams through FFmpeg against servers written here: an ICY server with MP3 and
// station titles (also oversized ones), and hostile ones that send garbage, stall in the
// middle of their headers or never end them. Every server runs on 127.0.0.1 on a free port.
#include "streamio/TFfmpegSource.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "audio/FptExtract.h"
#include "audio/uOpenAudio.h"
#include "platform/PlatformAudio.h"
#include "signal/QnFFT.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"

namespace orvane::streamio {
namespace {

using Clock = std::chrono::steady_clock;

class TConversionEnvironment : public ::testing::Environment {
public:
    void SetUp() override { platform::InstallAudioConversion(); }
};
const auto* const Conversion = ::testing::AddGlobalTestEnvironment(new TConversionEnvironment);

/// A TCP server on 127.0.0.1 and a free port; each connection is served by `serve` on the
/// server's thread, which gets the socket and a flag that turns true when the test ends.
class TTestServer {
public:
    using TServe = std::function<void(int socket, const std::atomic<bool>& stop)>;
    explicit TTestServer(TServe serve) : FServe(std::move(serve)) {
        FListen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(FListen, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(FListen, 4) != 0 ||
            ::getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ADD_FAILURE() << "no test server";
        }
        FPort = ntohs(address.sin_port);
        FThread = std::thread([this] { Run(); });
    }
    ~TTestServer() {
        FStop.store(true);
        FThread.join();
        ::close(FListen);
    }
    std::string Url(const std::string& path = "/stream") const {
        return "http://127.0.0.1:" + std::to_string(FPort) + path;
    }

private:
    void Run() {
        while (!FStop.load()) {
            pollfd p{FListen, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int client = ::accept(FListen, nullptr, nullptr);
            if (client < 0) continue;
            FServe(client, FStop);
            ::close(client);
        }
    }
    TServe FServe;
    int FListen = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

/// Reads the request up to its blank line (bounded).
std::string ReadRequest(int socket) {
    std::string request;
    char c = 0;
    while (request.size() < 8192 && ::recv(socket, &c, 1, 0) == 1) {
        request += c;
        if (request.ends_with("\r\n\r\n")) break;
    }
    return request;
}

bool SendAll(int socket, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

/// Waits up to `seconds` unless the test ends.
void Idle(const std::atomic<bool>& stop, int seconds) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (!stop.load() && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

/// One ICY metadata block: a length byte (in units of 16) and the padded text.
std::string MetadataBlock(const std::string& text) {
    std::string padded = text;
    padded.resize((text.size() + 15) / 16 * 16, '\0');
    return std::string(1, static_cast<char>(padded.size() / 16)) + padded;
}

/// An MP3 of `samples` (11025 Hz mono) made with lame at 128 kbit/s, 44100 Hz.
std::string MakeMp3(const orvane::test::TTempDir& dir, const std::vector<std::int16_t>& samples) {
    const std::string wav = dir.File("clip.wav");
    const std::string mp3 = dir.File("clip.mp3");
    orvane::test::WriteWav(wav, samples, 11025);
    const std::string command = "lame --quiet --resample 44.1 -b 128 '" + wav + "' '" + mp3 + "'";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "lame failed";
    return mp3;
}

std::vector<std::uint32_t> KeysOf(const std::vector<std::int16_t>& samples) {
    signal::QnKeyConversion converter;
    std::vector<std::uint32_t> keys;
    // Frames of 4096 every 128 samples, as the channels make them.
    for (std::size_t start = 0; start + 4096 <= samples.size(); start += 128) {
        keys.push_back(converter.wav2linekeyMod(samples.data(), static_cast<std::int32_t>(start),
                                                static_cast<std::int32_t>(samples.size())));
    }
    return keys;
}

TEST(TFfmpegSource, AnIcyStreamGivesTheFilesAudioAndTheStationsTitle) {
    orvane::test::TTempDir dir;
    const auto music = orvane::test::Music(5, 11025 * 8);
    const std::string mp3File = MakeMp3(dir, music);
    const std::string mp3 = orvane::test::ReadBytes(mp3File);
    ASSERT_GT(mp3.size(), 50000u);
    constexpr std::size_t MetaInt = 8192;
    TTestServer server([&](int socket, const std::atomic<bool>& stop) {
        ReadRequest(socket);
        if (!SendAll(socket,
                     "ICY 200 OK\r\nicy-name: Test FM\r\nicy-metaint: 8192\r\n"
                     "Content-Type: audio/mpeg\r\n\r\n")) {
            return;
        }
        for (std::size_t pos = 0, block = 0; pos < mp3.size() && !stop.load();
             pos += MetaInt, ++block) {
            std::string chunk = mp3.substr(pos, MetaInt);
            if (chunk.size() < MetaInt) break;  // the interval must be whole; the tail is dropped
            // First the largest metadata an ICY server can send, later the real title.
            const std::string meta =
                block == 0   ? MetadataBlock("StreamTitle='" + std::string(4000, 'x') + "';")
                : block == 2 ? MetadataBlock("StreamTitle='Nina Simone - Sinnerman';StreamUrl='';")
                             : MetadataBlock("");
            if (!SendAll(socket, chunk + meta)) return;
        }
    });
    TFfmpegSource source(server.Url(), 5);
    source.Open();
    std::vector<std::int16_t> samples;
    std::vector<std::string> titles;
    try {
        for (int i = 0; i < 100000 && source.Read(samples); ++i) {
            if (titles.empty() || titles.back() != source.StreamTitle())
                titles.push_back(source.StreamTitle());
        }
    } catch (const stream::EStreamError& e) {
        // The server closing the connection ends a stream with an error.
        EXPECT_STREQ(e.what(), "cannot read the stream: Input/output error");
    }
    ASSERT_FALSE(titles.empty());
    EXPECT_EQ(source.StreamTitle(), "Nina Simone - Sinnerman");
    for (const auto& t : titles) EXPECT_LE(t.size(), 1024u);

    // The same file through the file reader: the same audio, keys equal within rounding.
    auto reader = audio::OpenAudioReader(mp3File, audio::TAudioFileType::ftMp3);
    std::vector<std::int16_t> fromFile;
    while (reader->ReadChunk() == static_cast<std::int32_t>(reader->Size())) {
        const auto* p = reinterpret_cast<const std::int16_t*>(reader->Data());
        fromFile.insert(fromFile.end(), p, p + reader->Size() / 2);
    }
    ASSERT_GT(samples.size(), 11025u * 6);
    const std::size_t n = std::min(samples.size(), fromFile.size());
    samples.resize(n);
    fromFile.resize(n);
    int worst = 0;
    for (std::size_t i = 0; i < n; ++i) worst = std::max(worst, std::abs(samples[i] - fromFile[i]));
    EXPECT_LE(worst, 64);  // two MP3 decoders: sample values within rounding of each other
    const auto streamKeys = KeysOf(samples);
    const auto fileKeys = KeysOf(fromFile);
    std::size_t differingBits = 0;
    for (std::size_t i = 0; i < streamKeys.size(); ++i) {
        differingBits += static_cast<std::size_t>(__builtin_popcount(streamKeys[i] ^ fileKeys[i]));
    }
    // At most 2 % of the key bits differ (the verification accepts 40 %).
    EXPECT_LT(static_cast<double>(differingBits),
              0.02 * 32.0 * static_cast<double>(streamKeys.size()));
}

TEST(TFfmpegSource, AnHlsPlaylistGivesItsAudio) {
    orvane::test::TTempDir dir;
    const auto music = orvane::test::Music(6, 11025 * 9);
    orvane::test::WriteWav(dir.File("clip.wav"), music, 11025);
    const std::string command =
        "cd '" + dir.Folder() +
        "' && ffmpeg -nostdin -loglevel error -i clip.wav -ar 44100 -c:a aac "
        "-b:a 128k -f hls -hls_time 2 -hls_playlist_type vod index.m3u8";
    ASSERT_EQ(std::system(command.c_str()), 0);
    // A file server: GET /NAME answers the file NAME of the folder.
    TTestServer server([&](int socket, const std::atomic<bool>&) {
        const std::string request = ReadRequest(socket);
        const auto start = request.find("GET /");
        const auto end = request.find(' ', start + 5);
        if (start == std::string::npos || end == std::string::npos) return;
        const std::string name = request.substr(start + 5, end - start - 5);
        if (name.find('/') != std::string::npos || name.empty()) return;
        std::string body;
        try {
            body = orvane::test::ReadBytes(dir.File(name));
        } catch (...) {
            SendAll(socket, "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
            return;
        }
        SendAll(socket, "HTTP/1.0 200 OK\r\nConnection: close\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\n\r\n" + body);
    });
    TFfmpegSource source(server.Url("/index.m3u8"), 5);
    source.Open();
    std::vector<std::int16_t> samples;
    for (int i = 0; i < 100000 && source.Read(samples); ++i) {
    }
    // The whole clip, give or take the encoder's priming and padding.
    EXPECT_NEAR(static_cast<double>(samples.size()) / 11025.0, 9.0, 0.3);
}

TEST(TFfmpegSource, HostileServersGetAClearErrorWithinTheTimeOut) {
    struct TCase {
        const char* What;
        TTestServer::TServe Serve;
        const char* MessageStart;
    };
    std::string garbage(1 << 16, '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>((i * 7919) >> 3);
    const TCase cases[] = {
        {"garbage instead of a reply",
         [&](int s, const std::atomic<bool>&) {
             ReadRequest(s);
             SendAll(s, garbage);
         },
         "cannot open the stream"},
        {"garbage after a reply",
         [&](int s, const std::atomic<bool>& stop) {
             ReadRequest(s);
             if (!SendAll(s, "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n")) return;
             for (int i = 0; i < 200 && !stop.load() && SendAll(s, garbage); ++i) {
             }
         },
         "cannot open the stream: Invalid data found"},
        {"a stall in the middle of the headers",
         [](int s, const std::atomic<bool>& stop) {
             ReadRequest(s);
             SendAll(s, "HTTP/1.0 200 OK\r\nContent-Ty");
             Idle(stop, 20);
         },
         "no answer within 2 s"},
        {"headers without end",
         [](int s, const std::atomic<bool>& stop) {
             ReadRequest(s);
             SendAll(s, "HTTP/1.0 200 OK\r\n");
             for (int i = 0; i < 100000 && !stop.load(); ++i) {
                 if (!SendAll(s, "X-Padding: " + std::string(100, 'a') + "\r\n")) return;
                 std::this_thread::sleep_for(std::chrono::milliseconds(1));
             }
         },
         "no answer within 2 s"},
        {"a closed connection", [](int, const std::atomic<bool>&) {}, "cannot open the stream"},
    };
    for (const TCase& c : cases) {
        TTestServer server(c.Serve);
        TFfmpegSource source(server.Url(), 2);
        const auto start = Clock::now();
        std::string message;
        try {
            source.Open();
            std::vector<std::int16_t> samples;
            for (int i = 0; i < 100000 && source.Read(samples); ++i) {
            }
            message = "ended";
        } catch (const stream::EStreamError& e) {
            message = e.what();
        }
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(14)) << c.What;
        EXPECT_EQ(message.rfind(c.MessageStart, 0), 0u) << c.What << ": " << message;
        EXPECT_NE(message, "ended") << c.What;
    }
}

TEST(TFfmpegSource, AStreamThatFallsSilentGivesUpAfterItsTimeOutWithoutAudio) {
    orvane::test::TTempDir dir;
    const std::string mp3 =
        orvane::test::ReadBytes(MakeMp3(dir, orvane::test::Music(9, 11025 * 3)));
    TTestServer server([&](int s, const std::atomic<bool>& stop) {
        ReadRequest(s);
        if (SendAll(s, "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n" + mp3)) Idle(stop, 30);
    });
    TFfmpegSource source(server.Url(), 5, 2);
    source.Open();
    std::vector<std::int16_t> samples;
    ASSERT_TRUE(source.Read(samples));
    // A reader that takes longer than the time-out between two reads is not silence.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const auto start = Clock::now();
    std::string message;
    try {
        for (int i = 0; i < 1000000 && source.Read(samples); ++i) {
        }
    } catch (const stream::EStreamError& e) {
        message = e.what();
    }
    EXPECT_EQ(message, "no audio for 2 s");
    EXPECT_GT(samples.size(), 11025u * 2);
    EXPECT_GT(Clock::now() - start, std::chrono::milliseconds(1900));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(6));
}

TEST(TFfmpegSource, AnInterruptEndsABlockedOpenAtOnce) {
    TTestServer server([](int s, const std::atomic<bool>& stop) {
        ReadRequest(s);
        Idle(stop, 20);
    });
    TFfmpegSource source(server.Url(), 30);
    std::thread interrupter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        source.Interrupt();
    });
    const auto start = Clock::now();
    try {
        source.Open();
        ADD_FAILURE() << "opened a silent server";
    } catch (const stream::EStreamError& e) {
        EXPECT_STREQ(e.what(), "stopped");
    }
    interrupter.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

}  // namespace
}  // namespace orvane::streamio
