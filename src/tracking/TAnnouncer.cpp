#include "tracking/TAnnouncer.h"

#include <cstdint>
#include <exception>
#include <utility>

#include "base/Errors.h"
#include "base/TextCodec.h"

namespace orvane::tracking {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Every occurrence of `from` (ASCII case ignored) replaced by `to`, scanning on after the
// inserted text so a replacement is never replaced again.
std::string ReplaceAllIgnoringCase(std::string_view text, std::string_view from,
                                   std::string_view to) {
    if (from.empty()) {
        return std::string(text);
    }
    std::string result;
    result.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        bool match = i + from.size() <= text.size();
        for (std::size_t k = 0; match && k < from.size(); ++k) {
            match = LowerAscii(text[i + k]) == LowerAscii(from[k]);
        }
        if (match) {
            result += to;
            i += from.size();
        } else {
            result += text[i];
            ++i;
        }
    }
    return result;
}

// The lower-case form of one code point of the scripts LowerText covers.
char32_t LowerCodePoint(char32_t c) {
    if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
        return c + 0x20;
    }
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A pairs capital and small letter as even/odd, except in the two runs
        // that start on an odd code point. U+0178 pairs with U+00FF; U+0130 stays, as its small
        // form is longer than itself.
        if (c == 0x178) {
            return 0xFF;
        }
        const bool oddRun = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) {
            return c;
        }
        if (oddRun ? (c % 2 == 1) : (c % 2 == 0)) {
            return c + 1;
        }
        return c;
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) {
        return c + 0x20;
    }
    if (c >= 0x410 && c <= 0x42F) {
        return c + 0x20;
    }
    if (c >= 0x400 && c <= 0x40F) {
        return c + 0x50;
    }
    return c;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string Respell(std::string_view text) {
    std::string result(text);
    for (const TRespelling& row : RespellingTable) {
        result = ReplaceAllIgnoringCase(result, row.From, row.To);
    }
    return result;
}

std::string LowerText(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        // Only two-byte sequences hold letters that change here; everything else is copied
        // byte for byte, malformed or not.
        if (lead >= 0xC2 && lead <= 0xDF && i + 1 < text.size() &&
            (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
            const char32_t c = (static_cast<char32_t>(lead & 0x1F) << 6) |
                               (static_cast<unsigned char>(text[i + 1]) & 0x3F);
            AppendUtf8(result, LowerCodePoint(c));
            i += 2;
        } else {
            result += LowerAscii(text[i]);
            ++i;
        }
    }
    return result;
}

std::string SpeechText(std::string_view title, std::string_view caption) {
    std::string t;
    t.reserve(title.size());
    for (char c : title) {
        if (c != '*') {
            t += c;
        }
    }
    const std::size_t dash = t.find('-');
    if (dash == std::string::npos) {
        return t + " -.-- on " + std::string(caption);
    }
    std::string lowered = LowerText(t);
    for (char& c : lowered) {
        if (c == '_') {
            c = ' ';
        }
    }
    // LowerText keeps every byte length, so the dash stands where it stood.
    const std::string_view whole(lowered);
    const std::string_view songPart = whole.substr(dash + 1);
    const std::string artistPart = Respell(whole.substr(0, dash));
    const std::string text =
        std::string(songPart) + " -.-- by " + artistPart + " -.-- on " + std::string(caption);
    return std::string(TrimBlanks(text));
}

TAnnouncer::TAnnouncer(TVoiceFactory voiceFactory) : FVoiceFactory(std::move(voiceFactory)) {}

TAnnouncer::~TAnnouncer() { Shutdown(); }

void TAnnouncer::SetEnabled(bool enabled) {
    std::lock_guard queueLock(FLock);
    FEnabled = enabled;
}

bool TAnnouncer::Enabled() const {
    std::lock_guard queueLock(FLock);
    return FEnabled;
}

