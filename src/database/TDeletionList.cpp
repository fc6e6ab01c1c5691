#include "database/TDeletionList.h"

#include <algorithm>
#include <cstdint>

#include "fingerprint/FptFile.h"

namespace orvane::database {

std::string DeletionListKey(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
    std::string key(text.substr(begin, end - begin));
    for (char& c : key) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return key;
}

TDeletionListResult ApplyDeletionList(std::vector<std::string> lines, const TSongList& songs,
                                      const tracking::IClock& clock,
                                      const std::function<void()>& processMessages,
                                      bool& doCancel) {
    ISongListView& view = songs.View();
    const std::int64_t start = clock.MonotonicMs();
    // Each row's key once, not once per line.
    const std::int32_t rowCount = view.RowCount();
    std::vector<std::string> rowKeys(static_cast<std::size_t>(rowCount));
    for (std::int32_t r = 0; r < rowCount; ++r) {
        const TSongRow row = view.Row(r);
        const fingerprint::ISongServer* song = songs.SongServer(row.Slot);
        rowKeys[static_cast<std::size_t>(r)] =
            DeletionListKey(song != nullptr ? fingerprint::TitleOf(*song->SongFile()) : row.Caption);
    }

    TDeletionListResult result;
    bool stop = false;
    for (std::string& line : lines) {
        if (stop) break;
        std::string lineKey = DeletionListKey(line);
        for (std::int32_t r = 0; r < rowCount; ++r) {
            if (clock.MonotonicMs() - start > 500) {
                if (processMessages) processMessages();
                if (doCancel) {
                    doCancel = false;
                    result.Cancelled = true;
                    stop = true;
                    break;
                }
            }
            // A matched line is emptied and matches no further row; loaded titles are unique anyway.
            if (rowKeys[static_cast<std::size_t>(r)] == lineKey) {
                line.clear();
                lineKey.clear();
                const std::int32_t icon = view.Row(r).ImageIndex;
                if (icon < 6) view.SetImageIndex(r, icon + 6);
            }
        }
    }
    for (std::string& line : lines) {
        if (!line.empty()) result.Lines.push_back(std::move(line));
    }
    return result;
}

}  // namespace orvane::database
