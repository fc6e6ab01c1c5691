#include "fingerprint/Huff.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "base/RegularFile.h"
#include "base/TempFile.h"

namespace orvane::fingerprint {

namespace {

constexpr std::array<std::uint8_t, 24> HeaderTemplate = {
    'F', 'I', 'N', 'G', 'E', 'R', 'P', 'R', 'I', 'N', 'T', 0, 0x00, 0x00, 0x00, 0x40,  // 2.0f
    0,   0,   0,   0,   0,   0,   0,   0};
constexpr std::size_t SignatureSize = 11;
constexpr std::size_t ChecksumOffset = 24;
constexpr std::size_t ValidBitsOffset = 28;
constexpr std::size_t TableLengthOffset = 29;
constexpr std::size_t IoPiece = 32768;

std::uint32_t ReadLE32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void WriteLE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

// ---- packing -------------------------------------------------------------------------------

struct TCode {
    std::int32_t Length = 0;              // bits; 0 = value absent
    std::array<std::uint8_t, 32> Bits{};  // MSB first, as stored in the table
    std::uint64_t Value = 0;              // the code right-aligned, when Length <= 56
};

constexpr std::int32_t NodeCount = 512;

// Picks the unused node 0 ... top of smallest weight >= 1, the lowest number on equal weights.
std::int32_t PickLightest(const std::array<std::int64_t, NodeCount>& weight,
                          std::array<bool, NodeCount>& used, std::int32_t top) {
    std::int32_t best = -1;
    for (std::int32_t i = 0; i <= top; ++i) {
        if (!used[static_cast<std::size_t>(i)] && weight[static_cast<std::size_t>(i)] >= 1 &&
            (best < 0 ||
             weight[static_cast<std::size_t>(i)] < weight[static_cast<std::size_t>(best)])) {
            best = i;
        }
    }
    if (best >= 0) used[static_cast<std::size_t>(best)] = true;
    return best;
}

// Hands each leaf the bits of its path from the root (left = 0, right = 1). The depth stays
// below 256: the tree has at most 255 inner nodes.
struct TCodeWalk {
    const std::array<std::int32_t, NodeCount>& Left;
    const std::array<std::int32_t, NodeCount>& Right;
    std::array<TCode, 256>& Codes;
    std::array<std::uint8_t, 256> Path;

