// The services library seen from outside: through its C interface and its
// data bus datagrams.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "platform/victory/VictoryDataMessage.h"
#include "platform/victory/victory.h"
#include "platform/victory/victory_test.h"
#include "tests/support/UdpTestSocket.h"

using namespace std::chrono_literals;
using corvane_test::UdpReceiver;
using Clock = std::chrono::steady_clock;

namespace {

std::string configText(std::uint16_t dataPort, std::uint16_t managementPort = 0) {
    return "<VictoryServiceConfig name='test'><DataBus address='127.0.0.1' port='" + std::to_string(dataPort) +
           "'/><Management port='" + std::to_string(managementPort) + "'/></VictoryServiceConfig>";
}

std::string vclText(unsigned long long periodMs) {
    return "<?xml version='1.0'?><vcl:VCL xmlns:vcl='urn:test'><vcl:service type='VICTORY_POSITION'>"
           "<vcl:component type='VICTORY_DATA'><vcl:configItem name='updatePeriod' value='" +
           std::to_string(periodMs) + "'/></vcl:component></vcl:service></vcl:VCL>";
}

// The next data message on `bus` within 3 s, or an empty one.
victory::DataMessage next(UdpReceiver& bus) {
    victory::DataMessage m;
    std::string error;
    const auto d = bus.receive(3000ms);
    EXPECT_TRUE(d && victory::parseDataMessage(d->data(), d->size(), m, error)) << error;
    return m;
}

const VictoryTime kTime{2024, 1, 1, 0, 0, 0, 250000000};

TEST(VictoryService, SendsTheLatestValuesAndFaultsAtTheConfiguredPeriod) {
    UdpReceiver bus;
    VpossService* s = vpossNewService(1, 2, 3, configText(bus.port()).c_str(), 0.0, vclText(200).c_str());
    ASSERT_NE(s, nullptr);
    const auto add = [s](const char* text, int ack, VhlthcSeverity severity) {
        return vpossAddFault(s, text, ack, severity, VHLTHC_CATEGORY_TEST, VHLTHC_ACTION_REPORT);
    };
    // Fault ids count up per service; removing a missing one changes nothing.
    EXPECT_EQ(add("first", 1, VHLTHC_SEVERITY_CRITICAL), 1);
    EXPECT_EQ(add("second", 0, VHLTHC_SEVERITY_WARNING), 2);
    EXPECT_EQ(add(nullptr, 0, VHLTHC_SEVERITY_EMERGENCY), 3);
    for (int id : {2, 2, 99, 0}) vpossRemoveFault(s, id);
    EXPECT_EQ(add("fourth", 1, VHLTHC_SEVERITY_ALERT), 4);
    const VictoryValue told[3] = {{0.8417, 1.5e-7, VPOSC_BASIS_MEASURED},
                                  {-0.2, 2.5e-7, VPOSC_BASIS_MEASURED},
                                  {512.25, 3.5, VPOSC_BASIS_ESTIMATED}};
    const std::time_t before = std::time(nullptr);
    vpossTellPosWithMgrs(s, &told[0], &told[1], &told[2], "32UPU9171832133", &kTime);
    const std::time_t after = std::time(nullptr);
    vpossStartService(s);
    std::vector<Clock::time_point> arrivals;
    std::vector<victory::DataMessage> messages;
    while (messages.size() < 8 && !::testing::Test::HasFailure()) {
        messages.push_back(next(bus));
        arrivals.push_back(Clock::now());
    }
    vpossDeleteService(s);
    ASSERT_EQ(messages.size(), 8u);

    const victory::DataMessage& m = messages.front();
    EXPECT_EQ(std::make_tuple(m.kind, m.source, m.mgrs.value_or(""), m.time.value_or(VictoryTime{}).nanosecond),
              std::make_tuple(victory::ServiceKind::Position, std::string("1.2.3"), std::string("32UPU9171832133"),
                              250000000));
    // The stamp is the wall-clock time of the one tell.
    ASSERT_TRUE(m.told.has_value());
    EXPECT_EQ(m.told->count, 1u);
    EXPECT_TRUE(m.told->seconds >= before && m.told->seconds <= after) << m.told->seconds;
    ASSERT_EQ(m.values.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(std::make_tuple(m.values[i].value.value, m.values[i].value.uncertainty, m.values[i].value.basis),
                  std::make_tuple(told[i].value, told[i].uncertainty, told[i].basis));
    }
    ASSERT_EQ(std::make_pair(m.faultCount, m.faults.size()), std::make_pair(std::size_t{3}, std::size_t{3}));
    const victory::FaultRecord& f0 = m.faults[0];
    EXPECT_EQ(
        std::make_tuple(f0.id, f0.description, f0.acknowledged, f0.severity, f0.category, f0.action, m.faults[1].id,
                        m.faults[1].description, m.faults[2].id),
        std::make_tuple(1, std::string("first"), true, int{VHLTHC_SEVERITY_CRITICAL}, 22, 1, 3, std::string(), 4));
    std::vector<double> intervals;
    for (std::size_t i = 1; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].seq, messages[i - 1].seq + 1);
        intervals.push_back(std::chrono::duration<double>(arrivals[i] - arrivals[i - 1]).count());
    }
    // The median interval is robust against a loaded machine delaying a few.
    std::nth_element(intervals.begin(), intervals.begin() + intervals.size() / 2, intervals.end());
    EXPECT_NEAR(intervals[intervals.size() / 2], 0.200, 0.040);
}

