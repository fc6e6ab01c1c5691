#include "tracking/TAtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/Errors.h"
#include "base/TempFile.h"

namespace orvane::tracking {

namespace {

constexpr int MostLinks = 40;

[[noreturn]] void FailWrite(int fd, const std::string& tempName, const std::string& fileName,
                            int errorCode) {
    if (fd >= 0) {
        ::close(fd);
    }
    if (!tempName.empty()) {
        ::unlink(tempName.c_str());
    }
    throw EFileError("Error writing \"" + fileName + "\": " + std::strerror(errorCode), errorCode);
}

/// The file a chain of symbolic links ends at (the name itself when it is no link); the last
/// name need not exist. Returns false with errno set (ELOOP for too many links).
bool FollowLinks(const std::string& fileName, std::string& target) {
    target = fileName;
    for (int links = 0; links <= MostLinks; ++links) {
        struct stat info {};
        if (::lstat(target.c_str(), &info) != 0) return errno == ENOENT;
        if (!S_ISLNK(info.st_mode)) return true;
        std::vector<char> buffer(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
        const ssize_t length = ::readlink(target.c_str(), buffer.data(), buffer.size());
        if (length < 0) return false;
        const std::string link(buffer.data(), static_cast<std::size_t>(length));
        if (!link.empty() && link[0] == '/') {
            target = link;
        } else {
            const auto slash = target.find_last_of('/');
            target = (slash == std::string::npos ? "" : target.substr(0, slash + 1)) + link;
        }
    }
    errno = ELOOP;
    return false;
}

void WriteAll(int fd, std::string_view bytes, const std::string& tempName,
              const std::string& fileName) {
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
}

/// Rewrites the existing regular file `target` through a descriptor of its own.
int WriteInPlace(const std::string& target, std::string_view bytes) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int errorCode = errno;
        ::close(fd);
        return errorCode;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || ::ftruncate(fd, 0) != 0) {
        FailWrite(fd, {}, target, errno);
    }
    WriteAll(fd, bytes, {}, target);
    if (::close(fd) != 0) {
        FailWrite(-1, {}, target, errno);
    }
    return 0;
}

}  // namespace

int ReplaceFileContents(const std::string& fileName, std::string_view bytes) {
    std::string target;
    if (!FollowLinks(fileName, target)) {
        return errno;
    }
    struct stat info {};
    const bool exists = ::stat(target.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) {
        return S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    }
    std::string tempName;
    // An existing file's mode is set exactly below; until then only we may read the copy.
    const int fd = CreateTempFileBeside(target, exists ? 0600 : 0666, tempName);
    if (fd < 0) {
        const int errorCode = errno;
        if (exists && (errorCode == EACCES || errorCode == EPERM)) {
            return WriteInPlace(target, bytes);
        }
        return errorCode;
    }
    WriteAll(fd, bytes, tempName, fileName);
    if (exists) {
        if (::fchown(fd, info.st_uid, info.st_gid) != 0 &&
            ::fchown(fd, static_cast<uid_t>(-1), info.st_gid) != 0) {
            // Only root may give a file away: the copy stays ours, with the file's mode.
        }
        if (::fchmod(fd, info.st_mode & 07777) != 0) {
            FailWrite(fd, tempName, fileName, errno);
        }
    }
    if (::close(fd) != 0) {
        FailWrite(-1, tempName, fileName, errno);
    }
    if (::rename(tempName.c_str(), target.c_str()) != 0) {
        const int errorCode = errno;
        ::unlink(tempName.c_str());
        // A sticky folder (/tmp) lets only the owner replace a file that others may write.
        if (exists && (errorCode == EACCES || errorCode == EPERM)) {
            return WriteInPlace(target, bytes);
        }
        return errorCode;
    }
    return 0;
}

}  // namespace orvane::tracking
