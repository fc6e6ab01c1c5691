// Writing, mapping and checking index snapshots; the cache of them in the user's cache folder.
// Thread: see IndexSnapshot.h.
#include "snapshot/IndexSnapshot.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <exception>
#include <system_error>
#include <thread>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <utility>

#include "database/DBTabl.h"
#include "database/TFptLibrary.h"
#include "fingerprint/FptFile.h"

namespace orvane::snapshot {

namespace {

namespace fs = std::filesystem;

constexpr char Magic[8] = {'O', 'R', 'V', '3', 'S', 'N', 'A', 'P'};
constexpr std::size_t EntriesAlignment = 4096;
constexpr std::size_t ChecksumChunk = std::size_t{16} << 20;
constexpr std::size_t EntryBytes = sizeof(database::TDBItem);
constexpr auto SongHeaderBytes = static_cast<std::size_t>(fingerprint::SongHeaderSize);

constexpr std::uint64_t Prime1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t Prime2 = 0xC2B2AE3D27D4EB4Full;
constexpr std::uint64_t Prime3 = 0x165667B19E3779F9ull;

std::uint64_t Load64(const std::uint8_t* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

std::uint64_t Round(std::uint64_t acc, std::uint64_t input) noexcept {
    return std::rotl(acc + input * Prime2, 31) * Prime1;
}

/// The checksum over a stream of bytes given in pieces of any size.
class TChecksum {
public:
    void Add(const std::uint8_t* data, std::size_t size) noexcept {
        FTotal += size;
        if (FBuffered > 0) {
            const std::size_t take = std::min(size, sizeof(FBuffer) - FBuffered);
            std::memcpy(FBuffer + FBuffered, data, take);
            FBuffered += take;
            data += take;
            size -= take;
            if (FBuffered < sizeof(FBuffer)) return;
            Stripe(FBuffer);
            FBuffered = 0;
        }
        while (size >= sizeof(FBuffer)) {
            Stripe(data);
            data += sizeof(FBuffer);
            size -= sizeof(FBuffer);
        }
        std::memcpy(FBuffer, data, size);
        FBuffered = size;
    }
    std::uint64_t Value() const noexcept {
        std::uint64_t h = std::rotl(FLane[0], 1) + std::rotl(FLane[1], 7) +
                          std::rotl(FLane[2], 12) + std::rotl(FLane[3], 18);
        h ^= FTotal * Prime3;
        for (std::size_t i = 0; i < FBuffered; ++i) {
            h = std::rotl(h ^ (FBuffer[i] * Prime3), 11) * Prime1;
        }
        h ^= h >> 33;
        h *= Prime2;
        h ^= h >> 29;
        return h;
    }

private:
    void Stripe(const std::uint8_t* p) noexcept {
        FLane[0] = Round(FLane[0], Load64(p));
        FLane[1] = Round(FLane[1], Load64(p + 8));
        FLane[2] = Round(FLane[2], Load64(p + 16));
        FLane[3] = Round(FLane[3], Load64(p + 24));
    }

    std::uint64_t FLane[4] = {Prime1 + Prime2, Prime2, 0, 0 - Prime1};
    std::uint64_t FTotal = 0;
    std::uint8_t FBuffer[32] = {};
    std::size_t FBuffered = 0;
};

/// The snapshot's checksum: the image (its checksum field as zero) cut into chunks of 16 MiB,
/// each summed with TChecksum, and the chunk sums (8 bytes each, in order) summed again, so
/// that a reader can check the chunks on several threads. Fed in pieces of any size.
class TChunkedChecksum {
public:
    void Add(const std::uint8_t* data, std::size_t size) {
        while (size > 0) {
            const std::size_t take = std::min(size, ChecksumChunk - FInChunk);
            FChunk.Add(data, take);
            FInChunk += take;
            data += take;
            size -= take;
            if (FInChunk == ChecksumChunk) EndChunk();
        }
    }
    std::uint64_t Value() {
        if (FInChunk > 0) EndChunk();
        TChecksum all;
        all.Add(reinterpret_cast<const std::uint8_t*>(FSums.data()), FSums.size() * 8);
        return all.Value();
    }

private:
    void EndChunk() {
        FSums.push_back(FChunk.Value());
        FChunk = TChecksum{};
        FInChunk = 0;
    }

    TChecksum FChunk;
    std::size_t FInChunk = 0;
    std::vector<std::uint64_t> FSums;
};

/// Runs task(0) ... task(n - 1) on up to `threads` threads (the caller's among them) and
/// rethrows the first failure once all are done.
template <typename F>
void RunTasks(std::size_t n, F task) {
    const std::size_t threads =
        std::min<std::size_t>(n, std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4));
    std::atomic<std::size_t> next{0};
    std::vector<std::exception_ptr> failures(threads);
    auto work = [&](std::size_t worker) {
        try {
            for (std::size_t i; (i = next.fetch_add(1)) < n;) task(i);
        } catch (...) {
            failures[worker] = std::current_exception();
            next.store(n);
        }
    };
    std::vector<std::thread> helpers;
    for (std::size_t w = 1; w < threads; ++w) {
        try {
            helpers.emplace_back(work, w);
        } catch (const std::system_error&) {
            break;  // fewer threads; the caller's does the rest
        }
    }
    work(0);
    for (auto& helper : helpers) helper.join();
    for (const auto& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }
}

std::string Hex64(std::uint64_t v) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i, v >>= 4) text[static_cast<std::size_t>(i)] = Digits[v & 15u];
    return text;
}

