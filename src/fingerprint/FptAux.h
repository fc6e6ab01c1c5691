// The in-memory fingerprint: a 132-byte header and its line keys, kept in 4096-key blocks.
// Thread: built by one thread (main thread for files, recognition thread for captures); once in
// the song list read by the recognition thread and renamed by the main thread only while
// recognition is paused. The enabled flag may be flipped from any thread at any time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "base/Errors.h"
#include "base/RefCounted.h"

namespace orvane::fingerprint {

/// Keys per block of the growing shape (16,384 bytes).
constexpr std::int32_t KeysPerBlock = 4096;
/// Bytes of the header in front of the keys.
constexpr std::int32_t SongHeaderSize = 132;
/// Longest stored title in bytes (after the length byte).
constexpr std::int32_t MaxTitleBytes = 108;
/// Most keys a fingerprint may hold, so that its aligned size fits a signed 32-bit number.
constexpr std::int32_t MaxSongKeys = (0x7FFFFFFF - SongHeaderSize) / 4;

/// A record the container cannot take: "Wrong header in fingerprint.".
class EWrongHeader : public EError {
public:
    EWrongHeader() : EError("Wrong header in fingerprint.") {}
};

/// A walk over the keys that left the block grid ("Block starting-value invalid.",
/// "Wrong block length.").
class EIteratorError : public EError {
public:
    using EError::EError;
};

#pragma pack(push, 1)
/// The stored title: one length byte and up to 108 bytes (a short string).
struct TSongTitle {
    std::uint8_t Length;
    char Bytes[MaxTitleBytes];

    /// The stored bytes; a length over 108 is clamped (the container refuses such records).
    std::string_view View() const {
        return {Bytes, Length <= MaxTitleBytes ? Length : static_cast<std::size_t>(MaxTitleBytes)};
    }
    /// Stores the first 108 bytes of `bytes` and zeroes the rest, so no stale bytes are written.
    void Assign(std::string_view bytes);
};

/// The fingerprint record, exactly the payload of a fingerprint file. All numbers little-endian.
///
///   offset size field
///        0    1 Title.Length       0 ... 108
///        1  108 Title.Bytes        encoded title, zero after the title
///      109    8 UniqueID           signed 64-bit
///      117    8 ChunkStartRecTime  days since 30 December 1899 (64-bit float)
///      125    1 Options            bit 0: the user's mark on the list row
///      126    1 FirstChunk         0 or 1
///      127    1 Source             unsigned 8-bit
///      128    4 Length             n, number of keys, signed 32-bit
///      132   4n FptData            the keys (delta-coded inside files)
///
/// A record of n keys occupies 132 + 4n bytes; the declared size (136) includes one key, which
/// the growing shape leaves unused. Keys() is 4-aligned when the record's memory is.
struct TSong {
    TSongTitle Title;
    std::int64_t UniqueID;
    double ChunkStartRecTime;
    std::uint8_t Options;
    std::uint8_t FirstChunk;
    std::uint8_t Source;
    std::int32_t Length;
    std::uint32_t FptData[1];

    /// The keys following the header (FptData), Length of them in the aligned shape.
    std::uint32_t* Keys() {
        return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(this) + SongHeaderSize);
    }
    const std::uint32_t* Keys() const {
        return reinterpret_cast<const std::uint32_t*>(reinterpret_cast<const char*>(this) +
                                                      SongHeaderSize);
    }
};
#pragma pack(pop)

static_assert(sizeof(TSong) == 136);
static_assert(offsetof(TSong, Title) == 0);
static_assert(offsetof(TSong, UniqueID) == 109);
static_assert(offsetof(TSong, ChunkStartRecTime) == 117);
static_assert(offsetof(TSong, Options) == 125);
static_assert(offsetof(TSong, FirstChunk) == 126);
static_assert(offsetof(TSong, Source) == 127);
static_assert(offsetof(TSong, Length) == 128);
static_assert(offsetof(TSong, FptData) == SongHeaderSize);

using PSong = TSong*;

