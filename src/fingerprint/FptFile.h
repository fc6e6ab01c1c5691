// The fingerprint file (.qnf): the packed aligned record with delta-coded keys and a UTF-8 title
// behind a byte-order mark; its file name and the steps of writing and reading it.
// Thread: any; a container is written or read by one thread at a time.
#pragma once

#include <string>
#include <string_view>

#include "base/RefCounted.h"
#include "fingerprint/FptAux.h"
#include "fingerprint/Huff.h"

namespace orvane::fingerprint {

/// Extension of fingerprint files.
inline constexpr std::string_view FingerprintExtension = ".qnf";

/// Key deltas in place: stored[0] = key[0], stored[k] = key[k] xor key[k-1] (the unencoded
/// predecessor). Consecutive keys share most bits, so the stored values are mostly zero bits and
/// pack well. Keys 5, 6, 6 are stored as 5, 3, 0. `song` must hold its Length keys (aligned).
void EncodeKeyDeltas(TSong& song);
/// Undoes EncodeKeyDeltas in place: key[k] = stored[k] xor key[k-1] (the restored key).
void DecodeKeyDeltas(TSong& song);
/// As above on a container; throws EInvalidOperation unless it is in the aligned shape.
void EncodeKeyDeltas(TSongServer& song);
void DecodeKeyDeltas(TSongServer& song);

/// The stored form of a UTF-8 title: EF BB BF followed by the text (not yet cut to 108 bytes).
std::string EncodeTitle(const std::string& title);
/// The title as UTF-8: after a byte-order mark the bytes are UTF-8 (a split last character
/// becomes U+FFFD); without the mark (older files) they are Windows-1252.
std::string DecodeTitle(std::string_view storedBytes);
/// DecodeTitle of the record's stored title.
std::string TitleOf(const TSong& song);
/// Replaces each of " * / : < > ? \ | with _ (same length): "Rock/Pop: Live?" -> "Rock_Pop_ Live_".
std::string MakeSafeFileName(const std::string& title);
/// `folder` (ending in a separator) + MakeSafeFileName(title) + ".qnf".
std::string FingerprintFileName(const std::string& folder, const std::string& title);

/// Where the fingerprint of `title` belongs in `folder`.
struct TFingerprintPlace {
    std::string FileName;
    bool HoldsTitle = false;  ///< the file exists already and holds this title
};
/// FingerprintFileName(folder, title), unless that name is taken by a file that does not hold
/// `title` (two titles share a safe name: "song?" and "song_" both give "song_.qnf"); then the
/// first of "song_ (2).qnf", "song_ (3).qnf" ... that is free or holds `title`. A taken name
/// whose file cannot be read counts as another title's. Throws EError after 9999 taken names.
TFingerprintPlace FingerprintFilePlace(const std::string& folder, const std::string& title);

/// Writes `song` as a fingerprint file: Title := EncodeTitle(title) cut to 108 bytes,
/// Options := 0, serialize, EncodeKeyDeltas, PackToFile. The container's keys are delta-coded
/// afterwards and must not be used; release it. Throws as PackToFile.
void WriteFingerprintFile(TSongServer& song, const std::string& title, const std::string& fileName);

/// Reads a fingerprint file: a new aligned container with decoded keys and Options cleared.
/// Throws as UnpackFromFile, and EWrongHeader when the record does not match its size.
TRefPtr<TSongServer> ReadFingerprintFile(const std::string& fileName);

}  // namespace orvane::fingerprint
