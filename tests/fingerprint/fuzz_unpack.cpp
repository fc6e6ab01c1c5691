// Feeds arbitrary bytes to the unpacker and, when they unpack, to the fingerprint container and
// the key and title decoding. Half of the inputs get their checksum fixed so the fuzzer reaches
// the code table and the stream. Every input is also unpacked under a small size limit, which
// must hold, and some are read back from a file (under a limit too); a one-byte input stands for
// a FIFO or a folder under a fingerprint name, which must be refused without blocking.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/RegularFile.h"
#include "fingerprint/FptFile.h"

namespace {

const std::string& FuzzPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        const std::string base =
            dir != nullptr ? dir : (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        return base + "/orvane_fuzz_unpack_" + std::to_string(getpid()) + ".qnf";
    }();
    return path;
}

void CheckOddFile(std::uint8_t kind) {
    const std::string& path = FuzzPath();
    ::unlink(path.c_str());
    ::rmdir(path.c_str());
    const bool fifo = (kind & 1) == 0;
    if ((fifo ? ::mkfifo(path.c_str(), 0600) : ::mkdir(path.c_str(), 0700)) != 0) return;
    try {
        orvane::fingerprint::UnpackFromFile(path);
        __builtin_trap();
    } catch (const orvane::ENotRegularFile&) {
    }
    if (fifo) {
        ::unlink(path.c_str());
    } else {
        ::rmdir(path.c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orvane::fingerprint;
    if (size == 1) {
        CheckOddFile(data[0]);
        return 0;
    }
    std::vector<std::uint8_t> image(data, data + size);
    if (size >= PackedHeaderSize && (size % 2) == 1) {
        const std::uint32_t sum = PackedChecksum(image.data(), image.size());
        std::memcpy(image.data() + 24, &sum, 4);
    }
    constexpr std::size_t SmallLimit = 200;
    try {
        if (Unpack(image.data(), image.size(), SmallLimit).size() > SmallLimit) __builtin_trap();
    } catch (const orvane::EError&) {
    }
    if (size % 4 == 3) {
        const std::string& path = FuzzPath();
        ::rmdir(path.c_str());
        if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(image.data(), 1, image.size(), f);
            std::fclose(f);
            try {
                if (UnpackFromFile(path, SmallLimit).size() > SmallLimit) __builtin_trap();
            } catch (const orvane::EError&) {
            }
        }
    }
    try {
        std::vector<std::uint8_t> payload = Unpack(image.data(), image.size());
        auto song = orvane::MakeRef<TSongServer>(TSongBuffer(std::move(payload)));
        DecodeKeyDeltas(*song);
        const std::string title = TitleOf(*song->SongFile());
        const auto keys = song->CopyKeys();
        if (keys.size() != static_cast<std::size_t>(song->Length())) __builtin_trap();
        (void)title;
    } catch (const orvane::EError&) {
    }
    return 0;
}
