// The activity history: the newest 1000 activity entries as rows of the main window's history
// list, and the two semicolon-separated exports (the history and the memory listing).
// Thread: rows are added and cleared on the main thread; the activity lock inside guards the
// rows while one is added and during each export, so reading a snapshot is safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tracking/TActivityData.h"
#include "tracking/TPosting.h"

namespace orvane::tracking {

/// One row of the history list.
struct TMemoRow {
    TActivityIcon Icon = TActivityIcon::aiInformation;
    /// The entry's date-time text ("2024-03-06 14:07:21").
    std::string Caption;
    /// The entry's message, UTF-8.
    std::string Message;
    /// Whole seconds from the activity start time to the entry's time; negative for entries
    /// older than the start.
    std::int64_t Seconds = 0;

    friend bool operator==(const TMemoRow&, const TMemoRow&) = default;
};

/// Order of two history rows when the list is sorted: by seconds, then icon index, then message
/// in ordinal comparison of UTF-16 code units. Negative, 0 or positive like strcmp.
int MemoCompare(const TMemoRow& a, const TMemoRow& b);

/// Export tag of an activity icon: "[INFORMATION]", "[ATTENTION]", "[ERROR]", "[ARROW]", "[]".
std::string_view ActivityTag(TActivityIcon icon);

/// One row of the song list view as the memory listing exports it.
struct TListingRow {
    /// Song list icon: 0 enabled, 1 disabled, 6 enabled and marked, 7 disabled and marked.
    std::int32_t Icon = 0;
    /// The clip title.
    std::string Caption;
    /// Path of the fingerprint file.
    std::string Filename;
    /// The clip length as minute-second text ("3:07").
    std::string LengthText;
};

/// Export tag of a song list icon: "[ENABLED]", "[DISABLED]", "[ENABLED,X]", "[DISABLED,X]" or
/// empty.
std::string_view ListingTag(std::int32_t icon);

class TActivityHistory {
public:
    /// The history keeps this many rows; the oldest go first.
    static constexpr std::size_t MaxRows = 1000;

    /// `startTime` is the local time the main window was created (truncated here to whole
    /// seconds). `posting` reports export failures and must outlive the history.
    TActivityHistory(TDateTime startTime, const TPosting& posting);

    /// Appends the entry as a row, first pushing out the oldest row when 1000 are held.
    /// Main thread; takes the activity lock.
    void Add(const TActivityData& entry);
    /// Removes all rows. Main thread.
    void Clear();

    /// A copy of the rows, oldest first. Thread safe.
    std::vector<TMemoRow> Rows() const;
    /// Number of rows. Thread safe.
    std::size_t Count() const;
    /// The activity start time, whole seconds.
    TDateTime StartTime() const { return FStartTime; }

    /// The history as text: per row "<tag>;<caption>;<message>\r\n". Thread safe.
    std::string HistoryText() const;
    /// The memory listing as text: "Sound clips (<n>)\r\n", then per row
    /// "<tag>;<caption>;<filename>;00:<length>\r\n".
    static std::string ListingText(std::span<const TListingRow> rows);

    /// Writes the history to `fileName` (replacing it whole, UTF-8, CR LF). Returns false when
    /// the file could not be created; that is reported as an error entry through
    /// ReportFileError and nothing is written. Throws EFileError when writing fails later.
    /// Holds the activity lock throughout.
    bool SaveHistoryAs(const std::string& fileName) const;
    /// Writes the memory listing of `rows` (the song list view, top to bottom) to `fileName`;
    /// results and failures as SaveHistoryAs. Holds the activity lock throughout.
    bool SaveListingAs(const std::string& fileName, std::span<const TListingRow> rows) const;

private:
    std::string HistoryTextLocked() const;
    bool WriteExport(const std::string& fileName, std::string_view text) const;

    TDateTime FStartTime;
    const TPosting& FPosting;
    mutable std::mutex FActivityLock;
    std::deque<TMemoRow> FRows;
};

}  // namespace orvane::tracking
