// The composition root of the desktop application, without widgets: it owns the song list, the
// key index, the line-key converter, the match verifier, the recognition thread with its search,
// the recognition pause, channel 0, the song tracker, the settings store, the library, the
// command handler, the event table, the announcer and the tray notices; it runs the start
// sequence, handles the messages other threads post, and shuts everything down in order. The
// main window shows what it is told through IMainFormView.
// Thread: main thread only (the thread that created it); the recognition thread, a file
// channel's reading thread and the speech worker reach it only through posted messages.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QTimer>

#include "app/IMainThreadHandler.h"
#include "app/RegStuff.h"
#include "app/TCommandHandler.h"
#include "database/ICandidateHistories.h"
#include "database/ILibraryUi.h"
#include "database/ISongListView.h"
#include "recognition/IAudioCapture.h"
#include "tracking/TAnnouncer.h"
#include "tracking/TTrayNotices.h"
#include "tracking/capInfo.h"

namespace orvane::snapshot {
class IndexSnapshotCache;
}

namespace orvane::database {
class TFptLibrary;
class TMediumDB;
class TSongList;
}  // namespace orvane::database
namespace orvane::playlog {
class TPlayLogRecorder;
class TSqlitePlayLog;
}  // namespace orvane::playlog
namespace orvane::recognition {
class FptRecorder;
class QnChServer;
class QnCheckKey;
class TChannel;
class TRecognitionLock;
class TRecognitionPause;
class TSearch;
struct TSearchSettings;
}  // namespace orvane::recognition
namespace orvane::signal {
class QnKeyConversion;
}
namespace orvane::tracking {
class TActivityHistory;
class IRecognitionPause;
class TEventServe;
class TLogSystem;
class TMemoryGuard;
class TPosting;
class TSystemClock;
class TSystemMemoryStatus;
}  // namespace orvane::tracking

