// The status record: the services' states, the rolling windows (rates over
// 10 s, largest |deltaTov| over 60 s), the refused-pair counts, the values
// told, a reader racing the worker, and what the answer and the service
// manager's line make of it.
#include "VICTORY/ZOziDaZodOduzuz/StatusJson.h"
#include "VICTORY/ZOziDaZodOduzuz/StatusRecord.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cmath>
#include <thread>

namespace {

using namespace Status;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A cycle with all three services switched on and running.
Cycle runningCycle(double now, bool published) {
    Cycle c;
    c.now = now;
    c.published = published;
    for (int i = 0; i < kServiceCount; ++i) {
        c.switchedOn[i] = c.running[i] = true;
    }
    return c;
}

TEST(StatusRecord, ServiceStateFollowsItsPrecedence) {
    const struct {
        bool running, sanitized, everTold, lost, lastValid;
        ServiceState expected;
    } rows[] = {
        {false, true, true, true, true, ServiceState::Off},
        {true, true, true, true, false, ServiceState::Sanitized},
        {true, false, true, true, true, ServiceState::Lost},
        {true, false, false, true, false, ServiceState::Lost},
        {true, false, false, false, false, ServiceState::NoData},
        {true, false, true, false, false, ServiceState::Invalid},
        {true, false, true, false, true, ServiceState::Live},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(serviceState(r.running, r.sanitized, r.everTold, r.lost, r.lastValid), r.expected)
            << stateName(r.expected);
    }
}

TEST(StatusRecord, RatesCoverTheLastTenSeconds) {
    StatusRecord record;
    record.reset(0.0);
    Snapshot s;
    EXPECT_FALSE(record.snapshot(s));
    // 20 s of cycles: 10 PVA and 10 UTC messages per second, a pair every
    // cycle for the first 10 s and none after.
    for (int cycle = 1; cycle <= 80; ++cycle) {
        for (int i = 0; i < 2 + (cycle % 2); ++i) {
            record.countPva();
            record.countUtc();
        }
        Cycle c = runningCycle(cycle * 0.25, cycle <= 40);
        c.fpgaValid = true;
        c.fpgaCount = static_cast<std::uint64_t>(cycle * 0.25 * 58982400.0);
        record.endCycle(c);
        if (cycle == 40) {
            ASSERT_TRUE(record.snapshot(s));
            EXPECT_NEAR(s.pvaRate, 10.0, 0.3);
            EXPECT_NEAR(s.pairRate, 4.0, 0.11);
            EXPECT_NEAR(s.fpgaRate, 58982400.0, 1.0);
        }
    }
    ASSERT_TRUE(record.snapshot(s));
    EXPECT_EQ(s.cycles, 80u);
    EXPECT_EQ(s.pairsTold, 40u);
    EXPECT_DOUBLE_EQ(s.pairRate, 0.0);  // none in the last 10 s
    EXPECT_NEAR(s.utcRate, 10.0, 0.3);
    EXPECT_EQ(record.pvaCount(), 200u);
}

TEST(StatusRecord, CounterWithoutFpgaHasNoRate) {
    StatusRecord record;
    record.reset(0.0);
    for (int cycle = 1; cycle <= 8; ++cycle) {
        record.endCycle(runningCycle(cycle * 0.25, true));
    }
    Snapshot s;
    ASSERT_TRUE(record.snapshot(s));
    EXPECT_TRUE(std::isnan(s.fpgaRate));
}

TEST(StatusRecord, LargestDeltaTovLeavesTheWindowAfterAMinute) {
    StatusRecord record;
    record.reset(0.0);
    Snapshot s;
    Cycle c = runningCycle(0.25, false);
    c.cause = GapCause::DeltaTov;
    c.deltaTov = 1.5;
    record.endCycle(c);
    for (int cycle = 2; cycle <= 240; ++cycle) {
        Cycle quiet = runningCycle(cycle * 0.25, true);
        quiet.deltaTov = cycle == 2 ? 0.05 : kNaN;
        record.endCycle(quiet);
    }
    ASSERT_TRUE(record.snapshot(s));
    EXPECT_DOUBLE_EQ(s.maxDeltaTov, 1.5);  // 240 cycles: still inside
    EXPECT_DOUBLE_EQ(s.lastDeltaTov, 0.05);
    record.endCycle(runningCycle(241 * 0.25, true));
    ASSERT_TRUE(record.snapshot(s));
    EXPECT_DOUBLE_EQ(s.maxDeltaTov, 0.05);
}

TEST(StatusRecord, AStoredPairTooFarApartIsRefusedOnceAndRejectionsEveryCycle) {
    StatusRecord record;
    record.reset(0.0);
    const struct {
        GapCause cause;
        double pvaTov, utcTov;
    } cycles[] = {
        {GapCause::DeltaTov, 100.0, 99.0},  {GapCause::DeltaTov, 100.0, 99.0},  // the same pair, kept
        {GapCause::DeltaTov, 100.1, 99.0},                                      // a newer PVA
        {GapCause::Rejected, 101.0, 101.0}, {GapCause::Rejected, 101.0, 101.0}, {GapCause::NoPva, 101.0, 101.0},
    };
    double now = 0.0;
    for (const auto& row : cycles) {
        Cycle c = runningCycle(now += 0.25, false);
        c.cause = row.cause;
        c.pvaTov = row.pvaTov;
        c.utcTov = row.utcTov;
        record.endCycle(c);
    }
    Snapshot s;
    ASSERT_TRUE(record.snapshot(s));
    EXPECT_EQ(s.refusedDeltaTov, 2u);
    EXPECT_EQ(s.refusedRejected, 2u);
    EXPECT_EQ(s.cause, GapCause::NoPva);
    EXPECT_TRUE(s.waiting);
}

// A foreign navigator slower than the worker leaves cycles without any
// message: for 2 s the filter still explains the gap.
TEST(StatusRecord, AForeignSourceExplainsTheGapForTwoSeconds) {
    StatusRecord record;
    record.reset(0.0);
    double now = 0.0;
    const auto cycle = [&](GapCause cause) {
        Cycle c = runningCycle(now += 0.25, false);
        c.cause = cause;
        record.endCycle(c);
        Snapshot s;
        record.snapshot(s);
        return s.cause;
    };
    EXPECT_EQ(cycle(GapCause::NoPvaNoUtc), GapCause::NoPvaNoUtc);
    EXPECT_EQ(cycle(GapCause::SourceFiltered), GapCause::SourceFiltered);
    for (int i = 1; i <= 8; ++i) {
        EXPECT_EQ(cycle(i % 2 ? GapCause::NoPvaNoUtc : GapCause::NoUtc), GapCause::SourceFiltered) << i;
    }
    EXPECT_EQ(cycle(GapCause::NoPva), GapCause::NoPva);
    EXPECT_EQ(cycle(GapCause::SourceFiltered), GapCause::SourceFiltered);
    EXPECT_EQ(cycle(GapCause::DeltaTov), GapCause::DeltaTov);  // a cause of its own is kept
}

TEST(StatusRecord, ToldValuesAndStatesPerService) {
    StatusRecord record;
    record.reset(0.0);
    record.told(kPosition, true, 48.5, 11.25, 512.0, "32UPU1234567890123456789", 1.0);  // cut to 23 characters
    record.told(kOrientation, false, 1.0, 2.0, 3.0, nullptr, 1.0);
    record.told(7, true, 0, 0, 0, nullptr, 1.0);  // no such service: ignored
    Cycle c = runningCycle(1.25, true);
    c.running[kDirectionOfTravel] = false;
    c.switchedOn[kDirectionOfTravel] = false;
    record.endCycle(c);
    Snapshot s;
    ASSERT_TRUE(record.snapshot(s));
    EXPECT_EQ(s.services[kPosition].state, ServiceState::Live);
    EXPECT_STREQ(s.services[kPosition].mgrs, "32UPU123456789012345678");
    EXPECT_DOUBLE_EQ(s.services[kPosition].values[1], 11.25);
    EXPECT_EQ(s.services[kOrientation].state, ServiceState::Invalid);
    EXPECT_EQ(s.services[kDirectionOfTravel].state, ServiceState::Off);
    EXPECT_EQ(overallState(s), ServiceState::Invalid);

    record.markSanitized();
    record.endCycle(runningCycle(1.5, true));  // a sanitize runs all three
    ASSERT_TRUE(record.snapshot(s));
    for (const ServiceSnapshot& service : s.services) {
        EXPECT_EQ(service.state, ServiceState::Sanitized);
    }
    record.reset(2.0);
    record.endCycle(runningCycle(2.25, false));
    ASSERT_TRUE(record.snapshot(s));
    EXPECT_FALSE(s.sanitized);
    EXPECT_EQ(s.services[kPosition].state, ServiceState::NoData);
}

TEST(StatusRecord, FilteredMessagesAreCountedWithTheirSource) {
    StatusRecord record;
    record.reset(0.0);
    EXPECT_EQ(record.lastForeignSource(), -1);
    record.countFilteredPva(55);
    record.countFilteredUtc(200);
    record.countFilteredUtc(200);
    EXPECT_EQ(record.pvaFiltered(), 1u);
    EXPECT_EQ(record.utcFiltered(), 2u);
    EXPECT_EQ(record.lastForeignSource(), 200);
}

// A reader racing the worker always sees one whole snapshot: every counter
// of a snapshot is stored from the same cycle number.
TEST(StatusRecord, ReaderNeverSeesATornSnapshot) {
    SeqLock<Snapshot> lock;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        Snapshot s;
        for (std::uint64_t i = 1; i <= 200000; ++i) {
            s.cycles = s.pairsTold = s.refusedDeltaTov = s.services[2].tells = i;
            s.taken = static_cast<double>(i);
            lock.store(s);
        }
        done = true;
    });
    std::uint64_t reads = 0, last = 0;
    while (!done || reads == 0) {
        Snapshot s;
        if (!lock.load(s)) {
            continue;
        }
        ++reads;
        ASSERT_EQ(s.pairsTold, s.cycles);
        ASSERT_EQ(s.refusedDeltaTov, s.cycles);
        ASSERT_EQ(s.services[2].tells, s.cycles);
        ASSERT_EQ(s.taken, static_cast<double>(s.cycles));
        ASSERT_GE(s.cycles, last);
        last = s.cycles;
    }
    writer.join();
    EXPECT_GT(reads, 0u);
}

