// What the library keeps of a loaded folder between runs, so that the next reload of an
// unchanged folder need not read, unpack and sort every fingerprint again.
// Thread: the library's thread (the main thread), as the reload that uses it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/RefCounted.h"
#include "fingerprint/FptAux.h"

namespace orvane::database {

class TMediumDB;
class TSongList;

/// One fingerprint file as the folder listing found it, with what tells that it changed.
struct TFolderFile {
    std::string Name;          ///< file name without folder
    std::int64_t Size = 0;     ///< bytes
    std::int64_t MTimeNs = 0;  ///< modification time, nanoseconds since 1970
    std::int64_t CTimeNs = 0;  ///< status change time, nanoseconds since 1970
    std::uint64_t Inode = 0;
    std::uint64_t Device = 0;

    friend bool operator==(const TFolderFile&, const TFolderFile&) = default;
};

/// A library as it was saved after a reload of its folder.
class ISavedLibrary {
public:
    virtual ~ISavedLibrary() = default;
    /// The fingerprint files the folder held then, in listing order.
    virtual const std::vector<TFolderFile>& Files() const = 0;
    /// The slot file i was loaded into, -1 when it was not loaded (unreadable, duplicate).
    virtual std::int32_t SlotOfFile(std::size_t i) const = 0;
    /// Number of slots the saved song list had.
    virtual std::int32_t SlotCount() const = 0;
    /// A new fingerprint object for saved slot `slot`: keys decoded, Options 0, as a reload
    /// leaves it. Throws EError when the record cannot be made, std::bad_alloc.
    virtual TRefPtr<fingerprint::TSongServer> Fingerprint(std::int32_t slot) = 0;
    /// Fills `target` (empty) with the saved key index: sorted, song numbers the saved slots.
    /// Call once. Throws EError, std::bad_alloc.
    virtual void TakeIndex(TMediumDB& target) = 0;
};

class ILibraryCache {
public:
    virtual ~ILibraryCache() = default;
    /// What was saved for `folder` (ending with '/'), or null when nothing was. When something
    /// was saved but does not fit (other version, damaged, other byte order, other folder), the
    /// result is null and `refusal` tells why, for the activity history.
    virtual std::unique_ptr<ISavedLibrary> Open(const std::string& folder,
                                                std::string& refusal) = 0;
    /// Saves the library just reloaded from `folder`: its files in listing order with the slot
    /// each went to (-1 when not loaded), the song list and the sorted main index. Returns
    /// false and leaves the reason in `error` when it could not be saved.
    virtual bool Save(const std::string& folder, const std::vector<TFolderFile>& files,
                      const std::vector<std::int32_t>& slotOfFile, const TSongList& songs,
                      const TMediumDB& index, std::string& error) = 0;
};

}  // namespace orvane::database
