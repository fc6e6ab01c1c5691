#include "CliPlays.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "base/TimeText.h"
#include "playlog/PlayTime.h"
#include "playlog/sqlite/TSqlitePlayLog.h"

namespace orvane::cli {

namespace {

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

const char* const PlaysUsage =
    "usage: orvane3-cli plays [--db FILE] [--stream NAME] [--from TIME] [--to TIME]\n"
    "                         [--format text|csv|json] [--summary]\n"
    "\n"
    "Reports the plays of the play log (default $XDG_DATA_HOME/orvane3/plays.sqlite), in\n"
    "order of their start: when each clip was first heard (UTC), the stream, the title and\n"
    "the part of the clip heard, as the log line states it. A play still going on shows\n"
    "\"playing\". With --summary: per stream and title the number of completed plays and\n"
    "their total airtime.\n"
    "\n"
    "  --stream NAME  only the plays of this stream\n"
    "  --from TIME    only plays that started at TIME or later\n"
    "  --to TIME      only plays that started before TIME\n"
    "                 TIME: 2026-12-10, 2026-12-10T05:49, 2026-12-10 05:49:14.123,\n"
    "                 optionally with a zone (Z, +01:00); without one it is UTC\n"
    "  --format       text (default), csv (a header line, then one row per play) or\n"
    "                 json (an array of objects)\n"
    "Exit status: 0 reported (also when nothing matched), 1 the log could not be read,\n"
    "2 bad usage.\n";

int Usage(const char* complaint) {
    if (complaint != nullptr) std::fprintf(stderr, "orvane3-cli: %s\n", complaint);
    std::fputs(PlaysUsage, stderr);
    return ExitUsage;
}

/// A number of seconds as the report prints it: whole numbers without a fraction.
std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    std::string s = text;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
}

std::string CsvField(const std::string& value) {
    if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
    std::string out = "\"";
    for (const char c : value) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

/// Length of the well-formed UTF-8 sequence at `i`, or 0.
std::size_t Utf8Length(const std::string& s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    unsigned lowest = 0;
    if (c < 0x80) return 1;
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        lowest = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        lowest = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    unsigned code = c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        const auto d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) return 0;
        code = (code << 6) | (d & 0x3F);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return n;
}

/// A JSON string; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(const std::string& value) {
    std::string out = "\"";
    for (std::size_t i = 0; i < value.size();) {
        const char c = value[i];
        const std::size_t n = Utf8Length(value, i);
        if (n == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (n > 1) {
            out.append(value, i, n);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            out += c;
        }
        i += n;
    }
    return out + "\"";
}

std::string JsonTime(const std::optional<std::int64_t>& ms) {
    return ms ? "\"" + playlog::UtcIsoText(*ms) + "\"" : "null";
}

void PrintPlays(const std::vector<playlog::TPlayRow>& rows, const std::string& format) {
    if (format == "csv") {
        std::puts(
            "id,stream,title,file,started_at,ended_at,duration_s,clip_begin_s,clip_end_s,"
            "stream_title");
        for (const auto& r : rows) {
            const std::string line =
                std::to_string(r.Id) + "," + CsvField(r.Stream) + "," + CsvField(r.Title) + "," +
                CsvField(r.File) + "," + playlog::UtcIsoText(r.StartedAtMs) + "," +
                (r.EndedAtMs ? playlog::UtcIsoText(*r.EndedAtMs) : "") + "," +
                (r.EndedAtMs ? Number(r.DurationS) : "") + "," + Number(r.ClipBeginS) + "," +
                (r.EndedAtMs ? Number(r.ClipEndS) : "") + "," + CsvField(r.StreamTitle);
            std::puts(line.c_str());
        }
        return;
    }
    if (format == "json") {
        std::puts("[");
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const auto& r = rows[i];
            const std::string line =
                "  {\"id\": " + std::to_string(r.Id) + ", \"stream\": " + JsonString(r.Stream) +
                ", \"title\": " + JsonString(r.Title) +
                ", \"file\": " + (r.File.empty() ? "null" : JsonString(r.File)) +
                ", \"started_at\": " + JsonTime(r.StartedAtMs) +
                ", \"ended_at\": " + JsonTime(r.EndedAtMs) +
                ", \"duration_s\": " + (r.EndedAtMs ? Number(r.DurationS) : "null") +
                ", \"clip_begin_s\": " + Number(r.ClipBeginS) +
                ", \"clip_end_s\": " + (r.EndedAtMs ? Number(r.ClipEndS) : "null") +
                ", \"stream_title\": " +
                (r.StreamTitle.empty() ? "null" : JsonString(r.StreamTitle)) + "}" +
                (i + 1 < rows.size() ? "," : "");
            std::puts(line.c_str());
        }
        std::puts("]");
        return;
    }
    for (const auto& r : rows) {
        std::string line = playlog::UtcIsoText(r.StartedAtMs) + "  " + r.Stream + ": " + r.Title +
                           " [" + MinSecText(r.ClipBeginS) + " - ";
        line += r.EndedAtMs ? MinSecText(r.ClipEndS) + "] (" + MinSecText(r.DurationS) + ")"
                            : std::string("...] (playing)");
        if (!r.StreamTitle.empty()) line += "  station: " + r.StreamTitle;
        std::puts(line.c_str());
    }
}

