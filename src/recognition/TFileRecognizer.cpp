#include "recognition/TFileRecognizer.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>
#include <variant>

#include "audio/FptExtract.h"
#include "database/TMediumDB.h"
#include "database/TSongList.h"
#include "recognition/QnCheckKey.h"
#include "recognition/TChannel.h"
#include "recognition/TSearch.h"
#include "signal/QnFFT.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TStreamClock.h"

namespace orvane::recognition {

namespace {

constexpr double SecondsPerDay = 86400.0;
/// The tracker's lead-in and lead-out of a logged span, in seconds.
constexpr double LeadIn = 1.5;
constexpr double LeadOut = 0.3;

/// A clip record as the tracker saw it at one search.
struct TSeenRecord {
    tracking::TDateTime TimeStamp;
    std::int64_t UniqueID;
    double Pos;
};

}  // namespace

TFileRecognizer::TFileRecognizer(const database::TSongList& songs, const database::TMediumDB& index,
                                 TRecognitionOptions options, std::int32_t idleTimeout)
    : FSongs(songs), FIndex(index), FOptions(options), FIdleTimeout(idleTimeout) {}

TFileRecognition TFileRecognizer::Recognize(const std::string& fileName) const {
    TFileRecognition result;
    const audio::TAudioFileType type = audio::AudioFileTypeOf(fileName);
    if (type == audio::TAudioFileType::ftOther) {
        result.Read = false;
        result.Error = "Only .mp3 and .wav files can be recognised";
        return result;
    }

    std::mutex seenLock;  // guards seen and logged: filled on the recognition and reading threads
    std::vector<TSeenRecord> seen;
    std::vector<tracking::TLoggedClip> logged;

    tracking::TQueuePoster poster;
    tracking::TStreamClock clock;
    tracking::TPosting posting(poster, clock);
    TRecognitionLock lock;
    signal::QnKeyConversion converter;
    QnCheckKey verifier(FSongs);
    TSearchSettings settings;
    TSearch search(converter, verifier, FIndex, posting, settings);
    tracking::TLogSystem tracker(posting, clock);
    tracker.SetIdleTimeout(FIdleTimeout);
    tracker.OnClipLogged = [&](const tracking::TLoggedClip& clip) {
        std::lock_guard guard(seenLock);
        logged.push_back(clip);
    };
    TChannel channel(0, 0, "Channel01", lock, posting, nullptr);
    tracker.AddChannel(channel);
    channel.SetLogSystem(&tracker);
    search.OnSearched = [&](TChannelBasic& c, tracking::TDateTime dataEndingTime) {
        // The tracker's step after every search, at the stream time of the analysed audio.
        const tracking::capInfo cap = c.ReadCap();
        {
            std::lock_guard guard(seenLock);
            seen.push_back({cap.TimeStamp, cap.UniqueID, static_cast<double>(cap.Pos)});
        }
        clock.Set(dataEndingTime);
        tracker.HandleChannel(c.Id());
    };
    QnChServer server(lock, search, converter, settings);
    server.AddChannel(channel);
    server.PublishSettings(FOptions);
    // Headless: the results are wanted as if the window were shown.
    settings.Form1Visible = true;
    settings.Form1TrayVisible = false;

    channel.SetMode(ChannelMode::cmManual);
    channel.SetFile(fileName, type);
    server.Start();
    channel.SetActive(true);
    if (!channel.Active()) {
        result.Read = false;
        result.Error = channel.LastInputError();
        server.Terminate();
        return result;
    }
    // The reading thread switches the channel off once the whole file has been analysed.
    while (channel.Active()) channel.WaitForSwitch(std::chrono::milliseconds(100));
    server.Terminate();
    channel.SetLogSystem(nullptr);
    result.Seconds = clock.Now() * SecondsPerDay;
    if (!channel.LastInputError().empty()) {
        result.Read = false;
        result.Error = channel.LastInputError();
    }

    for (auto& message : poster.TakeAll()) {
        auto* entry = std::get_if<tracking::TActivityData>(&message);
        if (entry == nullptr || entry->Icon == tracking::TActivityIcon::aiArrow) continue;
        result.Notes.push_back(std::move(*entry));
    }
    std::lock_guard guard(seenLock);
    auto posOf = [&](tracking::TDateTime stamp, std::int64_t id) {
        for (const TSeenRecord& r : seen) {
            if (r.TimeStamp == stamp && r.UniqueID == id) return r.Pos;
        }
        return 0.0;
    };
    for (const tracking::TLoggedClip& clip : logged) {
        TRecognizedClip r;
        r.Logged = clip;
        r.FirstPos = posOf(clip.FirstHeard, clip.UniqueID);
        r.LastPos = posOf(clip.LastHeard, clip.UniqueID);
        r.ClipBegin = std::max(0.0, r.FirstPos - LeadIn);
        r.ClipEnd = r.LastPos + LeadOut;
        r.ClipStartInFile = clip.FirstHeard * SecondsPerDay - StampLeadSeconds - r.FirstPos;
        r.StartInFile = r.ClipStartInFile + r.ClipBegin;
        r.EndInFile = clip.LastHeard * SecondsPerDay - StampLeadSeconds - r.LastPos + r.ClipEnd;
        result.Clips.push_back(std::move(r));
    }
    return result;
}

}  // namespace orvane::recognition
