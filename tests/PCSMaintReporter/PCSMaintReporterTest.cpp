// Maintenance events: fixed texts, long texts cut into numbered pieces and
// sent over a loopback DDS connection (domain 50), the reporter's life cycle
// and console lines, sequence numbers under concurrent publishing, its
// clock, and the default fault sources of the servers.

#include "PCSMaintReporter/PCSMaintReporter.h"

#include "FACE/CV_TSS.h"
#include "tests/support/TypedLoopback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace ASPN2::Maintenance;
using aspn2_msgs::idl::MaintenanceEvent;
using Link = corvane_test::TypedLoopback<MaintenanceEvent>;
using RC = FACE::RETURN_CODE_TYPE::Value;

// GroundVehicle (system 1), server 45, MaintenanceEvent (kind 59), topic 0.
constexpr std::int32_t kDeviceId = 0x012D3B00;

ASPN2::DeviceIdFactory serverIds() { return ASPN2::DeviceIdFactory("GroundVehicle", 45); }

// `n` characters that differ from their neighbours, starting with `prefix`.
std::string textOf(std::size_t n, std::string const& prefix = "") {
    std::string s = prefix.substr(0, n);
    while (s.size() < n) s += static_cast<char>('a' + s.size() % 26);
    return s;
}

template <std::size_t N>
std::string fieldText(std::array<char, N> const& field) {
    return std::string(field.data(), ::strnlen(field.data(), N));
}

// Console text with the line numbers of source positions blanked:
// "PCSMaintReporter.cpp (123) " becomes "PCSMaintReporter.cpp (N) ".
std::string blankLines(std::string text) {
    std::string const marker = "PCSMaintReporter.cpp (";
    for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
        std::size_t const from = at + marker.size();
        std::size_t to = from;
        while (to < text.size() && std::isdigit(static_cast<unsigned char>(text[to]))) ++to;
        text.replace(from, to - from, "N");
    }
    return text;
}

std::string const kNotInitialized =
    "PCSMaintReporter.cpp (N) publishMaintenanceEvent: PCSMaintReporter not initialized! Cannat send "
    "MaintenanceEvent.\n";

// A typed transport that keeps what it is asked to send.
class RecordingTS : public FACE::TSS::Details::CV_TypedTS<MaintenanceEvent> {
public:
    void Register_Sender(long long, RC& rc) override { rc = registerResult; }
    void Send_Message(long long, long long, long long&, MaintenanceEvent const& message, RC& rc) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sent.push_back(message);
        rc = sendResult;
    }
    std::vector<MaintenanceEvent> sent() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sent;
    }

    RC registerResult = FACE::RETURN_CODE_TYPE::NO_ERROR;
    std::atomic<RC> sendResult{FACE::RETURN_CODE_TYPE::NO_ERROR};

private:
    std::mutex m_mutex;
    std::vector<MaintenanceEvent> m_sent;
};

// The process-wide reporter is left uninitialised for the next test.
class MaintReporter : public testing::Test {
protected:
    void TearDown() override { reporter.DoneMaintReporter(); }

    // sendMaintenanceEvent with the codes the server uses for SOAP faults.
    void send(std::string const& description) {
        reporter.sendMaintenanceEvent(description, "Id", Criticality::eWarning, Outcome::eRequestFailed, 45,
                                      Category::eExternalInterface, LRU::eNavigationProcessor,
                                      Component::eNetworkInterface, LRU::eNone, Component::eNone, LRU::eNone,
                                      Component::eNone, LRU::eNone, Component::eNone, 0);
    }

    PCSMaintReporter& reporter = PCSMaintReporter::Instance();
};

