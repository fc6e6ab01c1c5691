#include "database/TFptLibrary.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

#include "base/Errors.h"
#include "base/RegularFile.h"
#include "database/TMediumDBKeys.h"
#include "fingerprint/FptFile.h"
#include "fingerprint/Huff.h"

namespace orvane::database {

namespace {

using tracking::TActivityIcon;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

/// The whole file. Throws ENotRegularFile (naming the file by `shownName`) for a FIFO, device,
/// socket or folder without blocking on it, EPackedFormat for a file larger than any
/// fingerprint file, EFileError when it cannot be read.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path, const std::string& shownName) {
    const TRegularFile file(path, shownName);
    if (file.Size() > fingerprint::MaxPackedSizeFor(fingerprint::MaxUnpackedSize)) {
        throw fingerprint::EPackedFormat("The file is larger than the largest fingerprint file.");
    }
    const int fd = file.Fd();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.Size()));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw EFileError("Cannot read \"" + path + "\"", errno);
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

/// ".qnf" in any letter case, as the folder's file search matches it.
bool HasFingerprintExtension(const std::string& name) {
    if (name.size() < 4) return false;
    std::string ext = name.substr(name.size() - 4);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == fingerprint::FingerprintExtension;
}

/// `path` with its extension (after the last '.' of the file-name part) replaced by `ext`.
std::string ChangeFileExt(const std::string& path, const std::string& ext) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
    return path.substr(0, dot) + ext;
}

/// Renames without ever replacing another file: false when `to` exists (and is not `from`
/// itself) or the rename fails.
bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (from == to) return ::access(from.c_str(), F_OK) == 0;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace flag: check first, then rename.
    std::error_code ec;
    if (std::filesystem::exists(to, ec) && !std::filesystem::equivalent(from, to, ec)) return false;
    return std::rename(from.c_str(), to.c_str()) == 0;
}

/// The listed files with what tells that one changed; Size -1 for one that cannot be examined.
std::vector<TFolderFile> ListedFiles(const std::string& folder,
                                     const std::vector<std::string>& names) {
    std::vector<TFolderFile> files;
    files.reserve(names.size());
    for (const std::string& name : names) {
        TFolderFile file;
        file.Name = name;
        struct stat info {};
        if (::stat((folder + name).c_str(), &info) == 0) {
            file.Size = static_cast<std::int64_t>(info.st_size);
            file.MTimeNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 +
                           info.st_mtim.tv_nsec;
            file.CTimeNs = static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1'000'000'000 +
                           info.st_ctim.tv_nsec;
            file.Inode = static_cast<std::uint64_t>(info.st_ino);
            file.Device = static_cast<std::uint64_t>(info.st_dev);
        } else {
            file.Size = -1;
        }
        files.push_back(std::move(file));
    }
    return files;
}

}  // namespace

TFptLibrary::TFptLibrary(const TLibraryParts& parts, TLibrarySettings settings) : FParts(parts) {
    SetSettings(std::move(settings));
}

void TFptLibrary::SetSettings(TLibrarySettings settings) {
    if (!settings.FpFolder.empty() && settings.FpFolder.back() != '/') settings.FpFolder += '/';
    FSettings = std::move(settings);
}

TRefPtr<fingerprint::TSongServer> TFptLibrary::ReadFingerprint(const std::string& path,
                                                               tracking::IAnswerChannel* answer) {
    try {
        auto start = Clock::now();
        std::vector<std::uint8_t> image = ReadWholeFile(path, FileNamePart(path));
        FPhases.Read += SecondsSince(start);
        start = Clock::now();
        std::vector<std::uint8_t> record = fingerprint::Unpack(image.data(), image.size());
        image = {};
        FPhases.Unpack += SecondsSince(start);
        return MakeRef<fingerprint::TSongServer>(fingerprint::TSongBuffer(std::move(record)));
    } catch (const ENotRegularFile& e) {
        FParts.Posting.AnswerOrPostActivity(answer, e.what(), TActivityIcon::aiAttention);
        return {};
    } catch (const EError&) {
        FParts.Posting.AnswerOrPostActivity(
            answer, "\"" + FileNamePart(path) + "\" does not have the right file format",
            TActivityIcon::aiAttention);
        return {};
    }
}

