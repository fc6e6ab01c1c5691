// The fingerprint list of the main window as the song list and the library see it: rows of
// loaded fingerprints with icon, title and duration, the selected row, and the tab caption
// "Sound clips (%d)". The Qt window implements it; TMemorySongListView serves tests and the CLI.
// Thread: main thread only.
#pragma once

#include <cstdint>
#include <string>

namespace orvane::database {

/// Row icons of the fingerprint list (indexes into the shared small image list).
enum class TSongIcon : std::int32_t {
    siEnabled = 0,
    siDisabled = 1,
    siEnabledX = 6,   ///< enabled, marked for deletion
    siDisabledX = 7,  ///< disabled, marked for deletion
};

/// One row of the fingerprint list.
struct TSongRow {
    /// Image index: 0 enabled, 1 disabled, 6 enabled with the X mark, 7 disabled with it.
    std::int32_t ImageIndex = 0;
    /// The decoded title.
    std::string Caption;
    /// The fingerprint's duration as minute-second text ("3:07").
    std::string DurationText;
    /// The row's data: the song list slot the row shows.
    std::int32_t Slot = -1;

    friend bool operator==(const TSongRow&, const TSongRow&) = default;
};

class ISongListView {
public:
    virtual ~ISongListView() = default;
    /// Number of rows.
    virtual std::int32_t RowCount() const = 0;
    /// Row `row` (0 <= row < RowCount()).
    virtual TSongRow Row(std::int32_t row) const = 0;
    /// Adds a row; the list keeps its rows ordered by caption, so the row may land anywhere.
    virtual void AddRow(const TSongRow& row) = 0;
    /// Deletes row `row`.
    virtual void DeleteRow(std::int32_t row) = 0;
    /// Deletes every row.
    virtual void Clear() = 0;
    virtual void SetImageIndex(std::int32_t row, std::int32_t imageIndex) = 0;
    /// Changes a row's caption; the row may move to keep the order.
    virtual void SetCaption(std::int32_t row, const std::string& caption) = 0;
    /// The selected row, -1 when none is.
    virtual std::int32_t SelectedRow() const = 0;
    /// The caption of the tab that holds the list ("Sound clips (12)").
    virtual void SetSoundClipsCaption(const std::string& caption) = 0;
};

/// The first row whose data is `slot`, -1 when there is none.
std::int32_t FindRowOfSlot(const ISongListView& view, std::int32_t slot);

}  // namespace orvane::database
