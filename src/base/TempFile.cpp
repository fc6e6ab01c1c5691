#include "base/TempFile.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace orvane {

namespace {

std::atomic<std::uint64_t> GTempCounter{0};

std::string RandomPart() {
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static const std::uint64_t seed = [] {
        std::random_device device;
        return (static_cast<std::uint64_t>(device()) << 32) ^ device() ^
               static_cast<std::uint64_t>(::getpid()) ^
               static_cast<std::uint64_t>(
                   std::chrono::steady_clock::now().time_since_epoch().count());
    }();
    std::mt19937_64 generator(seed + 0x9E3779B97F4A7C15ull * GTempCounter.fetch_add(1));
    std::string part(8, 'a');
    for (char& c : part) c = Letters[generator() % (sizeof(Letters) - 1)];
    return part;
}

}  // namespace

int CreateTempFileBeside(const std::string& fileName, unsigned int mode, std::string& tempName) {
    const auto slash = fileName.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : fileName.substr(0, slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = folder + ".~" + RandomPart() + ".tmp";
        const int fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                              static_cast<mode_t>(mode));
        if (fd >= 0) return fd;
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace orvane
