#include "database/TSongList.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "base/TimeText.h"
#include "fingerprint/FptFile.h"

namespace orvane::database {

namespace {

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string SoundClipsCaption(std::int32_t rows) {
    return "Sound clips (" + std::to_string(rows) + ")";
}

std::string KeysDurationText(std::int64_t keyCount) {
    return MinSecText(static_cast<double>(keyCount) * 128.0 / 11025.0);
}

std::string FileNamePart(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

TSongList::TSongList(tracking::IRecognitionPause& pause, const tracking::TPosting& posting,
                     ISongListView& view, ICandidateHistories* histories)
    : FPause(pause), FPosting(posting), FView(view), FHistories(histories) {}

TSongList::~TSongList() {
    tracking::TRecognitionPauseGuard paused(FPause);
    FList.clear();
}

std::int32_t TSongList::reserveSongIndex() {
    tracking::TRecognitionPauseGuard paused(FPause);
    std::size_t slot = FLowestFree;
    while (slot < FList.size() && FList[slot]) ++slot;
    if (slot >= static_cast<std::size_t>(MaxSongSlots)) return -1;
    auto entry = std::make_unique<TSongEntry>();
    entry->UniqueNo = FUniqueCounter;
    entry->Index = static_cast<std::int32_t>(slot);
    if (slot == FList.size()) {
        FList.push_back(nullptr);
        FTitles.emplace_back();
    }
    FList[slot] = std::move(entry);
    FLowestFree = slot + 1;
    ++FUniqueCounter;
    ++FCount;
    return static_cast<std::int32_t>(slot);
}

const TSongEntry* TSongList::Entry(std::int32_t index) const {
    if (index < 0 || index >= SlotCount()) return nullptr;
    return FList[static_cast<std::size_t>(index)].get();
}

fingerprint::ISongServer* TSongList::SongServer(std::int32_t index) const {
    const TSongEntry* entry = Entry(index);
    return entry == nullptr ? nullptr : entry->SongServer.get();
}

void TSongList::setFileName(std::int32_t index, std::string filename) {
    if (Entry(index) == nullptr) return;
    FList[static_cast<std::size_t>(index)]->Filename = std::move(filename);
}

void TSongList::setSongServer(std::int32_t index, TRefPtr<fingerprint::ISongServer> songServer) {
    if (Entry(index) == nullptr || !songServer) return;
    TSongEntry& entry = *FList[static_cast<std::size_t>(index)];
    ForgetTitle(index);
    entry.SongServer = std::move(songServer);
    entry.SongServer->SongFile()->UniqueID = entry.UniqueNo;
    TitleChanged(index);
}

void TSongList::TitleChanged(std::int32_t index) {
    fingerprint::ISongServer* song = SongServer(index);
    if (song == nullptr) return;
    ForgetTitle(index);
    std::string title = fingerprint::TitleOf(*song->SongFile());
    auto& slots = FSlotsOfTitle[title];
    slots.insert(std::upper_bound(slots.begin(), slots.end(), index), index);
    FTitles[static_cast<std::size_t>(index)] = std::move(title);
}

void TSongList::ForgetTitle(std::int32_t index) {
    if (index < 0 || index >= SlotCount()) return;
    std::string& title = FTitles[static_cast<std::size_t>(index)];
    auto it = FSlotsOfTitle.find(title);
    if (it != FSlotsOfTitle.end()) {
        auto& slots = it->second;
        slots.erase(std::remove(slots.begin(), slots.end(), index), slots.end());
        if (slots.empty()) FSlotsOfTitle.erase(it);
    }
    title.clear();
}

void TSongList::UpdateCaption() { FView.SetSoundClipsCaption(SoundClipsCaption(FView.RowCount())); }

void TSongList::visualizeSong(std::int32_t index) {
    fingerprint::ISongServer* song = SongServer(index);
    if (song == nullptr) return;
    const fingerprint::TSong& header = *song->SongFile();
    TSongRow row;
    row.ImageIndex = static_cast<std::int32_t>(TSongIcon::siEnabled);
    row.Caption = fingerprint::TitleOf(header);
    row.DurationText = KeysDurationText(header.Length);
    row.Slot = index;
    FView.AddRow(row);
    UpdateCaption();
}

void TSongList::freeSong(std::int32_t index, bool updateFoundLists) {
    if (Entry(index) == nullptr) return;
    const std::int32_t row = FindRowOfSlot(FView, index);
    if (row >= 0) FView.DeleteRow(row);
    std::unique_ptr<TSongEntry> entry = std::move(FList[static_cast<std::size_t>(index)]);
    // Held until the slot is free, so the channels can still compare against it.
    const TRefPtr<fingerprint::ISongServer> hold = entry->SongServer;
    if (updateFoundLists && FHistories != nullptr && hold) {
        try {
            FHistories->ForgetFingerprint(*hold);
        } catch (...) {
            // A channel that cannot update its history keeps a harmless extra reference.
        }
    }
    ForgetTitle(index);
    entry.reset();
    FLowestFree = std::min(FLowestFree, static_cast<std::size_t>(index));
    --FCount;
    UpdateCaption();
}

void TSongList::clear() {
    tracking::TRecognitionPauseGuard paused(FPause);
    if (FHistories != nullptr) FHistories->ReleaseAll();
    FList.clear();
    FTitles.clear();
    FSlotsOfTitle.clear();
    FLowestFree = 0;
    FView.Clear();
    FCount = 0;
    FView.SetSoundClipsCaption(SoundClipsCaption(0));
}

std::int32_t TSongList::indexOf(std::string_view title) const {
    auto it = FSlotsOfTitle.find(std::string(title));
    if (it == FSlotsOfTitle.end() || it->second.empty()) return -1;
    return it->second.front();
}

std::int32_t TSongList::indexOf(std::int64_t uniqueID) const {
    for (std::int32_t i = 0; i < SlotCount(); ++i) {
        const fingerprint::ISongServer* song = SongServer(i);
        if (song != nullptr && song->SongFile()->UniqueID == uniqueID) return i;
    }
    return -1;
}

std::int32_t TSongList::indexOf(const fingerprint::ISongServer* song) const {
    if (song == nullptr) return -1;
    for (std::int32_t i = 0; i < SlotCount(); ++i) {
        if (SongServer(i) == song) return i;
    }
    return -1;
}

std::int32_t TSongList::getIndexFromListviewIndex(std::int32_t row) const {
    if (row < 0 || row >= FView.RowCount()) return -1;
    return FView.Row(row).Slot;
}

std::int32_t TSongList::CheckForDuplicateName_WithError(const std::string& title,
                                                        const std::string& filename,
                                                        tracking::IAnswerChannel* uniDir,
                                                        bool doLog) {
    const std::int32_t slot = indexOf(title);
    if (!doLog || slot == -1) return slot;
    const std::string newName = FileNamePart(filename);
    const std::string loadedName = FileNamePart(Entry(slot)->Filename);
    std::string message;
    if (SameTextIgnoringCase(newName, loadedName)) {
        message = "Skipping \"" + newName + "\": \"" + title + "\" already in memory";
    } else {
        message = "Skipping \"" + newName + "\": \"" + title +
                  "\" already in memory (loaded from file \"" + loadedName + "\")";
    }
    FPosting.AnswerOrPostActivity(uniDir, message, tracking::TActivityIcon::aiAttention);
    return slot;
}

std::vector<tracking::TListingRow> TSongList::ListingRows() const {
    std::vector<tracking::TListingRow> rows;
    const std::int32_t count = FView.RowCount();
    rows.reserve(static_cast<std::size_t>(count));
    for (std::int32_t r = 0; r < count; ++r) {
        const TSongRow row = FView.Row(r);
        const TSongEntry* entry = Entry(row.Slot);
        rows.push_back(tracking::TListingRow{row.ImageIndex, row.Caption,
                                             entry != nullptr ? entry->Filename : std::string(),
                                             row.DurationText});
    }
    return rows;
}

}  // namespace orvane::database
