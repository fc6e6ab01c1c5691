#include "support/PulseServer.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace orvane::test {

namespace {

bool SocketAnswers(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    const bool ok =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

std::string FindBinary(const char* name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = folders.find(':', start);
        const std::string folder =
            folders.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::filesystem::path candidate = std::filesystem::path(folder) / name;
        if (!folder.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate.string();
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return {};
}

}  // namespace

TPulseServer::TPulseServer() {
    const std::string binary = FindBinary("pulseaudio");
    if (binary.empty()) {
        FError = "pulseaudio is not installed";
        return;
    }
    const std::filesystem::path runtime = FDir.Path() / "run";
    const std::filesystem::path home = FDir.Path() / "home";
    std::filesystem::create_directories(runtime);
    std::filesystem::create_directories(home);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const std::string socket = (runtime / "native").string();
    FAddress = "unix:" + socket;
    const std::string script = FDir.File("server.pa");
    {
        std::ofstream out(script);
        out << "load-module module-null-sink sink_name=" << SinkName << " rate=44100\n"
            << "load-module module-native-protocol-unix socket=" << socket << " auth-anonymous=1\n"
            << "set-default-sink " << SinkName << "\n"
            << "set-default-source " << MonitorName() << "\n";
    }
    const std::string log = FDir.File("server.log");

    // The server's environment: only its own folders, so no user or system instance is touched.
    std::vector<std::string> env = {"HOME=" + home.string(),
                                    "XDG_RUNTIME_DIR=" + runtime.string(),
                                    "PULSE_RUNTIME_PATH=" + runtime.string(),
                                    "PULSE_STATE_PATH=" + (home / "state").string(),
                                    "XDG_CONFIG_HOME=" + (home / "config").string(),
                                    "PATH=/usr/bin:/bin"};
    std::vector<std::string> args = {binary,
                                     "-n",
                                     "--daemonize=no",
                                     "--system=no",
                                     "--exit-idle-time=-1",
                                     "--disable-shm=yes",
                                     "--use-pid-file=no",
                                     "--disallow-exit=yes",
                                     "--log-target=file:" + log,
                                     "-F",
                                     script};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned =
        posix_spawn(&FPid, binary.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        FPid = -1;
        FError = std::string("cannot start pulseaudio: ") + std::strerror(spawned);
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!SocketAnswers(socket)) {
        int status = 0;
        if (::waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            FError = "pulseaudio ended at start; its log: " + ReadBytes(log);
            return;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            FError = "pulseaudio did not answer in 10 s";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (const char* old = std::getenv("PULSE_SERVER")) {
        FHadServerVariable = true;
        FOldServerVariable = old;
    }
    ::setenv("PULSE_SERVER", FAddress.c_str(), 1);
}

TPulseServer::~TPulseServer() {
    if (FHadServerVariable) {
        ::setenv("PULSE_SERVER", FOldServerVariable.c_str(), 1);
    } else if (!FAddress.empty()) {
        ::unsetenv("PULSE_SERVER");
    }
    if (FPid > 0) {
        ::kill(FPid, SIGTERM);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (::waitpid(FPid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(FPid, SIGKILL);
                ::waitpid(FPid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

TPlayer::TPlayer(std::vector<std::int16_t> samples, int rate, int channels) {
    FThread = std::thread([this, samples = std::move(samples), rate, channels] {
        pa_sample_spec sampleSpec{};
        sampleSpec.format = PA_SAMPLE_S16LE;
        sampleSpec.rate = static_cast<std::uint32_t>(rate);
        sampleSpec.channels = static_cast<std::uint8_t>(channels);
        int error = 0;
        pa_simple* stream = pa_simple_new(nullptr, "orvane3-test", PA_STREAM_PLAYBACK, nullptr,
                                          "play", &sampleSpec, nullptr, nullptr, &error);
        if (!stream) {
            FError = pa_strerror(error);
            return;
        }
        if (pa_simple_write(stream, samples.data(), samples.size() * sizeof(std::int16_t), &error) <
                0 ||
            pa_simple_drain(stream, &error) < 0) {
            FError = pa_strerror(error);
        }
        pa_simple_free(stream);
    });
}

TPlayer::~TPlayer() { Wait(); }

std::string TPlayer::Wait() {
    if (FThread.joinable()) FThread.join();
    return FError;
}

std::string Pactl(const std::string& arguments) {
    std::string output;
    FILE* pipe = ::popen(("pactl " + arguments + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return output;
    std::array<char, 256> chunk{};
    while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), pipe) != nullptr) {
        output += chunk.data();
    }
    ::pclose(pipe);
    return output;
}

}  // namespace orvane::test