/// Owns the memory of one fingerprint record (zero-filled when created with a size).
/// The memory comes from the global allocator, so the keys at offset 132 are 4-aligned.
class TSongBuffer {
public:
    TSongBuffer() = default;
    /// `size` zero bytes.
    explicit TSongBuffer(std::size_t size) : FBytes(size, 0) {}
    /// Takes the bytes (for instance an unpacked file) without copying.
    explicit TSongBuffer(std::vector<std::uint8_t>&& bytes) : FBytes(std::move(bytes)) {}

    /// The record; valid only when Size() >= 132.
    TSong* Song() { return reinterpret_cast<TSong*>(FBytes.data()); }
    const TSong* Song() const { return reinterpret_cast<const TSong*>(FBytes.data()); }
    std::uint8_t* Data() { return FBytes.data(); }
    const std::uint8_t* Data() const { return FBytes.data(); }
    std::size_t Size() const { return FBytes.size(); }
    /// Hands the bytes over; the buffer is empty afterwards.
    std::vector<std::uint8_t> Release() { return std::move(FBytes); }

private:
    std::vector<std::uint8_t> FBytes;
};

/// One run of keys inside one block: keys blockStart ... blockEnd of block currentBlock
/// (empty when blockEnd < blockStart). `break_` is true on the last run; Position is the first
/// key of the next run (the final Stop on the last run).
struct TIterator {
    std::int32_t currentBlock = 0;
    std::int32_t blockStart = 0;
    std::int32_t blockEnd = -1;
    std::int32_t Position = 0;
    std::int32_t Stop = 0;
    bool break_ = true;
};

class TSongServer;

/// The key index as a fingerprint sees it when it enters its keys (AddToDatabase). The index
/// lives in the database folder, which builds on this one; it implements this interface there
/// (database::TMediumDBKeys), so fingerprints need no link to the index.
/// Thread: whoever changes the index (the main thread while recognition is paused).
class IKeyIndex {
public:
    virtual ~IKeyIndex() = default;
    /// Enters line key `hashValue` of song `songNo` at key position `lineNo`.
    virtual void AddToDB(std::uint32_t hashValue, std::int32_t lineNo, std::int32_t songNo) = 0;
    /// Enters `count` consecutive keys of one song, the first at position `firstLineNo`: the
    /// same as AddToDB for each key in order (the default does exactly that). An index
    /// overrides it to save one virtual call per key.
    virtual void AddRunToDB(const std::uint32_t* keys, std::int32_t count,
                            std::int32_t firstLineNo, std::int32_t songNo) {
        for (std::int32_t k = 0; k < count; ++k) AddToDB(keys[k], firstLineNo + k, songNo);
    }
};

/// A fingerprint as the rest of the system holds it: through TRefPtr<ISongServer>.
class ISongServer : public TRefCounted {
public:
    /// 132 + 4·Length: bytes of the aligned record.
    virtual std::int32_t alignedSize() const = 0;
    /// A new contiguous record (header and keys copied); the caller owns it. Throws
    /// std::bad_alloc.
    virtual TSongBuffer alignedSong() const = 0;
    virtual std::int32_t numFullBlocks() const = 0;
    virtual bool hasLastBlock() const = 0;
    virtual std::int32_t lastBlockSize() const = 0;
    /// The first run of the key positions start ... stop (inclusive).
    virtual TIterator startIterator(std::int32_t start, std::int32_t stop) const = 0;
    virtual TSongServer* getClass() = 0;
    /// Appends `lineCount` keys (growing shape only; throws EInvalidOperation otherwise).
    virtual void Add(const std::uint32_t* keys, std::int32_t lineCount) = 0;
    /// Appends the keys start ... stop of `t` (0 <= start <= stop < its length, else
    /// EInvalidOperation). `t` may be this fingerprint.
    virtual void AddPartialSongServer(ISongServer& t, std::int32_t start, std::int32_t stop) = 0;
    /// Appends all keys of `t`.
    virtual void AddSongServer(ISongServer& t) = 0;
    /// Turns the growing shape into the aligned shape; unchanged on failure.
    virtual void serialize() = 0;
    /// Drops all keys, keeps the header; growing shape afterwards.
    virtual void Reset() = 0;
    /// Takes `record` as the aligned record. Throws EWrongHeader (and leaves the container as it
    /// was) unless its size is 132 + 4·Length with 0 <= Length and a title of at most 108 bytes.
    virtual void import(TSongBuffer record) = 0;
    /// The next run; throws EIteratorError when the walk left the block grid.
    virtual void continueIterator(TIterator& it) const = 0;
    /// Enters every key, in order, into `db` with song number `songNo`; the first key gets
    /// position `cPos`, each next one the position after. Callers pass 0, so positions are the
    /// keys' indexes. An empty fingerprint adds nothing. Failures of the index propagate (keys
    /// entered before stay in it).
    virtual void AddToDatabase(IKeyIndex& db, std::int32_t songNo, std::int32_t cPos) const = 0;
    /// The header record (aligned shape: the whole record); owned by the container.
    virtual PSong SongFile() = 0;
    virtual const TSong* SongFile() const = 0;
    /// Sets the enabled flag; a change calls the global enabled-change handler with the new value.
    virtual void SetEnabled(bool value) = 0;
    /// Thread safe, non-blocking.
    virtual bool GetEnabled() const = 0;

protected:
    ~ISongServer() override = default;
};