void TFptLibrary::LoadFingerprintFile(const std::string& path, tracking::IAnswerChannel* answer) {
    LoadOne(path, answer, nullptr, false);
}

std::int32_t TFptLibrary::LoadOne(const std::string& path, tracking::IAnswerChannel* answer,
                                  TMediumDB* into, bool bulk) {
    if (into == nullptr && FParts.MainDB.Sorted()) return MergeFingerprintFile(path, answer);
    const bool merge = into != nullptr && !bulk;
    if (!FParts.Guard.MemoryGuard(merge ? 4 : 3, tracking::MemoryGuardMinimum, "",
                                  TActivityIcon::aiError, answer)) {
        return -1;
    }
    TRefPtr<fingerprint::TSongServer> song = ReadFingerprint(path, answer);
    if (!song) return -1;
    // The keys go straight into the (unsorted) main index or into `into`; a duplicate is
    // reported in bulk mode and skipped silently otherwise, as a merge would skip it.
    return InsertFingerprint(song, path, answer, merge, into);
}

std::int32_t TFptLibrary::MergeFingerprintFile(const std::string& path,
                                               tracking::IAnswerChannel* answer) {
    if (!FParts.Guard.MemoryGuard(4, tracking::MemoryGuardMinimum, "", TActivityIcon::aiError,
                                  answer)) {
        return -1;
    }
    TRefPtr<fingerprint::TSongServer> song = ReadFingerprint(path, answer);
    if (!song) return -1;
    // The main index is sorted: the keys go into an index of their own that is merged in; a
    // duplicate is skipped silently.
    return InsertFingerprint(song, path, answer, true);
}

std::int32_t TFptLibrary::InsertFingerprint(const TRefPtr<fingerprint::TSongServer>& song,
                                            const std::string& path,
                                            tracking::IAnswerChannel* answer, bool merge,
                                            TMediumDB* into) {
    tracking::TRecognitionPauseGuard paused(FParts.Pause);
    auto start = Clock::now();
    fingerprint::DecodeKeyDeltas(*song);
    song->SongFile()->Options = 0;
    FPhases.Decode += SecondsSince(start);
    const std::string title = fingerprint::TitleOf(*song->SongFile());
    if (FParts.SongList.CheckForDuplicateName_WithError(title, path, answer, !merge) != -1) {
        return -1;
    }
    const std::int32_t slot = FParts.SongList.reserveSongIndex();
    if (slot < 0) return -1;
    FParts.SongList.setFileName(slot, path);
    start = Clock::now();
    TMediumDB& target = into != nullptr ? *into : FParts.MainDB;
    try {
        if (merge && into == nullptr) {
            TMediumDB single;
            AddToDatabase(*song, single, slot, 0);
            single.MergeInto(FParts.MainDB);
        } else {
            AddToDatabase(*song, target, slot, 0);
        }
    } catch (...) {
        // No keys of a fingerprint that is not loaded may stay behind, or its slot could not
        // be reused safely.
        target.DelSong(slot);
        FParts.SongList.freeSong(slot, false);
        throw;
    }
    FPhases.Add += SecondsSince(start);
    ++FPhases.Files;
    FPhases.Keys += song->Length();
    FParts.SongList.setSongServer(slot, song);
    FParts.SongList.visualizeSong(slot);
    return slot;
}

std::int32_t TFptLibrary::InsertSaved(const TRefPtr<fingerprint::TSongServer>& song,
                                      const std::string& path, tracking::IAnswerChannel* answer,
                                      bool doLog) {
    // The same memory check as reading the file would have made.
    if (!FParts.Guard.MemoryGuard(doLog ? 3 : 4, tracking::MemoryGuardMinimum, "",
                                  TActivityIcon::aiError, answer)) {
        return -1;
    }
    tracking::TRecognitionPauseGuard paused(FParts.Pause);
    const std::string title = fingerprint::TitleOf(*song->SongFile());
    if (FParts.SongList.CheckForDuplicateName_WithError(title, path, answer, doLog) != -1) {
        return -1;
    }
    const std::int32_t slot = FParts.SongList.reserveSongIndex();
    if (slot < 0) return -1;
    FParts.SongList.setFileName(slot, path);
    ++FPhases.Files;
    ++FPhases.SavedFiles;
    FPhases.Keys += song->Length();
    FParts.SongList.setSongServer(slot, song);
    FParts.SongList.visualizeSong(slot);
    return slot;
}

