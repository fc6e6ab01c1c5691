#include "stream/IcyMetadata.h"

#include <cstdint>

namespace orvane::stream {

namespace {

/// Length of the UTF-8 sequence starting at text[i], or 0 when it is not a valid one.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) return 1;
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07u;
    } else {
        return 0;
    }
    if (i + n > text.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto d = static_cast<unsigned char>(text[i + k]);
        if ((d & 0xC0u) != 0x80u) return 0;
        cp = (cp << 6) | (d & 0x3Fu);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return n;
}

bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8Length(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

}  // namespace

std::string CleanTitleText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const bool utf8 = IsUtf8(text);
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            out += ' ';
        } else if (c < 0x80 || utf8) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::optional<std::string> ParseStreamTitle(std::string_view packet) {
    static constexpr std::string_view Key = "StreamTitle='";
    const auto start = packet.find(Key);
    if (start == std::string_view::npos) return std::nullopt;
    std::string_view value = packet.substr(start + Key.size());
    const auto end = value.find("';");
    if (end != std::string_view::npos) {
        value = value.substr(0, end);
    } else {
        while (!value.empty() && value.back() == '\0') value.remove_suffix(1);
        if (!value.empty() && value.back() == '\'') value.remove_suffix(1);
    }
    // Cutting first bounds the work for huge packets; the cut is made whole below.
    if (value.size() > 4 * MaxStreamTitleBytes) value = value.substr(0, 4 * MaxStreamTitleBytes);
    std::string title = CleanTitleText(value);
    const auto first = title.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    title = title.substr(first, title.find_last_not_of(' ') - first + 1);
    if (title.size() > MaxStreamTitleBytes) {
        std::size_t cut = MaxStreamTitleBytes;
        while (cut > 0 && (static_cast<unsigned char>(title[cut]) & 0xC0u) == 0x80u) --cut;
        title.resize(cut);
    }
    return title;
}

}  // namespace orvane::stream
