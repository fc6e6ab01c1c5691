#include "tracking/TAtomicFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "base/Errors.h"

namespace orvane::tracking {

namespace {

std::atomic<unsigned> GTempCounter{0};

[[noreturn]] void FailWrite(int fd, const std::string& tempName, const std::string& fileName,
                            int errorCode) {
    if (fd >= 0) {
        ::close(fd);
    }
    ::unlink(tempName.c_str());
    throw EFileError("Error writing \"" + fileName + "\": " + std::strerror(errorCode), errorCode);
}

}  // namespace

int ReplaceFileContents(const std::string& fileName, std::string_view bytes) {
    std::string tempName;
    int fd = -1;
    // The name is unique per process and call; O_EXCL guards against leftovers of others.
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tempName = fileName + ".~" + std::to_string(::getpid()) + "." +
                   std::to_string(GTempCounter.fetch_add(1, std::memory_order_relaxed));
        fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return errno;
        }
    }
    if (fd < 0) {
        return EEXIST;
    }
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            FailWrite(fd, tempName, fileName, errno);
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        FailWrite(fd, tempName, fileName, errno);
    }
    if (::close(fd) != 0) {
        FailWrite(-1, tempName, fileName, errno);
    }
    if (::rename(tempName.c_str(), fileName.c_str()) != 0) {
        const int errorCode = errno;
        ::unlink(tempName.c_str());
        return errorCode;
    }
    return 0;
}

}  // namespace orvane::tracking