namespace orvane::app {

class TEventReg;
class TEventRunner;
class TQtPoster;

/// The caption the window shows until the start sequence sets its own.
inline constexpr char ApplicationTitle[] = "Quendal Music Database";
/// The main window's caption once started.
inline constexpr char MainWindowCaption[] = "Quendal Music Database 3.2";
/// The second welcome line of every start.
inline constexpr char HelpAboutText[] = "Please see the information in Help/About";
/// The label texts of a channel without a recognised clip (each ends in two blanks).
inline constexpr char ChannelNotActiveText[] = "Channel is not active  ";
inline constexpr char NoClipDetectedText[] = "No sound clip detected  ";

/// The product's web site ("&Visit our website...").
inline constexpr char ProductWebsite[] = "https://orvane3.example.org/";
/// The activity text of a tray icon that would not appear or go away.
inline constexpr char TrayErrorText[] = "Error accessing system tray";

/// The first welcome line: names the product.
std::string WelcomeText();

/// What the channel panel shows of a channel's clip record at one moment.
struct TChannelCaption {
    /// The label text, "&" doubled so that it shows literally.
    std::string Text;
    /// Bold while a clip is recognised, italic otherwise.
    bool Bold = false;
    /// The position slider (0 ... 1999) and whether it is shown.
    std::int32_t SliderPos = 0;
    bool SliderVisible = false;
    /// The position text "m:ss" or "ended"; empty without a clip.
    std::string LastTime;
};

/// The caption refresh of one channel: `cap` its record, `active` whether it is on, `now` the
/// local time; `textWidth` measures a text in the label's font (pixels) and `maxWidth` is the
/// room for the title (the panel's width − 200). A title wider than the room loses characters
/// from its end (never the last one) and gets "..." appended. Pure.
TChannelCaption CaptionRefresh(const tracking::capInfo& cap, bool active, double now,
                               const std::function<int(const std::string& text)>& textWidth,
                               int maxWidth);

/// Moves `path` to the desktop's trash (the freedesktop.org trash of the user); false when
/// there is none or the move failed. Main thread.
bool MoveFileToTrash(const std::string& path);

/// The text of an action that failed: "Error while executing action. (@<code>:<message>)".
std::string ActionErrorText(std::int32_t code, const std::string& message);

/// The window side the composition root talks to. All of it must outlive the root.
class IMainFormView {
public:
    virtual ~IMainFormView() = default;
    /// The fingerprint list.
    virtual database::ISongListView& SongListView() = 0;
    /// Message boxes, questions and the library dialogs.
    virtual database::ILibraryWindow& LibraryWindow() = 0;
    /// The progress dialog "Please wait...".
    virtual database::IProgressDialog& ProgressDialog() = 0;
    /// The tray icon's hint and balloons.
    virtual tracking::ITrayDisplay& TrayDisplay() = 0;
    /// The activity history changed (a row added or the history cleared).
    virtual void HistoryChanged() = 0;
    /// The channel panel must show the channel's state again (PanelRefresh).
    virtual void PanelRefresh() = 0;
    /// The fingerprint folder held no fingerprint at start: the first-steps window, once.
    virtual void FirstStepsTip() = 0;
};

/// Makes the capture device of a channel (the sound server's by default; tests give a fake).
using TCaptureFactory = std::function<std::unique_ptr<recognition::IAudioCapture>()>;

/// How the root is set up.
struct TMainFormOptions {
    /// Where the settings live.
    TSettingsLocation Location = TSettingsLocation::User();
    /// The capture device of channel 0; empty: the sound server's capture.
    TCaptureFactory MakeCapture;
    /// The speech voice; empty: no voice (announcements are dropped).
    tracking::TVoiceFactory MakeVoice;
    /// The process's parameters 1 ... N, handled as commands at start.
    std::vector<std::string> Parameters;
    /// The play log that keeps every log line of the tracker. Empty: beside the settings file
    /// for a store in a file ("plays.sqlite" in its folder), else the user's default
    /// ($XDG_DATA_HOME/orvane3/plays.sqlite).
    std::string PlayLogPath;
};

/// The play log file of `options` (see TMainFormOptions::PlayLogPath).
std::string PlayLogPathOf(const TMainFormOptions& options);

class TMainForm final : public IMainThreadHandler {
public:
    /// Nothing is created until Init. `view` must outlive the root.
    TMainForm(IMainFormView& view, TMainFormOptions options);
    /// Shutdown() unless done.
    ~TMainForm() override;
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    /// The start sequence: tray notices, the welcome entries, the song list, the event table,
    /// the recognition thread, the verifier, the converter, the key index, channel 0 and the
    /// tracker; the settings loaded and saved; events loaded; the recognition thread started
    /// with its priority; the command line handled, the index optimised; with ActiveOnLoad the
    /// folder reloaded and the channel activated; last the tracker's 500 ms timer. Once.
    /// Errors propagate (the program ends with their message).
    void Init();
    /// Whether Init has begun.
    bool Started() const { return FStarted; }
    /// Messages that came up while Init ran (a channel whose audio input cannot be opened)
    /// wait until the main window is shown: this shows them, in order. Later ones are shown
    /// at once.
    void ShowDeferredMessages();

    /// The shutdown sequence: recognition paused for good, the tracker freed (logging every
    /// clip still tracked), the recognition thread ended, the channel switched off and freed,
    /// then the rest in order. Errors are swallowed. Later calls do nothing.
    void Shutdown();

    /// One command of the command line or of a later start. Main thread.
    void HandleCommand(const std::string& command);
    /// The commands a later start forwarded: handled in order, the index optimised once when
    /// the number of loaded fingerprints changed.
    void HandleForwardedCommands(const std::vector<std::string>& commands);
    /// Dropped files: under the pause, more than 48 mark the index unsorted first; each one
    /// handled as a command until the progress dialog is cancelled; then the index optimised.
    /// A refused memory guard makes the drop do nothing.
    void DropFiles(const std::vector<std::string>& paths);

