// The active channels overview "Active channels overview": one row per active channel with what
// it is playing and the position in the clip, refreshed every second while the window shows,
// and the system time in the status bar.
// Thread: main thread only. The channels are read through a reader that takes the recognition
// lock while it copies their records.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QDialog>
#include <QTimer>

#include "tracking/TDateTime.h"
#include "tracking/capInfo.h"

class QPushButton;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace orvane::app {
class TMainForm;
}
namespace orvane::recognition {
class TRecognitionLock;
}

namespace orvane::ui {

/// One channel as the overview reads it.
struct TOverviewChannel {
    /// The channel's caption as the channel reports it ("&&" stands for a literal "&").
    std::string Caption;
    /// Whether the channel is switched on.
    bool Active = false;
    /// The channel's clip record (a copy).
    tracking::capInfo Cap;
    /// The moment Cap.TimeStamp is measured against: the local time for audio in; a played file
    /// stamps its record with stream time, so there it is Cap.TimeStamp itself.
    tracking::TDateTime Now = 0.0;
};

/// Reads every channel, in channel order, under the recognition lock. Main thread.
using TChannelReader = std::function<std::vector<TOverviewChannel>()>;
/// The local date-time of the status bar. Main thread.
using TWallClock = std::function<tracking::TDateTime()>;

/// The reader of the composition root's channels (none before Init or after Shutdown). Each
/// record is a consistent copy by itself; with `lock` (not owned, may be null) all of a tick's
/// records are read under the recognition lock in one go.
TChannelReader ChannelReaderOf(const app::TMainForm& form,
                               recognition::TRecognitionLock* lock = nullptr);

/// The "Position" cell of a record that has a clip: the whole seconds since the clip's start,
/// round((now - TimeStamp) x 86400 + Pos) (halves to even, as the main window counts them), as
/// "m:ss", or "ended" once they exceed the clip's length.
std::string OverviewPosition(const tracking::capInfo& cap, tracking::TDateTime now);

class TForm10 : public QDialog {
    Q_OBJECT

public:
    /// Column indexes of View.
    enum TColumn : int { colChannel = 0, colPlaying = 1, colPosition = 2 };
    /// The tick interval while shown, milliseconds.
    static constexpr int TickIntervalMs = 1000;

    /// The window, hidden, its timer off, centred on the desktop. `reader` supplies the
    /// channels; `clock` the status bar's time (empty: the local time). `parent` owns it.
    explicit TForm10(TChannelReader reader, TWallClock clock = {}, QWidget* parent = nullptr);
    ~TForm10() override;

    /// Shows the window (not modally) and raises it; shown already, it only comes to the front.
    void ShowOverview();

    /// One refresh tick (the timer runs it every second while shown): while the window shows,
    /// the status bar's time and, when a channel's having a row differs from its being active,
    /// the rows rebuilt (one per active channel, in channel order); then the cells of every
    /// channel with a row.
    void Timer1Timer();

    // Parts for tests.
    QTreeWidget* View() const { return FView; }
    QPushButton* CloseButton() const { return FCloseButton; }
    QStatusBar* Status() const { return FStatus; }
    const QTimer& Timer1() const { return FTimer1; }
    /// How many times the rows were rebuilt.
    int Rebuilds() const { return FRebuilds; }

protected:
    /// One tick at once, then the timer; the focus goes to "&Close".
    void showEvent(QShowEvent* event) override;
    /// However the window closes, the timer stops.
    void hideEvent(QHideEvent* event) override;

private:
    void RebuildLines(const std::vector<TOverviewChannel>& channels);

    TChannelReader FReader;
    TWallClock FClock;
    QTreeWidget* FView = nullptr;
    QPushButton* FCloseButton = nullptr;
    QStatusBar* FStatus = nullptr;
    QTimer FTimer1;
    /// For every channel, the row that shows it, or null (the rows belong to View).
    std::vector<QTreeWidgetItem*> Lines;
    int FRebuilds = 0;
};

}  // namespace orvane::ui
