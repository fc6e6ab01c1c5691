// The progress side of a fingerprinting run shown in the progress dialog: a host of the run
// derives from this and adds where its messages and fingerprints go.
// Thread: main thread only.
#pragma once

#include <string>

#include "audio/FptExtract.h"
#include "ui/TForm11.h"

namespace orvane::ui {

/// Forwards the run's progress hooks to `dialog` (not owned; must outlive this object).
class TExtractProgress : public audio::IExtractHost {
public:
    explicit TExtractProgress(TForm11& dialog) : FDialog(dialog) {}

    void ShowStats(const std::string& caption) override { FDialog.ShowStats(caption); }
    void SetState(float share) override { FDialog.SetState(static_cast<double>(share)); }
    bool Cancelled() override { return FDialog.Cancelled(); }
    void HideStats() override { FDialog.HideStats(); }
    /// A cancelled run only hides the dialog, so the batch around it still sees Cancelled.
    void HideDialog() override { FDialog.HideDialog(); }

protected:
    TForm11& FDialog;
};

}  // namespace orvane::ui
