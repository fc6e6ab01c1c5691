// The streams a monitor watches: "[NAME=]SOURCE" arguments and stream list files, the names
// derived for sources given without one, and the split of a stream list into shards.
// Thread: pure functions, any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Errors.h"

namespace orvane::stream {

/// What kind of source a stream reads.
enum class TSourceKind : std::uint8_t {
    skNetwork,  ///< http://, https://, rtsp://, rtmp:// ... decoded by the network binding
    skPulse,    ///< pulse:SOURCENAME or pulse:default, a sound input
    skFile,     ///< a local audio file, played in real time (or as fast as possible)
};

/// One monitored stream.
struct TStreamEntry {
    std::string Name;    ///< names the stream in the log; unique within a monitor
    std::string Source;  ///< the URL, "pulse:NAME" or the file name, as given
    TSourceKind Kind = TSourceKind::skFile;
    friend bool operator==(const TStreamEntry&, const TStreamEntry&) = default;
};

/// A stream argument or list line that cannot be used; the message says which and why.
class EStreamList : public EError {
public:
    using EError::EError;
};

/// The kind of `source` by its scheme: "pulse:" a sound input, "scheme://" a network stream,
/// anything else a local file.
TSourceKind SourceKindOf(std::string_view source);

/// Parses "[NAME=]SOURCE". A NAME is what stands before the first '=' when that part holds no
/// ':' or '/' (so "http://host/a?b=c" stays a source). The name may be empty here (derived
/// later). Throws EStreamList for an empty source or a name with control characters.
TStreamEntry ParseStreamArgument(std::string_view text);

/// Parses a stream list: one "[NAME=]SOURCE" per line; blank lines and lines whose first
/// non-blank character is '#' are skipped; surrounding blanks and a CR are dropped. Throws
/// EStreamList "<origin>:<line>: <reason>" for a bad line.
std::vector<TStreamEntry> ParseStreamList(std::string_view text, std::string_view origin);

/// Reads and parses a stream list file. Throws EStreamList when it cannot be read.
std::vector<TStreamEntry> ReadStreamList(const std::string& fileName);

/// The name derived from a source: the file name without folder and extension, the last
/// path segment of a URL without extension (else its host), the source name of "pulse:".
/// Never empty ("stream" when nothing is left).
std::string DefaultStreamName(std::string_view source);

/// Gives every stream without a name its derived one and makes all names unique by
/// appending "-2", "-3" ... to later repeats. Throws EStreamList when two streams were
/// given the same name explicitly.
void AssignStreamNames(std::vector<TStreamEntry>& streams);

/// Shard of a stream name among `count` shards (0 ... count-1): FNV-1a 64 of the name's
/// bytes modulo count. The same on every machine.
std::uint32_t ShardOf(std::string_view name, std::uint32_t count);

/// Parses "K/N" with 1 <= K <= N: returns K - 1 and N. Throws EStreamList otherwise.
void ParseShard(std::string_view text, std::uint32_t& index, std::uint32_t& count);

}  // namespace orvane::stream
