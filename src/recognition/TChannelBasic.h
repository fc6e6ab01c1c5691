// A recognition input: its stream ring of 4096-sample blocks, its key ring with weak-bit
// records, its candidate history and the record of the clip it recognises.
// Thread: switched on and off on the main thread (or, at the end of a file, on the channel's
// reading thread), serialised by the switch lock. The stream ring has one producer (the capture
// delivery or the file-reading thread) and one consumer (the recognition thread) and no lock.
// Everything else the search touches is written by the recognition thread under the
// recognition lock; clearData takes that lock too, so it never races a block being processed.
//
// The seam for the search: the recognition thread, holding the recognition lock, calls
// ProcessWaitingBlocks(search) and the channel calls search.ProcessBlock(*this) for each block
// that may be processed, then advances ReadPos (also when ProcessBlock throws). ProcessBlock
// reads StreamData (172,032 samples, frames wrap around) starting at ReadPos * 4096, restores
// the converter's spectrum with LoadSpectrum and saves it with SaveSpectrum, writes keys and
// weak-bit records at RingPos of RingBuffer / LikelihoodRing, keeps UpdateI, fills
// FoundItemsList, ProgressBarIntegrityPosition and LastUniqueID, and publishes the clip record
// with WriteCap. StreamTime[(ReadPos + 1) % 42] is the time at which the processed audio ends.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "recognition/FoundItem.h"
#include "recognition/IAudioCapture.h"
#include "recognition/TRecognitionLock.h"
#include "recognition/TWakeup.h"
#include "signal/QnFFT.h"
#include "tracking/TLogSystem.h"
#include "tracking/TPosting.h"
#include "tracking/capInfo.h"

namespace orvane::recognition {

/// Blocks in the stream ring.
inline constexpr std::int32_t StreamBlocks = 42;
/// Samples per block: 16-bit mono at 11025 Hz, the samples that feed 32 keys.
inline constexpr std::int32_t BlockSamples = 4096;
/// Samples in the stream ring (about 15.6 s).
inline constexpr std::int32_t StreamSamples = StreamBlocks * BlockSamples;
/// The producer refuses a block while this many are waiting.
inline constexpr std::int32_t MaxWaitingBlocks = 28;
/// Slots of the key ring (about 23.8 s of keys).
inline constexpr std::int32_t KeyRingSize = 2048;
/// Entries of the candidate history: one per search, newest first.
inline constexpr std::int32_t HistorySize = 8;
/// Samples per second of the engine audio format.
inline constexpr double EngineSampleRate = 11025.0;

enum class ChannelMode : std::int32_t { cmAudioIn = 0, cmManual = 1 };

class TChannelBasic;

/// The work done on one block of a channel: the search.
class IBlockProcessor {
public:
    virtual ~IBlockProcessor() = default;
    /// Processes block channel.ReadPos. May throw; the channel swallows the error and still
    /// advances ReadPos. Recognition thread, recognition lock held.
    virtual void ProcessBlock(TChannelBasic& channel) = 0;
};

class TChannelBasic : public tracking::ITrackedChannel {
public:
    /// A channel that is off, with cleared rings. `lock` and `posting` must outlive it.
    TChannelBasic(std::int32_t ID, std::int32_t chSide, std::string caption, TRecognitionLock& lock,
                  const tracking::TPosting& posting);
    ~TChannelBasic() override;
    TChannelBasic(const TChannelBasic&) = delete;
    TChannelBasic& operator=(const TChannelBasic&) = delete;

    // --- switching ------------------------------------------------------------------------

    /// Whether the channel is switched on. Thread safe, non-blocking.
    bool Active() const override { return isActive.load(std::memory_order_acquire); }
    /// Switches the channel on (clears it, starts its source; a source that fails to start
    /// leaves it off, its message in LastInputError()) or off (closes the tracked clip, stops
    /// the source, clears it). The same value again does nothing. Main thread.
    void SetActive(bool value);
    /// The source: audio in or a file. Thread safe.
    virtual ChannelMode Mode() const { return ChannelMode::cmAudioIn; }
    /// Throws EInvalidOperation "Cannot change mode while active." when the channel is on.
    virtual void SetMode(ChannelMode mode);

