// The server under a navigator that publishes far faster than it reports:
// 1 kHz solutions and UTC times for 30 s (CORVANE_E2E_LOAD_SECONDS sets
// another length). The server keeps reporting the latest solution, answers
// a ping afterwards and stops in order. DDS domain 110.
#include "tests/VICTORY/ZOziDaZodOduzuz/EndToEndSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <set>

namespace {

using namespace e2e;

TEST(EndToEndLoad, KiloHertzNavigatorStream) {
    const char* text = std::getenv("CORVANE_E2E_LOAD_SECONDS");
    const double seconds = text != nullptr && std::atof(text) > 0 ? std::atof(text) : 30.0;
    Rig rig(110);
    ASSERT_TRUE(rig.start());

    const auto begin = Clock::now();
    const auto end = begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    NavSample s;
    long long sent = 0;
    for (auto next = begin; Clock::now() < end; ++sent) {
        // Every clock of the sample advances by one millisecond.
        s.pvaTovSec = s.utcTovSec = 1000 + sent / 1000;
        s.pvaTovNsec = s.utcTovNsec = static_cast<std::int32_t>((sent % 1000) * 1000000);
        s.utcTodSec = 43200 + static_cast<std::int32_t>(sent / 1000);
        s.gpsTowSec = 2 * 86400 + 43218 + static_cast<std::int32_t>(sent / 1000);
        s.utcTodNsec = static_cast<double>((sent % 1000) * 1000000);
        rig.peer->sendPair(s);
        if (sent % 100 == 0) {
            rig.bus.pump(0ms);
            ASSERT_FALSE(rig.server->wait(0ms)) << rig.transcript();
        }
        next += 1ms;
        if (next < Clock::now() - 50ms) next = Clock::now();  // a late sender catches up instead of bursting
        std::this_thread::sleep_until(next);
    }
    const double took = std::chrono::duration<double>(Clock::now() - begin).count();
    rig.bus.pump(1500ms);
    std::set<std::tuple<int, int, int, int>> reportedSeconds;  // distinct sample times seen, to the second
    for (const auto& m : rig.bus.received(kPosition)) {
        if (m.time) reportedSeconds.insert({m.time->day, m.time->hour, m.time->minute, m.time->second});
    }
    std::cout << "sent " << sent << " pairs in " << took << " s (" << sent / took << " per second); "
              << reportedSeconds.size() << " distinct reported seconds" << std::endl;
    EXPECT_GE(sent / took, 200.0) << "the test could not keep up a stream far faster than the 4 Hz worker";
    // The library sends once per second: most seconds carry a new solution,
    // the last one from the end of the stream. The samples' time advances
    // one second per 1000 pairs: a machine too loaded to send at 1 kHz
    // sends fewer seconds of samples than the stream lasts.
    const double sampleSeconds = std::min(seconds, static_cast<double>(sent) / 1000.0);
    EXPECT_GE(reportedSeconds.size(), static_cast<std::size_t>(sampleSeconds * 0.7)) << rig.transcript();
    ASSERT_FALSE(rig.bus.received(kPosition).empty());
    const auto& last = rig.bus.received(kPosition).back();
    ASSERT_TRUE(last.time);
    EXPECT_GE(last.time->hour * 3600 + last.time->minute * 60 + last.time->second - 43200,
              static_cast<int>(sent / 1000) - 3)
        << describe(last);
    EXPECT_TRUE(rig.peer->ping(1));
    EXPECT_TRUE(rig.stopsInOrder());
}

}  // namespace
