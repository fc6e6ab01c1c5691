#include "tracking/Replace.h"

#include <cstddef>

#include "base/Errors.h"

namespace orvane::tracking {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(std::string_view text, std::size_t at, std::string_view name) {
    if (text.size() - at < name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (LowerAscii(text[at + i]) != LowerAscii(name[i])) return false;
    }
    return true;
}

std::string ReplaceAll(std::string_view text, std::string_view name, std::string_view value,
                       bool ignoreCase) {
    if (name.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const bool hit =
            ignoreCase ? EqualIgnoringCase(text, i, name) : text.compare(i, name.size(), name) == 0;
        if (hit) {
            out.append(value);
            i += name.size();
        } else {
            out.push_back(text[i]);
            ++i;
        }
    }
    return out;
}

template <class TValue>
std::string ReplaceFlat(std::string_view format, std::span<const TValue> values, bool quote) {
    if (values.size() % 2 != 0) throw EInvalidOperation("Replace(): Argument count must be even.");
    std::string result(format);
    for (std::size_t i = 0; i + 1 < values.size(); i += 2) {
        const std::string_view name = values[i];
        std::string value(values[i + 1]);
        if (quote) {
            value = ReplaceAll(value, "'", "\\'", false);
            value = ReplaceAll(value, "\"", "\\\"", false);
        }
        result = ReplaceAll(result, name, value, true);
    }
    return result;
}

}  // namespace

std::string Replace(std::string_view format, std::span<const std::string> values, bool quote) {
    return ReplaceFlat(format, values, quote);
}

std::string Replace(std::string_view format, std::span<const std::string_view> values, bool quote) {
    return ReplaceFlat(format, values, quote);
}

std::string Replace(std::string_view format, std::initializer_list<std::string_view> values,
                    bool quote) {
    return Replace(format, std::span<const std::string_view>(values.begin(), values.size()), quote);
}

}  // namespace orvane::tracking