    void Assign(std::int32_t node, std::int32_t depth) {
        const auto n = static_cast<std::size_t>(node);
        if (Left[n] < 0) {
            TCode& code = Codes[n];
            code.Length = depth;
            for (std::int32_t i = 0; i < depth; ++i) {
                const std::uint8_t bit = Path[static_cast<std::size_t>(i)];
                if (bit) {
                    code.Bits[static_cast<std::size_t>(i / 8)] |=
                        static_cast<std::uint8_t>(0x80u >> (i % 8));
                }
                code.Value = code.Value << 1 | bit;
            }
            return;
        }
        Path[static_cast<std::size_t>(depth)] = 0;
        Assign(Left[n], depth + 1);
        Path[static_cast<std::size_t>(depth)] = 1;
        Assign(Right[n], depth + 1);
    }
};

std::array<TCode, 256> BuildCodes(const std::array<std::int64_t, 256>& counts) {
    std::array<std::int64_t, NodeCount> weight{};
    std::array<bool, NodeCount> used{};
    std::array<std::int32_t, NodeCount> left;
    std::array<std::int32_t, NodeCount> right;
    left.fill(-1);
    right.fill(-1);
    std::int32_t present = 0;
    for (std::size_t v = 0; v < 256; ++v) {
        weight[v] = counts[v];
        if (counts[v] > 0) ++present;
    }

    std::array<TCode, 256> codes{};
    if (present == 0) return codes;
    if (present == 1) {
        // No tree to build: the single value gets the one-bit code 0.
        for (std::size_t v = 0; v < 256; ++v) {
            if (counts[v] > 0) codes[v].Length = 1;
        }
        return codes;
    }

    std::int32_t top = 255;
    for (;;) {
        const std::int32_t first = PickLightest(weight, used, top);
        if (first < 0) break;
        const std::int32_t second = PickLightest(weight, used, top);
        if (second < 0) break;
        ++top;
        const auto t = static_cast<std::size_t>(top);
        left[t] = first;
        right[t] = second;
        weight[t] =
            weight[static_cast<std::size_t>(first)] + weight[static_cast<std::size_t>(second)];
    }

    TCodeWalk walk{left, right, codes, {}};
    walk.Assign(top, 0);
    return codes;
}

// Appends codes MSB first; at most 7 bits wait in the accumulator between codes.
class TBitWriter {
public:
    explicit TBitWriter(std::uint8_t* out) : FOut(out) {}
    void Put(const TCode& code) {
        if (code.Length <= 56) {
            FAcc = FAcc << code.Length | code.Value;
            FCount += code.Length;
            while (FCount >= 8) {
                FCount -= 8;
                *FOut++ = static_cast<std::uint8_t>(FAcc >> FCount);
            }
            return;
        }
        for (std::int32_t i = 0; i < code.Length; ++i) {
            const std::uint8_t bit =
                (code.Bits[static_cast<std::size_t>(i / 8)] >> (7 - i % 8)) & 1u;
            Put(TCode{1, {}, bit});
        }
    }
    /// Writes the bits left over, left-aligned; returns their count (0 when none).
    std::int32_t Flush() {
        if (FCount == 0) return 0;
        *FOut++ = static_cast<std::uint8_t>(FAcc << (8 - FCount));
        return FCount;
    }

private:
    std::uint8_t* FOut;
    std::uint64_t FAcc = 0;
    std::int32_t FCount = 0;
};

// ---- unpacking -----------------------------------------------------------------------------

// The decoding tree: node 0 is the root; Symbol >= 0 marks a leaf.
struct TDecodeNode {
    std::int32_t Child[2] = {-1, -1};
    std::int32_t Symbol = -1;
};

constexpr std::int32_t LookupBits = 11;
// A 64-bit load shifted by up to 7 holds 57 stream bits: lookups may start up to here.
constexpr std::uint32_t LastLookupOffset = 57 - LookupBits;

// One entry per LookupBits-bit window: a whole code (leaf), the node reached after all
// LookupBits bits (inner), or a path that leaves the tree (invalid).
constexpr std::uint8_t LookupInvalid = 0;
constexpr std::uint8_t LookupLeaf = 1;
constexpr std::uint8_t LookupInner = 2;
struct TLookup {
    std::uint16_t Target = 0;  // symbol or node
    std::uint8_t Length = 0;   // bits of a leaf's code
    std::uint8_t Kind = LookupInvalid;
};

class TDecoder {
public:
    TDecoder() : FNodes(1) {}

    void AddCode(std::uint8_t value, std::int32_t length, const std::uint8_t* bits) {
        std::int32_t node = 0;
        for (std::int32_t i = 0; i < length; ++i) {
            if (FNodes[static_cast<std::size_t>(node)].Symbol >= 0) PrefixError();
            const int bit = (bits[i / 8] >> (7 - i % 8)) & 1;
            std::int32_t next = FNodes[static_cast<std::size_t>(node)].Child[bit];
            if (next < 0) {
                next = static_cast<std::int32_t>(FNodes.size());
                FNodes.emplace_back();
                FNodes[static_cast<std::size_t>(node)].Child[bit] = next;
            }
            node = next;
        }
        TDecodeNode& leaf = FNodes[static_cast<std::size_t>(node)];
        if (leaf.Symbol >= 0 || leaf.Child[0] >= 0 || leaf.Child[1] >= 0) PrefixError();
        leaf.Symbol = value;
    }

    void BuildLookup() {
        FLookup.assign(std::size_t{1} << LookupBits, TLookup{});
        Fill(0, 0, 0);
    }

