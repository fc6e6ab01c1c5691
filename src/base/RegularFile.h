// Opening a file that must be a regular file (audio files, fingerprint files): a FIFO, device,
// socket or folder under such a name is refused before anything could block on it.
// Thread: any.
#pragma once

#include <cstdint>
#include <string>

#include "base/Errors.h"

namespace orvane {

/// A name that exists but is not a regular file. The message names it and says what it is:
/// "\"x.qnf\" (a FIFO) is not a regular file". ErrorCode: EISDIR for a folder, else EINVAL.
class ENotRegularFile : public EFileError {
public:
    using EFileError::EFileError;
};

/// What a file of this st_mode is, for messages: "a folder", "a FIFO", "a character device",
/// "a block device", "a socket", "a symbolic link", "a regular file", "an unknown kind of file".
std::string FileKindText(unsigned int mode);

/// A regular file open for reading (descriptor closed on destruction).
class TRegularFile {
public:
    /// Opens `path` for reading without ever blocking in the open: the name is checked with
    /// stat first, opened with O_NONBLOCK, checked again on the descriptor (so a swap in between
    /// is caught), then switched to blocking reads. `shownName` is the name messages use.
    /// Throws ENotRegularFile for anything but a regular file (symbolic links are followed),
    /// EFileError with errno ("Cannot open \"name\": No such file or directory") otherwise.
    TRegularFile(const std::string& path, const std::string& shownName);
    explicit TRegularFile(const std::string& path) : TRegularFile(path, path) {}
    ~TRegularFile();
    TRegularFile(const TRegularFile&) = delete;
    TRegularFile& operator=(const TRegularFile&) = delete;

    int Fd() const { return FFd; }
    /// Size in bytes when opened.
    std::uint64_t Size() const { return FSize; }

private:
    int FFd = -1;
    std::uint64_t FSize = 0;
};

}  // namespace orvane