void TFptLibrary::OptimizeIndex(bool showProgress) {
    if (FParts.MainDB.Sorted()) return;
    // Sorting moves entries the recognition thread reads; the pause nests, so callers that
    // hold it already lose nothing.
    tracking::TRecognitionPauseGuard paused(FParts.Pause);
    if (showProgress) {
        FParts.Window.ProcessMessages();
        FParts.Progress.ShowStats("Optimizing database...");
        FParts.Progress.SetState(1.0);
        FParts.Progress.SetCancelEnabled(false);
    }
    const auto start = Clock::now();
    try {
        FParts.MainDB.Sort();
    } catch (const std::exception&) {
        FParts.Posting.PostActivity("Error optimizing. Some fingerprints might not work",
                                    TActivityIcon::aiError);
    }
    FPhases.Sort += SecondsSince(start);
    if (showProgress) {
        FParts.Progress.SetCancelEnabled(true);
        FParts.Progress.HideStats();
        FParts.Window.ClearStatusText();
    }
}

void TFptLibrary::TellUserOrSender(tracking::IAnswerChannel* sender, const std::string& text) {
    if (sender != nullptr) {
        sender->CreateAnswer(text);
    } else {
        FParts.Window.ShowMessage(text);
    }
}

void TFptLibrary::MenuItemLoadFingerprintsClick(tracking::IAnswerChannel* sender) {
    if (!FParts.Guard.MemoryGuard(7, tracking::MemoryGuardMinimum, "", TActivityIcon::aiError,
                                  sender)) {
        return;
    }
    const bool user = sender == nullptr;
    if (FParts.Progress.Showing()) {
        TellUserOrSender(sender, "There are currently other tasks running");
        return;
    }
    const std::string folder = FSettings.FpFolder;
    std::error_code ec;
    if (folder.empty() || !std::filesystem::is_directory(folder, ec)) {
        const std::string text = "Error: Could not find folder \"" + folder + "\".";
        if (user) {
            FParts.Window.ShowMessage(text);
        } else {
            FParts.Posting.AnswerOrPostActivity(sender, text, TActivityIcon::aiInformation);
        }
        return;
    }
    tracking::TRecognitionPauseGuard paused(FParts.Pause);
    if (FParts.SongList.Count() > 0) MenuItemClearSonglistClick(sender);

    // The file system's own order, as the folder listing gives it.
    const auto listStart = Clock::now();
    std::vector<std::string> names;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (HasFingerprintExtension(name)) names.push_back(std::move(name));
    }
    FPhases.List += SecondsSince(listStart);
    if (names.empty()) {
        FParts.Posting.PostActivity("The fingerprinting folder does not contain any fingerprints",
                                    TActivityIcon::aiAttention);
        return;
    }
    if (user) {
        FParts.Progress.ShowStats("Reading fingerprints from hard disk...");
    } else {
        sender->CreateAnswer("Reading fingerprints from hard disk...");
    }
    const auto count = static_cast<std::int32_t>(names.size());
    const bool bulk = count > BulkThreshold;
    if (bulk) FParts.MainDB.SetSorted(false);
    const std::int32_t before = FParts.SongList.Count();

    std::vector<TFolderFile> files;
    std::unique_ptr<ISavedLibrary> saved;
    if (FCache != nullptr) {
        files = ListedFiles(folder, names);
        const auto start = Clock::now();
        std::string refusal;
        try {
            saved = FCache->Open(folder, refusal);
        } catch (const std::exception& e) {
            saved.reset();
            refusal = e.what();
        }
        if (!refusal.empty()) FParts.Posting.PostActivity(refusal, TActivityIcon::aiInformation);
        // Saved slots are the slots of a reload into an empty song list.
        if (FParts.SongList.SlotCount() != 0) saved.reset();
        FPhases.Saved += SecondsSince(start);
    }
    std::vector<std::int32_t> slotOfFile;
    bool complete = false;
    try {
        complete = ReloadFiles(folder, names, files, saved.get(), bulk, sender, slotOfFile);
    } catch (const std::exception& e) {
        // Taking over the saved index failed: the fingerprints listed so far have no keys, so
        // everything is read again from the files.
        FParts.MainDB.Clear();
        FParts.SongList.clear();
        if (bulk) FParts.MainDB.SetSorted(false);
        FParts.Posting.PostActivity(e.what(), TActivityIcon::aiInformation);
        saved.reset();
        complete = ReloadFiles(folder, names, files, nullptr, bulk, sender, slotOfFile);
    }
    if (user) FParts.Progress.HideStats();
    const std::int32_t loaded = FParts.SongList.Count() - before;
    FParts.Posting.AnswerOrPostActivity(
        sender,
        loaded == 1 ? std::string("1 fingerprint was loaded into memory")
                    : std::to_string(loaded) + " fingerprints were loaded into memory",
        TActivityIcon::aiInformation);
    if (!user) sender->CreateAnswer("Optimizing database...");
    OptimizeIndex(user);

    const bool unchanged = saved != nullptr && complete && FSavedUnchanged;
    if (FCache != nullptr && complete && !unchanged && FParts.MainDB.Sorted()) {
        const auto start = Clock::now();
        std::string error;
        if (!FCache->Save(folder, files, slotOfFile, FParts.SongList, FParts.MainDB, error)) {
            FParts.Posting.PostActivity(error, TActivityIcon::aiInformation);
        }
        FPhases.Save += SecondsSince(start);
    }
}