    /// The display caption: the name, followed by " | file" in file mode. Thread safe.
    std::string Caption() const override;
    /// The name without the mode ("Channel01"). Thread safe.
    std::string Name() const;
    /// Replaces the name (the settings may). Thread safe.
    void SetCaption(std::string caption);
    /// The channel number, 0-based.
    std::int32_t Id() const { return FId; }
    /// A number no other channel of this process has had (channel numbers repeat: every
    /// monitored stream is channel 0 of its own tracker). Thread safe.
    std::uint64_t Serial() const { return FSerial; }
    /// Compatibility mode: audio in delivers 22050 Hz, which newData averages down to 11025 Hz.
    /// Main thread, while the channel is off. Thread safe.
    void SetCompatibility(bool on) { FCompatibility.store(on); }
    bool Compatibility() const { return FCompatibility.load(); }
    /// The side of the input (0, 1 or 2; anything else counts as 0). The channel must be off:
    /// a running capture keeps the format it was started with. Main thread.
    void SetChSide(std::int32_t side);
    /// The song tracker told about switching (may be null; not owned). Waits for a switch in
    /// progress, so clearing it before the tracker goes away is safe. Main thread.
    void SetLogSystem(tracking::TLogSystem* logSystem);
    /// Why the source could not be started or read, or empty. Thread safe.
    std::string LastInputError() const;

    // --- stream ring: producer side -------------------------------------------------------

    /// Writes one buffer as the next block, stamped with the current local time: mono
    /// samples, or the left (ChSide 1) / right (ChSide 2) samples of stereo frames; in
    /// compatibility mode the mean of each pair (truncated toward zero). Returns false and
    /// writes nothing when 28 blocks are waiting. A buffer longer than a block is cut to one
    /// block, a shorter one padded with silence. Producer thread; allocates nothing.
    bool newData(const std::uint8_t* data, std::uint32_t size);
    /// The capture device's buffer event: newData; when the ring is full, posts
    /// "<caption>: Buffer overrun" (not while recognition is paused), drops everything waiting
    /// and writes the buffer into the cleared ring. Always true. Producer thread.
    bool BufferFilled(const std::uint8_t* buffer, std::uint32_t size);
    /// Quiet noise in the stream ring, random keys in the key ring, empty history and clip
    /// record, WritePos 1, ReadPos 0, UpdateI 0, E_Copy zero; RingPos keeps its value. Takes
    /// the recognition lock. Any thread but the recognition thread.
    void clearData();

    // --- stream ring: consumer side (recognition thread, recognition lock held) ------------

    /// Blocks written and not yet processed: (WritePos - ReadPos) mod 42. Thread safe.
    std::int32_t WaitingBlocks() const;
    /// Whether block ReadPos may be processed: its frames reach into the following block, so
    /// that one must have been written ((ReadPos + 1) mod 42 != WritePos). Thread safe.
    bool HasProcessableBlock() const;
    /// ReadPos := (ReadPos + 1) mod 42. Consumer.
    void AdvanceReadPos();
    /// Processes block ReadPos with `search`, swallowing its errors, and advances ReadPos.
    void ProcessNewWavDataAndSearch(IBlockProcessor& search);
    /// Clears newDataAvailable, then processes every block that may be processed (all waiting
    /// but the last). Clearing first means a block written meanwhile sets it again and is not
    /// missed. Returns the number of blocks processed. Consumer.
    std::int32_t ProcessWaitingBlocks(IBlockProcessor& search);
    /// Where the analysed audio ends: StreamTime[ReadPos], the stamp of the block the last
    /// processed frames reached into. In file mode seconds of the file / 86400. Consumer.
    tracking::TDateTime AnalysedStreamTime() const;
    /// The recognition thread's wake-up (set by the thread when the channel is added; may stay
    /// null). The producer of a file channel notifies it, so the thread object must outlive
    /// the channel's playing of a file (the owners free the channels first). Before the thread
    /// starts.
    void SetRecognitionWakeup(TWakeup* wakeup) { FRecognitionWakeup.store(wakeup); }
    /// Waits until the channel was switched on or off, or `limit` has passed. Any thread.
    void WaitForSwitch(std::chrono::microseconds limit) { FSwitched.WaitFor(limit); }
    /// Copies E_Copy into the converter's spectrum E. Consumer.
    void LoadSpectrum(signal::QnKeyConversion& converter) const { converter.E = E_Copy; }
    /// Copies the converter's spectrum E into E_Copy. Consumer.
    void SaveSpectrum(const signal::QnKeyConversion& converter) { E_Copy = converter.E; }

    // --- clip record ------------------------------------------------------------------------

    /// A consistent copy of the clip record (never half-written). Thread safe.
    tracking::capInfo ReadCap() const override;
    /// Replaces the clip record. Recognition thread (and clearData).
    void WriteCap(const tracking::capInfo& record);
    /// LastUniqueID := no clip. Thread safe.
    void ClearLastUniqueID() override { LastUniqueID.store(tracking::NoClipID); }