/// Sequential reads inside one range of the image; anything outside makes it damaged.
class TReader {
public:
    TReader(const std::uint8_t* data, std::size_t begin, std::size_t end)
        : FData(data), FPos(begin), FEnd(end) {}
    const std::uint8_t* Take(std::size_t n) {
        if (n > FEnd - FPos) throw ESnapshotError("it is damaged");
        const std::uint8_t* p = FData + FPos;
        FPos += n;
        return p;
    }
    std::uint32_t U32() {
        std::uint32_t v;
        std::memcpy(&v, Take(4), 4);
        return v;
    }
    std::uint64_t U64() {
        std::uint64_t v;
        std::memcpy(&v, Take(8), 8);
        return v;
    }
    std::int64_t I64() { return static_cast<std::int64_t>(U64()); }
    std::string Text() {
        const std::uint32_t n = U32();
        const std::uint8_t* p = Take(n);
        return std::string(reinterpret_cast<const char*>(p), n);
    }
    std::size_t Pos() const { return FPos; }

private:
    const std::uint8_t* FData;
    std::size_t FPos;
    std::size_t FEnd;
};

/// The bytes of the table, built in memory before anything is written.
class TWriter {
public:
    void U32(std::uint32_t v) { Raw(&v, 4); }
    void U64(std::uint64_t v) { Raw(&v, 8); }
    void I64(std::int64_t v) { Raw(&v, 8); }
    void Text(const std::string& text) {
        U32(static_cast<std::uint32_t>(text.size()));
        Raw(text.data(), text.size());
    }
    void Raw(const void* p, std::size_t n) {
        const auto* bytes = static_cast<const std::uint8_t*>(p);
        Bytes.insert(Bytes.end(), bytes, bytes + n);
    }
    std::vector<std::uint8_t> Bytes;
};

std::size_t RoundUp(std::size_t v, std::size_t to) { return (v + to - 1) / to * to; }

