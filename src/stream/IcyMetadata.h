// The station's own metadata that Icecast and SHOUTcast servers interleave with the audio
// (ICY metadata): a packet such as "StreamTitle='Artist - Song';StreamUrl='http://...';".
// Thread: pure functions, any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvane::stream {

/// Longest title kept, in bytes; longer titles are cut at a character boundary.
inline constexpr std::size_t MaxStreamTitleBytes = 1024;

/// The StreamTitle of an ICY metadata packet, or nothing when the packet has none.
/// The value runs from "StreamTitle='" to the next "';" (so titles may hold a quote, as in
/// "Don't Stop"), or to the end of the packet, whose trailing quote and NUL padding are
/// dropped. Text that is not UTF-8 is read as Latin-1; control characters become blanks;
/// surrounding blanks are trimmed; at most MaxStreamTitleBytes bytes are kept. Never throws
/// for any input.
/// Example: "StreamTitle='Nina Simone - Sinnerman';StreamUrl='';" gives
/// "Nina Simone - Sinnerman".
std::optional<std::string> ParseStreamTitle(std::string_view packet);

/// `text` as valid UTF-8: kept when it is, else read as Latin-1. Control characters
/// (below 0x20, 0x7F) become blanks.
std::string CleanTitleText(std::string_view text);

}  // namespace orvane::stream
