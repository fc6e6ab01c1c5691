#include "platform/EspeakVoice.h"

#include <espeak-ng/speak_lib.h>
#include <mutex>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <utility>

#include "base/Errors.h"

namespace orvane::platform {

namespace {

// The library keeps one global synthesiser with its voice and callback. This lock serialises
// every use of it. It always synthesises into our callback, which plays or collects the sound,
// so one voice can be cut short without touching the library from another thread.
std::mutex GEngineLock;
bool GInitialised = false;
int GSampleRate = 0;
TEspeakVoice* GSpeaking = nullptr;  // the voice whose Speak holds GEngineLock

// Sound is handed on in buffers of this many milliseconds; an abort takes effect within one.
constexpr int BufferMs = 100;
// The sound server holds at most this much sound ahead, so playing keeps pace with speaking
// and little waits to be dropped on an abort.
constexpr int PlayAheadMs = 200;

int SynthCallback(short* wav, int count, espeak_EVENT* /*events*/) {
    // Runs on the thread inside espeak_Synth, which holds GEngineLock.
    return GSpeaking != nullptr ? GSpeaking->HandleSamples(wav, count) : 0;
}

// Starts the library once per process; returns its sample rate. Holds GEngineLock.
int EnsureEngine() {
    if (!GInitialised) {
        // DONT_EXIT keeps missing voice data an error instead of ending the process.
        const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, BufferMs, nullptr,
                                           espeakINITIALIZE_DONT_EXIT);
        if (rate <= 0) {
            throw EError("The speech engine could not be started");
        }
        espeak_SetSynthCallback(&SynthCallback);
        GInitialised = true;
        GSampleRate = rate;
    }
    return GSampleRate;
}

// The library finds a voice by its name or its language ("en", "de", "en-us").
void SelectVoice(const std::string& voiceName) {
    if (espeak_SetVoiceByName(voiceName.c_str()) != EE_OK) {
        throw EError("Speech voice \"" + voiceName + "\" not found");
    }
}

}  // namespace

TEspeakVoice::TEspeakVoice(TKey, bool playback, TSampleSink sink, std::string voiceName)
    : FSink(std::move(sink)), FVoiceName(std::move(voiceName)) {
    {
        std::lock_guard engineLock(GEngineLock);
        FSampleRate = EnsureEngine();
        SelectVoice(FVoiceName);
    }
    if (playback) {
        pa_sample_spec sampleSpec{};
        sampleSpec.format = PA_SAMPLE_S16LE;
        sampleSpec.rate = static_cast<std::uint32_t>(FSampleRate);
        sampleSpec.channels = 1;
        pa_buffer_attr buffer{};
        buffer.maxlength = static_cast<std::uint32_t>(-1);
        buffer.tlength = static_cast<std::uint32_t>(FSampleRate * 2 * PlayAheadMs / 1000);
        buffer.prebuf = static_cast<std::uint32_t>(-1);
        buffer.minreq = static_cast<std::uint32_t>(-1);
        buffer.fragsize = static_cast<std::uint32_t>(-1);
        int error = 0;
        FStream = pa_simple_new(nullptr, "ORVANE3", PA_STREAM_PLAYBACK, nullptr, "Announcements",
                                &sampleSpec, nullptr, &buffer, &error);
        if (FStream == nullptr) {
            throw EError(std::string("The sound output could not be opened: ") +
                         pa_strerror(error));
        }
    }
}

TEspeakVoice::~TEspeakVoice() {
    if (FStream != nullptr) {
        pa_simple_free(FStream);
    }
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
    espeak_ERROR result = EE_OK;
    {
        std::lock_guard engineLock(GEngineLock);
        SelectVoice(FVoiceName);
        FStreamError.clear();
        GSpeaking = this;
        result = espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8,
                              nullptr, nullptr);
        GSpeaking = nullptr;
    }
    if (!FStreamError.empty()) {
        throw EError(FStreamError);
    }
    if (FStream != nullptr) {
        int error = 0;
        // Drop what waits after an abort; otherwise return only when everything was heard.
        const int done =
            FAborted.load() ? pa_simple_flush(FStream, &error) : pa_simple_drain(FStream, &error);
        if (done < 0) {
            throw EError(std::string("The sound output failed: ") + pa_strerror(error));
        }
    }
    if (result != EE_OK && !FAborted.load()) {
        throw EError("The speech engine failed to speak");
    }
}

void TEspeakVoice::Abort() { FAborted.store(true); }

int TEspeakVoice::HandleSamples(const short* wav, int count) {
    if (FAborted.load()) {
        return 1;
    }
    if (wav == nullptr || count <= 0) {
        return 0;
    }
    if (FStream != nullptr) {
        int error = 0;
        // Blocks while the server holds PlayAheadMs of sound, so this keeps pace with playing.
        if (pa_simple_write(FStream, wav, static_cast<std::size_t>(count) * sizeof(short), &error) <
            0) {
            FStreamError = std::string("The sound output failed: ") + pa_strerror(error);
            return 1;
        }
    } else if (FSink) {
        FSink(std::span<const std::int16_t>(wav, static_cast<std::size_t>(count)));
    }
    FDelivered.fetch_add(static_cast<std::uint64_t>(count));
    return 0;
}

}  // namespace orvane::platform