/// The snapshot file being written: a temporary file renamed over the snapshot at the end.
class TOutFile {
public:
    explicit TOutFile(std::string target) : FTarget(std::move(target)) {
        FTemp = FTarget + ".tmp-" + std::to_string(::getpid());
        FFd = ::open(FTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (FFd < 0) Fail("cannot be created");
    }
    ~TOutFile() {
        if (FFd >= 0) ::close(FFd);
        if (!FDone) ::unlink(FTemp.c_str());
    }
    TOutFile(const TOutFile&) = delete;
    TOutFile& operator=(const TOutFile&) = delete;

    /// Appends bytes, adding them to the checksum.
    void Write(const void* data, std::size_t size) {
        FSum.Add(static_cast<const std::uint8_t*>(data), size);
        WriteUnsummed(data, size);
    }
    void Zeros(std::size_t size) {
        static const std::uint8_t Zero[4096] = {};
        while (size > 0) {
            const std::size_t n = std::min(size, sizeof(Zero));
            Write(Zero, n);
            size -= n;
        }
    }
    /// Appends bytes the checksum does not cover (the header's place).
    void WriteUnsummed(const void* data, std::size_t size) {
        const auto* p = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = ::write(FFd, p, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) Fail("cannot be written");
            p += n;
            size -= static_cast<std::size_t>(n);
            FOffset += static_cast<std::size_t>(n);
        }
    }
    std::size_t Offset() const { return FOffset; }
    TChunkedChecksum& Sum() { return FSum; }
    /// Writes the header at the start and puts the file in place.
    void Finish(const std::uint8_t* header) {
        if (::pwrite(FFd, header, SnapshotHeaderSize, 0) != static_cast<ssize_t>(SnapshotHeaderSize))
            Fail("cannot be written");
        if (::close(FFd) != 0) {
            FFd = -1;
            Fail("cannot be written");
        }
        FFd = -1;
        if (::rename(FTemp.c_str(), FTarget.c_str()) != 0) Fail("cannot be put in place");
        FDone = true;
    }

private:
    [[noreturn]] void Fail(const char* what) {
        throw ESnapshotError("The index snapshot \"" + FTarget + "\" " + what + ": " +
                             std::strerror(errno));
    }

    std::string FTarget;
    std::string FTemp;
    int FFd = -1;
    std::size_t FOffset = 0;
    TChunkedChecksum FSum;
    bool FDone = false;
};

}  // namespace

/// The snapshot's bytes: a private, writable mapping of its file (changes of the index stay in
/// this process) or an image in memory.
class IndexSnapshot::Memory {
public:
    Memory(std::uint8_t* data, std::size_t size, bool mapped)
        : bytes(data), length(size), isMapped(mapped) {}
    explicit Memory(std::vector<std::uint8_t> image)
        : owned(std::move(image)), bytes(owned.data()), length(owned.size()) {}
    ~Memory() {
        if (isMapped) ::munmap(bytes, length);
    }
    Memory(const Memory&) = delete;
    Memory& operator=(const Memory&) = delete;

    std::uint8_t* data() const { return bytes; }
    std::size_t size() const { return length; }
    /// Gives back the pages from the one holding `begin` up to the one holding `end` (not
    /// included), or with `inside` only the pages wholly inside [begin, end); touched again,
    /// they are read again from the file. Only for memory nothing has written to yet.
    void release(std::size_t begin, std::size_t end, bool inside = false) const {
        if (!isMapped) return;
        const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        begin = inside ? RoundUp(begin, page) : begin / page * page;
        end = end / page * page;
        if (end > begin) ::madvise(bytes + begin, end - begin, MADV_DONTNEED);
    }

private:
    std::vector<std::uint8_t> owned;
    std::uint8_t* bytes;
    std::size_t length;
    bool isMapped = false;
};

std::uint64_t SnapshotChecksum(const std::uint8_t* data, std::size_t size) noexcept {
    TChecksum sum;
    sum.Add(data, size);
    return sum.Value();
}

std::uint64_t ImageChecksum(const std::uint8_t* data, std::size_t size) {
    const std::size_t chunks = (size + ChecksumChunk - 1) / ChecksumChunk;
    std::vector<std::uint64_t> sums(chunks);
    RunTasks(chunks, [&](std::size_t c) {
        const std::size_t begin = c * ChecksumChunk;
        const std::size_t end = std::min(size, begin + ChecksumChunk);
        TChecksum sum;
        if (c == 0) {
            static const std::uint8_t Zero[8] = {};
            sum.Add(data, 24);
            sum.Add(Zero, 8);
            sum.Add(data + 32, end - 32);
        } else {
            sum.Add(data + begin, end - begin);
        }
        sums[c] = sum.Value();
    });
    TChecksum all;
    all.Add(reinterpret_cast<const std::uint8_t*>(sums.data()), sums.size() * 8);
    return all.Value();
}

std::string DefaultSnapshotFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') return std::string(cache) + "/orvane3/";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache/orvane3/";
    return {};
}

