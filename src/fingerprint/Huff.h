// The packed file: a memory block compressed with a byte-wise Huffman code built for that block
// alone, behind a header with signature, format version and checksum.
// Thread: any; every call keeps its working tables to itself, so calls may run side by side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Errors.h"

namespace orvane::fingerprint {

// Packed image (all integers little-endian):
//
//   offset size content
//        0   11 "FINGERPRINT"
//       11    1 0
//       12    4 format version, 32-bit float 2.0 (00 00 00 40)
//       16    8 0
//       24    4 checksum: the wrapping sum of the image as little-endian 32-bit words from
//               offset 0, this field taken as 0, a final group of 1-3 bytes left out
//       28    1 valid bits in the last stream byte, 1 ... 7; 0 when that byte is full
//       29    4 T, the byte length of the code table (0 ... 1492)
//       33    T code table: for each byte value present, in increasing order:
//               value (1 byte), code length L (1 byte, 1 ... 255),
//               ceil(L/8) bytes of code bits, first bit in the MSB, zero-filled at the low end
//   33 + T  ... the codes of the data bytes in order, MSB first, the last byte left-aligned
//
// The code: leaf k stands for byte value k with its count as weight. Repeatedly, among the
// nodes not yet used, the one of smallest weight >= 1 (lowest node number on equal weights) is
// picked, then a second one the same way; a new inner node (256, 257, ...) gets the first as
// left child (bit 0) and the second as right child (bit 1). The last node created is the root.
//
// Worked example, the data "abaca" (a = 0x61 three times, b and c once):
//   node 256 = (b, c), node 257 = (256, a)   ->  a = 1, b = 00, c = 01
//   table  61 01 80  62 02 00  63 02 40      ->  T = 9
//   stream 1 00 1 01 1 = 1001011(0)          ->  96, valid bits 7
//
// Data with a single distinct byte value builds no tree; it gets the one-bit code 0 (table:
// value, 01, 00), so "aaa" packs to the stream 00 with 3 valid bits. Empty data packs to an
// empty table (T = 0), no stream bytes and valid bits 0. Both unpack to the original.

/// A packed image the unpacker refuses: wrong signature, checksum mismatch, a broken code
/// table or code stream. Callers report it as the file not having the right format.
class EPackedFormat : public EError {
public:
    using EError::EError;
};

/// Byte size of the header in front of the code table.
constexpr std::size_t PackedHeaderSize = 33;
/// Longest code table the format allows.
constexpr std::int32_t MaxCodeTableSize = 1492;

/// Most bytes a packed fingerprint file unpacks to: the aligned record of the longest
/// fingerprint, whose size fits a signed 32-bit number.
constexpr std::size_t MaxUnpackedSize = 0x7FFFFFFF;
/// Largest packed image of `unpacked` bytes: header, the longest code table, and a code
/// stream no longer than the data (a Huffman code never spends more than 8 bits on a byte).
constexpr std::uint64_t MaxPackedSizeFor(std::size_t unpacked) {
    return PackedHeaderSize + static_cast<std::uint64_t>(MaxCodeTableSize) + unpacked;
}

/// The packed image of `size` bytes at `p`. Throws EPackedFormat when the code table would
/// exceed 1492 bytes (only for data of hundreds of megabytes with extremely skewed counts).
std::vector<std::uint8_t> Pack(const void* p, std::size_t size);

/// The data of a packed image. Throws EError("Version not supported.") for a newer format
/// version and EPackedFormat for anything else it refuses, an image larger than
/// MaxPackedSizeFor(maxSize) or data of more than `maxSize` bytes too; never reads outside the
/// image and never holds more than `maxSize` bytes of output.
std::vector<std::uint8_t> Unpack(const std::uint8_t* image, std::size_t size,
                                 std::size_t maxSize = MaxUnpackedSize);

/// Packs `size` bytes at `p` into `fileName`, creating or replacing it. The image goes to a
/// temporary file in the same folder (not ending in ".qnf"), is synced and then renamed into
/// place, so the target is never half-written. Throws EFileError with errno (the temporary file
/// removed) or EPackedFormat as Pack.
void PackToFile(const void* p, std::size_t size, const std::string& fileName);

/// Reads and unpacks `fileName`; the caller owns the result. Throws EError("Invalid Filename")
/// when the file does not exist, ENotRegularFile for a FIFO, device, socket or folder (never
/// blocking on it), EPackedFormat before reading anything of a file larger than
/// MaxPackedSizeFor(maxSize), EFileError with errno when it cannot be read, and the exceptions
/// of Unpack.
std::vector<std::uint8_t> UnpackFromFile(const std::string& fileName,
                                         std::size_t maxSize = MaxUnpackedSize);

/// The checksum of a packed image (the field at 24-27 taken as 0); for tools and tests that
/// patch images.
std::uint32_t PackedChecksum(const std::uint8_t* image, std::size_t size);

}  // namespace orvane::fingerprint
