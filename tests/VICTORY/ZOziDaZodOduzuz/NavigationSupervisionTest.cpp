// The supervision rules of the navigation data, cycle by cycle: loss and
// return, the "waiting" notice, the reason texts, onsets of repeated
// conditions and of non-finite fields. The test owns the cycle count.
#include "VICTORY/ZOziDaZodOduzuz/NavigationSupervision.h"

#include "VICTORY/ZOziDaZodOduzuz/CommandTable.h"
#include "aspn2_msgs/PositionVelocityAttitude.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace {

using namespace NavigationSupervision;
using Event = LossDetector::Event;

// Feeds `pattern` ('p' a published pair, '.' none) and returns the events
// as a string: 'W' waiting, 'L' lost, 'R' recovered, '-' nothing.
std::string run(LossDetector& d, const std::string& pattern) {
    std::string events;
    for (char c : pattern) {
        switch (d.observe(c == 'p')) {
            case Event::None:
                events += '-';
                break;
            case Event::Waiting:
                events += 'W';
                break;
            case Event::Lost:
                events += 'L';
                break;
            case Event::Recovered:
                events += 'R';
                break;
        }
    }
    return events;
}

std::string repeat(char c, int n) { return std::string(static_cast<std::size_t>(n), c); }

TEST(LossDetector, LossAfterEightEmptyCyclesOnceAndReturnOnTheFirstPair) {
    const struct {
        const char* name;
        std::string pattern, events;
    } cases[] = {
        {"seven empty cycles are no loss", "p" + repeat('.', 7) + "p", repeat('-', 9)},
        {"the eighth is, once", "p" + repeat('.', 30), repeat('-', 8) + "L" + repeat('-', 22)},
        {"first pair after a loss", "p" + repeat('.', 8) + "pp", repeat('-', 8) + "LR-"},
        {"each loss counted afresh", "p" + repeat('.', 8) + "p" + repeat('.', 8),
         repeat('-', 8) + "LR" + repeat('-', 7) + "L"},
        {"no pair ever: waiting after 20 cycles, once, and no loss", repeat('.', 60),
         repeat('-', 19) + "W" + repeat('-', 40)},
        {"a pair before 20 cycles: no waiting notice", repeat('.', 10) + "p" + repeat('.', 7) + "p", repeat('-', 19)},
        {"pairs after the waiting notice are no recovery", repeat('.', 20) + "pp" + repeat('.', 8),
         repeat('-', 19) + "W--" + repeat('-', 7) + "L"},
    };
    for (const auto& c : cases) {
        LossDetector d;
        EXPECT_EQ(run(d, c.pattern), c.events) << c.name;
    }
    LossDetector d;
    run(d, "p" + repeat('.', 1000));
    EXPECT_TRUE(d.lost());
    EXPECT_EQ(d.cyclesWithoutPair(), kLossCycles + kWaitingCycles);  // counter does not run away
    EXPECT_EQ(run(d, "p"), "R");
    EXPECT_FALSE(d.lost());
}

TEST(Gap, ReasonNamesTheCauseAndTheLastValueSeen) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto gap = [&](auto change) {
        Gap g;
        g.acceptedPvaSource = g.acceptedUtcSource = 96;
        g.lastPvaTov = 1000.25;
        g.lastUtcTov = 999.5;
        change(g);
        return g;
    };
    const struct {
        Gap gap;
        std::string text;
    } cases[] = {
        {gap([](Gap& g) { g.pvaMissing = g.utcMissing = true; }),
         "no PVA and no UTC (last PVA time of validity 1000.250 s, last UTC time of validity 999.500 s)"},
        {gap([](Gap& g) { g.pvaMissing = true; }), "no PVA (last PVA time of validity 1000.250 s)"},
        {gap([&](Gap& g) {
             g.utcMissing = true;
             g.lastUtcTov = nan;
         }),
         "no UTC (no UTC ever received)"},
        {gap([](Gap& g) {
             g.pvaMissing = g.utcMissing = true;
             g.pvaFilteredSource = g.utcFilteredSource = 55;
         }),
         "source filtered: PVA from server 55 (unknown ID 55) (accepted: 96 FusionNavigator);"
         " UTC from server 55 (unknown ID 55) (accepted: 96 FusionNavigator)"},
        {gap([](Gap& g) {
             g.utcMissing = true;
             g.utcFilteredSource = 45;
             g.pvaFilteredSource = 45;  // a PVA is stored: its filtered sibling does not matter
         }),
         "source filtered: UTC from server 45 ZOziDaZodOduzuz (accepted: 96 FusionNavigator)"},
        {gap([](Gap& g) { g.deltaTov = 1.0; }), "deltaTov too large: 1.000 s (pairing window 0.600 s)"},
        {gap([](Gap& g) {
             g.deltaTov = 1.0;
             g.rejected = "latitude not finite";
         }),
         "solution rejected: latitude not finite"},
        {Gap(), "no data"},
    };
    for (const auto& c : cases) EXPECT_EQ(describe(c.gap), c.text);
}

