// libFuzzer target: any bytes as an MP3 file must give audio or an orvane::EError, never a crash.
#include "FuzzReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return orvane::test::FuzzReader<orvane::audio::TMP3Reader>(data, size, ".mp3");
}