TEST_F(MaintReporter, LongTextsTravelAsNumberedPieces) {
    Link link(50, "MaintenanceEvent", "aspn2_msgs::idl::MaintenanceEvent", "MaintenanceEventPubSubType", 64);
    ASSERT_TRUE(link.ok());
    ASSERT_TRUE(link.registerAndMatch());
    reporter.InitMaintReporter("ZOziDaZodOduzuz", serverIds(), link.serverTS(), link.serverConnection());

    std::string const soap = textOf(100, "SOAP 1.2 fault SOAP-ENV:Sender [no subcode] \"Bad request\"");
    std::string const twelve = textOf(12 * 48 - 3);  // twelve pieces, nine sent
    std::vector<std::string> nine;
    for (int i = 0; i < 9; ++i) nine.push_back("SOAP_" + std::to_string(i + 1) + ":" + twelve.substr(48 * i, 48));
    struct Case {
        std::string text;
        char const* tag;
        std::vector<std::string> descriptions;
    };
    Case const cases[] = {
        {soap, "SOAP", {"SOAP_1:" + soap.substr(0, 48), "SOAP_2:" + soap.substr(48, 48), "SOAP_3:" + soap.substr(96)}},
        {textOf(48), "SOAP", {"SOAP:" + textOf(48)}},
        {textOf(49), "SOAP", {"SOAP_1:" + textOf(48), "SOAP_2:" + textOf(49).substr(48)}},
        {twelve, "SOAP", nine},
        {soap, nullptr, {"Evt_1:" + soap.substr(0, 49), "Evt_2:" + soap.substr(49, 49), "Evt_3:" + soap.substr(98)}},
        {"", "SOAP", {}},
    };
    std::vector<std::string> expected;
    std::int64_t const before = reporter.GetTime().count();
    for (Case const& c : cases) {
        testing::internal::CaptureStdout();
        reporter.sendLongDescriptionMultiMaintenanceEvent(
            c.text, "ABCDEFGHIJKLMNOPQRST", Criticality::eWarning, Outcome::eRequestFailed, 45,
            Category::eExternalInterface, LRU::eNavigationProcessor, Component::eNetworkInterface, LRU::eNone,
            Component::eNone, LRU::eNone, Component::eNone, LRU::eNone, Component::eNone, 30, c.tag);
        std::string lines;
        for (std::string const& d : c.descriptions) {
            lines += "PCSMaintReporter.cpp (N) sendLongDescriptionMultiMaintenanceEvent: Sending maintenance event: " +
                     d + "\n";
        }
        EXPECT_EQ(blankLines(testing::internal::GetCapturedStdout()), lines) << c.text.size() << " characters";
        expected.insert(expected.end(), c.descriptions.begin(), c.descriptions.end());
    }
    ASSERT_TRUE(link.waitForCount(expected.size())) << link.count();
    std::int64_t const after = reporter.GetTime().count();

    std::vector<Link::Sample> const got = link.received();
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        MaintenanceEvent const& m = got[i].message;
        EXPECT_EQ(fieldText(m.description()), expected[i]);
        EXPECT_EQ(std::string(m.identity().data(), 16), std::string("ABCDEFGHIJKLMNO\0", 16));
        EXPECT_EQ((std::vector<int>{m.criticality_id(), m.outcome_id(), m.location_id(), m.category_id(),
                                    m.repeat_in_seconds(), m.fault_sources()[0].lru_id(),
                                    m.fault_sources()[0].component_id(), m.fault_sources()[3].lru_id()}),
                  (std::vector<int>{3, 3, 45, 11, 30, 1, 1, 0}));
        auto const& h = m.header();
        EXPECT_EQ(h.device_id(), kDeviceId);
        EXPECT_EQ(h.seq_num(), static_cast<long long>(i));
        EXPECT_EQ(h.timestamp_valid(), h.timestamp_arrival());
        std::int64_t const tov = h.timestamp_valid().sec() * 1000000000LL + h.timestamp_valid().nsec();
        EXPECT_TRUE(tov >= before && tov <= after) << "stamped from the reporter's clock";
    }
}

