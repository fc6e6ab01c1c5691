#include "tracking/Replace.h"

#include <cstddef>
#include <vector>

#include "base/Errors.h"

namespace orvane::tracking {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(std::string_view text, std::size_t at, std::string_view name) {
    if (at > text.size() || text.size() - at < name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (LowerAscii(text[at + i]) != LowerAscii(name[i])) return false;
    }
    return true;
}

std::string ReplaceAll(std::string_view text, std::string_view name, std::string_view value) {
    if (name.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (EqualIgnoringCase(text, i, name)) {
            out.append(value);
            i += name.size();
        } else {
            out.push_back(text[i]);
            ++i;
        }
    }
    return out;
}

struct TPair {
    std::string_view Name;
    std::string_view Value;
};

/// The first pair whose name stands at `at`, or null.
const TPair* PlaceholderAt(std::string_view text, std::size_t at, const std::vector<TPair>& pairs) {
    for (const TPair& pair : pairs) {
        if (!pair.Name.empty() && EqualIgnoringCase(text, at, pair.Name)) return &pair;
    }
    return nullptr;
}

void AppendInDoubleQuotes(std::string& out, std::string_view value) {
    for (const char c : value) {
        if (c == '\\' || c == '"' || c == '$' || c == '`') out.push_back('\\');
        out.push_back(c);
    }
}

void AppendInSingleQuotes(std::string& out, std::string_view value) {
    for (const char c : value) {
        if (c == '\'') {
            out.append("'\\''");
        } else if (c == '\\') {
            // The runner reads \' inside '...' as a quote, so a backslash never stays inside.
            out.append("'\\\\'");
        } else {
            out.push_back(c);
        }
    }
}

/// The parameters part of an event command line, expanded in one pass with each value escaped
/// for the quoting at its placeholder (the runner's grammar: outside quotes \ takes the next
/// character; inside '...' only \' and \" are escapes; inside "..." \ escapes " ' \ $ `).
void ExpandParameters(std::string& out, std::string_view text, const std::vector<TPair>& pairs) {
    enum class TQuoting { qtNone, qtSingle, qtDouble };
    TQuoting quoting = TQuoting::qtNone;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        if (const TPair* pair = PlaceholderAt(text, i, pairs)) {
            switch (quoting) {
                case TQuoting::qtNone:
                    out.push_back('\'');
                    AppendInSingleQuotes(out, pair->Value);
                    out.push_back('\'');
                    break;
                case TQuoting::qtSingle:
                    AppendInSingleQuotes(out, pair->Value);
                    break;
                case TQuoting::qtDouble:
                    AppendInDoubleQuotes(out, pair->Value);
                    break;
            }
            i += pair->Name.size();
            continue;
        }
        const char c = text[i];
        const bool placeholderNext = i + 1 < n && PlaceholderAt(text, i + 1, pairs) != nullptr;
        switch (quoting) {
            case TQuoting::qtNone:
                if (c == '\\') {
                    // An escaped character (a placeholder's first one too) stays as written.
                    out.append(text.substr(i, 2));
                    i += 2;
                    continue;
                }
                if (c == '\'') quoting = TQuoting::qtSingle;
                if (c == '"') quoting = TQuoting::qtDouble;
                break;
            case TQuoting::qtSingle:
                if (c == '\\' && i + 1 < n && (text[i + 1] == '\'' || text[i + 1] == '"')) {
                    out.append(text.substr(i, 2));
                    i += 2;
                    continue;
                }
                if (c == '\\' && placeholderNext) {
                    // A literal backslash that the value behind it must not turn into an escape.
                    out.append("'\\\\'");
                    ++i;
                    continue;
                }
                if (c == '\'') quoting = TQuoting::qtNone;
                break;
            case TQuoting::qtDouble:
                if (c == '\\' && i + 1 < n) {
                    const char next = text[i + 1];
                    if (next == '"' || next == '\'' || next == '\\' || next == '$' ||
                        next == '`') {
                        out.append(text.substr(i, 2));
                        i += 2;
                        continue;
                    }
                    if (placeholderNext) {
                        out.append("\\\\");
                        ++i;
                        continue;
                    }
                }
                if (c == '"') quoting = TQuoting::qtNone;
                break;
        }
        out.push_back(c);
        ++i;
    }
}

std::string ExpandCommandLine(std::string_view format, const std::vector<TPair>& pairs) {
    std::string out;
    out.reserve(format.size());
    const auto appendRaw = [&](std::string_view text) {
        for (std::size_t i = 0; i < text.size();) {
            if (const TPair* pair = PlaceholderAt(text, i, pairs)) {
                out.append(pair->Value);
                i += pair->Name.size();
            } else {
                out.push_back(text[i]);
                ++i;
            }
        }
    };
    if (format.substr(0, 5) == "http:") {
        appendRaw(format);
        return out;
    }
    const std::size_t blank = format.find(' ');
    if (blank == std::string_view::npos) {
        appendRaw(format);
        return out;
    }
    appendRaw(format.substr(0, blank));
    ExpandParameters(out, format.substr(blank), pairs);
    return out;
}

template <class TValue>
std::string ReplaceFlat(std::string_view format, std::span<const TValue> values, bool quote) {
    if (values.size() % 2 != 0) throw EInvalidOperation("Replace(): Argument count must be even.");
    if (quote) {
        std::vector<TPair> pairs;
        for (std::size_t i = 0; i + 1 < values.size(); i += 2) {
            pairs.push_back(TPair{values[i], values[i + 1]});
        }
        return ExpandCommandLine(format, pairs);
    }
    std::string result(format);
    for (std::size_t i = 0; i + 1 < values.size(); i += 2) {
        result = ReplaceAll(result, values[i], values[i + 1]);
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