    std::vector<std::uint8_t> Decode(const std::uint8_t* stream, std::size_t streamSize,
                                     std::int32_t lastBits, std::int32_t shortestCode,
                                     std::size_t maxOut) {
        std::vector<std::uint8_t> out;
        if (streamSize == 0) return out;
        // The stream with 8 zero bytes behind it, so a 64-bit window can always be loaded.
        FStream.assign(streamSize + 8, 0);
        std::memcpy(FStream.data(), stream, streamSize);
        FTotalBits =
            (static_cast<std::uint64_t>(streamSize) - 1) * 8 + static_cast<std::uint64_t>(lastBits);
        const std::uint64_t totalBits = FTotalBits;
        const std::uint64_t most = totalBits / static_cast<std::uint64_t>(shortestCode);
        out.resize(static_cast<std::size_t>(
            std::min<std::uint64_t>({most, streamSize * 4 + 256, std::uint64_t{maxOut}})));
        // Locals, not members: stores through a byte pointer would otherwise force reloads.
        const TLookup* const lookup = FLookup.data();
        const std::uint8_t* const bits = FStream.data();
        std::size_t produced = 0;
        std::uint64_t bitPos = 0;
        while (bitPos < totalBits) {
            if (produced == out.size()) {
                // Every symbol takes at least `shortestCode` bits, so with `most` symbols out
                // the bits left cannot hold a whole code: decoding one must fail.
                if (out.size() >= most) {
                    SlowDecodeOne(bitPos);
                    ORVANE_VERIFY(!"a code shorter than the shortest code");
                    throw EPackedFormat("Code stream ends inside a code.");
                }
                if (out.size() >= maxOut) throw EPackedFormat("Unpacked data too large.");
                out.resize(static_cast<std::size_t>(std::min<std::uint64_t>(
                    {most, std::max<std::uint64_t>(256, std::uint64_t{out.size()} * 2),
                     std::uint64_t{maxOut}})));
            }
            std::uint8_t* dst = out.data() + produced;
            std::uint8_t* const dstEnd = out.data() + out.size();
            // Several short codes per 64-bit load.
            std::uint64_t window = 0;
            std::memcpy(&window, bits + bitPos / 8, sizeof(window));
            window = __builtin_bswap64(window) << (bitPos % 8);
            const std::uint64_t left = totalBits - bitPos;
            std::uint32_t used = 0;
            while (used <= LastLookupOffset && dst != dstEnd) {
                const TLookup e = lookup[(window << used) >> (64 - LookupBits)];
                if (e.Kind != LookupLeaf || used + e.Length > left) break;
                *dst++ = static_cast<std::uint8_t>(e.Target);
                used += e.Length;
            }
            produced = static_cast<std::size_t>(dst - out.data());
            bitPos += used;
            if (used == 0) {
                // A long code, a broken path or the end of the stream: bit by bit.
                out[produced++] = SlowDecodeOne(bitPos);
            }
        }
        out.resize(produced);
        return out;
    }

private:
    [[noreturn]] static void PrefixError() {
        throw EPackedFormat("Code table holds a code that is the prefix of another.");
    }

    void Fill(std::int32_t node, std::int32_t depth, std::uint32_t prefix) {
        const TDecodeNode& n = FNodes[static_cast<std::size_t>(node)];
        const std::uint32_t span = 1u << (LookupBits - depth);
        const std::uint32_t first = prefix << (LookupBits - depth);
        if (n.Symbol >= 0 || depth == LookupBits) {
            TLookup e;
            e.Target = static_cast<std::uint16_t>(n.Symbol >= 0 ? n.Symbol : node);
            e.Length = static_cast<std::uint8_t>(depth);
            e.Kind = n.Symbol >= 0 ? LookupLeaf : LookupInner;
            for (std::uint32_t i = 0; i < span; ++i) FLookup[first + i] = e;
            return;
        }
        for (std::uint32_t bit = 0; bit < 2; ++bit) {
            if (n.Child[bit] >= 0) Fill(n.Child[bit], depth + 1, prefix << 1 | bit);
            // Entries of a missing child stay LookupInvalid.
        }
    }

    int Bit(std::uint64_t bitPos) const {
        return (FStream[static_cast<std::size_t>(bitPos / 8)] >> (7 - bitPos % 8)) & 1;
    }

    // Walks the tree bit by bit: codes longer than the lookup window, the end of the stream and
    // every broken path.
    std::uint8_t SlowDecodeOne(std::uint64_t& bitPos) const {
        std::int32_t node = 0;
        for (;;) {
            if (bitPos >= FTotalBits) throw EPackedFormat("Code stream ends inside a code.");
            node = FNodes[static_cast<std::size_t>(node)].Child[Bit(bitPos)];
            ++bitPos;
            if (node < 0) throw EPackedFormat("Code stream holds a code that is not in the table.");
            const TDecodeNode& n = FNodes[static_cast<std::size_t>(node)];
            if (n.Symbol >= 0) return static_cast<std::uint8_t>(n.Symbol);
        }
    }