TEST(MaintenanceEventBuilding, FixedTextsAreCutAndNulPadded) {
    for (std::size_t length : {15u, 16u, 55u, 56u}) {
        MaintenanceEvent event;
        event.description().fill('#');
        event.identity().fill('#');
        std::string const text = textOf(length);
        PCSMaintReporter::buildMaintenanceEvent(event, text, text, Criticality::eFailure, Outcome::eFunctionLost, 7,
                                                Category::eHardware, LRU::eGnssReceiverUnit, Component::eGnssAntenna,
                                                LRU::eInertialMeasurementUnit, Component::eGyroscopes,
                                                LRU::eNavigationProcessor, Component::eFpga, LRU::eNone,
                                                Component::eDisplay, -1);
        std::size_t const kept = std::min<std::size_t>(length, 55), idKept = std::min<std::size_t>(length, 15);
        EXPECT_EQ(std::string(event.description().data(), 56), text.substr(0, kept) + std::string(56 - kept, '\0'));
        EXPECT_EQ(std::string(event.identity().data(), 16), text.substr(0, idKept) + std::string(16 - idKept, '\0'));
        EXPECT_EQ(event.fault_sources()[2].lru_id(), 1);
        EXPECT_EQ(event.fault_sources()[3].component_id(), 17);
    }
    // A tag that leaves no room gives single-character pieces, cut away.
    std::vector<MaintenanceEvent> out;
    std::string const tag(52, 'T');
    PCSMaintReporter::buildMultiMaintenanceEventVectorFromLongDescription(
        "xyz", "id", Criticality::eUnknown, Outcome::eUnknown, 0, Category::eUnknown, LRU::eNone, Component::eNone,
        LRU::eNone, Component::eNone, LRU::eNone, Component::eNone, LRU::eNone, Component::eNone, 0, out,
        tag.c_str());
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(fieldText(out[2].description()), tag + "_3:");
}

TEST_F(MaintReporter, LifeCycleAndConsoleLines) {
    auto ts = std::make_shared<RecordingTS>();
    auto publishConsole = [&](std::string const& description) {
        testing::internal::CaptureStdout();
        send(description);
        return blankLines(testing::internal::GetCapturedStdout());
    };
    auto initError = [&](std::shared_ptr<RecordingTS> const& typed, std::string* console = nullptr) {
        testing::internal::CaptureStdout();
        std::string error;
        try {
            reporter.InitMaintReporter("Srv", serverIds(), typed, 4);
        } catch (std::runtime_error const& e) {
            error = e.what();
        }
        std::string const out = testing::internal::GetCapturedStdout();
        if (console != nullptr) *console = out;
        return error;
    };

    EXPECT_EQ(publishConsole("early"), kNotInitialized);
    EXPECT_EQ(initError(nullptr), "InitMaintReporter(Srv) called with an empty eventLogTypedTS.");
    EXPECT_FALSE(reporter.isInitialized());

    // A refused registration raises through the guard and leaves the
    // reporter initialised but unable to send.
    auto refusing = std::make_shared<RecordingTS>();
    refusing->registerResult = FACE::RETURN_CODE_TYPE::INVALID_PARAM;
    std::string console;
    std::string const guard =
        "PCSMaintReporter/PCSMaintReporter[83]:INVALID_PARAM InitMaintReporter(Srv) unable to register sender.";
    EXPECT_EQ(initError(refusing, &console), guard);
    EXPECT_EQ(console, guard + "\n");
    EXPECT_TRUE(reporter.isInitialized());
    EXPECT_EQ(initError(ts), "InitMaintReporter(Srv) called on an already initialized PCSMaintReporter.");
    EXPECT_EQ(publishConsole("refused"), kNotInitialized);
    reporter.DoneMaintReporter();

    // An existing sender is accepted.
    ts->registerResult = FACE::RETURN_CODE_TYPE::NO_ACTION;
    ASSERT_EQ(initError(ts), "");
    EXPECT_EQ(publishConsole("one"), "");
    ts->sendResult = FACE::RETURN_CODE_TYPE::DATA_OVERFLOW;
    EXPECT_EQ(publishConsole("two"), "!!!!!! Srv MaintReporter could not publish event\n");
    ts->sendResult = FACE::RETURN_CODE_TYPE::NO_ERROR;
    reporter.DoneMaintReporter();
    EXPECT_EQ(publishConsole("after done"), kNotInitialized);
    ASSERT_EQ(initError(ts), "");
    EXPECT_EQ(publishConsole("again"), "");

    std::vector<MaintenanceEvent> const sent = ts->sent();
    ASSERT_EQ(sent.size(), 3u);
    char const* const descriptions[] = {"one", "two", "again"};
    long long const seq[] = {0, 1, 0};  // from 0 again after a new initialisation
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(fieldText(sent[i].description()), descriptions[i]);
        EXPECT_EQ(sent[i].header().seq_num(), seq[i]);
        EXPECT_EQ(sent[i].header().device_id(), kDeviceId);
    }
}