std::string CanonicalLibraryFolder(const std::string& folder) {
    std::error_code ec;
    std::string canonical = fs::canonical(folder, ec).string();
    if (ec || canonical.empty()) canonical = folder;
    if (canonical.back() != '/') canonical += '/';
    return canonical;
}

std::string SnapshotFileFor(const std::string& snapshotFolder, const std::string& folder) {
    // FNV-1a: stable across builds, unlike std::hash.
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : CanonicalLibraryFolder(folder)) {
        h = (h ^ c) * 1099511628211ull;
    }
    std::string where = snapshotFolder;
    if (!where.empty() && where.back() != '/') where += '/';
    return where + "index-" + Hex64(h) + ".snapshot";
}

void WriteSnapshot(const std::string& path, const std::string& folder,
                   const std::vector<database::TFolderFile>& files,
                   const std::vector<std::int32_t>& slotOfFile, const database::TSongList& songs,
                   const database::TMediumDB& index) {
    if (files.size() != slotOfFile.size()) throw ESnapshotError("file and slot lists differ");
    const std::int32_t slots = songs.SlotCount();
    // Every slot holds one file's fingerprint, and every loaded file names its slot.
    std::vector<const fingerprint::ISongServer*> songOfSlot(static_cast<std::size_t>(slots));
    std::vector<int> uses(static_cast<std::size_t>(slots), 0);
    for (std::int32_t slot : slotOfFile) {
        if (slot < -1 || slot >= slots) throw ESnapshotError("a file has no slot");
        if (slot >= 0) ++uses[static_cast<std::size_t>(slot)];
    }
    for (std::int32_t s = 0; s < slots; ++s) {
        songOfSlot[static_cast<std::size_t>(s)] = songs.SongServer(s);
        if (songOfSlot[static_cast<std::size_t>(s)] == nullptr || uses[static_cast<std::size_t>(s)] != 1) {
            throw ESnapshotError("the song list does not match the folder");
        }
    }

    // The table; record offsets are known once its size is.
    TWriter table;
    table.Text(folder);
    table.U32(static_cast<std::uint32_t>(slots));
    const std::size_t recordTablePos = table.Bytes.size();
    for (std::int32_t s = 0; s < slots; ++s) {
        table.U64(0);
        table.U32(0);
    }
    table.U32(static_cast<std::uint32_t>(files.size()));
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto& f = files[i];
        table.Text(f.Name);
        table.I64(f.Size);
        table.I64(f.MTimeNs);
        table.I64(f.CTimeNs);
        table.U64(f.Inode);
        table.U64(f.Device);
        table.U32(static_cast<std::uint32_t>(slotOfFile[i]));
    }
    std::uint64_t entriesSize = 0;
    for (std::int32_t p = 0; p < database::PartitionCount; ++p) {
        const auto& sub = index.SubDB(p);
        table.U32(static_cast<std::uint32_t>(sub.Count()));
        entriesSize += std::uint64_t{static_cast<std::uint32_t>(sub.Count())} * EntryBytes;
    }
    std::size_t offset = SnapshotHeaderSize + table.Bytes.size();
    std::vector<std::size_t> recordSizes(static_cast<std::size_t>(slots));
    // Copied per record while writing: a fingerprint's keys need not lie in one block.
    for (std::int32_t s = 0; s < slots; ++s) {
        offset = RoundUp(offset, 8);
        const auto size = static_cast<std::size_t>(songOfSlot[static_cast<std::size_t>(s)]->alignedSize());
        recordSizes[static_cast<std::size_t>(s)] = size;
        const auto recordOffset = static_cast<std::uint64_t>(offset);
        const auto recordSize = static_cast<std::uint32_t>(size);
        std::memcpy(table.Bytes.data() + recordTablePos + static_cast<std::size_t>(s) * 12,
                    &recordOffset, 8);
        std::memcpy(table.Bytes.data() + recordTablePos + static_cast<std::size_t>(s) * 12 + 8,
                    &recordSize, 4);
        offset += size;
    }
    const std::size_t entriesOffset = RoundUp(offset, EntriesAlignment);
    const std::uint64_t fileSize = entriesOffset + entriesSize;

    std::uint8_t header[SnapshotHeaderSize] = {};
    std::memcpy(header, Magic, 8);
    const std::uint32_t version = SnapshotVersion;
    const std::uint32_t mark = ByteOrderMark;
    const std::uint64_t tableOffset = SnapshotHeaderSize;
    const std::uint64_t tableSize = table.Bytes.size();
    const std::uint64_t entriesAt = entriesOffset;
    std::memcpy(header + 8, &version, 4);
    std::memcpy(header + 12, &mark, 4);
    std::memcpy(header + 16, &fileSize, 8);
    std::memcpy(header + 32, &tableOffset, 8);
    std::memcpy(header + 40, &tableSize, 8);
    std::memcpy(header + 48, &entriesAt, 8);
    std::memcpy(header + 56, &entriesSize, 8);

    TOutFile out(path);
    // The checksum's order: header bytes 0-23, eight zeros, then the rest of the file.
    out.Sum().Add(header, 24);
    static const std::uint8_t Zero[8] = {};
    out.Sum().Add(Zero, 8);
    out.Sum().Add(header + 32, SnapshotHeaderSize - 32);
    // The header's place; its bytes are written last, with the checksum.
    const std::uint8_t placeholder[SnapshotHeaderSize] = {};
    out.WriteUnsummed(placeholder, sizeof placeholder);
    out.Write(table.Bytes.data(), table.Bytes.size());
    for (std::int32_t s = 0; s < slots; ++s) {
        out.Zeros(RoundUp(out.Offset(), 8) - out.Offset());
        const fingerprint::TSongBuffer record = songOfSlot[static_cast<std::size_t>(s)]->alignedSong();
        if (record.Size() != recordSizes[static_cast<std::size_t>(s)]) {
            throw ESnapshotError("a fingerprint changed while it was saved");
        }
        out.Write(record.Data(), record.Size());
    }
    out.Zeros(entriesOffset - out.Offset());
    for (std::int32_t p = 0; p < database::PartitionCount; ++p) {
        const auto& sub = index.SubDB(p);
        std::int32_t left = sub.Count();
        for (std::int32_t i = 0; left > 0; ++i) {
            const std::int32_t n = std::min(left, database::SectionSize);
            out.Write(sub.SectionData(i), static_cast<std::size_t>(n) * EntryBytes);
            left -= n;
        }
    }
    const std::uint64_t checksum = out.Sum().Value();
    std::memcpy(header + 24, &checksum, 8);
    out.Finish(header);
}

