#include "fingerprint/FptAux.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace orvane::fingerprint {

namespace {

// Installed once by the main window before any fingerprint exists, then only read.
std::function<void(bool)>& EnabledChangeHandler() {
    static std::function<void(bool)> handler;
    return handler;
}

// The block pointers of an aligned record of `length` keys: block i at byte 132 + 16,384·i.
std::vector<std::uint32_t*> BlocksOfRecord(TSong* song, std::int32_t length) {
    const std::int32_t count = length / KeysPerBlock + (length % KeysPerBlock > 0 ? 1 : 0);
    std::vector<std::uint32_t*> blocks(static_cast<std::size_t>(count));
    std::uint32_t* keys = song->Keys();
    for (std::int32_t i = 0; i < count; ++i) {
        blocks[static_cast<std::size_t>(i)] = keys + static_cast<std::size_t>(i) * KeysPerBlock;
    }
    return blocks;
}

}  // namespace

void TSongTitle::Assign(std::string_view bytes) {
    const std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(MaxTitleBytes));
    std::memset(Bytes, 0, sizeof(Bytes));
    if (n > 0) std::memcpy(Bytes, bytes.data(), n);
    Length = static_cast<std::uint8_t>(n);
}

TSongServer::TSongServer() : FSongFile(sizeof(TSong)) {}

TSongServer::TSongServer(TSongBuffer record) : FSongFile(sizeof(TSong)) {
    import(std::move(record));
}

TSongServer::~TSongServer() {
    // Enabling first keeps the owner's count of disabled fingerprints right.
    try {
        SetEnabled(true);
    } catch (...) {
        AssertFailed("enabled-change handler threw while a fingerprint was freed", __FILE__,
                     __LINE__);
    }
}

void TSongServer::SetEnabledChangeHandler(std::function<void(bool)> handler) {
    EnabledChangeHandler() = std::move(handler);
}

void TSongServer::SetEnabled(bool value) {
    if (FEnabled.exchange(value, std::memory_order_relaxed) == value) return;
    if (const auto& handler = EnabledChangeHandler()) handler(value);
}

std::int32_t TSongServer::alignedSize() const { return SongHeaderSize + 4 * Length(); }

std::int32_t TSongServer::numFullBlocks() const { return Length() / KeysPerBlock; }

bool TSongServer::hasLastBlock() const { return lastBlockSize() > 0; }

std::int32_t TSongServer::lastBlockSize() const { return Length() % KeysPerBlock; }

std::uint32_t TSongServer::Key(std::int32_t position) const {
    if (!ORVANE_VERIFY(position >= 0 && position < Length())) return 0;
    return FBlocks[static_cast<std::size_t>(position / KeysPerBlock)][position % KeysPerBlock];
}

std::vector<std::uint32_t> TSongServer::CopyKeys() const {
    std::vector<std::uint32_t> keys;
    keys.reserve(static_cast<std::size_t>(Length()));
    const std::int32_t n = Length();
    for (std::size_t b = 0; b < FBlocks.size(); ++b) {
        const std::int32_t first = static_cast<std::int32_t>(b) * KeysPerBlock;
        const std::int32_t count = std::min(KeysPerBlock, n - first);
        keys.insert(keys.end(), FBlocks[b], FBlocks[b] + count);
    }
    return keys;
}

TSongBuffer TSongServer::alignedSong() const {
    TSongBuffer copy(static_cast<std::size_t>(alignedSize()));
    std::memcpy(copy.Data(), FSongFile.Data(), SongHeaderSize);
    copy.Song()->Length = Length();
    std::uint32_t* out = copy.Song()->Keys();
    const std::int32_t n = Length();
    for (std::size_t b = 0; b < FBlocks.size(); ++b) {
        const std::int32_t first = static_cast<std::int32_t>(b) * KeysPerBlock;
        const std::int32_t count = std::min(KeysPerBlock, n - first);
        std::memcpy(out + first, FBlocks[b], static_cast<std::size_t>(count) * 4);
    }
    return copy;
}

void TSongServer::Add(const std::uint32_t* keys, std::int32_t lineCount) {
    if (lineCount == 0) return;
    if (lineCount < 0) throw EInvalidOperation("Negative key count.");
    if (FDestroyRootOnly) {
        // The last block of an aligned record ends with the record: nothing may follow it.
        throw EInvalidOperation("Keys can only be added to a growing fingerprint.");
    }
    const std::int32_t oldLength = Length();
    if (lineCount > MaxSongKeys - oldLength) throw EInvalidOperation("Fingerprint too long.");

    const std::int32_t fill = oldLength % KeysPerBlock;
    const std::int32_t intoLast = fill > 0 ? std::min(KeysPerBlock - fill, lineCount) : 0;
    const std::int32_t remaining = lineCount - intoLast;
    const std::int32_t newBlockCount =
        remaining / KeysPerBlock + (remaining % KeysPerBlock > 0 ? 1 : 0);

    // Everything that can fail happens before the first change, so a failure leaves the
    // container as it was.
    std::vector<std::unique_ptr<std::uint32_t[]>> fresh;
    fresh.reserve(static_cast<std::size_t>(newBlockCount));
    for (std::int32_t i = 0; i < newBlockCount; ++i) {
        fresh.push_back(std::make_unique<std::uint32_t[]>(KeysPerBlock));
    }
    FBlocks.reserve(FBlocks.size() + fresh.size());
    FOwnedBlocks.reserve(FOwnedBlocks.size() + fresh.size());

    if (intoLast > 0) {
        std::memcpy(FBlocks.back() + fill, keys, static_cast<std::size_t>(intoLast) * 4);
    }
    const std::uint32_t* source = keys + intoLast;
    std::int32_t left = remaining;
    for (auto& block : fresh) {
        const std::int32_t count = std::min(KeysPerBlock, left);
        std::memcpy(block.get(), source, static_cast<std::size_t>(count) * 4);
        source += count;
        left -= count;
        FBlocks.push_back(block.get());
        FOwnedBlocks.push_back(std::move(block));
    }
    FSongFile.Song()->Length = oldLength + lineCount;
}

