// The speech voice on the espeak-ng library: speaks one text at a time, synchronously, either
// to the sound server (PulseAudio) or into memory.
// Thread: Speak on the thread that owns the voice (the speech worker); Abort from any thread.
// The library is one process-wide synthesiser: its use is serialised across all voices.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "tracking/TAnnouncer.h"

struct pa_simple;

namespace orvane::platform {

class TEspeakVoice final : public tracking::ISpeechVoice {
public:
    /// Receives the synthesised samples of a text in memory mode: 16-bit mono at SampleRate().
    /// Called on the thread that speaks, several times per text.
    using TSampleSink = std::function<void(std::span<const std::int16_t> samples)>;

    /// A voice that plays through the default PulseAudio sink; Speak returns when the text has
    /// been played. `voiceName` is an espeak-ng voice or language ("en", "de", "en-us").
    /// Throws EError when the library, the voice or the sound server cannot be used.
    static std::unique_ptr<TEspeakVoice> ForPlayback(const std::string& voiceName = "en");
    /// A voice that hands the samples to `sink` instead of playing them (no sound server
    /// needed). Throws EError when the library or the voice cannot be used.
    static std::unique_ptr<TEspeakVoice> IntoMemory(TSampleSink sink,
                                                    const std::string& voiceName = "en");
    ~TEspeakVoice() override;
    TEspeakVoice(const TEspeakVoice&) = delete;
    TEspeakVoice& operator=(const TEspeakVoice&) = delete;

    /// Speaks `text` as plain UTF-8 (markup characters are read as text). Returns early after
    /// Abort. Throws EError when synthesis or playing fails.
    void Speak(const std::string& text) override;
    /// Cuts the current text short at its next buffer (100 ms of sound), drops what waits to
    /// be played, and makes every later Speak return at once. Thread safe, never blocks.
    void Abort() override;

    /// Samples per second of the synthesised audio.
    int SampleRate() const { return FSampleRate; }
    /// Samples handed to the sound server or the sink so far.
    std::uint64_t SamplesDelivered() const { return FDelivered.load(); }

    /// Called by the library's callback; not for other use.
    int HandleSamples(const short* wav, int count);

private:
    struct TKey {};

public:
    /// Use ForPlayback or IntoMemory.
    TEspeakVoice(TKey, bool playback, TSampleSink sink, std::string voiceName);

private:
    TSampleSink FSink;
    std::string FVoiceName;
    int FSampleRate = 0;
    pa_simple* FStream = nullptr;  // owned; only for playback
    std::string FStreamError;      // set by HandleSamples when the sound server fails
    std::atomic<bool> FAborted{false};
    std::atomic<std::uint64_t> FDelivered{0};
};

}  // namespace orvane::platform