TEST(StatusSummary, LineSaysStateRateSourceAgeAndFaults) {
    StatusRecord record;
    record.reset(0.0);
    Snapshot s;
    record.endCycle(runningCycle(0.25, false));
    ASSERT_TRUE(record.snapshot(s));
    EXPECT_EQ(summaryLine(s, 96, 0.5), "no data yet: waiting for navigator 96");
    EXPECT_EQ(summaryLine(s, 0, 0.5), "no data yet: waiting for any source");

    double now = 0.25;
    for (int i = 0; i < 40; ++i) {
        for (int service = 0; service < kServiceCount; ++service) {
            record.told(service, true, 1, 2, 3, nullptr, now);
        }
        record.endCycle(runningCycle(now += 0.25, true));
    }
    ASSERT_TRUE(record.snapshot(s));
    EXPECT_EQ(summaryLine(s, 96, now + 0.12), "live: 4.0 pairs/s from navigator 96, age 0.37 s, 0 faults");

    Cycle lost = runningCycle(now += 0.25, false);
    lost.lost = true;
    lost.cause = GapCause::NoPvaNoUtc;
    lost.navLossFault[0] = lost.navLossFault[1] = lost.navLossFault[2] = true;
    record.endCycle(lost);
    ASSERT_TRUE(record.snapshot(s));
    EXPECT_EQ(summaryLine(s, 96, now).rfind("lost (no PVA and no UTC): ", 0), 0u) << summaryLine(s, 96, now);
    EXPECT_NE(summaryLine(s, 96, now).find(", 3 faults"), std::string::npos);

    Cycle off = runningCycle(now += 0.25, false);
    for (int i = 0; i < kServiceCount; ++i) {
        off.switchedOn[i] = off.running[i] = false;
    }
    record.endCycle(off);
    ASSERT_TRUE(record.snapshot(s));
    EXPECT_EQ(summaryLine(s, 96, now), "off: every service switched off");
}

