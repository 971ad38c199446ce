// Maintenance events: long texts cut into numbered, NUL-padded pieces, the
// reporter's life cycle and console lines, and sequence numbers under
// concurrent publishing. The DDS path is proven by the server's end-to-end tests.

#include "PCSMaintReporter/PCSMaintReporter.h"

#include "tests/support/RecordingTS.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace {

using namespace ASPN2::Maintenance;
using aspn2_msgs::idl::MaintenanceEvent;
using RC = FACE::RETURN_CODE_TYPE::Value;
using Texts = std::vector<std::string>;

constexpr std::int32_t kDeviceId = 0x012D3B00;  // GroundVehicle, server 45, MaintenanceEvent, topic 0
std::string const kNotInitialized =
    "PCSMaintReporter.cpp (N) publishMaintenanceEvent: PCSMaintReporter not initialized! Cannat send "
    "MaintenanceEvent.\n";

ASPN2::DeviceIdFactory serverIds() { return ASPN2::DeviceIdFactory("GroundVehicle", 45); }

// `n` characters that differ from their neighbours, starting with `prefix`.
std::string textOf(std::size_t n, std::string const& prefix = "") {
    std::string s = prefix.substr(0, n);
    while (s.size() < n) s += static_cast<char>('a' + s.size() % 26);
    return s;
}

// Console text with the line numbers of source positions blanked.
std::string blankLines(std::string text) {
    std::string const key = "PCSMaintReporter.cpp (";
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        std::size_t const digits = at + key.size();
        text.replace(digits, text.find(')', digits) - digits, "N");
    }
    return text;
}

using RecordingTS = corvane_test::RecordingTS<MaintenanceEvent>;

// The process-wide reporter, left uninitialised for the next test.
class MaintReporter : public testing::Test {
protected:
    void TearDown() override { reporter.DoneMaintReporter(); }

    // sendMaintenanceEvent with the codes the server uses for SOAP faults.
    void publish(std::string const& description) {
        reporter.sendMaintenanceEvent(description, "Id", Criticality::eWarning, Outcome::eRequestFailed, 45,
                                      Category::eExternalInterface, LRU::eNavigationProcessor,
                                      Component::eNetworkInterface, LRU::eNone, Component::eNone, LRU::eNone,
                                      Component::eNone, LRU::eNone, Component::eNone, 0);
    }
    // publish(), returning the console text.
    std::string send(std::string const& description) {
        testing::internal::CaptureStdout();
        publish(description);
        return blankLines(testing::internal::GetCapturedStdout());
    }
    // InitMaintReporter("Srv", ...)'s exception text ("" if none) and console text.
    std::pair<std::string, std::string> tryInit(std::shared_ptr<RecordingTS> const& ts) {
        testing::internal::CaptureStdout();
        std::string error;
        try {
            reporter.InitMaintReporter("Srv", serverIds(), ts, 4);
        } catch (std::runtime_error const& e) {
            error = e.what();
        }
        return {error, testing::internal::GetCapturedStdout()};
    }

    PCSMaintReporter& reporter = PCSMaintReporter::Instance();
};

TEST_F(MaintReporter, LongTextsAreSentAsNumberedPieces) {
    auto ts = std::make_shared<RecordingTS>();
    ASSERT_EQ(tryInit(ts).first, "");

    std::string const soap = textOf(100, "SOAP 1.2 fault SOAP-ENV:Sender [no subcode] \"Bad request\"");
    std::string const twelve = textOf(12 * 48 - 3);  // twelve pieces, nine sent
    Texts nine;
    for (int i = 0; i < 9; ++i) nine.push_back("SOAP_" + std::to_string(i + 1) + ":" + twelve.substr(48 * i, 48));
    std::tuple<std::string, char const*, Texts> const cases[] = {
        {soap, "SOAP", {"SOAP_1:" + soap.substr(0, 48), "SOAP_2:" + soap.substr(48, 48), "SOAP_3:" + soap.substr(96)}},
        {textOf(48), "SOAP", {"SOAP:" + textOf(48)}},
        {twelve, "SOAP", nine},
        {soap, nullptr, {"Evt_1:" + soap.substr(0, 49), "Evt_2:" + soap.substr(49, 49), "Evt_3:" + soap.substr(98)}},
        {"", "SOAP", {}},
    };
    Texts expected;
    std::int64_t const before = reporter.GetTime().count();
    for (auto const& [text, tag, descriptions] : cases) {
        testing::internal::CaptureStdout();
        reporter.sendLongDescriptionMultiMaintenanceEvent(
            text, "ABCDEFGHIJKLMNOPQRST", Criticality::eWarning, Outcome::eRequestFailed, 45,
            Category::eExternalInterface, LRU::eNavigationProcessor, Component::eNetworkInterface, LRU::eNone,
            Component::eNone, LRU::eNone, Component::eNone, LRU::eNone, Component::eNone, 30, tag);
        std::string lines;
        for (std::string const& d : descriptions) {
            lines +=
                "PCSMaintReporter.cpp (N) sendLongDescriptionMultiMaintenanceEvent: Sending maintenance event: " + d +
                "\n";
        }
        EXPECT_EQ(blankLines(testing::internal::GetCapturedStdout()), lines) << text.size() << " characters";
        expected.insert(expected.end(), descriptions.begin(), descriptions.end());
    }
    std::int64_t const after = reporter.GetTime().count();
    std::vector<MaintenanceEvent> const got = ts->sent();
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        MaintenanceEvent const& m = got[i];
        auto const& h = m.header();
        EXPECT_EQ(std::string(m.description().data(), 56), expected[i] + std::string(56 - expected[i].size(), '\0'));
        EXPECT_EQ(std::string(m.identity().data(), 16), std::string("ABCDEFGHIJKLMNO\0", 16));
        EXPECT_EQ((std::vector<long long>{m.criticality_id(), m.outcome_id(), m.location_id(), m.category_id(),
                                          m.repeat_in_seconds(), m.fault_sources()[0].lru_id(),
                                          m.fault_sources()[0].component_id(), m.fault_sources()[3].lru_id(),
                                          h.device_id(), h.seq_num()}),
                  (std::vector<long long>{3, 3, 45, 11, 30, 1, 1, 0, kDeviceId, static_cast<long long>(i)}));
        EXPECT_EQ(h.timestamp_valid(), h.timestamp_arrival());
        std::int64_t const tov = h.timestamp_valid().sec() * 1000000000LL + h.timestamp_valid().nsec();
        EXPECT_TRUE(tov >= before && tov <= after) << "stamped from the reporter's clock";
    }
}