std::unique_ptr<IndexSnapshot> IndexSnapshot::openFile(const std::string& path,
                                                       const std::string& folder) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw EFileError("Cannot open \"" + path + "\"", errno);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        throw ESnapshotError("it is not a readable file");
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    if (size < SnapshotHeaderSize) throw ESnapshotError("it is not an index snapshot");
    // Mapped for reading with every page in place at once (the check reads them all), then
    // made writable: private, so the index sorts and merges in place without touching the
    // file, and a page is copied only when it is first written. (Populating a writable
    // private mapping would copy every page at once.)
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (mapped == MAP_FAILED) {
        throw ESnapshotError(std::string("it cannot be mapped: ") + std::strerror(errno));
    }
    auto memory = std::make_shared<Memory>(static_cast<std::uint8_t*>(mapped), size, true);
    if (::mprotect(mapped, size, PROT_READ | PROT_WRITE) != 0) {
        throw ESnapshotError(std::string("it cannot be mapped: ") + std::strerror(errno));
    }
    return check(std::move(memory), folder);
}

std::unique_ptr<IndexSnapshot> IndexSnapshot::fromImage(std::vector<std::uint8_t> image,
                                                        const std::string& folder) {
    return check(std::make_shared<Memory>(std::move(image)), folder);
}

std::unique_ptr<IndexSnapshot> IndexSnapshot::check(std::shared_ptr<Memory> memory,
                                                    const std::string& folder) {
    const std::uint8_t* data = memory->data();
    const std::size_t size = memory->size();
    if (size < SnapshotHeaderSize || std::memcmp(data, Magic, 8) != 0) {
        throw ESnapshotError("it is not an index snapshot");
    }
    TReader header(data, 8, SnapshotHeaderSize);
    const std::uint32_t version = header.U32();
    const std::uint32_t mark = header.U32();
    if (mark != ByteOrderMark) {
        throw ESnapshotError(mark == 0x04030201u
                                 ? "it was written with the other byte order"
                                 : "it is damaged");
    }
    if (version != SnapshotVersion) {
        throw ESnapshotError("it was written by another version (" + std::to_string(version) + ")");
    }
    const std::uint64_t fileSize = header.U64();
    const std::uint64_t checksum = header.U64();
    const std::uint64_t tableOffset = header.U64();
    const std::uint64_t tableSize = header.U64();
    const std::uint64_t entriesOffset = header.U64();
    const std::uint64_t entriesSize = header.U64();
    if (fileSize != size) throw ESnapshotError("it is incomplete");
    if (ImageChecksum(data, size) != checksum) throw ESnapshotError("it is damaged (checksum)");
    if (tableOffset != SnapshotHeaderSize || tableSize > size - tableOffset ||
        entriesOffset % EntriesAlignment != 0 || entriesOffset < tableOffset + tableSize ||
        entriesOffset > size || entriesSize != size - entriesOffset ||
        entriesSize % EntryBytes != 0) {
        throw ESnapshotError("it is damaged");
    }

    std::unique_ptr<IndexSnapshot> snapshot(new IndexSnapshot());
    snapshot->memory = memory;
    snapshot->entriesOffset = entriesOffset;
    TReader table(data, static_cast<std::size_t>(tableOffset),
                  static_cast<std::size_t>(tableOffset + tableSize));
    snapshot->folder = table.Text();
    if (!folder.empty() && snapshot->folder != folder) {
        throw ESnapshotError("it was made for the folder \"" + snapshot->folder + "\"");
    }

    const std::uint32_t slots = table.U32();
    if (slots > static_cast<std::uint32_t>(database::MaxSongNo) + 1 || slots > tableSize / 12) {
        throw ESnapshotError("it is damaged");
    }
    const auto recordsBegin = tableOffset + tableSize;
    std::vector<std::int32_t> lengthOfSlot(slots);
    snapshot->records.resize(slots);
    for (std::uint32_t s = 0; s < slots; ++s) {
        Record& r = snapshot->records[s];
        r.offset = table.U64();
        r.size = table.U32();
        if (r.offset < recordsBegin || r.offset % 8 != 0 || r.offset > entriesOffset ||
            r.size > entriesOffset - r.offset || r.size < SongHeaderBytes ||
            (r.size - SongHeaderBytes) % 4 != 0) {
            throw ESnapshotError("it is damaged");
        }
        fingerprint::TSong song{};
        std::memcpy(&song, data + r.offset, SongHeaderBytes);
        if (song.Length < 0 ||
            static_cast<std::uint64_t>(song.Length) != (r.size - SongHeaderBytes) / 4 ||
            song.Title.Length > fingerprint::MaxTitleBytes) {
            throw ESnapshotError("it is damaged");
        }
        lengthOfSlot[s] = song.Length;
    }

    const std::uint32_t fileCount = table.U32();
    if (fileCount > tableSize / 48) throw ESnapshotError("it is damaged");
    std::vector<char> slotUsed(slots, 0);
    snapshot->files.resize(fileCount);
    snapshot->slotOfFile.resize(fileCount);
    for (std::uint32_t i = 0; i < fileCount; ++i) {
        database::TFolderFile& f = snapshot->files[i];
        f.Name = table.Text();
        f.Size = table.I64();
        f.MTimeNs = table.I64();
        f.CTimeNs = table.I64();
        f.Inode = table.U64();
        f.Device = table.U64();
        const auto slot = static_cast<std::int32_t>(table.U32());
        if (f.Name.empty() || f.Name.find('/') != std::string::npos ||
            f.Name.find('\0') != std::string::npos || slot < -1 ||
            slot >= static_cast<std::int64_t>(slots)) {
            throw ESnapshotError("it is damaged");
        }
        if (slot >= 0) {
            if (slotUsed[static_cast<std::size_t>(slot)] != 0) throw ESnapshotError("it is damaged");
            slotUsed[static_cast<std::size_t>(slot)] = 1;
        }
        snapshot->slotOfFile[i] = slot;
    }
    for (char used : slotUsed) {
        if (used == 0) throw ESnapshotError("it is damaged");
    }

    // The partitions' entries, one after another, fill the entries area exactly; every entry
    // names a slot and a key position of it, and each partition is in key order.
    snapshot->partitions.resize(database::PartitionCount);
    const std::uint64_t entryCount = entriesSize / EntryBytes;
    std::uint64_t entriesSeen = 0;
    for (std::int32_t p = 0; p < database::PartitionCount; ++p) {
        Partition& part = snapshot->partitions[static_cast<std::size_t>(p)];
        part.count = table.U32();
        part.first = entriesSeen;
        if (part.count > static_cast<std::uint32_t>(INT32_MAX) ||
            part.count > entryCount - entriesSeen) {
            throw ESnapshotError("it is damaged");
        }
        entriesSeen += part.count;
    }
    if (entriesSeen != entryCount || table.Pos() != tableOffset + tableSize) {
        throw ESnapshotError("it is damaged");
    }
    if (slots == 0 && entryCount > 0) throw ESnapshotError("it is damaged");
    // 64 groups of partitions, checked on several threads.
    constexpr std::size_t Groups = 64;
    constexpr std::size_t PerGroup = database::PartitionCount / Groups;
    RunTasks(Groups, [&](std::size_t g) {
        for (std::size_t p = g * PerGroup; p < (g + 1) * PerGroup; ++p) {
            const Partition& part = snapshot->partitions[p];
            const std::uint8_t* items = data + entriesOffset + part.first * EntryBytes;
            std::uint32_t previous = p == 0 ? 1 : 0;  // line key 0 is never stored
            bool bad = false;
            for (std::uint32_t k = 0; k < part.count; ++k) {
                database::TDBItem item;
                std::memcpy(&item, items + std::size_t{k} * sizeof(item), sizeof(item));
                const auto song = static_cast<std::uint32_t>(item.SongNo());
                bad |= item.EntryKey() < previous || song >= slots ||
                       item.LineNo() >= lengthOfSlot[std::min<std::size_t>(song, slots - 1)];
                previous = item.EntryKey();
            }
            if (bad) throw ESnapshotError("it is damaged");
        }
    });
    return snapshot;
}

