// Captures from audio in: the fingerprint containers that the search fills with the line keys a
// channel hears, and the recorder that keeps the list of captures in progress.
// Thread: the main thread registers and unregisters captures and reads their key counts; the
// recognition thread appends keys (AddKeys) with the recognition lock held. The list of
// captures is guarded by the recorder's own lock (taken by AddKeys for its whole walk and by
// every change of the list), so a capture can be removed at any time and receives no key once
// unregisterRecording has returned. Registering additionally happens under the recognition
// pause.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "base/RefCounted.h"
#include "fingerprint/FptAux.h"
#include "recognition/TSearch.h"

namespace orvane::tracking {
class IRecognitionPause;
}

namespace orvane::recognition {

/// A capture stops by itself once its container holds more than this many line keys (0xFFF00,
/// about 3 h 23 min at 128 / 11025 s per key).
inline constexpr std::int32_t MaxCaptureKeys = 0xFFF00;

/// Whether a capture of `keyCount` keys has passed the limit and must stop.
constexpr bool CaptureLimitReached(std::int64_t keyCount) { return keyCount > MaxCaptureKeys; }

/// One capture: the container being filled, the channel it listens to, and whether keys are
/// appended. Shared (counted) between the main thread and the recorder's list.
/// Thread: every operation is thread safe; the container itself may only be used by the main
/// thread once the capture has been unregistered.
class IRecInfo : public TRefCounted {
public:
    /// Stops appending keys (FActive := false).
    virtual void Deactivate() = 0;
    /// Appends keys again (FActive := true).
    virtual void Activate() = 0;
    /// Drops every key of the container (its Reset).
    virtual void ResetSongServer() = 0;
    /// The container (may be null before registration).
    virtual TRefPtr<fingerprint::ISongServer> GetSongServer() const = 0;
    /// Takes `songServer` as the container.
    virtual void SetSongServer(TRefPtr<fingerprint::ISongServer> songServer) = 0;
    /// The channel number (0-based) the capture listens to.
    virtual std::int32_t GetChannel() const = 0;
    virtual void SetChannel(std::int32_t channel) = 0;
    /// Whether keys are appended. Non-blocking.
    virtual bool GetActive() const = 0;
    virtual void SetActive(bool active) = 0;

    /// Appends `count` keys to the container (nothing without one). Once the container holds
    /// more than MaxCaptureKeys keys the capture deactivates itself, so it never grows further
    /// even when nobody looks at it. Recognition thread.
    virtual void AppendKeys(const std::uint32_t* keys, std::int32_t count) = 0;
    /// Keys in the container (0 without one). A display value: the recognition thread may be
    /// appending meanwhile. Thread safe.
    virtual std::int32_t KeyCount() const = 0;

protected:
    ~IRecInfo() override = default;
};

/// The capture record. Create it with MakeRef<TRecInfo>().
class TRecInfo final : public IRecInfo {
public:
    TRecInfo() = default;

    void Deactivate() override { FActive.store(false); }
    void Activate() override { FActive.store(true); }
    void ResetSongServer() override;
    TRefPtr<fingerprint::ISongServer> GetSongServer() const override;
    void SetSongServer(TRefPtr<fingerprint::ISongServer> songServer) override;
    std::int32_t GetChannel() const override { return FChannel.load(); }
    void SetChannel(std::int32_t channel) override { FChannel.store(channel); }
    bool GetActive() const override { return FActive.load(); }
    void SetActive(bool active) override { FActive.store(active); }
    void AppendKeys(const std::uint32_t* keys, std::int32_t count) override;
    std::int32_t KeyCount() const override;

private:
    ~TRecInfo() override = default;

    // Guards the container pointer and its keys between the appending recognition thread and
    // the main thread's count, reset and exchange.
    mutable std::mutex FLock;
    TRefPtr<fingerprint::ISongServer> FSongServer;
    std::atomic<std::int32_t> FChannel{0};
    std::atomic<bool> FActive{false};
};

/// The captures in progress that the search feeds (one recorder per program).
class FptRecorder final : public ICaptureKeys {
public:
    /// `pause` must outlive the recorder; registering takes it.
    explicit FptRecorder(tracking::IRecognitionPause& pause);
    FptRecorder(const FptRecorder&) = delete;
    FptRecorder& operator=(const FptRecorder&) = delete;

    /// Gives `capture` a new empty container, sets its channel (0-based), activates it and,
    /// under the recognition pause, appends it to Recs. From now on the search fills it.
    /// A capture already in the list is not added twice. Main thread.
    void registerRecording(const TRefPtr<IRecInfo>& capture, std::int32_t channel);
    /// Deactivates `capture` and removes it from Recs when it is there (later entries move
    /// down). Once it returns, the recognition thread appends no more keys to the capture, so
    /// its container belongs to the caller. Harmless for a capture not in the list. Main thread.
    void unregisterRecording(const TRefPtr<IRecInfo>& capture);

    /// A copy of the list of captures. Thread safe.
    std::vector<TRefPtr<IRecInfo>> Recs() const;
    /// Number of captures in the list. Thread safe.
    std::int32_t Count() const;

    /// Appends `count` keys heard on channel `channelId` to every active capture of that
    /// channel, in list order. Recognition thread, recognition lock held.
    void AddKeys(std::int32_t channelId, const std::uint32_t* keys, std::int32_t count) override;

private:
    tracking::IRecognitionPause& FPause;
    // Guards FRecs: the recognition thread walks it while the main thread may change it.
    mutable std::mutex FLock;
    std::vector<TRefPtr<IRecInfo>> FRecs;
};

}  // namespace orvane::recognition