    // --- the source (implemented by TChannel) ----------------------------------------------

    virtual void StartInput() {}
    virtual void StopInput() {}
    /// Share of the played file read (0 ... 1), or -1 without a file.
    virtual float InputPosition() const { return -1.0f; }

    // --- data the search reads and writes --------------------------------------------------

    /// The converter's two band spectra, saved after and restored before each block.
    signal::BarkSpec E_Copy{};
    /// Candidate history: entry 0 is the best candidate of the latest search.
    std::array<FoundItem, HistorySize> FoundItemsList{};
    /// Stream ring: block b is samples b*4096 ... b*4096+4095. Written by the producer
    /// (block WritePos only), read by the consumer.
    std::array<std::int16_t, StreamSamples> StreamData{};
    /// Per block: local time it was written (audio in) or where it ends in the file, as a
    /// date-time counted from 0 (file mode; exact: samples delivered / 11025 / 86400).
    std::array<tracking::TDateTime, StreamBlocks> StreamTime{};
    /// Key ring: line keys.
    std::array<std::uint32_t, KeyRingSize> RingBuffer{};
    /// Weak-bit record of each key ring slot: bit numbers of the 6 least reliable bits,
    /// weakest first, number j in bits 5j ... 5j+4; bits 30 and 31 zero.
    std::array<std::uint32_t, KeyRingSize> LikelihoodRing{};
    /// Next block to be written (0 ... 41). Written by the producer only (release).
    std::atomic<std::int32_t> WritePos{1};
    /// Next block to be processed (0 ... 41). Written by the consumer only (release).
    std::atomic<std::int32_t> ReadPos{0};
    /// Next key ring slot (0 ... 2047). Consumer.
    std::int32_t RingPos = 0;
    /// Blocks processed modulo 3; a search runs when it returns to 0. Consumer.
    std::int32_t UpdateI = 0;
    /// Match integrity 0 ... 100 and signal strength, for display. Thread safe.
    std::atomic<std::int32_t> ProgressBarIntegrityPosition{0};
    std::atomic<std::int32_t> ProgressBarSignalStrengthPosition{0};
    /// A block was written since the consumer last emptied the ring. Thread safe.
    std::atomic<bool> newDataAvailable{false};
    /// UniqueID of the clip last announced on this channel. Thread safe.
    std::atomic<std::int64_t> LastUniqueID{tracking::NoClipID};
    /// The chosen input device. Main thread.
    TLInfo SoundDevice;
    /// 0: mono input; 1: left side of a stereo input; 2: right side. Changed only through
    /// SetChSide while the channel is off; the capture reads it while on.
    std::int32_t ChSide;

protected:
    /// The switching algorithm; the caller holds FSwitchLock.
    virtual void WriteActive(bool value);
    /// Whether the producer must refuse a block: 28 are waiting. Producer.
    bool RingFull() const;
    /// Copies `size` bytes of engine-format samples into block WritePos (cut to a block,
    /// padded with silence). Producer.
    void CopyEngineBlock(const std::uint8_t* data, std::uint32_t size);
    /// Stamps block WritePos, publishes it and advances WritePos. Producer.
    void PublishBlock(tracking::TDateTime stamp);
    void SetLastInputError(std::string text);
    /// Wakes the recognition thread (new data or the end of a file). Producer.
    void WakeRecognition() {
        if (TWakeup* wakeup = FRecognitionWakeup.load()) wakeup->Notify();
    }
    /// Notified by the consumer after it took blocks out of the ring: the producer waits on it
    /// while the ring is full or the end of its file is still being analysed.
    TWakeup FConsumed;

    TRecognitionLock& FRecognitionLock;
    const tracking::TPosting& FPosting;
    /// Serialises switching (SetActive, SetMode, SetLogSystem) between the main thread and a
    /// file channel's reading thread.
    std::mutex FSwitchLock;

private:
    void FillBlock(const std::uint8_t* data, std::uint32_t size);

    std::atomic<bool> isActive{false};
    std::atomic<TWakeup*> FRecognitionWakeup{nullptr};
    TWakeup FSwitched;  // notified by every switch on or off
    const std::int32_t FId;
    const std::uint64_t FSerial;
    mutable std::mutex FCaptionLock;  // guards FCaption
    std::string FCaption;
    std::atomic<bool> FCompatibility{false};
    mutable std::mutex FCapLock;  // guards cap; taken only for copying
    tracking::capInfo cap;
    std::atomic<tracking::TLogSystem*> FLogSystem{nullptr};
    mutable std::mutex FErrorLock;  // guards FLastInputError
    std::string FLastInputError;
};

}  // namespace orvane::recognition