TEST_F(MaintReporter, FourThreadsTakeDistinctSequenceNumbers) {
    auto ts = std::make_shared<RecordingTS>();
    reporter.InitMaintReporter("Srv", serverIds(), ts, 4);
    constexpr int kThreads = 4;
    constexpr int kEach = 1000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this, t] {
            for (int n = 0; n < kEach; ++n) send(std::to_string(t) + "/" + std::to_string(n));
        });
    }
    for (auto& thread : threads) thread.join();

    std::vector<MaintenanceEvent> const sent = ts->sent();
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(kThreads * kEach));
    std::set<long long> numbers;
    std::vector<long long> lastOf(kThreads, -1);
    for (MaintenanceEvent const& m : sent) {
        long long const number = m.header().seq_num();
        numbers.insert(number);
        int t = -1, n = -1;
        ASSERT_EQ(std::sscanf(m.description().data(), "%d/%d", &t, &n), 2);
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_GT(number, lastOf[t]) << "a thread's events numbered in its order";
        lastOf[t] = number;
    }
    EXPECT_EQ(numbers.size(), static_cast<std::size_t>(kThreads * kEach));
    EXPECT_EQ(*numbers.begin(), 0);
    EXPECT_EQ(*numbers.rbegin(), kThreads * kEach - 1);
}

TEST_F(MaintReporter, ClockFollowsTheOffset) {
    auto ts = std::make_shared<RecordingTS>();
    reporter.InitMaintReporter("Srv", serverIds(), ts, 4);
    reporter.SetAspnTimeOffset(1000, 5);
    std::int64_t const first = reporter.GetTime().count();
    send("stamped");
    std::int64_t const last = reporter.GetTime().count();
    EXPECT_TRUE(first >= 1000000000005LL && last < 1001000000005LL) << first << " " << last;
    ASSERT_EQ(ts->sent().size(), 1u);
    aspn2_msgs::idl::timestamp const tov = ts->sent()[0].header().timestamp_valid();
    std::int64_t const stamped = tov.sec() * 1000000000LL + tov.nsec();
    EXPECT_TRUE(stamped >= first && stamped <= last) << stamped;
    // Back to (within a few ns of) the steady clock, for the next test.
    reporter.SetTimeOffset(std::chrono::steady_clock::now().time_since_epoch());
}

TEST(MaintenanceDefaults, FaultSourcesOfTheServers) {
    // location, lru1, cmp1, ..., lru4, cmp4
    auto lookUp = [](unsigned id) {
        PCSMaintReporter::eLru l[4];
        PCSMaintReporter::eCmpo c[4];
        unsigned char const serverId = static_cast<unsigned char>(id);
        int const location = PCSMaintReporter::getDefaultLruSubForServerID(serverId, l[0], c[0], l[1], c[1], l[2],
                                                                            c[2], l[3], c[3]);
        return std::vector<int>{location, l[0], c[0], l[1], c[1], l[2], c[2], l[3], c[3]};
    };
    EXPECT_EQ(lookUp(45), (std::vector<int>{1, 1, 8, 0, 0, 0, 0, 0, 0}));
    // Every server of the system has a row and nothing else has; rows keep
    // to the codes, each pair names a unit and a component or neither.
    for (unsigned id = 0; id <= 255; ++id) {
        std::vector<int> const row = lookUp(id);
        bool const known = std::strcmp(ASPN2::ServerIds::to_string(static_cast<unsigned char>(id)),
                                       ASPN2::ServerIds::kInvalidServerId) != 0;
        if (!known) {
            EXPECT_EQ(row, std::vector<int>(9, 0)) << id;
            continue;
        }
        EXPECT_TRUE(id <= 125 && row[0] >= 1 && row[0] <= 3 && row[1] != 0) << id;
        for (std::size_t k = 1; k < 9; k += 2) {
            EXPECT_TRUE(row[k] >= 0 && row[k] <= 3 && row[k + 1] >= 0 && row[k + 1] <= 17) << id;
            EXPECT_EQ(row[k] == 0, row[k + 1] == 0) << id;
        }
    }
}

}  // namespace
