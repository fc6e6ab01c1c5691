#include "platform/EspeakVoice.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Errors.h"
#include "support/PulseServer.h"
#include "tracking/TAnnouncer.h"

namespace orvane::platform {
namespace {

using namespace std::chrono_literals;
using tracking::ISpeechVoice;
using tracking::SpeechText;
using tracking::TAnnouncer;

std::vector<std::int16_t> Synthesise(const std::string& text) {
    std::vector<std::int16_t> samples;
    auto voice = TEspeakVoice::IntoMemory([&](std::span<const std::int16_t> chunk) {
        samples.insert(samples.end(), chunk.begin(), chunk.end());
    });
    voice->Speak(text);
    return samples;
}

// What the announcer's voices heard, one entry per spoken text, and how many voices lived at
// once.
struct TUtterances {
    std::mutex Lock;
    std::vector<std::string> Texts;
    std::vector<std::size_t> SampleCounts;
    int Live = 0;
    int MostLive = 0;
};

// An espeak-ng voice into memory that files each text's samples as one utterance.
class TRecordingVoice final : public ISpeechVoice {
public:
    explicit TRecordingVoice(TUtterances& log) : FLog(log) {
        FVoice = TEspeakVoice::IntoMemory([this](std::span<const std::int16_t> chunk) {
            std::lock_guard lock(FLog.Lock);
            FLog.SampleCounts.back() += chunk.size();
        });
        std::lock_guard lock(FLog.Lock);
        ++FLog.Live;
        FLog.MostLive = std::max(FLog.MostLive, FLog.Live);
    }
    ~TRecordingVoice() override {
        std::lock_guard lock(FLog.Lock);
        --FLog.Live;
    }
    void Speak(const std::string& text) override {
        {
            std::lock_guard lock(FLog.Lock);
            FLog.Texts.push_back(text);
            FLog.SampleCounts.push_back(0);
        }
        FVoice->Speak(text);
    }
    void Abort() override { FVoice->Abort(); }

private:
    TUtterances& FLog;
    std::unique_ptr<TEspeakVoice> FVoice;
};

TEST(TEspeakVoice, SynthesisesTextIntoMemory) {
    auto voice = TEspeakVoice::IntoMemory([](std::span<const std::int16_t>) {});
    EXPECT_GT(voice->SampleRate(), 8000);
    const auto samples = Synthesise("hello world");
    // Well over a tenth of a second of sound, and not silence.
    EXPECT_GT(samples.size(), static_cast<std::size_t>(voice->SampleRate() / 10));
    int peak = 0;
    for (std::int16_t s : samples) {
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    EXPECT_GT(peak, 1000);
}

// The engine carries a little state from text to text, so the same text comes out within a
// few hundred samples of the same length.
bool NearlyAsLong(std::size_t a, std::size_t b) {
    const std::size_t larger = std::max(a, b);
    return larger - std::min(a, b) <= larger / 50;
}

TEST(TEspeakVoice, SynthesisesTheSameTextToNearlyTheSameLength) {
    const std::size_t once = Synthesise("one two three").size();
    EXPECT_TRUE(NearlyAsLong(once, Synthesise("one two three").size()));
    EXPECT_LT(2 * once, Synthesise("one two three four five six seven eight nine ten").size());
}

TEST(TEspeakVoice, ReadsMarkupCharactersAsPlainText) {
    EXPECT_NO_THROW(
        EXPECT_FALSE(Synthesise("rock & roll <b>bold</b> \"quoted\" <unclosed").empty()));
    EXPECT_NO_THROW(Synthesise(""));
    // Malformed UTF-8 from a damaged title does not break the engine.
    EXPECT_NO_THROW(Synthesise("caf\xC3 \xFF\xFE ok"));
    EXPECT_FALSE(Synthesise("still speaking").empty());
}

TEST(TEspeakVoice, RefusesAVoiceThatDoesNotExist) {
    EXPECT_THROW(
        TEspeakVoice::IntoMemory([](std::span<const std::int16_t>) {}, "no-such-voice-qqq"),
        EError);
    EXPECT_FALSE(Synthesise("after a refused voice").empty());
}

TEST(TEspeakVoice, AbortFromAnotherThreadCutsTheTextShort) {
    const std::string text =
        "this is a long sentence that goes on and on so that it takes several seconds of "
        "speech to say it all, and then it goes on a little longer still";
    const std::size_t full = Synthesise(text).size();

    std::promise<void> firstSamples;
    std::atomic<bool> signalled{false};
    std::size_t heard = 0;
    auto voice = TEspeakVoice::IntoMemory([&](std::span<const std::int16_t> chunk) {
        heard += chunk.size();
        if (!signalled.exchange(true)) {
            firstSamples.set_value();
        }
    });
    std::thread aborter([&] {
        firstSamples.get_future().wait();
        voice->Abort();
    });
    voice->Speak(text);
    aborter.join();
    EXPECT_LT(heard, full);
    // An aborted voice speaks nothing more.
    heard = 0;
    voice->Speak("another text");
    EXPECT_EQ(heard, 0u);
}

TEST(TEspeakVoice, AnnouncerSpeaksQueuedClipsInOrderThroughOneVoiceAtATime) {
    TUtterances log;
    TAnnouncer announcer([&log] { return std::make_unique<TRecordingVoice>(log); });
    announcer.SetEnabled(true);
    const std::vector<std::pair<std::string, std::string>> clips = {
        {"A much longer title of a clip with many words in it - The Band", "Line In"},
        {"Hi", "C"},
        {"Medium_Artist - Medium Song", "Channel 1"},
    };
    std::vector<std::string> texts;
    for (const auto& [title, caption] : clips) {
        announcer.AnnounceClip(title, caption);
        texts.push_back(SpeechText(title, caption));
    }
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while ((announcer.WorkerRunning() || announcer.QueuedCount() > 0) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    announcer.Shutdown();

    std::vector<std::size_t> expectedCounts;
    for (const auto& text : texts) {
        expectedCounts.push_back(Synthesise(text).size());
    }
    std::lock_guard lock(log.Lock);
    EXPECT_EQ(log.Texts, texts);
    ASSERT_EQ(log.SampleCounts.size(), expectedCounts.size());
    for (std::size_t i = 0; i < expectedCounts.size(); ++i) {
        EXPECT_TRUE(NearlyAsLong(log.SampleCounts[i], expectedCounts[i]))
            << "utterance " << i << ": " << log.SampleCounts[i] << " samples, alone "
            << expectedCounts[i];
    }
    EXPECT_EQ(log.MostLive, 1);
}

TEST(TEspeakVoice, AnnouncementAppendedWhileTheWorkerEndsIsStillSpoken) {
    for (const auto phase :
         {TAnnouncer::TWorkerPhase::wpFoundQueueEmpty, TAnnouncer::TWorkerPhase::wpRecordCleared}) {
        TUtterances log;
        TAnnouncer announcer([&log] { return std::make_unique<TRecordingVoice>(log); });
        std::atomic<bool> inWindow{false};
        std::atomic<bool> appended{false};
        std::atomic<int> calls{0};
        announcer.OnWorkerEnding = [&](TAnnouncer::TWorkerPhase reached) {
            if (reached == phase && calls.fetch_add(1) == 0) {
                inWindow.store(true);
                while (!appended.load()) {
                    std::this_thread::sleep_for(1ms);
                }
            }
        };
        announcer.SetEnabled(true);
        announcer.AnnounceClip("First", "C");
        while (!inWindow.load()) {
            std::this_thread::sleep_for(1ms);
        }
        announcer.AnnounceClip("Second", "C");
        appended.store(true);
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while ((announcer.WorkerRunning() || announcer.QueuedCount() > 0) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        announcer.Shutdown();
        std::lock_guard lock(log.Lock);
        EXPECT_EQ(log.Texts, (std::vector<std::string>{"First -.-- on C", "Second -.-- on C"}));
        ASSERT_EQ(log.SampleCounts.size(), 2u);
        EXPECT_GT(log.SampleCounts[1], 0u);
        EXPECT_EQ(log.MostLive, 1);
    }
}

TEST(TEspeakVoice, PlaysThroughASoundServerAndAbortsPlayback) {
    test::TPulseServer server;
    if (!server.Running()) {
        GTEST_SKIP() << "no private sound server: " << server.Error();
    }
    auto voice = TEspeakVoice::ForPlayback();
    voice->Speak("hello");
    EXPECT_TRUE(NearlyAsLong(voice->SamplesDelivered(), Synthesise("hello").size()));

    const std::string text =
        "a long sentence that would take many seconds to say if it were not cut short by the "
        "abort that comes from another thread as soon as the first sound has been played";
    const std::uint64_t before = voice->SamplesDelivered();
    std::thread aborter([&] {
        while (voice->SamplesDelivered() == before) {
            std::this_thread::sleep_for(1ms);
        }
        voice->Abort();
    });
    voice->Speak(text);
    aborter.join();
    EXPECT_LT(voice->SamplesDelivered() - before, Synthesise(text).size() / 2);
}

TEST(TEspeakVoice, ReportsASoundServerThatCannotBeReached) {
    const char* old = std::getenv("PULSE_SERVER");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("PULSE_SERVER", "unix:/nonexistent/orvane-no-server", 1);
    EXPECT_THROW(TEspeakVoice::ForPlayback(), EError);
    if (old != nullptr) {
        ::setenv("PULSE_SERVER", saved.c_str(), 1);
    } else {
        ::unsetenv("PULSE_SERVER");
    }
}

}  // namespace
}  // namespace orvane::platform