void PrintSummary(const std::vector<playlog::TPlaySummary>& rows, const std::string& format) {
    if (format == "csv") {
        std::puts("stream,title,plays,airtime_s");
        for (const auto& r : rows) {
            const std::string line = CsvField(r.Stream) + "," + CsvField(r.Title) + "," +
                                     std::to_string(r.Plays) + "," + Number(r.AirtimeS);
            std::puts(line.c_str());
        }
        return;
    }
    if (format == "json") {
        std::puts("[");
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const auto& r = rows[i];
            const std::string line =
                "  {\"stream\": " + JsonString(r.Stream) + ", \"title\": " + JsonString(r.Title) +
                ", \"plays\": " + std::to_string(r.Plays) +
                ", \"airtime_s\": " + Number(r.AirtimeS) + "}" + (i + 1 < rows.size() ? "," : "");
            std::puts(line.c_str());
        }
        std::puts("]");
        return;
    }
    for (const auto& r : rows) {
        const std::string line = r.Stream + ": " + r.Title + "  " + std::to_string(r.Plays) +
                                 (r.Plays == 1 ? " play, " : " plays, ") + MinSecText(r.AirtimeS) +
                                 " airtime";
        std::puts(line.c_str());
    }
}

}  // namespace

int CmdPlays(int argc, char** argv) {
    std::string db = playlog::DefaultPlayLogPath();
    std::string format = "text";
    bool summary = false;
    playlog::TPlayQuery query;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(PlaysUsage, stdout);
            return ExitOk;
        } else if (arg == "--summary") {
            summary = true;
        } else if (arg == "--db" || arg == "--stream" || arg == "--format" || arg == "--from" ||
                   arg == "--to") {
            if (!hasValue) return Usage((arg + " needs a value").c_str());
            const std::string value = argv[++i];
            if (arg == "--db") {
                db = value;
            } else if (arg == "--stream") {
                if (value.empty()) return Usage("--stream needs a name");
                query.Stream = value;
            } else if (arg == "--format") {
                if (value != "text" && value != "csv" && value != "json") {
                    return Usage("--format takes text, csv or json");
                }
                format = value;
            } else {
                const auto ms = playlog::ParseUserTime(value);
                if (!ms) return Usage((arg + ": not a time: " + value).c_str());
                (arg == "--from" ? query.FromMs : query.ToMs) = *ms;
            }
        } else {
            return Usage(("unknown option " + arg).c_str());
        }
    }
    try {
        const playlog::TSqlitePlayLog log(db, playlog::TSqlitePlayLog::TOpenMode::omRead);
        if (summary) {
            PrintSummary(log.Summary(query), format);
        } else {
            PrintPlays(log.Plays(query), format);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvane3-cli: %s\n", e.what());
        return ExitFailed;
    }
    return std::fflush(stdout) == 0 ? ExitOk : ExitFailed;
}

}  // namespace orvane::cli
