// The fingerprint list kept in memory, for the command-line tool and tests: rows ordered by
// caption as the window's sorted list orders them, a selection, and the tab caption.
// Thread: main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "database/ISongListView.h"

namespace orvane::database {

class TMemorySongListView final : public ISongListView {
public:
    std::int32_t RowCount() const override;
    TSongRow Row(std::int32_t row) const override;
    /// Inserts after every row whose caption is not greater, compared case-insensitively
    /// (ASCII), so equal captions keep their arrival order.
    void AddRow(const TSongRow& row) override;
    void DeleteRow(std::int32_t row) override;
    void Clear() override;
    void SetImageIndex(std::int32_t row, std::int32_t imageIndex) override;
    void SetCaption(std::int32_t row, const std::string& caption) override;
    std::int32_t SelectedRow() const override;
    void SetSoundClipsCaption(const std::string& caption) override { FSoundClipsCaption = caption; }

    /// Selects the row (-1: none). The selection follows its row when rows move.
    void SetSelectedRow(std::int32_t row);
    /// Selects the row that shows `slot` (none when no row does).
    void SelectSlot(std::int32_t slot);
    const std::string& SoundClipsCaption() const { return FSoundClipsCaption; }
    const std::vector<TSongRow>& Rows() const { return FRows; }

private:
    std::vector<TSongRow> FRows;
    // The selected row's slot: it stays with its row when rows are inserted or moved.
    std::int32_t FSelectedSlot = -1;
    std::string FSoundClipsCaption = "Sound clips (0)";
};

}  // namespace orvane::database