TEST(RepeatFilter, ReportsTheFirstOfEachRunAndCounts) {
    RepeatFilter f;
    std::string onsets;
    for (char c : std::string("..xxxx.x..xx")) onsets += f.observe(c == 'x') ? 'O' : '-';
    EXPECT_EQ(onsets, "--O----O--O-");
    EXPECT_EQ(f.onsets(), 3u);
    EXPECT_EQ(f.occurrences(), 7u);
    EXPECT_EQ(f.runLength(), 2u);
    f.observe(false);
    EXPECT_EQ(f.runLength(), 0u);
}

TEST(NonFiniteFields, NamesEachFieldOncePerOnset) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    aspn2_msgs::idl::PositionVelocityAttitude pva;
    pva.position().latitude(0.8);
    pva.position().longitude(0.2);
    pva.position().altitude(100.0);
    pva.velocity({1.0, 2.0, 3.0});
    pva.attitude({0.1, 0.2, 0.3});
    pva.covariance()[0][0] = nan;  // not a field of the solution's values
    EXPECT_TRUE(nonFiniteFields(pva).empty());

    FieldOnsets onsets;
    const struct {
        void (*spoil)(aspn2_msgs::idl::PositionVelocityAttitude&, double, double);
        std::vector<std::string> bad, fresh;
    } steps[] = {
        {[](auto& p, double n, double) { p.position().altitude(n); }, {"altitude"}, {"altitude"}},
        {[](auto& p, double n, double) { p.position().altitude(n); }, {"altitude"}, {}},
        {[](auto& p, double n, double i) {
             p.position().altitude(n);
             p.velocity({1.0, i, 3.0});
         },
         {"altitude", "velocity"},
         {"velocity"}},
        {[](auto& p, double, double i) {
             p.attitude({0.1, 0.2, -i});
         },
         {"attitude"},
         {"attitude"}},
        {[](auto& p, double n, double) { p.position().altitude(n); }, {"altitude"}, {"altitude"}},
        {[](auto& p, double n, double i) {
             p.position().latitude(n);
             p.position().longitude(-i);
         },
         {"latitude", "longitude"},
         {"latitude", "longitude"}},
    };
    for (const auto& s : steps) {
        aspn2_msgs::idl::PositionVelocityAttitude p = pva;
        s.spoil(p, nan, inf);
        const std::vector<std::string> bad = nonFiniteFields(p);
        EXPECT_EQ(bad, s.bad);
        EXPECT_EQ(onsets.observe(bad), s.fresh) << joinNames(bad);
    }
    EXPECT_EQ(joinNames({"a", "b", "c"}), "a, b and c");
    EXPECT_EQ(joinNames({"a"}), "a");
}

// Commands that change the output are told with their sender.
TEST(CommandTable, CommandsThatChangeTheOutputNameTheirSender) {
    using CommandTable::Action;
    EXPECT_TRUE(CommandTable::changesOutput(Action::Sanitize));
    EXPECT_TRUE(CommandTable::changesOutput(Action::SetLiveMode));
    EXPECT_TRUE(CommandTable::changesOutput(Action::SetSimMode));
    EXPECT_FALSE(CommandTable::changesOutput(Action::Ping));
    EXPECT_FALSE(CommandTable::changesOutput(Action::None));
    EXPECT_EQ(CommandTable::describeCommand("START_ZEROIZE", 11, static_cast<std::int32_t>(0x02320200u)),
              "command \"START_ZEROIZE\" (identifier 11) from device 0x02320200 (system 2 Simulator, server 50 "
              "CommandServer, kind 2)");
    EXPECT_EQ(CommandTable::describeCommand("A\nB", -1, static_cast<std::int32_t>(0xFF000000u)),
              "command \"A?B\" (identifier -1) from device 0xFF000000 (system 255 unknown system, server 0 "
              "INVALID_SERVER_ID, kind 0)");
}

}  // namespace
