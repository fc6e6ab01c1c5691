// Stand-ins around the play log: a channel whose record the test sets, and a log that writes
// down every call.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "playlog/PlayLog.h"
#include "tracking/TLogSystem.h"

namespace orvane::playlog::test {

class TScriptedChannel final : public tracking::ITrackedChannel {
public:
    explicit TScriptedChannel(std::string caption) : FCaption(std::move(caption)) {}
    bool Active() const override { return FActive.load(); }
    tracking::capInfo ReadCap() const override {
        std::lock_guard lock(FLock);
        return FCap;
    }
    std::string Caption() const override { return FCaption; }
    void ClearLastUniqueID() override {}

    void SetActive(bool value) { FActive.store(value); }
    void Hear(std::int64_t id, const std::string& title, float pos, tracking::TDateTime when) {
        std::lock_guard lock(FLock);
        FCap.UniqueID = id;
        FCap.Caption = title;
        FCap.Pos = pos;
        FCap.TimeStamp = when;
    }
    void Lose() {
        std::lock_guard lock(FLock);
        FCap = tracking::capInfo{};
    }

private:
    std::string FCaption;
    std::atomic<bool> FActive{false};
    mutable std::mutex FLock;
    tracking::capInfo FCap;
};

/// Every call as one text, e.g. "begin 1 Channel01|Song|file|title|1000|28".
class TRecordingPlayLog final : public IPlayLog {
public:
    std::int64_t BeginPlay(const TPlayStart& s) override {
        Fail();
        Calls.push_back("begin " + std::to_string(++FNext) + " " + s.Stream + "|" + s.Title + "|" +
                        s.File + "|" + s.StreamTitle + "|" + std::to_string(s.StartedAtMs) + "|" +
                        Num(s.ClipBeginS));
        return FNext;
    }
    void SeenPlay(std::int64_t id, std::int64_t lastSeenMs, double clipEndS) override {
        Fail();
        Calls.push_back("seen " + std::to_string(id) + " " + std::to_string(lastSeenMs) + "|" +
                        Num(clipEndS));
    }
    void EndPlay(std::int64_t id, const TPlayEnd& e) override {
        Fail();
        Calls.push_back("end " + std::to_string(id) + " " + std::to_string(e.EndedAtMs) + "|" +
                        Num(e.DurationS) + "|" + Num(e.ClipBeginS) + "|" + Num(e.ClipEndS));
    }
    void DiscardPlay(std::int64_t id) override {
        Fail();
        Calls.push_back("discard " + std::to_string(id));
    }
    std::int64_t BeginOutage(const std::string& stream, std::int64_t startedAtMs,
                             const std::string& reason) override {
        Calls.push_back("outage " + stream + "|" + std::to_string(startedAtMs) + "|" + reason);
        return ++FNext;
    }
    void EndOutage(std::int64_t id, std::int64_t endedAtMs) override {
        Calls.push_back("outage end " + std::to_string(id) + " " + std::to_string(endedAtMs));
    }

    std::vector<std::string> Calls;
    bool Broken = false;  ///< every play call throws

private:
    void Fail() const {
        if (Broken) throw EError("disk full");
    }
    static std::string Num(double v) { return std::to_string(static_cast<long long>(v)); }
    std::int64_t FNext = 0;
};

}  // namespace orvane::playlog::test
