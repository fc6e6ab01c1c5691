// What the song list and library tests share: a library wired to plain stand-ins (queue poster,
// counting pause, settable clock, memory status, scripted window) and fingerprint files made
// from seeded keys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "database/TFptLibrary.h"
#include "database/TMemorySongListView.h"
#include "database/TPlainLibraryUi.h"
#include "fingerprint/FptFile.h"
#include "support/TempDir.h"
#include "tracking/TQueuePoster.h"

namespace orvane::database::test {

class TSettableClock final : public tracking::IClock {
public:
    tracking::TDateTime Now() const override { return 45000.5; }
    std::int64_t MonotonicMs() const override { return Ms; }
    std::int64_t Ms = 1'000'000;
};

/// A clock that moves on by `Step` ms each time it is read.
class TTickingClock final : public tracking::IClock {
public:
    tracking::TDateTime Now() const override { return 45000.5; }
    std::int64_t MonotonicMs() const override { return FMs += Step; }
    std::int64_t Step = 100;

private:
    mutable std::int64_t FMs = 0;
};

class TPlentyOfMemory final : public tracking::IMemoryStatus {
public:
    std::uint64_t AvailablePhysicalBytes() const override { return Available; }
    std::uint64_t ProcessWorkingSetBytes() const override { return 300u << 20; }
    std::uint64_t Available = 8ull << 30;
};

class TRecordingAnswer final : public tracking::IAnswerChannel {
public:
    void CreateAnswer(std::string_view text) override { Answers.emplace_back(text); }
    std::vector<std::string> Answers;
};

/// `count` keys of a clip: each key flips a few bits of the one before, as real keys do; never 0.
inline std::vector<std::uint32_t> ClipKeys(std::uint32_t seed, std::int32_t count) {
    std::vector<std::uint32_t> keys(static_cast<std::size_t>(count));
    std::uint32_t state = seed * 2654435761u + 12345u;
    std::uint32_t key = state | 1u;
    for (auto& k : keys) {
        state = state * 1664525u + 1013904223u;
        key ^= (1u << (state >> 27)) | (1u << ((state >> 22) & 31u));
        k = key == 0 ? 1u : key;
    }
    return keys;
}

/// Writes a fingerprint file of `keys` titled `title` to `path`.
inline void WriteClip(const std::string& path, const std::string& title,
                      const std::vector<std::uint32_t>& keys) {
    auto song = MakeRef<fingerprint::TSongServer>();
    song->Add(keys.data(), static_cast<std::int32_t>(keys.size()));
    fingerprint::WriteFingerprintFile(*song, title, path);
}

/// A library on a temporary fingerprint folder, every part a plain stand-in.
struct TLibraryKit {
    orvane::test::TTempDir Dir;
    tracking::TQueuePoster Poster;
    TSettableClock Clock;
    TPlentyOfMemory Memory;
    tracking::TPosting Posting{Poster, Clock};
    tracking::TMemoryGuard Guard{Memory, Clock, Posting};
    tracking::TCountingRecognitionPause Pause;
    TMemorySongListView View;
    TSongList Songs{Pause, Posting, View};
    TMediumDB MainDB;
    TPlainProgressDialog Progress;
    TScriptedLibraryWindow Window;
    TFptLibrary Library{TLibraryParts{Songs, MainDB, Pause, Posting, Guard, Progress, Window},
                        TLibrarySettings{Dir.Folder()}};

    /// Writes `<title>.qnf` into the folder with keys from `seed`; returns its path.
    std::string AddClip(const std::string& title, std::uint32_t seed, std::int32_t keyCount = 500) {
        const std::string path = fingerprint::FingerprintFileName(Dir.Folder(), title);
        WriteClip(path, title, ClipKeys(seed, keyCount));
        return path;
    }
    /// The texts of the activity entries posted since the last call.
    std::vector<std::string> Activities() {
        std::vector<std::string> texts;
        for (auto& m : Poster.TakeAll()) {
            if (auto* entry = std::get_if<tracking::TActivityData>(&m)) texts.push_back(entry->Str);
        }
        return texts;
    }
    /// The activity entries posted since the last call.
    std::vector<tracking::TActivityData> Entries() {
        std::vector<tracking::TActivityData> entries;
        for (auto& m : Poster.TakeAll()) {
            if (auto* entry = std::get_if<tracking::TActivityData>(&m)) entries.push_back(*entry);
        }
        return entries;
    }
    /// Selects the row titled `title`.
    void Select(const std::string& title) {
        View.SelectSlot(Songs.indexOf(title));
    }
};

}  // namespace orvane::database::test
