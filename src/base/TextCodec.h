// Text conversions between the system's stored byte strings and UTF-8.
// Thread: any (pure functions).
#pragma once

#include <string>
#include <string_view>

namespace orvane {

/// Decodes Windows-1252 bytes (the ANSI code page of titles without a byte-order mark) to UTF-8.
/// The five bytes that code page leaves undefined map to the C1 control of the same value.
std::string Cp1252ToUtf8(std::string_view bytes);

/// Decodes UTF-8, replacing each malformed sequence with U+FFFD, so the result is valid UTF-8.
std::string SanitizeUtf8(std::string_view bytes);

/// Leading and trailing bytes up to and including the blank (0x00-0x20) removed.
std::string_view TrimBlanks(std::string_view s);

/// Upper-cases ASCII letters only.
std::string UpperAscii(std::string_view s);

}  // namespace orvane
