#include "fingerprint/FptFile.h"

#include <cerrno>
#include <sys/stat.h>
#include <utility>

#include "base/TextCodec.h"

namespace orvane::fingerprint {

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

void RequireAligned(const TSongServer& song) {
    if (!song.IsAligned()) throw EInvalidOperation("The fingerprint is not in the aligned shape.");
}

}  // namespace

void EncodeKeyDeltas(TSong& song) {
    std::uint32_t* keys = song.Keys();
    // From the end down, so each key's unencoded predecessor is still in place.
    for (std::int32_t k = song.Length - 1; k >= 1; --k) keys[k] ^= keys[k - 1];
}

void DecodeKeyDeltas(TSong& song) {
    std::uint32_t* keys = song.Keys();
    for (std::int32_t k = 1; k < song.Length; ++k) keys[k] ^= keys[k - 1];
}

void EncodeKeyDeltas(TSongServer& song) {
    RequireAligned(song);
    EncodeKeyDeltas(*song.SongFile());
}

void DecodeKeyDeltas(TSongServer& song) {
    RequireAligned(song);
    DecodeKeyDeltas(*song.SongFile());
}

std::string EncodeTitle(const std::string& title) {
    std::string stored(ByteOrderMark);
    stored += title;
    return stored;
}

std::string DecodeTitle(std::string_view storedBytes) {
    if (storedBytes.size() >= ByteOrderMark.size() && storedBytes.starts_with(ByteOrderMark)) {
        return SanitizeUtf8(storedBytes.substr(ByteOrderMark.size()));
    }
    return Cp1252ToUtf8(storedBytes);
}

std::string TitleOf(const TSong& song) { return DecodeTitle(song.Title.View()); }

std::string MakeSafeFileName(const std::string& title) {
    std::string safe = title;
    for (char& c : safe) {
        switch (c) {
            case '"':
            case '*':
            case '/':
            case ':':
            case '<':
            case '>':
            case '?':
            case '\\':
            case '|':
                c = '_';
                break;
            default:
                break;
        }
    }
    return safe;
}

std::string FingerprintFileName(const std::string& folder, const std::string& title) {
    return folder + MakeSafeFileName(title) + std::string(FingerprintExtension);
}

namespace {

/// The title as it reads back from a file: encoded, cut to the stored length, decoded.
std::string StoredTitle(const std::string& title) {
    std::string stored = EncodeTitle(title);
    if (stored.size() > static_cast<std::size_t>(MaxTitleBytes)) {
        stored.resize(static_cast<std::size_t>(MaxTitleBytes));
    }
    return DecodeTitle(stored);
}

/// Whether `fileName` exists, and when it does, whether it holds `storedTitle`.
bool Taken(const std::string& fileName, const std::string& storedTitle, bool& holdsTitle) {
    holdsTitle = false;
    struct stat info {};
    if (::lstat(fileName.c_str(), &info) != 0 && errno == ENOENT) return false;
    try {
        const TSongBuffer record(UnpackFromFile(fileName));
        holdsTitle = record.Size() >= static_cast<std::size_t>(SongHeaderSize) &&
                     TitleOf(*record.Song()) == storedTitle;
    } catch (const EError&) {
    }
    return true;
}

}  // namespace

TFingerprintPlace FingerprintFilePlace(const std::string& folder, const std::string& title) {
    const std::string storedTitle = StoredTitle(title);
    const std::string base = folder + MakeSafeFileName(title);
    constexpr int MostNames = 9999;
    for (int n = 1; n <= MostNames; ++n) {
        TFingerprintPlace place;
        place.FileName = (n == 1 ? base : base + " (" + std::to_string(n) + ")") +
                         std::string(FingerprintExtension);
        if (!Taken(place.FileName, storedTitle, place.HoldsTitle) || place.HoldsTitle) {
            return place;
        }
    }
    throw EError("No free fingerprint file name for \"" + title + "\".");
}

void WriteFingerprintFile(TSongServer& song, const std::string& title,
                          const std::string& fileName) {
    TSong& header = *song.SongFile();
    header.Title.Assign(EncodeTitle(title));
    header.Options = 0;
    song.serialize();
    EncodeKeyDeltas(song);
    PackToFile(song.SongFile(), static_cast<std::size_t>(song.alignedSize()), fileName);
}

TRefPtr<TSongServer> ReadFingerprintFile(const std::string& fileName) {
    auto song = MakeRef<TSongServer>(TSongBuffer(UnpackFromFile(fileName)));
    DecodeKeyDeltas(*song);
    song->SongFile()->Options = 0;
    return song;
}

}  // namespace orvane::fingerprint
