// A channel with its two sources: a capture device (audio in) or an audio file played by a
// reading thread of its own as fast as the recognition thread analyses it (file mode).
// Thread: configured and switched on the main thread while off; in file mode the reading thread
// fills the stream ring and, at the end of the file, switches the channel off itself (it then
// hands its own thread object over instead of waiting for its own end).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "audio/FptExtract.h"
#include "audio/uOpenAudio.h"
#include "recognition/IAudioCapture.h"
#include "recognition/TChannelBasic.h"

namespace orvane::recognition {

class TChannel;

/// The reading thread of a channel that plays a file.
class TManualChannelThread {
public:
    /// A thread not yet started. `parent` must outlive it.
    TManualChannelThread(TChannel& parent, std::function<bool()> onData);
    /// Asks the thread to stop and waits for it. Never called on the thread itself.
    ~TManualChannelThread();
    TManualChannelThread(const TManualChannelThread&) = delete;
    TManualChannelThread& operator=(const TManualChannelThread&) = delete;

    /// Starts the loop: OnData until it returns true (end of file), throws (read error) or the
    /// thread is asked to stop; after an end or an error the parent is switched off. Last,
    /// posts acChannelDone with the channel number.
    void Start();
    /// Whether the caller runs on this thread.
    bool IsCurrentThread() const { return FThread.get_id() == std::this_thread::get_id(); }

    /// Reads some chunks; true means stop. Reading thread.
    std::function<bool()> OnData;
    TChannel& Parent;

private:
    void Execute(std::stop_token stop);

    std::jthread FThread;
};

class TChannel : public TChannelBasic {
public:
    /// A channel in audio-in mode, off. `audioIn` is the capture device (owned; may be null when
    /// the channel only plays files); its buffer event is bound to BufferFilled.
    TChannel(std::int32_t ID, std::int32_t chSide, std::string caption, TRecognitionLock& lock,
             const tracking::TPosting& posting, std::unique_ptr<IAudioCapture> audioIn);
    /// Stops the capture at once and the reading thread (waiting for it).
    ~TChannel() override;

    ChannelMode Mode() const override { return FMode.load(); }
    /// Throws EInvalidOperation "Cannot change mode while active." when the channel is on.
    void SetMode(ChannelMode mode) override;
    /// The file played in file mode and its type. Main thread; throws like SetMode when on.
    void SetFile(std::string fileName, audio::TAudioFileType type);
    std::string FileName() const;

    /// Audio in: starts the device with the format of ChSide and the compatibility setting
    /// (a failure goes to OnCaptureError; the channel still counts as on). File mode: opens the
    /// reader (8192-byte chunks; its exceptions propagate) and starts the reading thread.
    void StartInput() override;
    /// Audio in: stops the device at once. File mode: stops the reading thread and frees the
    /// reader; on the reading thread itself the thread object is kept until the next switch.
    void StopInput() override;
    /// Share of the file read (0 ... 1), or -1 without a file.
    float InputPosition() const override;

    /// Up to 5 chunks into the stream ring while it is not full; true when the file has ended
    /// (a short last chunk is dropped). A reader error propagates. Each block is stamped with
    /// the exact end of its audio in the file: samples delivered / 11025 s. When the ring is
    /// full it waits until the recognition thread has taken blocks (at most 20 ms); after new
    /// blocks it wakes the recognition thread. Reading thread.
    bool ReadFileChunks();

    /// The capture device (may be null).
    IAudioCapture* AudioIn() const { return FAudioIn.get(); }
    /// Called with the device's error text when audio in cannot start (the main window shows
    /// it in a message box). Main thread.
    std::function<void(const std::string& message)> OnCaptureError;

protected:
    void WriteActive(bool value) override;

private:
    friend class TManualChannelThread;
    /// End of the file or a read error (`error` non-empty), on the reading thread: waits until
    /// the recognition thread has analysed what is waiting, then switches the channel off,
    /// unless the thread is asked to stop meanwhile.
    void FileEnded(std::stop_token stop, const std::string& error);
    void PostChannelDone();
    void JoinRetiredThread();

    std::unique_ptr<IAudioCapture> FAudioIn;
    std::atomic<ChannelMode> FMode{ChannelMode::cmAudioIn};
    std::string FFilename;
    audio::TAudioFileType FFileType = audio::TAudioFileType::ftOther;
    std::unique_ptr<audio::TAudioReader> AudioReader;  // while playing a file
    std::atomic<float> FInputPosition{-1.0f};          // AudioReader->getPos(), for any thread
    std::int64_t FFileSamples = 0;                     // reading thread: samples delivered
    std::unique_ptr<TManualChannelThread> ManualChannelThread;  // while playing a file
    /// A reading thread that switched its channel off; joined on the next switch.
    std::unique_ptr<TManualChannelThread> FRetiredThread;
};

}  // namespace orvane::recognition
