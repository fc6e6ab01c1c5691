#include "playlog/TPlayLogRecorder.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <exception>
#include <utility>

#include "base/TimeText.h"

namespace orvane::playlog {

namespace {

/// Where the heard part begins and ends in the clip, as the log line states it.
double ClipBegin(const tracking::capInfo& start) {
    return static_cast<double>(std::max(0LL, RoundHalfEven(static_cast<double>(start.Pos) - 1.5)));
}
double ClipEnd(const tracking::capInfo& lastSeen) {
    return static_cast<double>(
        std::max(0LL, RoundHalfEven(static_cast<double>(lastSeen.Pos) + 0.3)));
}
/// Whether a clip heard from `start` to `lastSeen` gives a log line.
bool Loggable(const tracking::capInfo& start, const tracking::capInfo& lastSeen) {
    const double span = std::fabs(static_cast<double>(lastSeen.Pos) - start.Pos);
    return std::isfinite(span) && RoundHalfEven(span) > 1;
}

}  // namespace

std::int64_t LocalDateTimeToUtcMs(tracking::TDateTime value) {
    tracking::TDateTimeFields f;
    if (!tracking::DecodeDateTime(value, f)) return 0;
    std::tm tm{};
    tm.tm_year = f.Year - 1900;
    tm.tm_mon = f.Month - 1;
    tm.tm_mday = f.Day;
    tm.tm_hour = f.Hour;
    tm.tm_min = f.Minute;
    tm.tm_sec = f.Second;
    tm.tm_isdst = -1;  // the zone's rules decide, as they did when the time was taken
    const std::time_t seconds = std::mktime(&tm);
    return static_cast<std::int64_t>(seconds) * 1000 + f.Millisecond;
}

TPlayLogRecorder::TPlayLogRecorder(IPlayLog& log, std::string stream,
                                   std::function<std::string()> streamTitle)
    : ToUtcMs(LocalDateTimeToUtcMs),
      FLog(log),
      FStream(std::move(stream)),
      FStreamTitle(std::move(streamTitle)) {}

TPlayLogRecorder::TOpen& TPlayLogRecorder::Slot(std::int32_t channel) {
    const auto index = static_cast<std::size_t>(std::max(0, channel));
    if (index >= FOpen.size()) FOpen.resize(index + 1);
    return FOpen[index];
}

void TPlayLogRecorder::Report(const std::string& message) {
    // A log that fails once (a full disk) fails every few seconds: one report per run.
    if (FFailing) return;
    FFailing = true;
    if (OnError) OnError(message);
}

void TPlayLogRecorder::ClipStarted(std::int32_t channel, const tracking::capInfo& start,
                                   const std::string& caption) {
    std::lock_guard lock(FLock);
    TOpen& open = Slot(channel);
    TPlayStart play;
    play.Stream = FStream.empty() ? caption : FStream;
    play.Title = start.Caption;
    if (FileOf) play.File = FileOf(start.UniqueID);
    if (FStreamTitle) play.StreamTitle = FStreamTitle();
    play.StartedAtMs = ToUtcMs(start.TimeStamp);
    play.ClipBeginS = ClipBegin(start);
    try {
        // A play the tracker never ended (it cannot happen, but a lost end must not leave the
        // row open for ever) is discarded first.
        if (open.Id != 0) FLog.DiscardPlay(open.Id);
        open = TOpen{};
        open.Id = FLog.BeginPlay(play);
        open.Start = start;
        FFailing = false;
    } catch (const std::exception& e) {
        open = TOpen{};
        Report(e.what());
    }
}

void TPlayLogRecorder::ClipSeen(std::int32_t channel, const tracking::capInfo& lastSeen) {
    std::lock_guard lock(FLock);
    TOpen& open = Slot(channel);
    if (open.Id == 0 || !Loggable(open.Start, lastSeen)) return;
    const std::int64_t seenMs = ToUtcMs(lastSeen.TimeStamp);
    // The first sighting that makes the play loggable is written at once, later ones every few
    // seconds: a play cut short by a crash keeps what it was heard for, within that interval.
    if (open.Written && seenMs - open.LastWrittenMs < SeenIntervalMs) return;
    try {
        FLog.SeenPlay(open.Id, seenMs, ClipEnd(lastSeen));
        open.Written = true;
        open.LastWrittenMs = seenMs;
        FFailing = false;
    } catch (const std::exception& e) {
        Report(e.what());
    }
}

void TPlayLogRecorder::ClipEnded(std::int32_t channel, const tracking::capInfo& /*start*/,
                                 const tracking::capInfo& lastSeen,
                                 const tracking::TLoggedClip* clip) {
    std::lock_guard lock(FLock);
    TOpen& open = Slot(channel);
    const std::int64_t id = open.Id;
    open = TOpen{};
    if (id == 0) return;
    try {
        if (clip == nullptr) {
            FLog.DiscardPlay(id);
            FFailing = false;
            return;
        }
        TPlayEnd end;
        end.EndedAtMs = ToUtcMs(lastSeen.TimeStamp);
        end.ClipBeginS = static_cast<double>(clip->Begin);
        end.ClipEndS = static_cast<double>(clip->End);
        end.DurationS = end.ClipEndS - end.ClipBeginS;
        FLog.EndPlay(id, end);
        FFailing = false;
    } catch (const std::exception& e) {
        Report(e.what());
    }
}

std::int64_t TPlayLogRecorder::OpenPlay(std::int32_t channel) const {
    std::lock_guard lock(FLock);
    const auto index = static_cast<std::size_t>(std::max(0, channel));
    return index < FOpen.size() ? FOpen[index].Id : 0;
}

}  // namespace orvane::playlog