bool TFptLibrary::ReloadFiles(const std::string& folder, const std::vector<std::string>& names,
                              const std::vector<TFolderFile>& files, ISavedLibrary* saved,
                              bool bulk, tracking::IAnswerChannel* sender,
                              std::vector<std::int32_t>& slotOfFile) {
    const bool user = sender == nullptr;
    const auto count = static_cast<std::int32_t>(names.size());
    slotOfFile.assign(names.size(), -1);
    FSavedUnchanged = false;

    // Which listed file is unchanged since it was saved, and in which saved slot it is.
    std::vector<std::int32_t> savedSlotOfFile(names.size(), -1);
    std::vector<std::int32_t> newSlotOfSaved;
    if (saved != nullptr) {
        const auto start = Clock::now();
        std::unordered_map<std::string, std::size_t> savedByName;
        for (std::size_t j = 0; j < saved->Files().size(); ++j) {
            savedByName.emplace(saved->Files()[j].Name, j);
        }
        for (std::size_t i = 0; i < files.size() && i < names.size(); ++i) {
            const auto found = savedByName.find(files[i].Name);
            if (files[i].Size < 0 || found == savedByName.end()) continue;
            if (saved->Files()[found->second] == files[i]) {
                savedSlotOfFile[i] = saved->SlotOfFile(found->second);
            }
        }
        newSlotOfSaved.assign(static_cast<std::size_t>(saved->SlotCount()), -1);
        FPhases.Saved += SecondsSince(start);
    }
    // Keys of the files read in this reload while the saved index is taken over.
    TMediumDB fresh;
    fresh.SetShareMode(FParts.MainDB.ShareMode());

    std::int32_t done = 0;
    while (done < count) {
        const auto i = static_cast<std::size_t>(done);
        try {
            TRefPtr<fingerprint::TSongServer> song;
            const std::int32_t savedSlot = savedSlotOfFile[i];
            if (savedSlot >= 0) {
                try {
                    song = saved->Fingerprint(savedSlot);
                } catch (const EError&) {
                    song = {};  // read from its file below
                }
            }
            if (song) {
                slotOfFile[i] = InsertSaved(song, folder + names[i], sender, bulk);
                if (slotOfFile[i] >= 0) {
                    newSlotOfSaved[static_cast<std::size_t>(savedSlot)] = slotOfFile[i];
                }
            } else {
                slotOfFile[i] =
                    LoadOne(folder + names[i], sender, saved != nullptr ? &fresh : nullptr, bulk);
            }
        } catch (const std::exception& e) {
            FParts.Posting.AnswerOrPostActivity(sender, e.what(), TActivityIcon::aiInformation);
        }
        ++done;
        if (user && done % 7 == 0) FParts.Progress.SetState(static_cast<double>(done) / count);
        if (!FParts.Guard.MemoryGuard(8, tracking::MemoryGuardMinimum, "", TActivityIcon::aiError,
                                      sender)) {
            break;
        }
        if (user && FParts.Progress.Cancelled()) break;
    }
    if (saved == nullptr) return done == count;

    // The saved index with the saved slots turned into this reload's slots (entries of files
    // that are gone, changed or not loaded now are dropped), and the keys read now merged in.
    const auto start = Clock::now();
    tracking::TRecognitionPauseGuard paused(FParts.Pause);
    bool identity = fresh.Empty();
    for (std::size_t s = 0; identity && s < newSlotOfSaved.size(); ++s) {
        identity = newSlotOfSaved[s] == static_cast<std::int32_t>(s);
    }
    TMediumDB built;
    built.SetShareMode(FParts.MainDB.ShareMode());
    saved->TakeIndex(built);
    if (!identity) built.RenumberSongs(newSlotOfSaved);
    if (!fresh.Empty()) fresh.MergeInto(built);
    built.FastMoveOrMergeInto(FParts.MainDB);
    FParts.MainDB.SetSorted(true);
    FSavedUnchanged = identity;
    FPhases.Saved += SecondsSince(start);
    return done == count;
}

