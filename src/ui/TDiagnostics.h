// The two inspection windows of the fingerprint list: the fingerprint picture ("Debugging and
// visualization"), which draws a fingerprint's line keys as bits coloured by how often each key
// occurs in the key index, and the database report ("Debugging") about memory, the running
// configuration, the key index and every loaded fingerprint.
// Thread: main thread only. The report holds the recognition pause while it is written; the
// picture only reads the fingerprint and looks keys up in the index.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include <QDateTime>
#include <QImage>
#include <QStringList>

#include "platform/MemoryInfo.h"

class QDialog;
class QWidget;

namespace orvane::database {
class TMediumDB;
class TSongList;
}  // namespace orvane::database
namespace orvane::fingerprint {
class ISongServer;
}
namespace orvane::tracking {
class IRecognitionPause;
}

namespace orvane::ui {

/// The picture: 1024 keys per band, 32 rows per key (bit 0 on top) and one black row between
/// bands; rows from 600 on are cut off, so 18 bands are whole (keys 0 ... 18,431), band 19
/// shows its 6 lowest bits and later keys are not drawn.
constexpr int PictureWidth = 1024;
constexpr int PictureHeight = 600;
constexpr int PictureBandHeight = 33;
/// Keys of which at least one bit is drawn (19 bands).
constexpr int PictureDrawnKeys = ((PictureHeight - 1) / PictureBandHeight + 1) * PictureWidth;
/// Room for the index entries of one key when the picture counts them.
constexpr int PictureLookupRoom = 4097;

/// The brightness of a key with `matches` index entries: 0 for none, then 128, 192, 224, ...
/// (each entry sets the next lower bit), 255 from 8 on.
std::uint8_t MatchBrightness(std::int32_t matches);
/// The colour (0xFFRRGGBB) of a set bit of a key with `matches` index entries: pure red for
/// none, else yellow with the brightness as blue, dim yellow for one entry, white for 8 or more.
QRgb KeyBitColor(std::int32_t matches);

/// The picture of `keys` (in order), 1024 × 600, 32 bits per pixel, black where a bit is 0;
/// `matchCount(key)` tells how many index entries a key has and is asked once per drawn key,
/// in order. Pure apart from what `matchCount` does.
QImage FingerprintPicture(std::span<const std::uint32_t> keys,
                          const std::function<std::int32_t(std::uint32_t key)>& matchCount);
/// The picture of a loaded fingerprint against the key index (room for 4097 entries per key).
QImage FingerprintPicture(const fingerprint::ISongServer& song, const database::TMediumDB& db);
/// The lines under the picture: "Debugging information:", "Status: Aligned" or "Status:
/// Blocked", "Blocks: <n>", "Keys: <n>", "Index: <slot>".
QStringList FingerprintInfoLines(const fingerprint::ISongServer& song, std::int32_t slot);

/// The fingerprint picture window of song list slot `slot` (1024 × 600 picture, the info lines
/// in a memo under it), centred on the screen; null when the slot holds no fingerprint. The
/// caller owns the window.
std::unique_ptr<QDialog> MakeFingerprintWindow(QWidget* parent, const database::TSongList& songs,
                                               const database::TMediumDB& db, std::int32_t slot);
/// "&Debug fingerprint...": shows the picture window of slot `songListSlot` modally and frees
/// it; does nothing for a slot below 0 or one without a fingerprint.
void DebugFingerprint(QWidget* parent, const database::TSongList& songs,
                      const database::TMediumDB& db, std::int32_t songListSlot);
/// The same for the row selected in the song list's view; nothing when no row is selected.
void DebugSelectedFingerprint(QWidget* parent, const database::TSongList& songs,
                              const database::TMediumDB& db);

/// What the database report reads. Everything must outlive the call.
struct TDatabaseReportParts {
    /// The main key index.
    const database::TMediumDB& MainDB;
    /// The song list.
    const database::TSongList& SongList;
    /// Held for the whole report.
    tracking::IRecognitionPause& Pause;
    /// The numbers of the active channels, ascending (channel 0 when it is on).
    std::vector<std::int32_t> ActiveChannels;
};

/// The report's lines in order, written at `now` with the memory figures `memory`, under the
/// recognition pause. An error outside the per-slot lines ends the report early with its
/// message as the last line.
QStringList DatabaseReport(const TDatabaseReportParts& parts, const platform::TMemoryInfo& memory,
                           const QDateTime& now);
/// The report window "Debugging" (800 × 600 memo holding `lines`), centred on the screen. The
/// caller owns it.
std::unique_ptr<QDialog> MakeReportWindow(QWidget* parent, const QStringList& lines);
/// "&Debug whole database...": under the recognition pause reads the memory figures and
/// writes the report, then shows the report window modally and frees it.
void DebugWholeDatabase(QWidget* parent, const TDatabaseReportParts& parts);

}  // namespace orvane::ui
