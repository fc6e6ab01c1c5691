// The fingerprint library: the operations of the main window that change what of the
// fingerprint folder is loaded — load one file, reload the folder, optimise the key index,
// clear the memory, remove, delete, enable, rename and mark fingerprints.
// Thread: main thread only. Every change of the song list or the key index happens inside the
// recognition pause; the enabled flag and the list rows change without it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "database/ILibraryCache.h"
#include "database/ILibraryUi.h"
#include "database/TDeletionList.h"
#include "database/TMediumDB.h"
#include "database/TSongList.h"
#include "fingerprint/FptAux.h"
#include "tracking/IAnswerChannel.h"
#include "tracking/IRecognitionPause.h"
#include "tracking/TMemoryGuard.h"
#include "tracking/TPosting.h"

namespace orvane::database {

/// A reload that finds more than this many fingerprint files loads them into an unsorted index
/// and sorts once at the end.
constexpr std::int32_t BulkThreshold = 48;

/// The settings the library reads.
struct TLibrarySettings {
    /// The fingerprint folder; a missing trailing '/' is added.
    std::string FpFolder;
};

/// The keys of the fingerprint list the library handles.
enum class TListKey { lkEnter, lkDelete, lkOther };

/// What the library works with; all must outlive it, none is owned (the main window owns them).
struct TLibraryParts {
    TSongList& SongList;
    TMediumDB& MainDB;
    tracking::IRecognitionPause& Pause;
    const tracking::TPosting& Posting;
    tracking::TMemoryGuard& Guard;
    IProgressDialog& Progress;
    ILibraryWindow& Window;
};

/// Seconds spent in each phase of loading since the last ResetPhases (for benchmarks).
struct TLoadPhases {
    double List = 0;    ///< listing the folder
    double Read = 0;    ///< reading files
    double Unpack = 0;  ///< Huffman decoding
    double Decode = 0;  ///< undoing the key deltas
    double Add = 0;     ///< entering keys into the index (merging included)
    double Sort = 0;    ///< optimising the index
    double Saved = 0;   ///< opening and taking over a saved library (cache)
    double Save = 0;    ///< saving the library to the cache
    std::int64_t Files = 0;
    std::int64_t Keys = 0;
    std::int64_t SavedFiles = 0;  ///< fingerprints taken from the cache instead of their files
};

class TFptLibrary {
public:
    TFptLibrary(const TLibraryParts& parts, TLibrarySettings settings);

    const TLibrarySettings& Settings() const { return FSettings; }

    /// Moves a file to the desktop's trash; false when there is none or the move failed (the
    /// file then stays). Called on the main thread.
    using TMoveToTrash = std::function<bool(const std::string& path)>;
    /// Installs the trash (the application's); without one, no file is ever moved to it.
    void SetTrash(TMoveToTrash moveToTrash) { FMoveToTrash = std::move(moveToTrash); }
    void SetSettings(TLibrarySettings settings);

    /// Loads one fingerprint file: merged into the main index when it is sorted, else added
    /// straight into it (bulk mode). A file that cannot be read is reported ("\"<name>\" does
    /// not have the right file format", attention) to `answer` or the history; a loaded title is
    /// reported with the song list's skipping message. Throws EDBError / std::bad_alloc when the
    /// index fails; the fingerprint is then not loaded and none of its keys stay in the index.
    void LoadFingerprintFile(const std::string& path, tracking::IAnswerChannel* answer);
    /// Loads one fingerprint file into the sorted main index through a temporary index; a loaded
    /// title is skipped silently. Returns the slot, or -1 when nothing was loaded. Throws as
    /// LoadFingerprintFile.
    std::int32_t MergeFingerprintFile(const std::string& path, tracking::IAnswerChannel* answer);
    /// Sorts an unsorted main index ("Optimizing database..." with `showProgress`); a failure
    /// is posted as "Error optimizing. Some fingerprints might not work".
    void OptimizeIndex(bool showProgress);
    /// Reloads every fingerprint of the folder; `sender` null for the user, else the answer
    /// channel of the requesting program.
    void MenuItemLoadFingerprintsClick(tracking::IAnswerChannel* sender);
    /// Empties the song list and the main index (sorted afterwards); "Memory cleared".
    void MenuItemClearSonglistClick(tracking::IAnswerChannel* sender);
    /// Removes the selected fingerprint from the index and the song list.
    void RemoveFromMemory();
    /// Enter: properties. Del: remove from memory; Shift+Del: delete the file. `keyPressed`
    /// true asks first (the key in the list); false acts at once (the menu items). A ".wav"
    /// file of the same name beside a deleted fingerprint is moved to the trash (SetTrash) and
    /// the activity history says so ("\"<path>\" was moved to the trash"); without a trash it
    /// stays where it is, and the history says that ("\"<path>\" was left in place: it could
    /// not be moved to the trash").
    void ListviewKeyDown(TListKey key, bool shift, bool keyPressed);
    /// Switches the selected fingerprint's enabled flag and shows it in its row and the menu.
    void FptEnabledClick();
    /// The properties dialog of the selected fingerprint: offers to enable a disabled one,
    /// renames the file and the title when the user changed the name.
    void ListViewDblClick();
    /// Shows the deletion-list dialog.
    void Addtodeletionlist1Click();
    /// The deletion list's Apply over the current list (window events pumped after 0.5 s).
    TDeletionListResult ApplyDeletionList(std::vector<std::string> lines, bool& doCancel);

