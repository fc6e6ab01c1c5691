// orvane3-cli devices and listen as a user runs them, against a private PulseAudio server.
#include <gtest/gtest.h>

#ifdef ORVANE_CLI

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "audio/FptExtract.h"
#include "platform/PlatformAudio.h"
#include "signal/QnFFT.h"
#include "support/PulseServer.h"
#include "support/TempDir.h"
#include "support/TestSignals.h"
#include "support/WavWriter.h"

extern char** environ;

namespace orvane::platform {
namespace {

/// The tool, started with stdout and stderr going to files of `dir`.
class TCliProcess {
public:
    TCliProcess(const test::TTempDir& dir, std::vector<std::string> args)
        : FOut(dir.File("out.txt")), FErr(dir.File("err.txt")) {
        args.insert(args.begin(), ORVANE_CLI);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, FOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, FErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        if (posix_spawn(&FPid, ORVANE_CLI, &actions, nullptr, argv.data(), environ) != 0) FPid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~TCliProcess() {
        if (FPid > 0) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, nullptr, 0);
        }
    }
    bool Started() const { return FPid > 0; }
    /// Waits up to `seconds` for the end; the exit status, or -1 (then it is killed).
    int Wait(double seconds) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(static_cast<int>(seconds * 1000));
        int status = 0;
        while (::waitpid(FPid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Signal(int number) { ::kill(FPid, number); }
    std::string Out() const { return test::ReadBytes(FOut); }
    std::string Err() const { return test::ReadBytes(FErr); }

private:
    std::string FOut;
    std::string FErr;
    pid_t FPid = -1;
};

class TQuietHost final : public audio::IExtractHost {
public:
    void Report(const std::string&, int) override {}
};

/// Points the settings of child processes at an empty folder of the test.
class TSettingsHome {
public:
    explicit TSettingsHome(const std::string& folder) {
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) FOld = old, FHad = true;
        ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    }
    ~TSettingsHome() {
        if (FHad) {
            ::setenv("XDG_CONFIG_HOME", FOld.c_str(), 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
    }

private:
    bool FHad = false;
    std::string FOld;
};

/// Points PulseAudio at a socket nobody listens on, for the life of the object.
class TNoSoundServer {
public:
    explicit TNoSoundServer(const std::string& socket) {
        if (const char* old = std::getenv("PULSE_SERVER")) FOld = old, FHad = true;
        ::setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    }
    ~TNoSoundServer() {
        if (FHad) {
            ::setenv("PULSE_SERVER", FOld.c_str(), 1);
        } else {
            ::unsetenv("PULSE_SERVER");
        }
    }

private:
    bool FHad = false;
    std::string FOld;
};

TEST(CliLive, WithoutASoundServerDevicesAndListenSayWhatFailedAndWhy) {
    test::TTempDir dir;
    TSettingsHome home(dir.File("config"));
    const TNoSoundServer noServer(dir.File("no-server"));
    struct TCase {
        std::vector<std::string> Args;
        std::string Error;
    };
    const TCase cases[] = {
        {{"devices"},
         "error: the audio inputs cannot be listed: no sound server (PulseAudio or PipeWire) is "
         "running. (Connection refused)\n"},
        {{"listen", "--library", dir.Folder()},
         "error: Channel01: the audio input \"default\" cannot be opened: no sound server "
         "(PulseAudio or PipeWire) is running. (Connection refused)\n"},
        {{"listen", "--library", dir.Folder(), "--device", "alsa_input.usb-mic"},
         "error: Channel01: the audio input \"alsa_input.usb-mic\" cannot be opened: no sound "
         "server (PulseAudio or PipeWire) is running. (Connection refused)\n"},
    };
    for (const auto& c : cases) {
        TCliProcess cli(dir, c.Args);
        ASSERT_TRUE(cli.Started());
        EXPECT_EQ(cli.Wait(20), 1) << c.Args[0];
        EXPECT_EQ(cli.Out(), "") << c.Args[0] << ": no device is listed as if it could record";
        EXPECT_EQ(cli.Err(), c.Error) << c.Args[0];
    }
}

TEST(CliLive, DevicesListsTheDefaultDeviceFirstAndTheSinkMonitor) {
    test::TPulseServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    test::TTempDir dir;
    TCliProcess cli(dir, {"devices"});
    ASSERT_TRUE(cli.Started());
    EXPECT_EQ(cli.Wait(10), 0) << cli.Err();
    const std::string expected =
        "Microsoft Wave Mapper\tdefault source: " + test::TPulseServer::MonitorName() + "\n" +
        test::TPulseServer::MonitorName() + "\t";
    EXPECT_EQ(cli.Out().substr(0, expected.size()), expected);
}

TEST(CliLive, ListenRefusesAnUnknownDevice) {
    test::TPulseServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    test::TTempDir dir;
    TSettingsHome home(dir.File("config"));
    TCliProcess cli(dir, {"listen", "--device", "no-such-source", "--library", dir.Folder()});
    ASSERT_TRUE(cli.Started());
    EXPECT_EQ(cli.Wait(10), 1);
    EXPECT_NE(cli.Err().find("no capture device \"no-such-source\""), std::string::npos)
        << cli.Err();
}

TEST(CliLive, ListenPrintsTheLogLineOfAPlayedClipAndClosesItOnSigint) {
    InstallAudioConversion();
    test::TPulseServer server;
    ASSERT_TRUE(server.Running()) << server.Error();
    test::TTempDir dir;
    TSettingsHome home(dir.File("config"));
    const std::string wav = dir.File("Live Clip.wav");
    const test::TSamples clip = test::Music(7, 12 * 11025);
    test::WriteWav(wav, clip, 11025);
    const std::string folder = dir.Folder() + "fp/";
    std::filesystem::create_directories(folder);
    signal::QnKeyConversion converter;
    TQuietHost host;
    ASSERT_EQ(audio::ExtractFingerprint(wav, audio::TAudioFileType::ftWav, folder, converter, host,
                                        false),
              audio::TExtractResult::erWritten);

    TCliProcess cli(dir,
                    {"listen", "--library", folder, "--device", test::TPulseServer::MonitorName()});
    ASSERT_TRUE(cli.Started());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (cli.Err().find("Listening on") == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << cli.Err();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    { const test::TPlayer player(clip, 11025); }
    // The clip is still tracked (the idle timeout has not passed): SIGINT logs it.
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Wait(10), 0) << cli.Err();
    const std::string out = cli.Out();
    EXPECT_EQ(out.rfind("Channel01: Live Clip [", 0), 0u) << out << cli.Err();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
}

}  // namespace
}  // namespace orvane::platform

#endif  // ORVANE_CLI