    /// "&Take fingerprint of an audio file...": the file chosen by `choose` fingerprinted under
    /// the pause, then the index optimised (TCommandHandler::MenuItemExtractWavClick).
    void MenuItemExtractWavClick(const TChooseAudioFile& choose);
    /// "Take fingerprints of &all audio files in batch conversion folder" over the batch
    /// folder of the settings (TCommandHandler::MenuItemExtractAllWavClick).
    void MenuItemExtractAllWavClick();

    /// Space in the fingerprint list: toggles the in-memory mark (bit 0 of Options) of the
    /// fingerprint in song list slot `slot` and returns the row's new icon (0/1 unmarked,
    /// 6/7 marked, by enabled/disabled); -1 when the slot holds no fingerprint.
    std::int32_t ToggleMark(std::int32_t slot);
    /// Whether the fingerprint of song list slot `slot` is enabled (false for an empty slot).
    bool FingerprintEnabled(std::int32_t slot) const;

    /// After the preferences closed (OK or Cancel): the recognition thread's option copies and
    /// the library's fingerprint folder taken again from the settings.
    void PublishOptions();

    /// The history exported as CSV into `fileName`; a failure is reported as an activity entry.
    bool SaveHistoryAs(const std::string& fileName);
    /// The memory listing (the fingerprint list's rows) exported as CSV into `fileName`.
    bool SaveListingAs(const std::string& fileName);

    /// F5 and ActiveOnLoad: channel 0 on under the pause, panel refresh, "Listening to 1
    /// channels...".
    void ActivateAllChannels();
    /// Channel 0 off (no pause), panel refresh, "Stopped...".
    void DeactivateAllChannels();
    /// The active box: channel 0 on or off. A capture that cannot start is shown in a message box.
    void SetChannelActive(bool active);
    /// Renames channel 0 (`name` as the user typed it: "&" shows literally) and saves the
    /// settings.
    void RenameChannel(const std::string& name);
    /// The channel's caption with "&&" turned back into "&" (the rename box's initial text).
    std::string ChannelNameForEdit() const;

    /// The caption refresh of channel 0 (under the recognition lock) for a title room of
    /// `maxWidth` pixels measured by `textWidth`. Before Init: the inactive text.
    TChannelCaption RefreshCaption(const std::function<int(const std::string& text)>& textWidth,
                                   int maxWidth) const;
    /// Integrity (0 ... 100) and signal strength of channel 0.
    std::int32_t IntegrityPosition() const;
    std::int32_t SignalStrengthPosition() const;
    /// Whether channel 0 is on.
    bool ChannelActive() const;
    /// The side suffix of channel 0's active box: "", ", L" or ", R".
    std::string ChannelSideSuffix() const;

    /// Switches channel 0 to play `fileName` instead of audio in (off first). Main thread.
    void PlayFile(const std::string& fileName);

    /// The tracker's timer step (also run by the 500 ms timer).
    void LogStep();

    // IMainThreadHandler: what other threads post.
    void AddActivity(tracking::TActivityData entry) override;
    void TrayHint(std::string hint) override;
    void ShowBalloon(tracking::TTwoStr balloon) override;
    void HideBalloon() override;
    void Announce(tracking::TTwoStr clip) override;
    void DuplicateDisabled(TRefPtr<TRefCounted> fingerprint) override;
    void ChannelDone(std::int32_t channel) override;
    void UndefinedAction(std::int32_t code) override;
    void UnhandledAction(std::int32_t code, std::int64_t lParam) override;
    /// The balloon timer's tick (6000 ms after a balloon).
    void BalloonTimerTick();

    /// Posts an activity entry with the current time.
    void PostActivity(const std::string& text, tracking::TActivityIcon icon);