TEST_F(MaintReporter, LifeCycleAndConsoleLines) {
    EXPECT_EQ(send("early"), kNotInitialized);
    EXPECT_EQ(tryInit(nullptr).first, "InitMaintReporter(Srv) called with an empty eventLogTypedTS.");
    EXPECT_FALSE(reporter.isInitialized());

    // A refused registration raises through the guard and leaves the
    // reporter initialised but unable to send.
    auto refusing = std::make_shared<RecordingTS>();
    refusing->registerResult = FACE::RETURN_CODE_TYPE::INVALID_PARAM;
    std::string const guard =
        "PCSMaintReporter/PCSMaintReporter[83]:INVALID_PARAM InitMaintReporter(Srv) unable to register sender.";
    EXPECT_EQ(tryInit(refusing), std::make_pair(guard, guard + "\n"));
    auto ts = std::make_shared<RecordingTS>();
    EXPECT_EQ(tryInit(ts).first, "InitMaintReporter(Srv) called on an already initialized PCSMaintReporter.");
    EXPECT_EQ(send("refused"), kNotInitialized);
    reporter.DoneMaintReporter();

    ts->registerResult = FACE::RETURN_CODE_TYPE::NO_ACTION;  // an existing sender is accepted
    ASSERT_EQ(tryInit(ts).first, "");
    EXPECT_EQ(send("one"), "");
    ts->sendResult = FACE::RETURN_CODE_TYPE::DATA_OVERFLOW;
    EXPECT_EQ(send("two"), "!!!!!! Srv MaintReporter could not publish event\n");
    ts->sendResult = FACE::RETURN_CODE_TYPE::NO_ERROR;
    reporter.DoneMaintReporter();
    EXPECT_EQ(send("after done"), kNotInitialized);
    ASSERT_EQ(tryInit(ts).first, "");
    reporter.SetAspnTimeOffset(1000, 5);  // the reporter's clock reads 1000 s + 5 ns now
    EXPECT_EQ(send("again"), "");
    reporter.SetTimeOffset(std::chrono::steady_clock::now().time_since_epoch());  // back to the steady clock
    aspn2_msgs::idl::timestamp const tov = ts->sent().back().header().timestamp_valid();
    EXPECT_TRUE(tov.sec() == 1000 && tov.nsec() >= 5) << tov.sec() << " " << tov.nsec();

    Texts texts;
    std::vector<long long> seq;
    for (MaintenanceEvent const& m : ts->sent()) {
        texts.push_back(m.description().data());
        seq.push_back(m.header().seq_num());
        EXPECT_EQ(m.header().device_id(), kDeviceId);
    }
    EXPECT_EQ(texts, (Texts{"one", "two", "again"}));
    EXPECT_EQ(seq, (std::vector<long long>{0, 1, 0}));  // from 0 again after a new initialisation
}

TEST_F(MaintReporter, FourThreadsTakeDistinctSequenceNumbers) {
    auto ts = std::make_shared<RecordingTS>();
    ASSERT_EQ(tryInit(ts).first, "");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this] {
            for (int n = 0; n < 1000; ++n) publish("x");
        });
    }
    for (auto& thread : threads) thread.join();
    std::set<long long> numbers;
    for (MaintenanceEvent const& m : ts->sent()) numbers.insert(m.header().seq_num());
    EXPECT_EQ(numbers.size(), 4000u);
    EXPECT_EQ(*numbers.rbegin(), 3999);
}

}  // namespace
