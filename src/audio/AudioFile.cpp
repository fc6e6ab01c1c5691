#include "audio/AudioFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Errors.h"

namespace orvane::audio {
namespace {

constexpr std::size_t ReadAheadSize = 64 * 1024;

[[noreturn]] void ThrowFileError(const std::string& what, const std::string& fileName, int code) {
    throw EFileError(what + " \"" + fileName + "\": " + std::strerror(code), code);
}

}  // namespace

TAudioFile::TAudioFile(const std::string& fileName) : FFileName(fileName), FFile(fileName) {
    FSize = FFile.Size();
    FBuffer.resize(ReadAheadSize);
}

TAudioFile::~TAudioFile() = default;

std::size_t TAudioFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got =
            ::pread(FFile.Fd(), out + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            ThrowFileError("Cannot read", FFileName, errno);
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void TAudioFile::Seek(std::uint64_t offset) {
    FPosition = offset;
    FBufferStart = offset;
    FBufferFill = 0;
}

std::size_t TAudioFile::ReadBlock(std::uint8_t* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const std::uint64_t inBuffer = FPosition - FBufferStart;
        if (inBuffer >= FBufferFill) {
            FBufferStart = FPosition;
            FBufferFill = ReadAt(FPosition, FBuffer.data(), FBuffer.size());
            if (FBufferFill == 0) break;
            continue;
        }
        const std::size_t take =
            std::min(count - done, FBufferFill - static_cast<std::size_t>(inBuffer));
        std::memcpy(buffer + done, FBuffer.data() + inBuffer, take);
        done += take;
        FPosition += take;
    }
    return done;
}

}  // namespace orvane::audio
