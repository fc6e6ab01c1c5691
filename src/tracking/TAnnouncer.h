// Spoken announcements of newly heard clips: the text to speak, the queue of texts waiting, and
// the one speech worker thread that speaks them, oldest first, through a speech voice.
// Thread: AnnounceClip, SetEnabled and Shutdown on the main thread; the speech worker reads and
// removes queued texts; the queue lock guards every single queue operation, and the worker
// speaks outside it.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace orvane::tracking {

/// One text-to-speech voice. A speech worker creates its own voice, speaks through it and
/// releases it before ending.
class ISpeechVoice {
public:
    virtual ~ISpeechVoice() = default;
    /// Speaks `text` (UTF-8, plain text, no markup) and returns when it has been spoken.
    /// Throws EError when the speech engine fails. Called on the speech worker thread only.
    virtual void Speak(const std::string& text) = 0;
    /// Asks a running or later Speak to stop as soon as it can and return. Never blocks and
    /// never throws. Thread safe (called from the main thread while the worker speaks).
    virtual void Abort() = 0;
};

/// Makes the voice of one speech worker; throws EError when no speech engine can be used.
/// Called on the speech worker thread.
using TVoiceFactory = std::function<std::unique_ptr<ISpeechVoice>()>;

/// One row of the respelling table: every occurrence of `From` (ignoring ASCII case) becomes
/// `To`.
struct TRespelling {
    std::string_view From;
    std::string_view To;
};

/// The respelling table, applied to the artist part of a title in this order: "_" and "."
/// removed, " feat " and " ft " spoken as " featuring ", and three singers' names respelled so
/// the speech engine says them right ("beyonce", "bjork", "sinead").
inline constexpr std::array<TRespelling, 7> RespellingTable{{
    {"_", ""},
    {".", ""},
    {" feat ", " featuring "},
    {" ft ", " featuring "},
    {"beyonce", "bee yon say"},
    {"bjork", "byerk"},
    {"sinead", "shin aid"},
}};

/// `text` with every row of the respelling table applied in table order. Thread: any.
std::string Respell(std::string_view text);

/// Lower-cases UTF-8 text: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic capitals;
/// everything else (and malformed bytes) unchanged. Thread: any.
std::string LowerText(std::string_view text);

/// The text spoken for clip `title` heard on the channel with display caption `caption`.
/// Every "*" of the title is dropped. A title with a "-" is read as "artist-song": the song
/// part, " -.-- by ", the artist part (lower-cased, "_" as blanks, respelled), " -.-- on " and
/// the caption, with blanks trimmed at both ends. A title without "-" is spoken as it stands,
/// followed by " -.-- on " and the caption. Thread: any.
std::string SpeechText(std::string_view title, std::string_view caption);

class TAnnouncer {
public:
    /// Where a speech worker that is about to end stands; see OnWorkerEnding.
    enum class TWorkerPhase {
        wpFoundQueueEmpty,  ///< saw an empty queue, has not yet cleared its record
        wpRecordCleared,    ///< cleared its record and released its voice; about to return
    };

    /// `voiceFactory` makes the voice of each worker; owned.
    explicit TAnnouncer(TVoiceFactory voiceFactory);
    /// Shutdown with its default wait.
    ~TAnnouncer();
    TAnnouncer(const TAnnouncer&) = delete;
    TAnnouncer& operator=(const TAnnouncer&) = delete;

    /// The "Announce songs via speaker" setting; off by default. Thread safe.
    void SetEnabled(bool enabled);
    bool Enabled() const;

    /// Queues the speech text of `title` on the channel `caption` and starts a speech worker
    /// when none runs; does nothing while announcing is off or after Shutdown. Never waits for
    /// speech. Main thread.
    void AnnounceClip(std::string_view title, std::string_view caption);

    /// Stops speaking: no worker starts any more and a running worker takes no further text;
    /// waits up to `wait` for it to finish the text it speaks, then aborts that text and joins
    /// the worker. Texts still queued are not spoken. Main thread; idempotent.
    void Shutdown(std::chrono::milliseconds wait = std::chrono::milliseconds(3000));

    /// Texts waiting (the one being spoken included). Thread safe; may change at once.
    std::size_t QueuedCount() const;
    /// The queued texts, oldest first. Thread safe; a snapshot.
    std::vector<std::string> QueuedTexts() const;
    /// Whether a speech worker is recorded as running. Thread safe; may change at once.
    bool WorkerRunning() const;
    /// Number of speech workers started so far. Thread safe.
    std::size_t WorkersStarted() const;

    /// Called with the message of a speech engine failure that ended the worker, on the speech
    /// worker thread (on the main thread when no worker thread could be started); the texts
    /// stay queued and the next announcement tries again. Set before the first announcement.
    std::function<void(const std::string& message)> OnSpeechError;
    /// Test hook: called on the speech worker thread at the two points where a worker ends,
    /// so a test can append an announcement right there. Set before the first announcement.
    std::function<void(TWorkerPhase phase)> OnWorkerEnding;

private:
    void WorkerMain(std::shared_ptr<std::thread> predecessor);
    void ReportError(const std::string& message);

    TVoiceFactory FVoiceFactory;

    mutable std::mutex FLock;  // guards every field below
    std::condition_variable FWorkerEnded;
    std::deque<std::string> FQueue;
    bool FEnabled = false;
    bool FStopping = false;
    bool FWorkerActive = false;
    std::size_t FWorkersStarted = 0;
    ISpeechVoice* FCurrentVoice = nullptr;  // the running worker's voice, for Abort
    // The newest worker; each worker joins its predecessor before it makes its voice, so at
    // most one voice exists at a time and joining this joins them all.
    std::thread FWorker;
};

}  // namespace orvane::tracking
