// The song list: the table of fingerprints loaded into memory. A fingerprint's slot is the song
// number the key index stores with each of its keys; the list owns the references to the
// loaded fingerprints, remembers their files, hands out unique numbers and keeps the
// fingerprint list of the window (rows and "Sound clips (%d)") in step with its slots.
// Thread: changed on the main thread only, while recognition is paused (reserveSongIndex,
// clear and the destructor pause themselves; callers of freeSong, setFileName and
// setSongServer hold the pause). The recognition thread reads slots through Entry()/SongServer()
// while it runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/RefCounted.h"
#include "database/ICandidateHistories.h"
#include "database/TDBItem.h"
#include "database/ISongListView.h"
#include "fingerprint/FptAux.h"
#include "tracking/IAnswerChannel.h"
#include "tracking/IRecognitionPause.h"
#include "tracking/TActivityHistory.h"
#include "tracking/TPosting.h"

namespace orvane::database {

/// The first unique number a song list hands out.
constexpr std::int64_t FirstUniqueNo = 1024;
/// Slots are song numbers of index entries: at most 2^20 of them.
constexpr std::int32_t MaxSongSlots = MaxSongNo + 1;

/// One occupied slot.
struct TSongEntry {
    /// Full path of the fingerprint file the fingerprint was loaded from.
    std::string Filename;
    /// The loaded fingerprint; empty between reserveSongIndex and setSongServer (and for good
    /// when that load failed).
    TRefPtr<fingerprint::ISongServer> SongServer;
    /// The unique number handed out when the slot was taken.
    std::int64_t UniqueNo = 0;
    /// The entry's own slot number.
    std::int32_t Index = -1;
};
using PSongEntry = TSongEntry*;

/// "Sound clips (n)".
std::string SoundClipsCaption(std::int32_t rows);
/// Duration text of a fingerprint of `keyCount` keys: keyCount × 128 / 11025 s as "m:ss".
std::string KeysDurationText(std::int64_t keyCount);
/// The file-name part of a path (after the last '/').
std::string FileNamePart(std::string_view path);

class TSongList {
public:
    /// Empty list, unique counter 1024. `pause`, `posting` and `view` must outlive the list;
    /// `histories` may be null (no channels yet) and must outlive it otherwise.
    TSongList(tracking::IRecognitionPause& pause, const tracking::TPosting& posting,
              ISongListView& view, ICandidateHistories* histories = nullptr);
    /// Releases every slot under the recognition pause. The rows of the view stay.
    ~TSongList();
    TSongList(const TSongList&) = delete;
    TSongList& operator=(const TSongList&) = delete;

    /// Takes the lowest free slot (appending one when none is free) with the next unique
    /// number, under the recognition pause. Returns -1 when all 1,048,576 slots are taken (the
    /// caller skips the fingerprint without a message). Throws std::bad_alloc.
    std::int32_t reserveSongIndex();
    /// Stores the fingerprint file's path in an occupied slot (ignored for a free slot).
    void setFileName(std::int32_t index, std::string filename);
    /// Stores the fingerprint in an occupied slot and writes the slot's unique number into the
    /// fingerprint header's UniqueID (ignored for a free slot or an empty reference).
    void setSongServer(std::int32_t index, TRefPtr<fingerprint::ISongServer> songServer);
    /// Adds the slot's row (icon 0, title, duration) and updates the tab caption.
    void visualizeSong(std::int32_t index);
    /// Releases an occupied slot: its row goes, with `updateFoundLists` the channels forget
    /// the fingerprint, the reference is dropped and the slot is free for the next load. Does
    /// not touch the key index: remove the slot's keys first. A free slot: nothing happens.
    void freeSong(std::int32_t index, bool updateFoundLists);
    /// Releases every slot, empties the view, under the recognition pause. The unique counter
    /// keeps counting.
    void clear();

    /// The lowest slot holding a fingerprint whose decoded title is exactly `title`
    /// (case-sensitive); -1 when none does.
    std::int32_t indexOf(std::string_view title) const;
    /// The lowest slot holding a fingerprint whose header carries `uniqueID`; -1 when none.
    std::int32_t indexOf(std::int64_t uniqueID) const;
    /// The lowest slot holding `song`; -1 when none.
    std::int32_t indexOf(const fingerprint::ISongServer* song) const;
    /// The slot a row of the view shows; -1 for a row outside the view.
    std::int32_t getIndexFromListviewIndex(std::int32_t row) const;

    /// The slot of a loaded fingerprint titled `title`, or -1. With `doLog` and a hit, reports
    /// "Skipping \"<file>\": \"<title>\" already in memory", naming also the loaded file
    /// ("(loaded from file \"<file>\")") when its name differs from `filename`'s
    /// (case-insensitively), to `uniDir` when given, else as an attention entry.
    std::int32_t CheckForDuplicateName_WithError(const std::string& title,
                                                 const std::string& filename,
                                                 tracking::IAnswerChannel* uniDir, bool doLog);

    /// The decoded title of a loaded fingerprint changed (the library renamed it): the title
    /// lookup learns the new one.
    void TitleChanged(std::int32_t index);

    /// Occupied slots.
    std::int32_t Count() const { return FCount; }
    /// Slots in the list, free ones included (List's length).
    std::int32_t SlotCount() const { return static_cast<std::int32_t>(FList.size()); }
    /// The next unique number.
    std::int64_t UniqueCounter() const { return FUniqueCounter; }
    /// The entry of slot `index`; null for a free slot or one outside the list.
    const TSongEntry* Entry(std::int32_t index) const;
    /// The fingerprint of slot `index`; null when the slot is free or holds none.
    fingerprint::ISongServer* SongServer(std::int32_t index) const;
    /// The fingerprint list this song list fills.
    ISongListView& View() const { return FView; }
    /// The view's rows as the memory listing exports them, top to bottom.
    std::vector<tracking::TListingRow> ListingRows() const;

private:
    void ForgetTitle(std::int32_t index);
    void UpdateCaption();

    tracking::IRecognitionPause& FPause;
    const tracking::TPosting& FPosting;
    ISongListView& FView;
    ICandidateHistories* FHistories;

    std::int64_t FUniqueCounter = FirstUniqueNo;
    std::int32_t FCount = 0;
    std::vector<std::unique_ptr<TSongEntry>> FList;
    // No free slot lies below this one.
    std::size_t FLowestFree = 0;
    // Decoded title of each filled slot, and the filled slots of each title: the duplicate
    // check of every load would otherwise decode every loaded title again.
    std::vector<std::string> FTitles;
    std::unordered_map<std::string, std::vector<std::int32_t>> FSlotsOfTitle;
};

}  // namespace orvane::database