/// The fingerprint container in its two shapes: growing (keys in separately allocated blocks of
/// 4096, so appending never moves stored keys) and aligned (one contiguous TSong record, the
/// blocks pointing into it, as read from or written to a file).
class TSongServer final : public ISongServer {
public:
    /// Growing shape, no keys, every header field zero.
    TSongServer();
    /// Aligned shape from a record (for instance an unpacked file); the record belongs to the
    /// container at once. Throws EWrongHeader, as import.
    explicit TSongServer(TSongBuffer record);

    std::int32_t alignedSize() const override;
    TSongBuffer alignedSong() const override;
    std::int32_t numFullBlocks() const override;
    bool hasLastBlock() const override;
    std::int32_t lastBlockSize() const override;
    TIterator startIterator(std::int32_t start, std::int32_t stop) const override;
    TSongServer* getClass() override { return this; }
    void Add(const std::uint32_t* keys, std::int32_t lineCount) override;
    void AddPartialSongServer(ISongServer& t, std::int32_t start, std::int32_t stop) override;
    void AddSongServer(ISongServer& t) override;
    void serialize() override;
    void Reset() override;
    void import(TSongBuffer record) override;
    void continueIterator(TIterator& it) const override;
    void AddToDatabase(IKeyIndex& db, std::int32_t songNo, std::int32_t cPos) const override;
    PSong SongFile() override { return FSongFile.Song(); }
    const TSong* SongFile() const override { return FSongFile.Song(); }
    void SetEnabled(bool value) override;
    bool GetEnabled() const override { return FEnabled.load(std::memory_order_relaxed); }

    /// Number of keys.
    std::int32_t Length() const { return FSongFile.Song()->Length; }
    /// True in the aligned shape (blocks point into the record).
    bool IsAligned() const { return FDestroyRootOnly; }
    /// Block i holds keys 4096·i ... 4096·i + 4095; there are numFullBlocks() + hasLastBlock().
    std::span<std::uint32_t* const> Blocks() const { return FBlocks; }
    /// Key at `position` (0 <= position < Length(), checked only by ORVANE_VERIFY).
    std::uint32_t Key(std::int32_t position) const;
    /// All keys in order, copied (for tests and tools).
    std::vector<std::uint32_t> CopyKeys() const;

    /// Installs the handler every enabled change calls with the new value (one for the whole
    /// program; the main window keeps the count of disabled fingerprints with it). Call it before
    /// any fingerprint exists; the handler runs on the thread that changes the flag.
    static void SetEnabledChangeHandler(std::function<void(bool enabled)> handler);

    /// Free for the owner: the duplicate handling keeps here the fingerprint that made this one
    /// disabled (holding one reference).
    TRefPtr<ISongServer> Tag;

private:
    ~TSongServer() override;
    void PointBlocksIntoRecord();

    std::atomic<bool> FEnabled{true};
    TSongBuffer FSongFile;
    std::vector<std::uint32_t*> FBlocks;
    /// Growing shape only: the blocks' memory (FBlocks mirrors it).
    std::vector<std::unique_ptr<std::uint32_t[]>> FOwnedBlocks;
    bool FDestroyRootOnly = false;
};

}  // namespace orvane::fingerprint
