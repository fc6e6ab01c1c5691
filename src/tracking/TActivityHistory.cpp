#include "tracking/TActivityHistory.h"

#include <cmath>
#include <string>

#include "tracking/ReportFileError.h"
#include "tracking/TAtomicFile.h"

namespace orvane::tracking {

namespace {

constexpr double MsPerDay = 86'400'000.0;

// Milliseconds of a day span; far-off or broken values are clamped so the conversion is defined.
std::int64_t SpanMs(double days) {
    const double ms = days * MsPerDay;
    if (!std::isfinite(ms)) {
        return 0;
    }
    constexpr double Limit = 9.0e15;
    return std::llround(ms < -Limit ? -Limit : (ms > Limit ? Limit : ms));
}

// UTF-8 to UTF-16 code units; a malformed byte becomes U+FFFD, so every input compares.
std::u16string ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const auto lead = static_cast<unsigned char>(s[i]);
        std::size_t length = 0;
        char32_t cp = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            length = 1;
            cp = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            cp = lead & 0x1Fu;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            cp = lead & 0x0Fu;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            cp = lead & 0x07u;
            minimum = 0x10000;
        }
        bool valid = length > 0 && i + length <= s.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(s[i + k]);
            valid = (next & 0xC0u) == 0x80u;
            cp = (cp << 6) | (next & 0x3Fu);
        }
        valid = valid && cp >= minimum && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        if (!valid) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FFu)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += length;
    }
    return out;
}

}  // namespace

int MemoCompare(const TMemoRow& a, const TMemoRow& b) {
    if (a.Seconds != b.Seconds) {
        return a.Seconds < b.Seconds ? -1 : 1;
    }
    const auto iconA = static_cast<std::int32_t>(a.Icon);
    const auto iconB = static_cast<std::int32_t>(b.Icon);
    if (iconA != iconB) {
        return iconA < iconB ? -1 : 1;
    }
    // UTF-16 order differs from UTF-8 byte order between U+E000..U+FFFF and the supplementary
    // planes, so the messages are compared as code units.
    const int order = ToUtf16(a.Message).compare(ToUtf16(b.Message));
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

std::string_view ActivityTag(TActivityIcon icon) {
    switch (icon) {
        case TActivityIcon::aiInformation:
            return "[INFORMATION]";
        case TActivityIcon::aiAttention:
            return "[ATTENTION]";
        case TActivityIcon::aiError:
            return "[ERROR]";
        case TActivityIcon::aiArrow:
            return "[ARROW]";
    }
    return "[]";
}

std::string_view ListingTag(std::int32_t icon) {
    switch (icon) {
        case 0:
            return "[ENABLED]";
        case 1:
            return "[DISABLED]";
        case 6:
            return "[ENABLED,X]";
        case 7:
            return "[DISABLED,X]";
        default:
            return "";
    }
}

TActivityHistory::TActivityHistory(TDateTime startTime, const TPosting& posting)
    : FPosting(posting) {
    std::int64_t ms = SpanMs(startTime);
    ms -= ((ms % 1000) + 1000) % 1000;
    FStartTime = static_cast<double>(ms) / MsPerDay;
}

void TActivityHistory::Add(const TActivityData& entry) {
    TMemoRow row;
    row.Icon = entry.Icon;
    row.Caption = DateTimeText(entry.DT);
    row.Message = entry.Str;
    // Rounded to milliseconds first: an entry 5 s after the start must not come out as
    // 4.9999999 s through the day fraction's rounding error.
    row.Seconds = SpanMs(entry.DT - FStartTime) / 1000;
    std::lock_guard activityLock(FActivityLock);
    if (FRows.size() >= MaxRows) {
        FRows.pop_front();
    }
    FRows.push_back(std::move(row));
}

void TActivityHistory::Clear() {
    // Taken although rows change only on the main thread: a snapshot may be read elsewhere.
    std::lock_guard activityLock(FActivityLock);
    FRows.clear();
}

std::vector<TMemoRow> TActivityHistory::Rows() const {
    std::lock_guard activityLock(FActivityLock);
    return {FRows.begin(), FRows.end()};
}

std::size_t TActivityHistory::Count() const {
    std::lock_guard activityLock(FActivityLock);
    return FRows.size();
}

std::string TActivityHistory::HistoryText() const {
    std::lock_guard activityLock(FActivityLock);
    return HistoryTextLocked();
}

std::string TActivityHistory::HistoryTextLocked() const {
    std::string text;
    for (const TMemoRow& row : FRows) {
        text += ActivityTag(row.Icon);
        text += ';';
        text += row.Caption;
        text += ';';
        text += row.Message;
        text += "\r\n";
    }
    return text;
}

std::string TActivityHistory::ListingText(std::span<const TListingRow> rows) {
    std::string text = "Sound clips (" + std::to_string(rows.size()) + ")\r\n";
    for (const TListingRow& row : rows) {
        text += ListingTag(row.Icon);
        text += ';';
        text += row.Caption;
        text += ';';
        text += row.Filename;
        text += ";00:";
        text += row.LengthText;
        text += "\r\n";
    }
    return text;
}

bool TActivityHistory::WriteExport(const std::string& fileName, std::string_view text) const {
    const int errorCode = ReplaceFileContents(fileName, text);
    if (errorCode != 0) {
        ReportFileError(FPosting, fileName, {}, errorCode, nullptr);
        return false;
    }
    return true;
}

bool TActivityHistory::SaveHistoryAs(const std::string& fileName) const {
    std::lock_guard activityLock(FActivityLock);
    return WriteExport(fileName, HistoryTextLocked());
}

bool TActivityHistory::SaveListingAs(const std::string& fileName,
                                     std::span<const TListingRow> rows) const {
    std::lock_guard activityLock(FActivityLock);
    return WriteExport(fileName, ListingText(rows));
}

}  // namespace orvane::tracking
