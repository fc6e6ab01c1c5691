// libFuzzer target: any bytes as a WAV file must give audio or an orvane::EError, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "audio/uOpenAudio.h"
#include "platform/PlatformAudio.h"

namespace {

std::string TempPath() {
    const char* dir = std::getenv("TMPDIR");
    std::string base = dir != nullptr ? dir : (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    return base + "/orvane_fuzz_wav_" + std::to_string(getpid()) + ".wav";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = TempPath();
    static const bool installed = (orvane::platform::InstallAudioConversion(), true);
    (void)installed;
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    try {
        orvane::audio::TWavReader reader(path, 8192);
        while (reader.ReadChunk() == 8192) {
        }
    } catch (const orvane::EError&) {
    }
    return 0;
}