IndexSnapshot::~IndexSnapshot() {
    // The fingerprints were copied out; only the entries stay in use.
    if (memory) memory->release(SnapshotHeaderSize, static_cast<std::size_t>(entriesOffset));
}

TRefPtr<fingerprint::TSongServer> IndexSnapshot::Fingerprint(std::int32_t slot) {
    const Record& r = records.at(static_cast<std::size_t>(slot));
    const std::uint8_t* begin = memory->data() + r.offset;
    std::vector<std::uint8_t> record(begin, begin + r.size);
    // The records are copied in file order: the pages behind this one are no longer needed, so
    // the copies do not add to the memory the mapping already holds.
    if (r.offset + r.size > releasedTo) {
        memory->release(static_cast<std::size_t>(releasedTo), static_cast<std::size_t>(r.offset + r.size));
        releasedTo = r.offset + r.size;
    }
    auto song = MakeRef<fingerprint::TSongServer>(fingerprint::TSongBuffer(std::move(record)));
    song->SongFile()->Options = 0;
    return song;
}

void IndexSnapshot::TakeIndex(database::TMediumDB& target) {
    if (indexTaken) throw ESnapshotError("the saved index was taken already");
    indexTaken = true;
    // The sections keep the memory alive after this snapshot object is gone.
    const std::shared_ptr<const void> backing = memory;
    for (std::int32_t p = 0; p < database::PartitionCount; ++p) {
        const Partition& part = partitions[static_cast<std::size_t>(p)];
        auto* first = reinterpret_cast<database::TDBItem*>(memory->data() + entriesOffset +
                                                           part.first * EntryBytes);
        target.SubDB(p).AdoptSections(first, static_cast<std::int32_t>(part.count), backing);
        // The entries behind the partition's last whole section were copied out.
        const std::uint64_t tail = part.first + part.count / database::SectionSize *
                                                    static_cast<std::uint64_t>(database::SectionSize);
        memory->release(static_cast<std::size_t>(entriesOffset + tail * EntryBytes),
                        static_cast<std::size_t>(entriesOffset + (part.first + part.count) * EntryBytes),
                        true);
    }
    target.PartitionsAdopted(true);
}