    /// The cache the reload consults and fills (none by default); not owned, must outlive the
    /// library or be detached with nullptr. A reload whose folder is unchanged takes the saved
    /// fingerprints and index; changed files are read, removed ones dropped; messages, skipped
    /// duplicates and the list come out as after a reload without it.
    void SetCache(ILibraryCache* cache) { FCache = cache; }
    ILibraryCache* Cache() const { return FCache; }

    /// Phase timings of loading.
    const TLoadPhases& Phases() const { return FPhases; }
    void ResetPhases() { FPhases = TLoadPhases{}; }

private:
    /// Decodes a read fingerprint and loads it into a new slot under the pause: straight into
    /// the main index, or (`merge`) through an index of its own merged into the sorted main
    /// index. A duplicate title is reported in the first case and skipped silently in the
    /// second. Returns the slot or -1.
    std::int32_t InsertFingerprint(const TRefPtr<fingerprint::TSongServer>& song,
                                   const std::string& path, tracking::IAnswerChannel* answer,
                                   bool merge, TMediumDB* into = nullptr);
    /// Reads and inserts one file as a reload does: merged into the sorted main index or, in
    /// bulk mode, added straight into it; with `into`, added into that index instead (doLog as
    /// in bulk mode when `bulk`). Returns the slot or -1.
    std::int32_t LoadOne(const std::string& path, tracking::IAnswerChannel* answer,
                         TMediumDB* into, bool bulk);
    /// Inserts a fingerprint whose keys are already in the index being built: checks the title,
    /// takes a slot and shows it. Returns the slot or -1.
    std::int32_t InsertSaved(const TRefPtr<fingerprint::TSongServer>& song,
                             const std::string& path, tracking::IAnswerChannel* answer,
                             bool doLog);
    /// The loop of the reload over the listed files; with `saved`, unchanged files come from it
    /// and the saved index is taken over. Fills the slot each file went to; returns true when
    /// every file was handled (no memory stop, no cancel). Throws when taking over the saved
    /// index fails (the song list then holds fingerprints without keys and must be cleared).
    bool ReloadFiles(const std::string& folder, const std::vector<std::string>& names,
                     const std::vector<TFolderFile>& files, ISavedLibrary* saved, bool bulk,
                     tracking::IAnswerChannel* sender, std::vector<std::int32_t>& slotOfFile);
    TRefPtr<fingerprint::TSongServer> ReadFingerprint(const std::string& path,
                                                      tracking::IAnswerChannel* answer);
    void TellUserOrSender(tracking::IAnswerChannel* sender, const std::string& text);
    std::int32_t SelectedSlot() const;
    void RenameFingerprint(std::int32_t slot, const std::string& name);

    TLibraryParts FParts;
    TLibrarySettings FSettings;
    TLoadPhases FPhases;
    TMoveToTrash FMoveToTrash;
    ILibraryCache* FCache = nullptr;
    bool FSavedUnchanged = false;  ///< the last reload took the saved library as it was
};

}  // namespace orvane::database
