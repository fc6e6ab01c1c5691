// The robust search's scores on real clips, for choosing its thresholds: loads a fingerprint
// folder, plays each WAV clip (11025 Hz mono, 16 bit) named on stdin as "file;title" ("-" for a
// song not in the library) through a channel and the search in robust mode, and prints per clip
// the best score the right fingerprint and any other fingerprint reached (with that one's title),
// whether the right title was shown at some search, and the best weakest-link scores of
// hypotheses followed over 2 and over 3 consecutive searches, right and other:
//     file;title;right;other;heard;other_title;right_2;other_2;right_3;other_3
// usage: robust_tune LIBDIR < list
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "database/TStandaloneLibrary.h"
#include "fingerprint/FptAux.h"
#include "fingerprint/FptFile.h"
#include "recognition/QnCheckKey.h"
#include "recognition/TChannelBasic.h"
#include "recognition/TRecognitionLock.h"
#include "recognition/TSearch.h"
#include "signal/QnFFT.h"

namespace {

using namespace orvane;

/// The samples of a plain 16-bit PCM WAV file (the data chunk as it is); empty when unreadable.
std::vector<std::int16_t> ReadWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t p = 12;
    while (p + 8 <= bytes.size()) {
        std::uint32_t size = 0;
        std::memcpy(&size, bytes.data() + p + 4, 4);
        if (std::memcmp(bytes.data() + p, "data", 4) == 0) {
            const std::size_t n = std::min<std::size_t>(size, bytes.size() - p - 8) / 2;
            std::vector<std::int16_t> samples(n);
            std::memcpy(samples.data(), bytes.data() + p + 8, n * 2);
            return samples;
        }
        p += 8 + size + (size & 1u);
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: robust_tune LIBDIR < list\n");
        return 2;
    }
    std::string folder = argv[1];
    if (folder.back() != '/') folder += '/';
    database::TStandaloneLibrary standalone(folder);
    standalone.Library.MenuItemLoadFingerprintsClick(nullptr);
    if (!standalone.Index.Sorted()) standalone.Library.OptimizeIndex(false);
    standalone.Poster.TakeAll();

    recognition::TRecognitionLock lock;
    recognition::QnCheckKey verifier(standalone.Songs);
    signal::QnKeyConversion converter;
    recognition::TSearchSettings settings;
    settings.Form3Checkbox2checked = true;
    settings.RobustSearch = true;
    recognition::TSearch search(converter, verifier, standalone.Index, standalone.Posting,
                                settings);

    std::string line;
    while (std::getline(std::cin, line)) {
        const auto semi = line.find(';');
        if (semi == std::string::npos) continue;
        const std::string file = line.substr(0, semi);
        const std::string title = line.substr(semi + 1);
        const auto audio = ReadWav(file);
        if (audio.empty()) continue;
        for (std::int32_t i = 0; i < standalone.Songs.Count(); ++i) {
            if (auto* s = standalone.Songs.SongServer(i)) s->SetEnabled(true);
        }
        recognition::TChannelBasic channel{0, 0, "Channel01", lock, standalone.Posting};
        float right = 0.0f;
        float wrong = 0.0f;
        std::string wrongTitle;
        float right2 = 0, wrong2 = 0, right3 = 0, wrong3 = 0;
        bool heard = false;
        const std::int32_t blocks =
            static_cast<std::int32_t>(audio.size()) / recognition::BlockSamples - 1;
        auto put = [&](std::int32_t b) {
            for (std::int32_t i = 0; i < recognition::BlockSamples; ++i) {
                const auto at = static_cast<std::size_t>(b) * recognition::BlockSamples + i;
                channel.StreamData[static_cast<std::size_t>(
                    (b % recognition::StreamBlocks) * recognition::BlockSamples + i)] =
                    at < audio.size() ? audio[at] : 0;
            }
        };
        put(0);
        for (std::int32_t b = 0; b < blocks; ++b) {
            put(b + 1);
            channel.ReadPos.store(b % recognition::StreamBlocks);
            const bool due = channel.UpdateI == 2;
            search.ProcessBlock(channel);
            if (!due) continue;
            for (const auto& s : search.Robust().Scores()) {
                auto* ss = standalone.Songs.SongServer(s.SongNo);
                if (ss == nullptr) continue;
                const bool isRight = fingerprint::TitleOf(*ss->SongFile()) == title;
                if (s.Streak >= 2) {
                    float& c = isRight ? right2 : wrong2;
                    c = std::max(c, s.Chain);
                }
                if (s.Streak >= 3) {
                    float& c = isRight ? right3 : wrong3;
                    c = std::max(c, s.Chain);
                }
            }
            for (const auto& s : search.Robust().Scores()) {
                auto* ss = standalone.Songs.SongServer(s.SongNo);
                if (ss == nullptr) continue;
                if (fingerprint::TitleOf(*ss->SongFile()) == title) {
                    right = std::max(right, s.Score);
                } else if (s.Score > wrong) {
                    wrong = s.Score;
                    wrongTitle = fingerprint::TitleOf(*ss->SongFile());
                }
            }
            if (channel.ReadCap().Caption == title) heard = true;
            standalone.Poster.TakeAll();
        }
        std::printf("%s;%s;%.2f;%.2f;%d;%s;%.2f;%.2f;%.2f;%.2f\n", file.c_str(), title.c_str(),
                    right, wrong, heard ? 1 : 0, wrongTitle.c_str(), right2, wrong2, right3,
                    wrong3);
        std::fflush(stdout);
    }
    return 0;
}