    std::vector<TDecodeNode> FNodes;
    std::vector<TLookup> FLookup;
    std::vector<std::uint8_t> FStream;
    std::uint64_t FTotalBits = 0;
};

// ---- files ---------------------------------------------------------------------------------

std::string ErrnoText(const std::string& what, const std::string& fileName, int code) {
    return what + " \"" + fileName + "\": " + std::strerror(code);
}

class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() {
        if (FFd >= 0) ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }
    /// Closes now; returns 0 or the errno of close.
    int Close() {
        const int fd = FFd;
        FFd = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

private:
    int FFd;
};

}  // namespace

std::uint32_t PackedChecksum(const std::uint8_t* image, std::size_t size) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 4 <= size; i += 4) {
        if (i != ChecksumOffset) sum += ReadLE32(image + i);
    }
    return sum;
}

std::vector<std::uint8_t> Pack(const void* p, std::size_t size) {
    const auto* data = static_cast<const std::uint8_t*>(p);
    std::array<std::int64_t, 256> counts{};
    for (std::size_t i = 0; i < size; ++i) ++counts[data[i]];
    const std::array<TCode, 256> codes = BuildCodes(counts);

    std::size_t tableSize = 0;
    std::uint64_t streamBits = 0;
    for (std::size_t v = 0; v < 256; ++v) {
        if (codes[v].Length == 0) continue;
        tableSize += 2 + static_cast<std::size_t>((codes[v].Length + 7) / 8);
        streamBits +=
            static_cast<std::uint64_t>(counts[v]) * static_cast<std::uint64_t>(codes[v].Length);
    }
    // Such a table is refused when read, so it is not written either.
    if (tableSize > static_cast<std::size_t>(MaxCodeTableSize)) {
        throw EPackedFormat("Code table too large.");
    }

    std::vector<std::uint8_t> image(PackedHeaderSize + tableSize +
                                    static_cast<std::size_t>((streamBits + 7) / 8));
    std::memcpy(image.data(), HeaderTemplate.data(), HeaderTemplate.size());
    WriteLE32(image.data() + TableLengthOffset, static_cast<std::uint32_t>(tableSize));
    std::uint8_t* table = image.data() + PackedHeaderSize;
    for (std::size_t v = 0; v < 256; ++v) {
        if (codes[v].Length == 0) continue;
        *table++ = static_cast<std::uint8_t>(v);
        *table++ = static_cast<std::uint8_t>(codes[v].Length);
        const auto bytes = static_cast<std::size_t>((codes[v].Length + 7) / 8);
        std::memcpy(table, codes[v].Bits.data(), bytes);
        table += bytes;
    }
    TBitWriter writer(table);
    for (std::size_t i = 0; i < size; ++i) writer.Put(codes[data[i]]);
    image[ValidBitsOffset] = static_cast<std::uint8_t>(writer.Flush());
    WriteLE32(image.data() + ChecksumOffset, PackedChecksum(image.data(), image.size()));
    return image;
}

