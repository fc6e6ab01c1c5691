// The body of the reader fuzz targets: any bytes written as a file of the reader's kind must
// give audio or an orvane::EError, never a crash.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/uOpenAudio.h"
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
