// A file opened for reading by the audio readers: random reads for parsing, buffered
// sequential reads of fixed-size source blocks for decoding.
// Thread: owned and used by one reader on one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/RegularFile.h"

namespace orvane::audio {

class TAudioFile {
public:
    /// Opens `fileName` for reading only, never blocking in the open; throws
    /// orvane::ENotRegularFile for a FIFO, device, socket or folder and orvane::EFileError
    /// (with errno) when it cannot be opened.
    explicit TAudioFile(const std::string& fileName);
    ~TAudioFile();
    TAudioFile(const TAudioFile&) = delete;
    TAudioFile& operator=(const TAudioFile&) = delete;

    /// Size of the file in bytes, taken when it was opened.
    std::uint64_t Size() const { return FSize; }
    const std::string& FileName() const { return FFileName; }

    /// Reads up to `count` bytes at `offset` into `buffer`; returns the bytes read, fewer only
    /// at the end of the file (0 at or beyond it). Throws EFileError when the system fails.
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const;

    /// Moves the sequential position used by ReadBlock (bytes from the start of the file).
    void Seek(std::uint64_t offset);
    /// Sequential position: bytes handed out by ReadBlock so far, plus the Seek origin.
    std::uint64_t Position() const { return FPosition; }
    /// Reads the next `count` bytes at the sequential position into `buffer`. Returns `count`, or
    /// fewer at the end of the file; the position moves by the bytes returned.
    std::size_t ReadBlock(std::uint8_t* buffer, std::size_t count);

private:
    std::string FFileName;
    TRegularFile FFile;
    std::uint64_t FSize = 0;
    std::uint64_t FPosition = 0;
    // Read-ahead: the file is read in large pieces and handed out in source blocks.
    std::vector<std::uint8_t> FBuffer;
    std::uint64_t FBufferStart = 0;
    std::size_t FBufferFill = 0;
};

}  // namespace orvane::audio
