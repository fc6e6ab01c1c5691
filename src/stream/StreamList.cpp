#include "stream/StreamList.h"

#include <fstream>
#include <set>
#include <sstream>

namespace orvane::stream {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool HasControl(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    }
    return false;
}

std::string StripExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
    return std::string(name);
}

}  // namespace

TSourceKind SourceKindOf(std::string_view source) {
    if (source.starts_with("pulse:")) return TSourceKind::skPulse;
    const auto scheme = source.find("://");
    if (scheme != std::string_view::npos && scheme > 0) {
        bool plain = true;
        for (char c : source.substr(0, scheme)) {
            const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                            (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
            plain = plain && ok;
        }
        if (plain) return TSourceKind::skNetwork;
    }
    return TSourceKind::skFile;
}

TStreamEntry ParseStreamArgument(std::string_view text) {
    text = Trim(text);
    TStreamEntry entry;
    const auto eq = text.find('=');
    if (eq != std::string_view::npos) {
        const std::string_view name = text.substr(0, eq);
        if (name.find_first_of(":/") == std::string_view::npos) {
            entry.Name = std::string(Trim(name));
            text = Trim(text.substr(eq + 1));
        }
    }
    if (text.empty()) throw EStreamList("no source given for \"" + entry.Name + "\"");
    if (HasControl(entry.Name)) throw EStreamList("a stream name holds control characters");
    if (HasControl(text)) throw EStreamList("a source holds control characters");
    entry.Source = std::string(text);
    entry.Kind = SourceKindOf(entry.Source);
    if (entry.Kind == TSourceKind::skPulse && entry.Source.size() == 6) {
        throw EStreamList("\"pulse:\" needs a source name or \"default\"");
    }
    return entry;
}

std::vector<TStreamEntry> ParseStreamList(std::string_view text, std::string_view origin) {
    std::vector<TStreamEntry> streams;
    std::size_t lineNo = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++lineNo;
        line = Trim(line);
        if (line.empty() || line.front() == '#') continue;
        try {
            streams.push_back(ParseStreamArgument(line));
        } catch (const EStreamList& e) {
            throw EStreamList(std::string(origin) + ":" + std::to_string(lineNo) + ": " + e.what());
        }
    }
    return streams;
}

std::vector<TStreamEntry> ReadStreamList(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) throw EStreamList("the stream list \"" + fileName + "\" cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw EStreamList("the stream list \"" + fileName + "\" cannot be read");
    return ParseStreamList(text.str(), fileName);
}

std::string DefaultStreamName(std::string_view source) {
    std::string name;
    switch (SourceKindOf(source)) {
        case TSourceKind::skPulse:
            name = std::string(source.substr(6));
            break;
        case TSourceKind::skNetwork: {
            std::string_view rest = source.substr(source.find("://") + 3);
            rest = rest.substr(0, rest.find_first_of("?#"));
            const auto slash = rest.find('/');
            std::string_view host = rest.substr(0, slash);
            if (const auto at = host.rfind('@'); at != std::string_view::npos)
                host = host.substr(at + 1);
            host = host.substr(0, host.rfind(':') == std::string_view::npos ||
                                          host.find(']') != std::string_view::npos
                                      ? host.size()
                                      : host.rfind(':'));
            std::string_view path = slash == std::string_view::npos ? "" : rest.substr(slash);
            while (!path.empty() && path.back() == '/') path.remove_suffix(1);
            const auto last = path.rfind('/');
            const std::string_view segment =
                last == std::string_view::npos ? path : path.substr(last + 1);
            name = segment.empty() ? std::string(host) : StripExtension(segment);
            break;
        }
        case TSourceKind::skFile: {
            const auto slash = source.find_last_of('/');
            name =
                StripExtension(slash == std::string_view::npos ? source : source.substr(slash + 1));
            break;
        }
    }
    return name.empty() ? std::string("stream") : name;
}

void AssignStreamNames(std::vector<TStreamEntry>& streams) {
    std::set<std::string> given;
    for (const TStreamEntry& s : streams) {
        if (s.Name.empty()) continue;
        if (!given.insert(s.Name).second) {
            throw EStreamList("the stream name \"" + s.Name + "\" is given twice");
        }
    }
    std::set<std::string> taken = given;
    for (TStreamEntry& s : streams) {
        if (!s.Name.empty()) continue;
        const std::string base = DefaultStreamName(s.Source);
        std::string name = base;
        for (int n = 2; taken.count(name) != 0; ++n) name = base + "-" + std::to_string(n);
        taken.insert(name);
        s.Name = name;
    }
}

std::uint32_t ShardOf(std::string_view name, std::uint32_t count) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return count == 0 ? 0 : static_cast<std::uint32_t>(hash % count);
}

void ParseShard(std::string_view text, std::uint32_t& index, std::uint32_t& count) {
    const auto slash = text.find('/');
    auto number = [&](std::string_view digits, std::uint32_t& value) {
        if (digits.empty() || digits.size() > 6) return false;
        value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + static_cast<std::uint32_t>(c - '0');
        }
        return true;
    };
    std::uint32_t k = 0;
    std::uint32_t n = 0;
    if (slash == std::string_view::npos || !number(text.substr(0, slash), k) ||
        !number(text.substr(slash + 1), n) || k < 1 || k > n) {
        throw EStreamList("--shard takes K/N with 1 <= K <= N, not \"" + std::string(text) + "\"");
    }
    index = k - 1;
    count = n;
}

}  // namespace orvane::stream
