// The deletion list's Apply: marks with an X every fingerprint row whose title the user listed,
// and leaves in the list the titles that matched no row. Nothing is deleted.
// Thread: main thread (it changes row icons and pumps window events).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "database/TSongList.h"
#include "tracking/IClock.h"

namespace orvane::database {

/// The message when lines are left after Apply.
inline constexpr std::string_view NotAllMatchedMessage = "Not all titles could be matched.";

/// What Apply left.
struct TDeletionListResult {
    /// The lines that matched no row, in their order (the memo's new content).
    std::vector<std::string> Lines;
    /// The user cancelled; the matching ended early (no message is due then).
    bool Cancelled = false;
};

/// Upper-cases (ASCII letters) and trims characters up to the blank at both ends.
std::string DeletionListKey(std::string_view text);

/// For each line in order, for each row of the song list's view in order: when the row's decoded
/// title and the line are equal after DeletionListKey, the line is emptied and the row, when its
/// icon is below 6, gets 6 added (the X mark). Once more than 0.5 s have passed since the start,
/// `processMessages` runs between rows and a set `doCancel` is reset and ends the matching.
/// Empty lines are removed from the result.
TDeletionListResult ApplyDeletionList(std::vector<std::string> lines, const TSongList& songs,
                                      const tracking::IClock& clock,
                                      const std::function<void()>& processMessages,
                                      bool& doCancel);

}  // namespace orvane::database
