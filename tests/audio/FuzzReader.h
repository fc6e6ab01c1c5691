// The body of the reader fuzz targets: any bytes written as a file of the reader's kind must
// give audio or an orvane::EError, never a crash. A one-byte input stands for a FIFO or a
// folder under the file's name, which the reader must refuse without blocking.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/uOpenAudio.h"
#include "base/RegularFile.h"
#include "platform/PlatformAudio.h"

namespace orvane::test {

template <class TReader>
int FuzzReader(const std::uint8_t* data, std::size_t size, const char* extension) {
    static const std::string path = [extension] {
        const char* dir = std::getenv("TMPDIR");
        const std::string base =
            dir != nullptr ? dir : (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        return base + "/orvane_fuzz_" + std::to_string(getpid()) + extension;
    }();
    static const bool installed = (platform::InstallAudioConversion(), true);
    (void)installed;
    ::unlink(path.c_str());
    ::rmdir(path.c_str());
    if (size == 1) {
        const bool fifo = (data[0] & 1) == 0;
        if ((fifo ? ::mkfifo(path.c_str(), 0600) : ::mkdir(path.c_str(), 0700)) != 0) return 0;
        try {
            TReader reader(path, 8192);
            __builtin_trap();
        } catch (const ENotRegularFile&) {
        }
        if (fifo) {
            ::unlink(path.c_str());
        } else {
            ::rmdir(path.c_str());
        }
        return 0;
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    try {
        TReader reader(path, 8192);
        while (reader.ReadChunk() == 8192) {
        }
    } catch (const EError&) {
    }
    return 0;
}

}  // namespace orvane::test
