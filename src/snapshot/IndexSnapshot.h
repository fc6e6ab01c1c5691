// The index snapshot: what a reload of a fingerprint folder produced (the song list with its
// files and decoded keys, the sorted key index), kept as one file in the user's cache folder so
// that the next start with an unchanged folder maps it instead of reading and sorting again.
// Thread: the library's thread (the main thread). A mapped snapshot's memory is then owned by
// the key index sections that live in it, which keep it mapped until the last one goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "database/ILibraryCache.h"

namespace orvane::database {
class TFptLibrary;
}
namespace orvane::tracking {
class IAnswerChannel;
}

namespace orvane::snapshot {

/// A snapshot that cannot be written, or one that cannot be used; the message says why.
class ESnapshotError : public EError {
public:
    using EError::EError;
};

/// Snapshot file layout (all numbers little-endian, as the index entries themselves):
///
///   offset size  field
///        0    8  magic "ORV3SNAP"
///        8    4  format version (SnapshotVersion)
///       12    4  byte order mark $01020304 (reads $04030201 on a host of the other order)
///       16    8  file size in bytes
///       24    8  checksum: ImageChecksum, over the whole file with these 8 bytes as zero
///       32    8  table offset (64)           40  8  table size
///       48    8  entries offset (a multiple of 4096)    56  8  entries size
///   table:
///     u32 folder length, folder bytes (the canonical library folder, ending with '/')
///     u32 slot count n; n x (u64 record offset, u32 record size)
///     u32 file count m; m x (u32 name length, name, i64 size, i64 mtime ns, i64 ctime ns,
///                            u64 inode, u64 device, i32 slot or -1)
///     4096 x u32 entry count: the partitions' entries follow one another in the entries
///     area, partition 0 first
///   records: each a fingerprint record (132-byte header and its decoded keys) at an 8-byte
///     boundary, between the table and the entries
///   entries: the eight-byte index entries of every partition, sorted by entry key within
///     it, without gaps
///
/// Worked example: one file "a.qnf" loaded into slot 0 with 3 keys, folder "/f/" (3 bytes).
/// The table holds 4 + 3 + 4 + 12 + 4 + (4 + 5 + 8 x 5 + 4) + 4096 x 4 = 16,464 bytes at
/// offset 64; the record (132 + 12 = 144 bytes) follows at 16,528 and ends at 16,672; the
/// entries start at the next multiple of 4096, 20,480, and the three keys' entries make the
/// file 20,480 + 3 x 8 = 20,504 bytes long.
constexpr std::uint32_t SnapshotVersion = 1;
constexpr std::uint32_t ByteOrderMark = 0x01020304u;
constexpr std::size_t SnapshotHeaderSize = 64;

/// A 64-bit checksum of `size` bytes (4 lanes of multiply-rotate rounds; fast enough to check
/// a snapshot of gigabytes at start).
std::uint64_t SnapshotChecksum(const std::uint8_t* data, std::size_t size) noexcept;
/// The checksum a snapshot image must carry: the image with its checksum field as zero, cut
/// into chunks of 16 MiB, each summed with SnapshotChecksum; then SnapshotChecksum of those
/// sums (8 bytes each, in order). The chunks are summed on several threads. Needs size >= 64.
std::uint64_t ImageChecksum(const std::uint8_t* data, std::size_t size);

/// The folder snapshots live in: $XDG_CACHE_HOME/orvane3/, or ~/.cache/orvane3/ when
/// XDG_CACHE_HOME is not set to an absolute path; empty when neither is known.
std::string DefaultSnapshotFolder();
/// The canonical form of a library folder (absolute, links resolved, ending with '/'); the
/// folder as given when it cannot be resolved.
std::string CanonicalLibraryFolder(const std::string& folder);
/// The snapshot file of a library folder inside `snapshotFolder`: "index-" + 16 hex digits of
/// a hash of the canonical folder + ".snapshot".
std::string SnapshotFileFor(const std::string& snapshotFolder, const std::string& folder);

/// Writes the snapshot of a freshly reloaded library to `path` through a temporary file in the
/// same folder and a rename, so a reader sees the old file or the whole new one. `folder` is
/// the canonical library folder. Throws ESnapshotError with the reason.
void WriteSnapshot(const std::string& path, const std::string& folder,
                   const std::vector<database::TFolderFile>& files,
                   const std::vector<std::int32_t>& slotOfFile, const database::TSongList& songs,
                   const database::TMediumDB& index);

/// A checked snapshot, mapped from its file or held in memory.
class IndexSnapshot final : public database::ISavedLibrary {
public:
    /// Maps the snapshot file and checks it whole (header, checksum, table, every entry).
    /// Throws ESnapshotError when it does not fit: other version or byte order, damaged, made
    /// for another folder than `folder` (canonical), or EFileError when it cannot be opened.
    static std::unique_ptr<IndexSnapshot> openFile(const std::string& path,
                                                   const std::string& folder);
    /// The same checks on an image in memory (tests, fuzzing); `folder` empty accepts any.
    static std::unique_ptr<IndexSnapshot> fromImage(std::vector<std::uint8_t> image,
                                                    const std::string& folder);
    ~IndexSnapshot() override;

    const std::vector<database::TFolderFile>& Files() const override { return files; }
    std::int32_t SlotOfFile(std::size_t i) const override { return slotOfFile.at(i); }
    std::int32_t SlotCount() const override { return static_cast<std::int32_t>(records.size()); }
    TRefPtr<fingerprint::TSongServer> Fingerprint(std::int32_t slot) override;
    void TakeIndex(database::TMediumDB& target) override;

    /// The canonical library folder it was made for.
    const std::string& Folder() const { return folder; }

private:
    struct Record {
        std::uint64_t offset;
        std::uint32_t size;
    };
    struct Partition {
        std::uint32_t count;
        std::uint64_t first;  // index of its first entry in the entries area
    };
    class Memory;

    IndexSnapshot() = default;
    static std::unique_ptr<IndexSnapshot> check(std::shared_ptr<Memory> memory,
                                                const std::string& folder);

    std::shared_ptr<Memory> memory;
    std::string folder;
    std::vector<database::TFolderFile> files;
    std::vector<std::int32_t> slotOfFile;
    std::vector<Record> records;
    std::vector<Partition> partitions;
    std::uint64_t entriesOffset = 0;
    std::uint64_t releasedTo = 0;  // mapped pages below this offset were given back
    bool indexTaken = false;
};

/// The library cache kept as snapshot files in one folder (by default DefaultSnapshotFolder()).
/// Saving also removes the snapshots of library folders that no longer exist.
class IndexSnapshotCache final : public database::ILibraryCache {
public:
    explicit IndexSnapshotCache(std::string snapshotFolder = DefaultSnapshotFolder());

    std::unique_ptr<database::ISavedLibrary> Open(const std::string& folder,
                                                  std::string& refusal) override;
    bool Save(const std::string& folder, const std::vector<database::TFolderFile>& files,
              const std::vector<std::int32_t>& slotOfFile, const database::TSongList& songs,
              const database::TMediumDB& index, std::string& error) override;

    const std::string& snapshotFolder() const { return where; }

private:
    void removeOrphans(const std::string& keep) const;

    std::string where;
};

/// Reloads the library's fingerprint folder through the snapshot in the user's cache folder:
/// the one call a program makes to load its library at start. The library's own cache, if it
/// has one, is used instead and left attached.
void ReloadWithSnapshot(database::TFptLibrary& library, tracking::IAnswerChannel* sender);

}  // namespace orvane::snapshot