void TFptLibrary::MenuItemClearSonglistClick(tracking::IAnswerChannel* sender) {
    tracking::TRecognitionPauseGuard paused(FParts.Pause);
    // The index object stays (others hold it); emptied it is sorted, so the next loads merge.
    FParts.MainDB.Clear();
    FParts.SongList.clear();
    FParts.MainDB.SetSorted(true);
    if (sender != nullptr) {
        sender->CreateAnswer("Memory cleared");
    } else {
        FParts.Posting.PostActivity("Memory cleared", TActivityIcon::aiInformation);
    }
}

std::int32_t TFptLibrary::SelectedSlot() const {
    const std::int32_t row = FParts.SongList.View().SelectedRow();
    return row < 0 ? -1 : FParts.SongList.getIndexFromListviewIndex(row);
}

void TFptLibrary::RemoveFromMemory() {
    tracking::TRecognitionPauseGuard paused(FParts.Pause);
    const std::int32_t slot = SelectedSlot();
    if (slot < 0) return;
    FParts.MainDB.DelSong(slot);
    FParts.SongList.freeSong(slot, true);
}

void TFptLibrary::ListviewKeyDown(TListKey key, bool shift, bool keyPressed) {
    if (key == TListKey::lkEnter) {
        ListViewDblClick();
        return;
    }
    if (key != TListKey::lkDelete) return;
    if (FParts.SongList.View().RowCount() == 0 || !FParts.Window.ClearMemoryMenuEnabled()) return;
    if (shift) {
        if (keyPressed && !FParts.Window.AskYesNo("Permanently remove this fingerprint?")) return;
        const std::int32_t slot = SelectedSlot();
        const TSongEntry* entry = FParts.SongList.Entry(slot);
        if (entry == nullptr) return;
        const std::string path = entry->Filename;
        if (::unlink(path.c_str()) == 0) {
            RemoveFromMemory();
            // The audio the fingerprint was taken from is the user's own: never deleted, at most
            // moved to the trash, where it can be restored.
            const std::string wav = ChangeFileExt(path, ".wav");
            struct stat info {};
            if (::lstat(wav.c_str(), &info) == 0) {
                if (FMoveToTrash && FMoveToTrash(wav)) {
                    FParts.Posting.PostActivity("\"" + wav + "\" was moved to the trash",
                                                TActivityIcon::aiInformation);
                } else {
                    FParts.Posting.PostActivity(
                        "\"" + wav + "\" was left in place: it could not be moved to the trash",
                        TActivityIcon::aiAttention);
                }
            }
        } else {
            FParts.Window.ShowMessage("Could not delete \"" + path + "\"");
        }
        return;
    }
    if (keyPressed &&
        !FParts.Window.AskYesNo("Remove this fingerprint from memory?\r\nTo delete a fingerprint "
                                "from harddisk, use shift+del instead.")) {
        return;
    }
    RemoveFromMemory();
}

