#include "database/TMemorySongListView.h"

#include <algorithm>
#include <cctype>

#include "base/Errors.h"

namespace orvane::database {

namespace {

int CompareCaptions(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

}  // namespace

std::int32_t FindRowOfSlot(const ISongListView& view, std::int32_t slot) {
    const std::int32_t count = view.RowCount();
    for (std::int32_t r = 0; r < count; ++r) {
        if (view.Row(r).Slot == slot) return r;
    }
    return -1;
}

std::int32_t TMemorySongListView::RowCount() const { return static_cast<std::int32_t>(FRows.size()); }

TSongRow TMemorySongListView::Row(std::int32_t row) const {
    if (row < 0 || row >= RowCount()) throw EInvalidOperation("List row out of range.");
    return FRows[static_cast<std::size_t>(row)];
}

void TMemorySongListView::AddRow(const TSongRow& row) {
    auto at = std::upper_bound(FRows.begin(), FRows.end(), row,
                               [](const TSongRow& a, const TSongRow& b) {
                                   return CompareCaptions(a.Caption, b.Caption) < 0;
                               });
    FRows.insert(at, row);
}

void TMemorySongListView::DeleteRow(std::int32_t row) {
    if (row < 0 || row >= RowCount()) throw EInvalidOperation("List row out of range.");
    if (FRows[static_cast<std::size_t>(row)].Slot == FSelectedSlot) FSelectedSlot = -1;
    FRows.erase(FRows.begin() + row);
}

void TMemorySongListView::Clear() {
    FRows.clear();
    FSelectedSlot = -1;
}

void TMemorySongListView::SetImageIndex(std::int32_t row, std::int32_t imageIndex) {
    if (row < 0 || row >= RowCount()) throw EInvalidOperation("List row out of range.");
    FRows[static_cast<std::size_t>(row)].ImageIndex = imageIndex;
}

void TMemorySongListView::SetCaption(std::int32_t row, const std::string& caption) {
    if (row < 0 || row >= RowCount()) throw EInvalidOperation("List row out of range.");
    TSongRow moved = FRows[static_cast<std::size_t>(row)];
    moved.Caption = caption;
    FRows.erase(FRows.begin() + row);
    AddRow(moved);
}

std::int32_t TMemorySongListView::SelectedRow() const {
    return FSelectedSlot < 0 ? -1 : FindRowOfSlot(*this, FSelectedSlot);
}

void TMemorySongListView::SetSelectedRow(std::int32_t row) {
    FSelectedSlot = (row < 0 || row >= RowCount()) ? -1 : FRows[static_cast<std::size_t>(row)].Slot;
}

void TMemorySongListView::SelectSlot(std::int32_t slot) {
    FSelectedSlot = FindRowOfSlot(*this, slot) >= 0 ? slot : -1;
}

}  // namespace orvane::database
