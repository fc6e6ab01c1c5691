#include "recognition/TChannel.h"

#include <chrono>
#include <exception>
#include <utility>

#include "base/Errors.h"

namespace orvane::recognition {

namespace {

/// How long the reading thread waits at most when the ring is full or the end of the file is
/// waiting to be analysed; the recognition thread wakes it as soon as it has taken blocks.
constexpr auto ConsumedWait = std::chrono::milliseconds(20);
/// How long the reading thread waits for the switch lock between tries.
constexpr auto ReaderWait = std::chrono::microseconds(500);

constexpr double SecondsPerDay = 86400.0;

}  // namespace

// --- TManualChannelThread -----------------------------------------------------------------

TManualChannelThread::TManualChannelThread(TChannel& parent, std::function<bool()> onData)
    : OnData(std::move(onData)), Parent(parent) {}

TManualChannelThread::~TManualChannelThread() {
    if (!FThread.joinable()) return;
    if (!ORVANE_VERIFY(!IsCurrentThread())) {
        FThread.detach();  // never wait for our own end
        return;
    }
    FThread.request_stop();
    Parent.FConsumed.Notify();  // a reader waiting for the consumer sees the request at once
    FThread.join();
}

void TManualChannelThread::Start() {
    FThread = std::jthread([this](std::stop_token stop) { Execute(std::move(stop)); });
}

void TManualChannelThread::Execute(std::stop_token stop) {
    bool ended = false;
    std::string error;
    while (!stop.stop_requested()) {
        if (!OnData) {
            std::this_thread::sleep_for(ReaderWait);
            continue;
        }
        try {
            if (OnData()) {
                ended = true;
                break;
            }
        } catch (const std::exception& e) {
            error = e.what();
            ended = true;
            break;
        } catch (...) {
            error = "Unknown error while reading the file.";
            ended = true;
            break;
        }
    }
    if (ended && !stop.stop_requested()) Parent.FileEnded(stop, error);
    Parent.PostChannelDone();
}

// --- TChannel -----------------------------------------------------------------------------

TChannel::TChannel(std::int32_t ID, std::int32_t chSide, std::string caption,
                   TRecognitionLock& lock, const tracking::TPosting& posting,
                   std::unique_ptr<IAudioCapture> audioIn)
    : TChannelBasic(ID, chSide, std::move(caption), lock, posting), FAudioIn(std::move(audioIn)) {
    if (FAudioIn) {
        FAudioIn->OnBufferFilled = [this](const std::uint8_t* buffer, std::uint32_t size) {
            return BufferFilled(buffer, size);
        };
    }
}

TChannel::~TChannel() {
    std::lock_guard lock(FSwitchLock);
    if (FAudioIn && FAudioIn->Recording()) FAudioIn->Stop();
    // Holding the switch lock: a reading thread at the end of its file sees the stop request
    // instead of waiting for the lock, so this join cannot deadlock.
    ManualChannelThread.reset();
    FRetiredThread.reset();
    AudioReader.reset();
}

void TChannel::SetMode(ChannelMode mode) {
    std::lock_guard lock(FSwitchLock);
    if (Active()) throw EInvalidOperation("Cannot change mode while active.");
    FMode.store(mode);
}

void TChannel::SetFile(std::string fileName, audio::TAudioFileType type) {
    std::lock_guard lock(FSwitchLock);
    if (Active()) throw EInvalidOperation("Cannot change mode while active.");
    FFilename = std::move(fileName);
    FFileType = type;
}

std::string TChannel::FileName() const { return FFilename; }

void TChannel::WriteActive(bool value) {
    JoinRetiredThread();
    const bool wasActive = Active();
    TChannelBasic::WriteActive(value);
    if (wasActive && !value && FMode.load() == ChannelMode::cmManual) {
        FMode.store(ChannelMode::cmAudioIn);
    }
}

void TChannel::StartInput() {
    if (Mode() == ChannelMode::cmAudioIn) {
        std::string failure;
        if (!FAudioIn) {
            failure = "No sound input device.";
        } else {
            const bool compatible = Compatibility();
            TCaptureFormat format;
            format.DevNo = SoundDevice.DevNo;
            format.SampleRate = compatible ? 22050 : 11025;
            format.Channels = ChSide == 0 ? 1 : 2;
            format.BufferBytes = (ChSide == 0 ? 8192u : 16384u) * (compatible ? 2u : 1u);
            if (!FAudioIn->Start(format)) failure = FAudioIn->ErrorMessage();
        }
        if (!failure.empty()) {
            // The channel still counts as switched on; the main window shows the reason.
            SetLastInputError(failure);
            if (OnCaptureError) OnCaptureError(failure);
        }
        return;
    }
    JoinRetiredThread();
    AudioReader = audio::OpenAudioReader(FFilename, FFileType);
    FFileSamples = 0;
    FInputPosition.store(0.0f);
    ManualChannelThread =
        std::make_unique<TManualChannelThread>(*this, [this] { return ReadFileChunks(); });
    ManualChannelThread->Start();
}

void TChannel::StopInput() {
    if (Mode() == ChannelMode::cmAudioIn) {
        if (FAudioIn) FAudioIn->Stop();
        return;
    }
    // The thread goes first: it is the one using the reader.
    if (ManualChannelThread) {
        if (ManualChannelThread->IsCurrentThread()) {
            FRetiredThread = std::move(ManualChannelThread);
        } else {
            ManualChannelThread.reset();
        }
    }
    AudioReader.reset();
    FInputPosition.store(-1.0f);
}

float TChannel::InputPosition() const { return FInputPosition.load(); }

bool TChannel::ReadFileChunks() {
    int written = 0;
    for (int i = 0; i < 5 && !RingFull(); ++i) {
        const std::int32_t got = AudioReader->ReadChunk();
        FInputPosition.store(AudioReader->getPos());
        if (got < 0 || static_cast<std::uint32_t>(got) != AudioReader->Size()) return true;
        FFileSamples += got / 2;
        CopyEngineBlock(AudioReader->Data(), static_cast<std::uint32_t>(got));
        PublishBlock(static_cast<double>(FFileSamples) / EngineSampleRate / SecondsPerDay);
        ++written;
    }
    if (written > 0) {
        WakeRecognition();
    } else {
        FConsumed.WaitFor(ConsumedWait);
    }
    return false;
}

void TChannel::FileEnded(std::stop_token stop, const std::string& error) {
    if (!error.empty()) {
        SetLastInputError(error);
        FPosting.PostActivity(Caption() + ": " + error, tracking::TActivityIcon::aiError);
    }
    // The end of the file is analysed before the channel goes off: switching off clears the
    // ring, which would drop up to 28 blocks (10 s) of audio still waiting.
    WakeRecognition();
    while (!stop.stop_requested() && HasProcessableBlock()) {
        FConsumed.WaitFor(stop, ConsumedWait);
    }
    // The main thread may hold the switch lock to stop this very thread; then it has asked us to
    // stop, and we leave instead of waiting for the lock.
    while (!FSwitchLock.try_lock()) {
        if (stop.stop_requested()) return;
        std::this_thread::sleep_for(ReaderWait);
    }
    std::lock_guard lock(FSwitchLock, std::adopt_lock);
    if (!stop.stop_requested()) WriteActive(false);
}

void TChannel::PostChannelDone() {
    FPosting.PostAction(tracking::TActionCode::acChannelDone, Id());
}

void TChannel::JoinRetiredThread() {
    if (FRetiredThread && !FRetiredThread->IsCurrentThread()) FRetiredThread.reset();
}

}  // namespace orvane::recognition
