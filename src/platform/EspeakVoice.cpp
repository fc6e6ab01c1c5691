#include "platform/EspeakVoice.h"

#include <espeak-ng/speak_lib.h>

#include <mutex>
#include <utility>

#include "base/Errors.h"

namespace orvane::platform {

namespace {

// The library keeps one global synthesiser: its output mode, voice and callback. This lock
// serialises every use of it; the mode is switched (terminate and initialise again) only when
// a voice of the other kind speaks.
std::mutex GEngineLock;
bool GInitialised = false;
bool GPlaybackMode = false;
int GSampleRate = 0;
TEspeakVoice* GSpeaking = nullptr;  // the voice whose Speak holds GEngineLock

int SynthCallback(short* wav, int count, espeak_EVENT* /*events*/) {
    // Runs on the thread inside espeak_Synth, which holds GEngineLock.
    return GSpeaking != nullptr ? GSpeaking->HandleSamples(wav, count) : 0;
}

// Sets the library up for the wanted mode; returns its sample rate. Holds GEngineLock.
int EnsureEngine(bool playback) {
    if (GInitialised && GPlaybackMode == playback) {
        return GSampleRate;
    }
    if (GInitialised) {
        espeak_Terminate();
        GInitialised = false;
    }
    // Buffers of 100 ms keep an abort quick; DONT_EXIT keeps missing voice data an error
    // instead of ending the process.
    const int rate =
        espeak_Initialize(playback ? AUDIO_OUTPUT_SYNCH_PLAYBACK : AUDIO_OUTPUT_SYNCHRONOUS, 100,
                          nullptr, espeakINITIALIZE_DONT_EXIT);
    if (rate <= 0) {
        throw EError("The speech engine could not be started");
    }
    espeak_SetSynthCallback(&SynthCallback);
    GInitialised = true;
    GPlaybackMode = playback;
    GSampleRate = rate;
    return rate;
}

// The library finds a voice by its name or its language ("en", "de", "en-us").
void SelectVoice(const std::string& voiceName) {
    if (espeak_SetVoiceByName(voiceName.c_str()) != EE_OK) {
        throw EError("Speech voice \"" + voiceName + "\" not found");
    }
}

}  // namespace

TEspeakVoice::TEspeakVoice(TKey, bool playback, TSampleSink sink, std::string voiceName)
    : FPlayback(playback), FSink(std::move(sink)), FVoiceName(std::move(voiceName)) {
    std::lock_guard engineLock(GEngineLock);
    FSampleRate = EnsureEngine(FPlayback);
    SelectVoice(FVoiceName);
}

std::unique_ptr<TEspeakVoice> TEspeakVoice::ForPlayback(const std::string& voiceName) {
    return std::make_unique<TEspeakVoice>(TKey{}, true, nullptr, voiceName);
}

std::unique_ptr<TEspeakVoice> TEspeakVoice::IntoMemory(TSampleSink sink,
                                                        const std::string& voiceName) {
    return std::make_unique<TEspeakVoice>(TKey{}, false, std::move(sink), voiceName);
}

void TEspeakVoice::Speak(const std::string& text) {
    if (FAborted.load()) {
        return;
    }
    std::lock_guard engineLock(GEngineLock);
    EnsureEngine(FPlayback);
    SelectVoice(FVoiceName);
    GSpeaking = this;
    const espeak_ERROR result =
        espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8,
                     nullptr, nullptr);
    GSpeaking = nullptr;
    if (result != EE_OK && !FAborted.load()) {
        throw EError("The speech engine failed to speak");
    }
}

void TEspeakVoice::Abort() { FAborted.store(true); }

int TEspeakVoice::HandleSamples(const short* wav, int count) {
    if (FAborted.load()) {
        return 1;
    }
    if (!FPlayback && FSink && wav != nullptr && count > 0) {
        FSink(std::span<const std::int16_t>(wav, static_cast<std::size_t>(count)));
    }
    return 0;
}

}  // namespace orvane::platform