std::vector<std::uint8_t> Unpack(const std::uint8_t* image, std::size_t size,
                                 std::size_t maxSize) {
    if (size < PackedHeaderSize) throw EPackedFormat("Packed file too short.");
    if (size > MaxPackedSizeFor(maxSize)) throw EPackedFormat("Packed file too large.");
    if (std::memcmp(image, HeaderTemplate.data(), SignatureSize) != 0) {
        throw EPackedFormat("Not a packed fingerprint file.");
    }
    float version = 0;
    std::memcpy(&version, image + 12, sizeof(version));
    const float ours = 2.0f;
    const double versionTenths = std::round(static_cast<double>(version) * 10.0);
    // Older versions pass; a version that is not a number cannot be told older.
    if (std::isnan(versionTenths) || versionTenths > std::round(static_cast<double>(ours) * 10.0)) {
        throw EError("Version not supported.");
    }
    if (PackedChecksum(image, size) != ReadLE32(image + ChecksumOffset)) {
        throw EPackedFormat("Checksum mismatch.");
    }
    const std::int32_t validBits = image[ValidBitsOffset];
    if (validBits > 7) throw EPackedFormat("Invalid count of valid bits.");
    const auto tableLength = static_cast<std::int32_t>(ReadLE32(image + TableLengthOffset));
    if (tableLength < 0 || tableLength > MaxCodeTableSize ||
        static_cast<std::size_t>(tableLength) > size - PackedHeaderSize) {
        throw EPackedFormat("Invalid code table length.");
    }

    TDecoder decoder;
    const std::uint8_t* table = image + PackedHeaderSize;
    std::int32_t pos = 0;
    std::int32_t previous = -1;
    std::int32_t shortest = 256;
    while (pos < tableLength) {
        if (tableLength - pos < 2) throw EPackedFormat("Code table entry runs past the table.");
        const std::int32_t value = table[pos];
        const std::int32_t length = table[pos + 1];
        if (length == 0) throw EPackedFormat("Code table holds a code of length 0.");
        if (value <= previous)
            throw EPackedFormat("Code table values are not in increasing order.");
        const std::int32_t bytes = (length + 7) / 8;
        if (tableLength - pos - 2 < bytes) {
            throw EPackedFormat("Code table entry runs past the table.");
        }
        decoder.AddCode(static_cast<std::uint8_t>(value), length, table + pos + 2);
        shortest = std::min(shortest, length);
        previous = value;
        pos += 2 + bytes;
    }

    const std::uint8_t* stream = table + tableLength;
    const std::size_t streamSize = size - PackedHeaderSize - static_cast<std::size_t>(tableLength);
    if (streamSize == 0) {
        if (validBits != 0) throw EPackedFormat("Code stream missing.");
        return {};
    }
    decoder.BuildLookup();
    return decoder.Decode(stream, streamSize, validBits == 0 ? 8 : validBits, shortest, maxSize);
}

void PackToFile(const void* p, std::size_t size, const std::string& fileName) {
    const std::vector<std::uint8_t> image = Pack(p, size);

    // A short name of its own: a title whose file name just fits must not fail on the
    // temporary name.
    std::string tempName;
    const int fd = CreateTempFileBeside(fileName, 0666, tempName);
    if (fd < 0) {
        const int code = errno;
        throw EFileError(ErrnoText("Cannot create", fileName, code), code);
    }
    TFd file(fd);
    const auto fail = [&](const char* what, int code) {
        if (file.Get() >= 0) file.Close();
        ::unlink(tempName.c_str());
        throw EFileError(ErrnoText(what, fileName, code), code);
    };

    std::size_t done = 0;
    while (done < image.size()) {
        const std::size_t piece = std::min(IoPiece, image.size() - done);
        const ssize_t written = ::write(file.Get(), image.data() + done, piece);
        if (written < 0) {
            if (errno == EINTR) continue;
            fail("Cannot write", errno);
        }
        done += static_cast<std::size_t>(written);
    }
    if (::fsync(file.Get()) != 0) fail("Cannot write", errno);
    if (const int code = file.Close(); code != 0) fail("Cannot write", code);
    if (::rename(tempName.c_str(), fileName.c_str()) != 0) fail("Cannot replace", errno);

    // Make the rename itself durable; a folder that cannot be synced does not undo the write.
    const std::filesystem::path parent = std::filesystem::path(fileName).parent_path();
    const std::filesystem::path folder = parent.empty() ? std::filesystem::path(".") : parent;
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

std::vector<std::uint8_t> UnpackFromFile(const std::string& fileName, std::size_t maxSize) {
    std::unique_ptr<TRegularFile> file;
    try {
        file = std::make_unique<TRegularFile>(fileName);
    } catch (const ENotRegularFile&) {
        throw;
    } catch (const EFileError& e) {
        if (e.ErrorCode == ENOENT || e.ErrorCode == ENOTDIR) throw EError("Invalid Filename");
        throw;
    }
    const std::uint64_t most = MaxPackedSizeFor(maxSize);
    if (file->Size() > most) {
        throw EPackedFormat("The file is larger than the largest fingerprint file.");
    }
    const int fd = file->Fd();
    std::vector<std::uint8_t> image;
    image.reserve(static_cast<std::size_t>(file->Size()));
    std::size_t used = 0;
    for (;;) {
        // A file that grows while it is read is cut one byte past the limit, which Unpack refuses.
        if (used > most) break;
        image.resize(used + IoPiece);
        const ssize_t got = ::read(fd, image.data() + used, IoPiece);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw EFileError(ErrnoText("Cannot read", fileName, errno), errno);
        }
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    image.resize(used);
    return Unpack(image.data(), image.size(), maxSize);
}

}  // namespace orvane::fingerprint
