// A second process that writes a play log through a real tracker, then waits: the tests kill it
// with SIGKILL (or close its input to let it end normally) and look at what the log kept.
//
// orvane3-playlog-writer DB   prints "ready" once the log holds, with wall times from
// 2026-12-10T05:00:00.000Z on:
//   Channel01 "Alpha" heard 0:10 to 0:20, ended (begin 8, end 20);
//   Channel01 "Beta" heard 0:05 to 0:13, still playing, last written at 05:00:20;
//   Channel02 "Gamma" heard once, still playing;
//   an outage of "Radio Two" since 05:00:15 ("connection refused").
#include <cmath>
#include <cstdint>
#include <exception>
#include <iostream>
#include <string>

#include "playlog/PlayLogFakes.h"
#include "playlog/TPlayLogRecorder.h"
#include "playlog/sqlite/TSqlitePlayLog.h"
#include "tracking/TPosting.h"
#include "tracking/TQueuePoster.h"
#include "tracking/TStreamClock.h"

using namespace orvane;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: orvane3-playlog-writer DB\n";
        return 2;
    }
    try {
        constexpr std::int64_t Base = 1796878800000;  // 2026-12-10T05:00:00.000Z
        auto log = playlog::OpenSqlitePlayLog(argv[1]);
        tracking::TQueuePoster queue;
        tracking::TStreamClock clock;
        tracking::TPosting posting(queue, clock);
        playlog::test::TScriptedChannel one("Channel01");
        playlog::test::TScriptedChannel two("Channel02");
        tracking::TLogSystem tracker(posting, clock);
        tracker.AddChannel(one);
        tracker.AddChannel(two);
        playlog::TPlayLogRecorder recorder(*log, "");
        recorder.ToUtcMs = [](tracking::TDateTime value) {
            return Base + static_cast<std::int64_t>(std::llround(value * 86400000.0));
        };
        recorder.OnError = [](const std::string& message) { std::cerr << message << '\n'; };
        tracker.AddObserver(recorder);

        auto at = [](double seconds) { return seconds / 86400.0; };
        auto step = [&](double seconds) {
            clock.Set(at(seconds));
            tracker.LogHandler();
        };
        one.SetActive(true);
        two.SetActive(true);
        step(0);
        for (int s = 1; s <= 11; ++s) {
            one.Hear(1024, "Alpha", static_cast<float>(9 + s), at(s));
            step(s);
        }
        for (int s = 12; s <= 20; ++s) {
            one.Hear(1025, "Beta", static_cast<float>(s - 7), at(s));
            if (s == 15) log->BeginOutage("Radio Two", Base + 15000, "connection refused");
            if (s == 20) two.Hear(1026, "Gamma", 50.0f, at(s));
            step(s);
        }
        std::cout << "ready" << std::endl;
        std::string line;
        while (std::getline(std::cin, line)) {
        }
        tracker.Shutdown();  // a clean end completes the clips still playing
        return 0;
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
}
