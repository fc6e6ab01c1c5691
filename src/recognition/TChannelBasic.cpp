#include "recognition/TChannelBasic.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <random>
#include <utility>

#include "base/Errors.h"

namespace orvane::recognition {

namespace {

std::atomic<std::uint64_t> NextSerial{1};

/// Free slots between the block being written and the oldest waiting one when the ring is full.
constexpr std::int32_t FullGap = StreamBlocks - MaxWaitingBlocks;

/// Sample `index` of a little-endian 16-bit buffer.
std::int32_t SampleAt(const std::uint8_t* data, std::uint32_t index) {
    const auto lo = static_cast<std::uint16_t>(data[2 * index]);
    const auto hi = static_cast<std::uint16_t>(data[2 * index + 1]);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
}

/// The mean of two samples, truncated toward zero (-7 / 2 is -3).
std::int16_t Mean(std::int32_t a, std::int32_t b) { return static_cast<std::int16_t>((a + b) / 2); }

}  // namespace

TChannelBasic::TChannelBasic(std::int32_t ID, std::int32_t chSide, std::string caption,
                             TRecognitionLock& lock, const tracking::TPosting& posting)
    : ChSide(chSide),
      FRecognitionLock(lock),
      FPosting(posting),
      FId(ID),
      FSerial(NextSerial.fetch_add(1)),
      FCaption(std::move(caption)) {
    if (chSide < 0 || chSide > 2) {
        throw EInvalidOperation("A channel side must be 0 (mono), 1 (left) or 2 (right).");
    }
    clearData();
    LastUniqueID.store(tracking::NoClipID);
}

TChannelBasic::~TChannelBasic() = default;

void TChannelBasic::SetActive(bool value) {
    std::lock_guard lock(FSwitchLock);
    WriteActive(value);
}

void TChannelBasic::WriteActive(bool value) {
    if (value == Active()) return;
    tracking::TLogSystem* logSystem = FLogSystem.load();
    if (!value) {
        if (logSystem != nullptr) logSystem->FinalizeChannel(FId);
        StopInput();
        LastUniqueID.store(tracking::NoClipID);
        clearData();
        ProgressBarIntegrityPosition.store(0);
        ProgressBarSignalStrengthPosition.store(0);
    } else {
        clearData();
        SetLastInputError({});
        try {
            StartInput();
        } catch (const std::exception& e) {
            // The channel stays off; the reason is kept for callers that want to show it.
            SetLastInputError(e.what());
            StopInput();
            return;
        }
    }
    if (logSystem != nullptr) logSystem->HandleChannel(FId);
    isActive.store(value, std::memory_order_release);
    FSwitched.Notify();
}

void TChannelBasic::SetMode(ChannelMode mode) {
    std::lock_guard lock(FSwitchLock);
    if (Active()) throw EInvalidOperation("Cannot change mode while active.");
    (void)mode;
}

std::string TChannelBasic::Caption() const {
    std::string caption = Name();
    if (Mode() == ChannelMode::cmManual) caption += " | file";
    return caption;
}

std::string TChannelBasic::Name() const {
    std::lock_guard lock(FCaptionLock);
    return FCaption;
}

void TChannelBasic::SetCaption(std::string caption) {
    std::lock_guard lock(FCaptionLock);
    FCaption = std::move(caption);
}

void TChannelBasic::SetLogSystem(tracking::TLogSystem* logSystem) {
    std::lock_guard lock(FSwitchLock);
    FLogSystem.store(logSystem);
}

void TChannelBasic::SetChSide(std::int32_t side) {
    if (!ORVANE_VERIFY(!Active())) {
        return;
    }
    ChSide = side == 1 || side == 2 ? side : 0;
}

std::string TChannelBasic::LastInputError() const {
    std::lock_guard lock(FErrorLock);
    return FLastInputError;
}

void TChannelBasic::SetLastInputError(std::string text) {
    std::lock_guard lock(FErrorLock);
    FLastInputError = std::move(text);
}

bool TChannelBasic::RingFull() const {
    const std::int32_t write = WritePos.load(std::memory_order_relaxed);
    return (write + FullGap) % StreamBlocks == ReadPos.load(std::memory_order_acquire);
}

void TChannelBasic::FillBlock(const std::uint8_t* data, std::uint32_t size) {
    const std::int32_t write = WritePos.load(std::memory_order_relaxed);
    std::int16_t* block = StreamData.data() + static_cast<std::ptrdiff_t>(write) * BlockSamples;
    const auto limit = static_cast<std::uint32_t>(BlockSamples);
    std::uint32_t n = 0;
    if (data != nullptr) {
        const bool compatible = Compatibility();
        if (ChSide == 0 && !compatible) {
            for (std::uint32_t i = 0; i < size / 2 && n < limit; ++i) {
                block[n++] = static_cast<std::int16_t>(SampleAt(data, i));
            }
        } else if (ChSide == 0) {
            for (std::uint32_t p = 0; p < size / 4 && n < limit; ++p) {
                block[n++] = Mean(SampleAt(data, 2 * p), SampleAt(data, 2 * p + 1));
            }
        } else {
            const std::uint32_t side = ChSide == 1 ? 0 : 1;
            if (!compatible) {
                for (std::uint32_t f = 0; f < size / 4 && n < limit; ++f) {
                    block[n++] = static_cast<std::int16_t>(SampleAt(data, 2 * f + side));
                }
            } else {
                for (std::uint32_t p = 0; p < size / 8 && n < limit; ++p) {
                    block[n++] =
                        Mean(SampleAt(data, 4 * p + side), SampleAt(data, 4 * p + 2 + side));
                }
            }
        }
    }
    std::fill(block + n, block + BlockSamples, std::int16_t{0});
}

void TChannelBasic::CopyEngineBlock(const std::uint8_t* data, std::uint32_t size) {
    const std::int32_t write = WritePos.load(std::memory_order_relaxed);
    std::int16_t* block = StreamData.data() + static_cast<std::ptrdiff_t>(write) * BlockSamples;
    const std::uint32_t count = std::min<std::uint32_t>(size / 2, BlockSamples);
    for (std::uint32_t i = 0; i < count; ++i)
        block[i] = static_cast<std::int16_t>(SampleAt(data, i));
    std::fill(block + count, block + BlockSamples, std::int16_t{0});
}

void TChannelBasic::PublishBlock(tracking::TDateTime stamp) {
    const std::int32_t write = WritePos.load(std::memory_order_relaxed);
    StreamTime[static_cast<std::size_t>(write)] = stamp;
    // The block and its stamp are complete before the consumer can see the new WritePos.
    WritePos.store((write + 1) % StreamBlocks, std::memory_order_release);
    newDataAvailable.store(true, std::memory_order_release);
}

bool TChannelBasic::newData(const std::uint8_t* data, std::uint32_t size) {
    if (RingFull()) return false;
    FillBlock(data, size);
    PublishBlock(FPosting.Clock().Now());
    return true;
}

bool TChannelBasic::BufferFilled(const std::uint8_t* buffer, std::uint32_t size) {
    if (newData(buffer, size)) return true;
    if (!FRecognitionLock.PauseAcknowledged.load()) {
        FPosting.PostActivity(Caption() + ": Buffer overrun", tracking::TActivityIcon::aiError);
    }
    clearData();
    newData(buffer, size);
    return true;
}

void TChannelBasic::clearData() {
    std::lock_guard lock(FRecognitionLock);
    // The same quiet noise after every reset, so a file analysed twice gives the same keys.
    std::minstd_rand random(0x5EED0000u + static_cast<std::uint32_t>(FId));
    for (std::int16_t& sample : StreamData) {
        sample = static_cast<std::int16_t>(static_cast<std::int32_t>(random() % 256u) - 128);
    }
    for (std::uint32_t& key : RingBuffer) {
        const auto high = static_cast<std::uint32_t>(random() & 0xFFFFu);
        const auto low = static_cast<std::uint32_t>(random() & 0xFFFFu);
        key = (high << 16) | low;
    }
    FoundItemsList.fill(FoundItem{});
    LikelihoodRing.fill(0);
    StreamTime.fill(0.0);
    E_Copy.fill(0.0f);
    LastUniqueID.store(tracking::NoClipID);
    {
        std::lock_guard capLock(FCapLock);
        cap.Caption.clear();
        cap.UniqueID = tracking::NoClipID;
    }
    WritePos.store(1, std::memory_order_release);
    UpdateI = 0;
    ReadPos.store(0, std::memory_order_release);
}

std::int32_t TChannelBasic::WaitingBlocks() const {
    const std::int32_t write = WritePos.load(std::memory_order_acquire);
    const std::int32_t read = ReadPos.load(std::memory_order_acquire);
    return (write - read + StreamBlocks) % StreamBlocks;
}

bool TChannelBasic::HasProcessableBlock() const {
    const std::int32_t read = ReadPos.load(std::memory_order_acquire);
    return (read + 1) % StreamBlocks != WritePos.load(std::memory_order_acquire);
}

void TChannelBasic::AdvanceReadPos() {
    const std::int32_t read = ReadPos.load(std::memory_order_relaxed);
    // Release: the producer may overwrite the block only after it was read.
    ReadPos.store((read + 1) % StreamBlocks, std::memory_order_release);
}

void TChannelBasic::ProcessNewWavDataAndSearch(IBlockProcessor& search) {
    try {
        search.ProcessBlock(*this);
    } catch (...) {
        // One bad block must never stall the channel; the search reports what matters itself.
    }
    AdvanceReadPos();
}

std::int32_t TChannelBasic::ProcessWaitingBlocks(IBlockProcessor& search) {
    // An exchange, so a block published before it is seen by the loop below and one published
    // after it leaves the flag set for the next pass.
    newDataAvailable.exchange(false, std::memory_order_acq_rel);
    std::int32_t processed = 0;
    while (HasProcessableBlock()) {
        ProcessNewWavDataAndSearch(search);
        ++processed;
    }
    if (processed > 0) FConsumed.Notify();
    return processed;
}

tracking::TDateTime TChannelBasic::AnalysedStreamTime() const {
    return StreamTime[static_cast<std::size_t>(ReadPos.load(std::memory_order_relaxed))];
}

tracking::capInfo TChannelBasic::ReadCap() const {
    std::lock_guard lock(FCapLock);
    return cap;
}

void TChannelBasic::WriteCap(const tracking::capInfo& record) {
    std::lock_guard lock(FCapLock);
    cap = record;
}

}  // namespace orvane::recognition