TEST(VictoryService, MalformedInputGivesANullHandle) {
    UdpReceiver taken;  // a management port that is already in use
    const std::string good = configText(47001), busy = configText(47001, taken.port()), vcl = vclText(1000),
                      noPort = configText(0), bigVcl = vclText(4294967296ull);
    const std::tuple<const char*, const char*, double> cases[] = {
        {nullptr, vcl.c_str(), 1.0},         {vcl.c_str(), good.c_str(), 1.0}, {good.c_str(), "<vcl:VCL/>", 1.0},
        {good.c_str(), vcl.c_str(), NAN},    {busy.c_str(), vcl.c_str(), 1.0}, {noPort.c_str(), vcl.c_str(), 1.0},
        {good.c_str(), bigVcl.c_str(), 1.0},
    };
    for (const auto& [config, vclIn, minPeriod] : cases) {
        EXPECT_EQ(vpossNewService(1, 1, 1, config, minPeriod, vclIn), nullptr)
            << (config ? config : "null") << " " << (vclIn ? vclIn : "null") << " " << minPeriod;
    }
    // An infinite minimum is allowed: the service simply never sends.
    VorisService* never = vorisNewService(1, 1, 1, good.c_str(), INFINITY, vcl.c_str());
    EXPECT_NE(never, nullptr);
    vorisDeleteService(never);
}

// Tells race with the sender thread; every message must carry one tell's
// values, never a mix of two.
TEST(VictoryService, ConcurrentTellsAreNeverTorn) {
    UdpReceiver bus;
    VpossService* s = vpossNewService(1, 1, 1, configText(bus.port()).c_str(), 0.0, vclText(2).c_str());
    ASSERT_NE(s, nullptr);
    vpossStartService(s);
    std::atomic<bool> stop{false};
    std::thread teller([&] {
        for (int k = 0; !stop; ++k) {
            const VictoryValue v{static_cast<double>(k), static_cast<double>(k), VPOSC_BASIS_MEASURED};
            VictoryTime t = kTime;
            t.nanosecond = k;
            vpossTellPosWithMgrs(s, &v, &v, &v, std::to_string(k).c_str(), &t);
        }
    });
    int checked = 0;
    for (const auto until = Clock::now() + 400ms; Clock::now() < until;) {
        const victory::DataMessage m = next(bus);
        if (!m.time) continue;  // before the first tell
        const double k = m.values.at(0).value.value;
        EXPECT_EQ(std::make_tuple(m.values.at(1).value.value, m.values.at(2).value.uncertainty, m.time->nanosecond,
                                  m.mgrs.value_or("")),
                  std::make_tuple(k, k, static_cast<int>(k), std::to_string(static_cast<int>(k))));
        ++checked;
    }
    stop = true;
    teller.join();
    vpossDeleteService(s);
    EXPECT_GT(checked, 5);
}

// The stand-in's override of the minimum update period: a valid value
// replaces the one the program asks for, a bad one is left aside.
TEST(VictoryService, MinimumPeriodOverrideFromTheEnvironment) {
    struct Case {
        const char* value;  // null: unset
        double period;      // seconds, with a VCL of 20 ms and 1 s asked for
    };
    const Case cases[] = {{nullptr, 1.0}, {"0.02", 0.02}, {"0.5", 0.5}, {"fast", 1.0}, {"0", 1.0}};
    UdpReceiver bus;
    for (const Case& c : cases) {
        if (c.value != nullptr) {
            ASSERT_EQ(::setenv("CORVANE_VICTORY_MIN_PERIOD", c.value, 1), 0);
        } else {
            ASSERT_EQ(::unsetenv("CORVANE_VICTORY_MIN_PERIOD"), 0);
        }
        VpossService* s = vpossNewService(1, 2, 3, configText(bus.port()).c_str(), 1.0, vclText(20).c_str());
        ASSERT_NE(s, nullptr) << (c.value ? c.value : "unset");
        VictoryTestState state{};
        ASSERT_EQ(vpossTestGetState(s, &state), 0);
        EXPECT_DOUBLE_EQ(state.effectivePeriodSeconds, c.period) << (c.value ? c.value : "unset");
        vpossDeleteService(s);
    }
    ::unsetenv("CORVANE_VICTORY_MIN_PERIOD");
}

}  // namespace
