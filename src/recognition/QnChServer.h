// The recognition thread: visits the channels, lets the search process every waiting block,
// publishes the signal strength, acknowledges pause requests in idle passes and sleeps briefly
// when there is nothing to do. It also keeps the settings snapshot the search reads.
// Thread: constructed, configured, started and terminated on the main thread; Execute runs on
// its own std::jthread and holds the recognition lock for each pass over the channels.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <thread>
#include <vector>

#include "database/ICandidateHistories.h"
#include "recognition/TChannelBasic.h"
#include "recognition/TRecognitionLock.h"
#include "recognition/TSearch.h"
#include "recognition/TWakeup.h"

namespace orvane::signal {
class QnKeyConversion;
}

namespace orvane::recognition {

/// Sleep after a pass in which no channel had new data, in milliseconds.
inline constexpr int IdleSleepMs = 35;

/// The user options of the snapshot, as the main thread publishes them.
struct TRecognitionOptions {
    bool Form3CheckBoxBalloonChecked = false;
    bool Form3highIntegChecked = false;
    bool Form3Checkbox2checked = false;
    bool Form3KeepLongest = true;
    /// The robust search for noisy input (TSearchSettings::RobustSearch).
    bool RobustSearch = false;
};

/// What the recognition thread reads of the main window when it refreshes its snapshot.
struct TWindowState {
    bool Visible = true;
    bool TrayVisible = false;
};

/// Priority of the recognition thread (the Priority setting).
enum class TRecognitionPriority { rpLow, rpMedium, rpHigh };

class QnChServer final : public database::ICandidateHistories {
public:
    /// A thread not yet started (pause requested and acknowledged cleared). `lock`, `search`,
    /// `converter` (whose Energy becomes the signal strength) and `settings` (the snapshot the
    /// search reads) must outlive it; none is owned.
    QnChServer(TRecognitionLock& lock, IBlockProcessor& search,
               const signal::QnKeyConversion& converter, TSearchSettings& settings);
    /// Terminate().
    ~QnChServer() override;
    QnChServer(const QnChServer&) = delete;
    QnChServer& operator=(const QnChServer&) = delete;

    /// Adds a channel to the table (it must outlive the thread) and gives it the thread's
    /// wake-up, which a channel playing a file uses to end the idle wait at once. Before Start.
    /// Main thread.
    void AddChannel(TChannelBasic& channel);
    /// Ends the current idle wait (or the next one) at once. Thread safe.
    void Wake() { FWakeup.Notify(); }
    /// Starts the loop. Once. Main thread.
    void Start();
    /// Asks the loop to end and waits for it; the loop ends at its next check. Main thread.
    void Terminate();
    /// Whether the loop runs (started and not ended). Thread safe.
    bool Running() const { return FRunning.load(std::memory_order_acquire); }

    /// Publishes the user options into the snapshot, under the recognition lock. Main thread.
    void PublishSettings(const TRecognitionOptions& options);
    /// Gives the thread the priority for the setting (low: below normal, medium: normal, high:
    /// above normal, as nice values of the thread). Returns false when the system refuses
    /// (raising priority usually needs a privilege); the thread then keeps its priority.
    /// After Start. Main thread.
    bool SetPriority(TRecognitionPriority priority);

    /// The window state, asked at start and after every idle pass. Recognition thread; it must
    /// be thread safe. Unset: the snapshot's window fields stay as they are.
    std::function<TWindowState()> OnQueryWindow;

    /// Identifier of the recognition thread (0 before it runs). Thread safe.
    std::int64_t ThreadID() const { return FThreadID.load(); }
    /// Passes over the channels so far. Thread safe.
    std::int64_t PassCount() const { return FPassCount.load(); }

    /// Clears, in every channel's history, each entry that holds `song`. Main thread, while
    /// recognition is paused.
    void ForgetFingerprint(const fingerprint::ISongServer& song) override;
    /// Releases every reference held in every channel's history. Main thread, paused.
    void ReleaseAll() override;

    /// The loop: until terminated, one pass after another (see Pass), waiting 35 ms after an
    /// idle pass unless woken earlier (Wake: a file channel's new data or end; Terminate).
    /// Recognition thread.
    void Execute(std::stop_token stop);
    /// One pass: under the recognition lock, unless a pause is requested, every active channel
    /// with new data (starting with a different channel each pass) is emptied; returns whether
    /// any was. After an idle pass, pause acknowledged := pause requested under the lock.
    /// Recognition thread (tests may call it instead of running the thread).
    bool Pass();

private:
    void RefreshWindow();

    TRecognitionLock& FLock;
    IBlockProcessor& FSearch;
    const signal::QnKeyConversion& FConverter;
    TSearchSettings& FSettings;
    std::vector<TChannelBasic*> FChannels;
    std::int64_t FPassNumber = 0;
    std::atomic<std::int64_t> FThreadID{0};
    std::atomic<std::int64_t> FPassCount{0};
    std::atomic<std::int32_t> FNativeTid{0};
    std::atomic<bool> FRunning{false};
    TWakeup FWakeup;
    std::jthread FThread;
};

}  // namespace orvane::recognition