    // The parts, for the window and tests. Null before Init and after Shutdown.
    TSettingsStore& SettingsStore() { return *FSettings; }
    tracking::TActivityHistory& History() { return *FHistory; }
    database::TSongList* SongList() const { return FSongList.get(); }
    database::TMediumDB* MainDB() const { return FMainDB.get(); }
    database::TFptLibrary* Library() const { return FLibrary.get(); }
    TCommandHandler* Commands() const { return FCommands.get(); }
    recognition::TChannel* Channel() const { return FChannel.get(); }
    recognition::QnChServer* RecognitionThread() const { return FRecognitionThread.get(); }
    tracking::TLogSystem* LogSystem() const { return FLogSystem.get(); }
    /// The play log; null when it could not be opened (reported as an error entry at start).
    playlog::TSqlitePlayLog* PlayLog() const { return FPlayLog.get(); }
    tracking::TTrayNotices* TrayNotices() const { return FTrayNotices.get(); }
    tracking::IRecognitionPause& Pause();
    /// The captures from audio in that the search fills.
    recognition::FptRecorder* Recorder() const { return FRecorder.get(); }
    /// The lock of everything the recognition thread reads.
    recognition::TRecognitionLock* RecognitionLock() const { return FLock.get(); }
    /// The event table.
    tracking::TEventServe* EventServe() const { return FEvents.get(); }
    /// Where the settings live.
    const TSettingsLocation& Location() const { return FOptions.Location; }
    const tracking::TPosting& Posting() const { return *FPosting; }
    /// The tracker's timer (500 ms once started).
    QTimer& LogTimer() { return FLogTimer; }
    /// The balloon timer (6000 ms, single shot).
    QTimer& BalloonTimer() { return FBalloonTimer; }

private:
    /// Forwards to the recognition thread once it exists (the song list is made before it).
    class THistoriesForwarder;

    template <class TAction>
    void RunAction(std::int32_t code, TAction&& action);
    void ApplySettingsToLibrary();

    IMainFormView& FView;
    TMainFormOptions FOptions;
    bool FStarted = false;
    bool FShutDown = false;
    bool FDeferMessages = false;
    std::vector<std::string> FDeferredMessages;

    std::unique_ptr<tracking::TSystemClock> FClock;
    std::unique_ptr<TQtPoster> FPoster;
    std::unique_ptr<tracking::TPosting> FPosting;
    std::unique_ptr<tracking::TSystemMemoryStatus> FMemory;
    std::unique_ptr<tracking::TMemoryGuard> FGuard;
    std::unique_ptr<tracking::TActivityHistory> FHistory;
    std::unique_ptr<tracking::TTrayNotices> FTrayNotices;
    std::unique_ptr<recognition::TRecognitionLock> FLock;
    std::unique_ptr<recognition::TRecognitionPause> FPause;
    std::unique_ptr<THistoriesForwarder> FHistories;
    std::unique_ptr<database::TSongList> FSongList;
    std::unique_ptr<tracking::TAnnouncer> FAnnouncer;
    std::unique_ptr<TEventRunner> FEventRunner;
    std::unique_ptr<tracking::TEventServe> FEvents;
    std::unique_ptr<recognition::TSearchSettings> FSearchSettings;
    std::unique_ptr<signal::QnKeyConversion> FConverter;
    std::unique_ptr<recognition::QnCheckKey> FVerifier;
    std::unique_ptr<database::TMediumDB> FMainDB;
    // Declared before the search, which feeds it: the search goes first.
    std::unique_ptr<recognition::FptRecorder> FRecorder;
    std::unique_ptr<recognition::TSearch> FSearch;
    std::unique_ptr<recognition::QnChServer> FRecognitionThread;
    std::unique_ptr<recognition::TChannel> FChannel;
    // Declared before the tracker, whose shutdown completes the open plays through them.
    std::unique_ptr<playlog::TSqlitePlayLog> FPlayLog;
    std::unique_ptr<playlog::TPlayLogRecorder> FPlayRecorder;
    std::unique_ptr<tracking::TLogSystem> FLogSystem;
    std::unique_ptr<TSettingsStore> FSettings;
    // The library's reloads keep their result here; it outlives the library.
    std::unique_ptr<snapshot::IndexSnapshotCache> FSnapshotCache;
    std::unique_ptr<database::TFptLibrary> FLibrary;
    std::unique_ptr<TCommandHandler> FCommands;
    QTimer FLogTimer;
    QTimer FBalloonTimer;
};

}  // namespace orvane::app