void TSongServer::AddPartialSongServer(ISongServer& t, std::int32_t start, std::int32_t stop) {
    const TRefPtr<ISongServer> hold(&t);
    TSongServer& other = *t.getClass();
    if (start < 0 || start > stop || stop >= other.Length()) {
        throw EInvalidOperation("Key range outside the fingerprint.");
    }
    TIterator it = other.startIterator(start, stop);
    for (;;) {
        if (it.blockEnd >= it.blockStart) {
            Add(other.FBlocks[static_cast<std::size_t>(it.currentBlock)] + it.blockStart,
                it.blockEnd - it.blockStart + 1);
        }
        if (it.break_) break;
        other.continueIterator(it);
    }
}

void TSongServer::AddSongServer(ISongServer& t) {
    const TRefPtr<ISongServer> hold(&t);
    TSongBuffer copy = t.alignedSong();
    Add(copy.Song()->Keys(), copy.Song()->Length);
}

void TSongServer::serialize() {
    TSongBuffer copy = alignedSong();
    std::vector<std::uint32_t*> blocks = BlocksOfRecord(copy.Song(), copy.Song()->Length);
    FSongFile = std::move(copy);
    FBlocks = std::move(blocks);
    FOwnedBlocks.clear();
    FDestroyRootOnly = true;
}

void TSongServer::import(TSongBuffer record) {
    if (record.Size() < static_cast<std::size_t>(SongHeaderSize)) throw EWrongHeader();
    const TSong* song = record.Song();
    const std::int32_t length = song->Length;
    // 64-bit arithmetic: in 32 bits a huge Length wraps around to a small size.
    if (length < 0 || length > MaxSongKeys || song->Title.Length > MaxTitleBytes ||
        static_cast<std::uint64_t>(record.Size()) !=
            static_cast<std::uint64_t>(SongHeaderSize) + 4 * static_cast<std::uint64_t>(length)) {
        throw EWrongHeader();
    }
    std::vector<std::uint32_t*> blocks = BlocksOfRecord(record.Song(), length);
    FSongFile = std::move(record);
    FBlocks = std::move(blocks);
    FOwnedBlocks.clear();
    FDestroyRootOnly = true;
}

void TSongServer::Reset() {
    TSongBuffer fresh(sizeof(TSong));
    std::memcpy(fresh.Data(), FSongFile.Data(), SongHeaderSize);
    fresh.Song()->Length = 0;
    FSongFile = std::move(fresh);
    FBlocks.clear();
    FOwnedBlocks.clear();
    FDestroyRootOnly = false;
}

TIterator TSongServer::startIterator(std::int32_t start, std::int32_t stop) const {
    TIterator it;
    it.Position = start;
    it.Stop = stop;
    it.currentBlock = start / KeysPerBlock;
    it.blockStart = start % KeysPerBlock;
    if (stop / KeysPerBlock == start / KeysPerBlock) {
        it.blockEnd = stop % KeysPerBlock;
        it.break_ = true;
        it.Position = stop;
    } else {
        it.blockEnd = KeysPerBlock - 1;
        it.break_ = false;
        it.Position = start - it.blockStart + KeysPerBlock;
    }
    return it;
}

void TSongServer::continueIterator(TIterator& it) const {
    it.currentBlock = it.Position / KeysPerBlock;
    it.blockStart = it.Position % KeysPerBlock;
    if (it.blockStart != 0) throw EIteratorError("Block starting-value invalid.");
    if (it.Stop / KeysPerBlock == it.Position / KeysPerBlock) {
        it.blockEnd = it.Stop % KeysPerBlock;
        it.break_ = true;
        it.Position = it.Stop;
    } else {
        it.blockEnd = KeysPerBlock - 1;
        it.break_ = false;
        it.Position += KeysPerBlock;
        if (it.blockEnd != it.blockStart + KeysPerBlock - 1) {
            throw EIteratorError("Wrong block length.");
        }
    }
}

void TSongServer::AddToDatabase(IKeyIndex& db, std::int32_t songNo, std::int32_t cPos) const {
    const std::int32_t length = Length();
    if (length <= 0) return;
    // Whole runs go to the index at once; positions continue from run to run.
    TIterator it = startIterator(0, length - 1);
    for (;;) {
        if (it.blockEnd >= it.blockStart) {
            const std::int32_t count = it.blockEnd - it.blockStart + 1;
            db.AddRunToDB(FBlocks[static_cast<std::size_t>(it.currentBlock)] + it.blockStart, count,
                          cPos, songNo);
            cPos += count;
        }
        if (it.break_) break;
        continueIterator(it);
    }
}

}  // namespace orvane::fingerprint