IndexSnapshotCache::IndexSnapshotCache(std::string snapshotFolder) : where(std::move(snapshotFolder)) {
    if (!where.empty() && where.back() != '/') where += '/';
}

std::unique_ptr<database::ISavedLibrary> IndexSnapshotCache::Open(const std::string& folder,
                                                                  std::string& refusal) {
    refusal.clear();
    if (where.empty()) return nullptr;
    const std::string path = SnapshotFileFor(where, folder);
    if (::access(path.c_str(), F_OK) != 0) return nullptr;
    try {
        return IndexSnapshot::openFile(path, CanonicalLibraryFolder(folder));
    } catch (const std::exception& e) {
        refusal = "The index snapshot \"" + path + "\" was not used: " + e.what() +
                  ". The fingerprints are read from their files.";
        return nullptr;
    }
}

bool IndexSnapshotCache::Save(const std::string& folder,
                              const std::vector<database::TFolderFile>& files,
                              const std::vector<std::int32_t>& slotOfFile,
                              const database::TSongList& songs, const database::TMediumDB& index,
                              std::string& error) {
    error.clear();
    if (where.empty()) return true;  // no cache folder known: nothing is kept
    std::error_code ec;
    fs::create_directories(where, ec);
    const std::string path = SnapshotFileFor(where, folder);
    try {
        if (ec) throw ESnapshotError("The folder \"" + where + "\" cannot be created: " + ec.message());
        WriteSnapshot(path, CanonicalLibraryFolder(folder), files, slotOfFile, songs, index);
    } catch (const std::exception& e) {
        error = std::string("The index snapshot was not saved: ") + e.what();
        return false;
    }
    removeOrphans(path);
    return true;
}