void TAnnouncer::AnnounceClip(std::string_view title, std::string_view caption) {
    std::string text = SpeechText(title, caption);
    std::lock_guard queueLock(FLock);
    if (!FEnabled || FStopping) {
        return;
    }
    FQueue.push_back(std::move(text));
    // The worker decides to end under this same lock, so either it still sees the new text or
    // its record is already cleared and a new worker starts here.
    if (FWorkerActive) {
        return;
    }
    auto predecessor = std::make_shared<std::thread>(std::move(FWorker));
    try {
        FWorker = std::thread(&TAnnouncer::WorkerMain, this, predecessor);
    } catch (const std::exception& e) {
        // The predecessor has cleared its record and only returns; the text stays queued for
        // the next announcement.
        if (predecessor->joinable()) {
            predecessor->join();
        }
        if (OnSpeechError) {
            OnSpeechError(e.what());
        }
        return;
    }
    FWorkerActive = true;
    ++FWorkersStarted;
}

void TAnnouncer::ReportError(const std::string& message) {
    if (OnSpeechError) {
        OnSpeechError(message);
    }
}

void TAnnouncer::WorkerMain(std::shared_ptr<std::thread> predecessor) {
    if (predecessor->joinable()) {
        predecessor->join();
    }
    predecessor.reset();

    std::string error;
    std::unique_ptr<ISpeechVoice> voice;
    try {
        voice = FVoiceFactory ? FVoiceFactory() : nullptr;
        if (!voice) {
            throw EError("No speech engine");
        }
    } catch (const std::exception& e) {
        error = e.what();
        ReportError(error);
    }
    if (voice) {
        std::lock_guard queueLock(FLock);
        FCurrentVoice = voice.get();
    }

    while (true) {
        std::string text;
        bool haveText = false;
        if (error.empty()) {
            std::lock_guard queueLock(FLock);
            if (!FStopping && !FQueue.empty()) {
                text = FQueue.front();
                haveText = true;
            }
        }
        if (haveText) {
            try {
                voice->Speak(text);
            } catch (const std::exception& e) {
                error = e.what();
                ReportError(error);
                continue;
            }
            // Only this worker removes texts and the main thread only appends, so the first
            // text is still the one just spoken.
            std::lock_guard queueLock(FLock);
            FQueue.pop_front();
            continue;
        }
        if (OnWorkerEnding) {
            OnWorkerEnding(TWorkerPhase::wpFoundQueueEmpty);
        }
        std::lock_guard queueLock(FLock);
        if (error.empty() && !FStopping && !FQueue.empty()) {
            continue;
        }
        FWorkerActive = false;
        FCurrentVoice = nullptr;
        FWorkerEnded.notify_all();
        break;
    }
    voice.reset();
    if (OnWorkerEnding) {
        OnWorkerEnding(TWorkerPhase::wpRecordCleared);
    }
}

void TAnnouncer::Shutdown(std::chrono::milliseconds wait) {
    {
        std::unique_lock queueLock(FLock);
        FStopping = true;
        if (!FWorkerEnded.wait_for(queueLock, wait, [this] { return !FWorkerActive; })) {
            if (FCurrentVoice != nullptr) {
                FCurrentVoice->Abort();
            }
        }
    }
    // No worker starts once FStopping is set, so FWorker is the last one.
    if (FWorker.joinable()) {
        FWorker.join();
    }
}

std::size_t TAnnouncer::QueuedCount() const {
    std::lock_guard queueLock(FLock);
    return FQueue.size();
}

std::vector<std::string> TAnnouncer::QueuedTexts() const {
    std::lock_guard queueLock(FLock);
    return {FQueue.begin(), FQueue.end()};
}

bool TAnnouncer::WorkerRunning() const {
    std::lock_guard queueLock(FLock);
    return FWorkerActive;
}

std::size_t TAnnouncer::WorkersStarted() const {
    std::lock_guard queueLock(FLock);
    return FWorkersStarted;
}

}  // namespace orvane::tracking