void TFptLibrary::FptEnabledClick() {
    const std::int32_t row = FParts.SongList.View().SelectedRow();
    const std::int32_t slot = row < 0 ? -1 : FParts.SongList.getIndexFromListviewIndex(row);
    fingerprint::ISongServer* song = FParts.SongList.SongServer(slot);
    if (song == nullptr) return;
    song->SetEnabled(!song->GetEnabled());
    const bool enabled = song->GetEnabled();
    const std::int32_t base = (song->SongFile()->Options & 1) != 0 ? 6 : 0;
    FParts.SongList.View().SetImageIndex(row, enabled ? base : base + 1);
    FParts.Window.SetEnabledMenuChecked(enabled);
}

void TFptLibrary::ListViewDblClick() {
    ISongListView& view = FParts.SongList.View();
    const std::int32_t row = view.SelectedRow();
    if (row < 0) return;
    const std::int32_t slot = FParts.SongList.getIndexFromListviewIndex(row);
    fingerprint::ISongServer* song = FParts.SongList.SongServer(slot);
    if (song == nullptr) return;
    TFptProperties properties;
    properties.SongNo = slot;
    if (!song->GetEnabled() && FParts.Window.AskYesNo("This fingerprint is disabled. Enable?")) {
        song->SetEnabled(true);
        view.SetImageIndex(row, static_cast<std::int32_t>(TSongIcon::siEnabled));
    }
    properties.EditName = fingerprint::TitleOf(*song->SongFile());
    properties.LabelDuration = KeysDurationText(song->SongFile()->Length);
    properties.FileLabel = FParts.SongList.Entry(slot)->Filename;
    if (!FParts.Window.ShowProperties(properties)) return;
    RenameFingerprint(slot, properties.EditName);
}

void TFptLibrary::RenameFingerprint(std::int32_t slot, const std::string& name) {
    const std::string newPath = fingerprint::FingerprintFileName(FSettings.FpFolder, name);
    const std::int32_t other = FParts.SongList.indexOf(name);
    if (other != -1 && other != slot) {
        FParts.Window.ShowMessage("Error: Duplicate fingerprint found.");
        return;
    }
    const std::string oldPath = FParts.SongList.Entry(slot)->Filename;
    // Never over another file: two titles can share one safe file name ("a?" and "a_").
    if (!RenameNoReplace(oldPath, newPath)) {
        FParts.Window.ShowMessage("Error: Could not rename fingerprint file.");
        return;
    }
    FParts.SongList.setFileName(slot, newPath);
    fingerprint::ISongServer* song = FParts.SongList.SongServer(slot);
    const std::string oldTitle = fingerprint::TitleOf(*song->SongFile());
    if (name == oldTitle) return;

    fingerprint::TSongBuffer record;
    try {
        record = fingerprint::TSongBuffer(fingerprint::UnpackFromFile(newPath));
        if (record.Size() < static_cast<std::size_t>(fingerprint::SongHeaderSize)) {
            throw EError("Fingerprint record too short.");
        }
        record.Song()->Title.Assign(fingerprint::EncodeTitle(name));
        // Written to a temporary file and renamed over the old one.
        fingerprint::PackToFile(record.Data(), record.Size(), newPath);
    } catch (const std::exception&) {
        FParts.Window.ShowMessage("Error modifying fingerprint file.");
        return;
    }
    FParts.Posting.PostActivity("\"" + oldTitle + "\" renamed to \"" + name + "\"",
                                TActivityIcon::aiInformation);
    {
        tracking::TRecognitionPauseGuard paused(FParts.Pause);
        // The whole title field, length byte and all 108 bytes.
        song->SongFile()->Title = record.Song()->Title;
        song->SongFile()->Source = record.Song()->Source;
        FParts.SongList.TitleChanged(slot);
    }
    const std::int32_t row = FindRowOfSlot(FParts.SongList.View(), slot);
    if (row >= 0) FParts.SongList.View().SetCaption(row, fingerprint::TitleOf(*song->SongFile()));
}

void TFptLibrary::Addtodeletionlist1Click() { FParts.Window.ShowDeletionList(); }

TDeletionListResult TFptLibrary::ApplyDeletionList(std::vector<std::string> lines, bool& doCancel) {
    return database::ApplyDeletionList(
        std::move(lines), FParts.SongList, FParts.Posting.Clock(),
        [this] { FParts.Window.ProcessMessages(); }, doCancel);
}

}  // namespace orvane::database
