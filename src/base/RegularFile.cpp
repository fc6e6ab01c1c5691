#include "base/RegularFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane {

namespace {

[[noreturn]] void ThrowNotRegular(const std::string& shownName, unsigned int mode) {
    throw ENotRegularFile("\"" + shownName + "\" (" + FileKindText(mode) + ") is not a regular file",
                          S_ISDIR(mode) ? EISDIR : EINVAL);
}

[[noreturn]] void ThrowOpenError(const std::string& shownName, int code) {
    throw EFileError("Cannot open \"" + shownName + "\": " + std::strerror(code), code);
}

}  // namespace

std::string FileKindText(unsigned int mode) {
    if (S_ISREG(mode)) return "a regular file";
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "an unknown kind of file";
}

TRegularFile::TRegularFile(const std::string& path, const std::string& shownName) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) ThrowOpenError(shownName, errno);
    if (!S_ISREG(info.st_mode)) ThrowNotRegular(shownName, info.st_mode);
    FFd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (FFd < 0) ThrowOpenError(shownName, errno);
    const auto fail = [this](auto&& thrower) {
        ::close(FFd);
        FFd = -1;
        thrower();
    };
    if (::fstat(FFd, &info) != 0) {
        const int code = errno;
        fail([&] { ThrowOpenError(shownName, code); });
    }
    if (!S_ISREG(info.st_mode)) fail([&] { ThrowNotRegular(shownName, info.st_mode); });
    const int flags = ::fcntl(FFd, F_GETFL);
    if (flags < 0 || ::fcntl(FFd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        const int code = errno;
        fail([&] { ThrowOpenError(shownName, code); });
    }
    FSize = static_cast<std::uint64_t>(info.st_size);
}

TRegularFile::~TRegularFile() {
    if (FFd >= 0) ::close(FFd);
}

}  // namespace orvane