void IndexSnapshotCache::removeOrphans(const std::string& keep) const {
    // Snapshots of folders that are gone (temporary folders, moved libraries) would pile up.
    std::error_code ec;
    for (fs::directory_iterator it(where, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string path = it->path().string();
        const std::string name = it->path().filename().string();
        if (path == keep || name.rfind("index-", 0) != 0) continue;
        if (name.find(".snapshot.tmp-") != std::string::npos) {
            // A temporary file of a writer that died: older than a day is never in use.
            const auto age = fs::file_time_type::clock::now() - fs::last_write_time(path, ec);
            if (!ec && age > std::chrono::hours(24)) fs::remove(path, ec);
            continue;
        }
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        std::uint8_t head[SnapshotHeaderSize + 4 + 4096];
        const ssize_t got = ::pread(fd, head, sizeof(head), 0);
        ::close(fd);
        if (got < static_cast<ssize_t>(SnapshotHeaderSize + 4) ||
            std::memcmp(head, Magic, 8) != 0) {
            continue;
        }
        std::uint32_t length;
        std::memcpy(&length, head + SnapshotHeaderSize, 4);
        if (length == 0 || SnapshotHeaderSize + 4 + length > static_cast<std::size_t>(got)) continue;
        const std::string folder(reinterpret_cast<const char*>(head + SnapshotHeaderSize + 4), length);
        if (folder[0] == '/' && !fs::exists(folder, ec) && !ec) fs::remove(path, ec);
    }
}

void ReloadWithSnapshot(database::TFptLibrary& library, tracking::IAnswerChannel* sender) {
    if (library.Cache() != nullptr) {
        library.MenuItemLoadFingerprintsClick(sender);
        return;
    }
    IndexSnapshotCache cache;
    library.SetCache(&cache);
    struct Detach {
        database::TFptLibrary& library;
        ~Detach() { library.SetCache(nullptr); }
    } detach{library};
    library.MenuItemLoadFingerprintsClick(sender);
}

}  // namespace orvane::snapshot