TEST(StatusJson, AnswerHoldsTheDocumentedFields) {
    StatusRecord record;
    record.reset(10.0);
    record.countFilteredPva(200);
    record.told(kPosition, true, 48.5, 11.25, 512.0, "32UPU", 10.2);
    Cycle c = runningCycle(10.25, true);
    c.deltaTov = 0.02;
    record.endCycle(c);
    Report r;
    r.haveSnapshot = record.snapshot(r.snapshot);
    r.now = 11.0;
    r.name = "server";
    r.state = "started";
    r.pvaSource = 96;
    r.utcSource = 0;
    r.lastForeignSource = record.lastForeignSource();
    r.pvaFiltered = record.pvaFiltered();
    r.connections = {{"UTCTime", "subscriber", 1}, {"EventLog", "publisher", 2}};
    const nlohmann::json doc = nlohmann::json::parse(toJson(r));
    EXPECT_EQ(doc["format"], kFormat);
    EXPECT_DOUBLE_EQ(doc["server"]["uptime_s"].get<double>(), 1.0);
    EXPECT_EQ(doc["source"]["pva_accepted_name"], "FusionNavigator");
    EXPECT_EQ(doc["source"]["utc_accepted_name"], "any source");
    EXPECT_EQ(doc["source"]["last_foreign_source"], 200);
    EXPECT_EQ(doc["source"]["pva_filtered"], 1);
    EXPECT_DOUBLE_EQ(doc["intake"]["delta_tov_s"]["last"].get<double>(), 0.02);
    EXPECT_TRUE(doc["intake"]["pva"]["last_tov_s"].is_null());  // NaN is null
    const nlohmann::json& position = doc["services"][0];
    EXPECT_EQ(position["name"], "position");
    EXPECT_EQ(position["state"], "live");
    EXPECT_EQ(position["values"]["mgrs"], "32UPU");
    EXPECT_NEAR(position["last_tell_age_s"].get<double>(), 0.8, 1e-9);
    EXPECT_EQ(doc["services"][1]["state"], "no data yet");
    EXPECT_TRUE(doc["services"][1]["values"].empty());
    EXPECT_EQ(doc["dds"]["connections"][1]["matched"], 2);
    EXPECT_EQ(doc["summary"]["state"], "no data yet");
}

}  // namespace
