// Health events published as EventLog messages over a loopback DDS
// connection, stamped from the FPGA simulator's running system counter.
// Every test that creates participants has its own domain (40..49).

#include "ASPN/AspnHelper.h"
#include "ASPN/HealthReporter.h"
#include "FACE/CV_Config.h"
#include "FACE/CV_Devmem.h"
#include "aspn2_msgs/EventLog.h"
#include "platform/FPGA.h"
#include "tests/ASPN/QueueTestSupport.h"
#include "tests/platform/DevmemTestSupport.h"
#include "tests/platform/SimProcess.h"
#include "tests/support/TypedLoopback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using aspn2_msgs::idl::EventLog;
using Link = corvane_test::TypedLoopback<EventLog>;
using RC = FACE::RETURN_CODE_TYPE::Value;

constexpr char kDevices[] = CORVANE_SOURCE_DIR "/config/devices.xml";
constexpr char kName[] = "ZOziDaZodOduzuz";
// GroundVehicle (system 1), server 45, EventLog (kind 1), topic 0.
constexpr std::int32_t kDeviceId = 0x012D0100;

// The FPGA simulator runs beside every test process; FpgaFace::Instance()
// reads its counter through the I/O service, as in the server.
class FpgaEnvironment : public testing::Environment {
public:
    void SetUp() override {
        m_sim = std::make_unique<sim_test::RunningSimulator>(
            std::vector<std::string>{"--memory", devmem_test::memoryFile(), kDevices});
        ASSERT_TRUE(m_sim->ready());
        m_io = std::make_shared<FACE::IOSS::CV_Devmem>();
        RC rc = FACE::RETURN_CODE_TYPE::NOT_AVAILABLE;
        m_io->Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
        m_io->Initialize(FACE::String(kDevices), rc);
        ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
        FpgaFace::Instance().InitFpga(m_io);
    }
    void TearDown() override {
        FpgaFace::Instance().DoneFpga();
        m_sim.reset();
    }

private:
    std::unique_ptr<sim_test::RunningSimulator> m_sim;
    std::shared_ptr<FACE::IOSS::CV_Devmem> m_io;
};

[[maybe_unused]] testing::Environment* const g_fpga = testing::AddGlobalTestEnvironment(new FpgaEnvironment);

std::int64_t nsOf(aspn2_msgs::idl::timestamp const& t) { return t.sec() * 1000000000LL + t.nsec(); }

// The FPGA counter now, as the time it stamps.
std::int64_t fpgaNowNs() {
    ASPN2::SecNsec const t = ASPN2::secNsec_fromFpgaTicks(FpgaFace::Instance().fpga_get_SystemCount());
    return t.sec * 1000000000LL + t.nsec;
}

std::vector<std::string> texts(std::vector<Link::Sample> const& samples) {
    std::vector<std::string> out;
    for (auto const& s : samples) out.push_back(s.message.eventlog());
    return out;
}

ASPN2::DeviceIdFactory serverIds() { return ASPN2::DeviceIdFactory("GroundVehicle", 45); }

// A reporter of the test's own, with its own filter and a clock the test
// moves.
struct OwnReporter {
    ManualClock clock;
    FaultHysteresis filter{clock.fn()};
    HealthReporter reporter{filter, clock.fn()};
};

// The process-wide reporter is left uninitialised and empty for the next
// test of the process.
class SingletonReporter : public testing::Test {
protected:
    void SetUp() override { drain(reporter.queue()); }
    void TearDown() override {
        reporter.DoneHealthReporter();
        drain(reporter.queue());
    }
    HealthReporter& reporter = HealthReporter::Instance();
};

TEST_F(SingletonReporter, QueuedEventsArriveOldestFirstPacedNumberedAndStampedFromTheFpga) {
    Link link(40, "EventLog", "aspn2_msgs::idl::EventLog", "EventLogPubSubType");
    ASSERT_TRUE(link.ok());
    ASSERT_TRUE(link.registerAndMatch());  // InitHealthReporter accepts the existing sender

    reporter.SendEvent(__FILE__, 1, HealthReporter::eStatus, "first");
    reporter.SendEvent(__FILE__, 2, static_cast<HealthReporter::eEventType>(9), "nine");
    reporter.SendEvent(__FILE__, 3, HealthReporter::eInfo, "third");
    reporter.SendConfigEvent("Mode: live");
    std::int64_t const before = fpgaNowNs();
    reporter.InitHealthReporter(kName, serverIds(), link.serverTS(), link.serverConnection());
    EXPECT_TRUE(reporter.isInitialized());
    // Faults reported now are located: the initialisation set up the filter.
    reporter.SendEvent("src/x/y.cpp", 7, HealthReporter::eFault, "late");

    ASSERT_TRUE(link.waitForCount(5)) << link.count();
    std::int64_t const after = fpgaNowNs();
    std::vector<Link::Sample> const got = link.received();
    EXPECT_EQ(texts(got), (std::vector<std::string>{"first", "nine", "third", "Mode: live", "y.cpp[7]:late"}));
    int const types[] = {2, 0, 1, 2, 3};
    for (std::size_t i = 0; i < got.size() && i < 5; ++i) {
        SCOPED_TRACE(i);
        auto const& h = got[i].message.header();
        EXPECT_EQ(static_cast<int>(got[i].message.event_log_type()), types[i]);
        EXPECT_EQ(h.seq_num(), static_cast<long long>(i));
        EXPECT_EQ(h.device_id(), kDeviceId);
        EXPECT_EQ(h.timestamp_valid(), h.timestamp_arrival());
        EXPECT_EQ(h.timestamp_valid().time_code(), 100);
        EXPECT_GE(nsOf(h.timestamp_valid()), before);
        EXPECT_LE(nsOf(h.timestamp_valid()), after);
        if (i > 0) {
            auto const& previous = got[i - 1];
            // 100 ms apart, measured loosely on both clocks.
            EXPECT_GE(nsOf(h.timestamp_valid()) - nsOf(previous.message.header().timestamp_valid()), 90'000'000);
            EXPECT_GE(got[i].arrival - previous.arrival, 90ms);
        }
    }
}

TEST(HealthReporterPublishing, ConfigurationEventReappearsAfterTheRepeatInterval) {
    Link link(41, "EventLog", "aspn2_msgs::idl::EventLog", "EventLogPubSubType");
    ASSERT_TRUE(link.ok());
    ASSERT_TRUE(link.registerAndMatch());
    OwnReporter own;
    own.reporter.SendConfigEvent("Mode: live");
    own.reporter.InitHealthReporter(kName, serverIds(), link.serverTS(), link.serverConnection());
    ASSERT_TRUE(link.waitForCount(1));

    own.clock.advance(300s - 1ms);
    std::this_thread::sleep_for(1200ms);  // two polls of the publishing thread: not due yet
    EXPECT_EQ(link.count(), 1u);
    own.clock.advance(1ms);
    ASSERT_TRUE(link.waitForCount(2));
    std::vector<Link::Sample> const got = link.received();
    EXPECT_EQ(texts(got), (std::vector<std::string>{"Mode: live", "Mode: live"}));
    EXPECT_EQ(got[1].message.header().seq_num(), 1);
    own.reporter.DoneHealthReporter();
}

TEST_F(SingletonReporter, DonePublishesWhatIsQueuedAndInitialisationCanFollow) {
    Link link(42, "EventLog", "aspn2_msgs::idl::EventLog", "EventLogPubSubType");
    ASSERT_TRUE(link.ok());
    // The reporter registers the sender itself; the transient-local reader
    // receives what was sent before it matched.
    reporter.InitHealthReporter(kName, serverIds(), link.serverTS(), link.serverConnection());
    try {
        reporter.InitHealthReporter(kName, serverIds(), link.serverTS(), link.serverConnection());
        ADD_FAILURE() << "a second initialisation was accepted";
    } catch (std::runtime_error const& e) {
        EXPECT_STREQ(e.what(), "InitHealthReporter(ZOziDaZodOduzuz) called on an already initialized HealthReporter.");
    }
    reporter.SendEvent(__FILE__, __LINE__, HealthReporter::eStatus, "a");
    ASSERT_TRUE(link.waitForCount(1));
    for (char const* text : {"b", "c", "d"}) reporter.SendEvent(__FILE__, __LINE__, HealthReporter::eStatus, text);
    reporter.DoneHealthReporter();
    EXPECT_FALSE(reporter.isInitialized());
    ASSERT_TRUE(link.waitForCount(4));  // all sent before the thread ended

    // Stopped: events wait in the queue until the next initialisation, which
    // numbers from 0 again.
    reporter.SendEvent(__FILE__, __LINE__, HealthReporter::eStatus, "e");
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(link.count(), 4u);
    reporter.InitHealthReporter(kName, serverIds(), link.serverTS(), link.serverConnection());
    ASSERT_TRUE(link.waitForCount(5));
    std::vector<Link::Sample> const got = link.received();
    EXPECT_EQ(texts(got), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    std::vector<long long> seq;
    for (auto const& s : got) seq.push_back(s.message.header().seq_num());
    EXPECT_EQ(seq, (std::vector<long long>{0, 1, 2, 3, 0}));
}

// Fails the sends of texts that begin with "fail:", as a refusing
// transport would; passes the others on.
class FailingEventLogTS : public FACE::TSS::Details::CV_TypedTS<EventLog> {
public:
    void Send_Message(long long id, long long timeout, long long& transaction, EventLog const& message,
                      RC& rc) override {
        if (message.eventlog().rfind("fail:", 0) == 0) {
            rc = FACE::RETURN_CODE_TYPE::DATA_OVERFLOW;
            return;
        }
        CV_TypedTS<EventLog>::Send_Message(id, timeout, transaction, message, rc);
    }
};

TEST(HealthReporterPublishing, FailedSendIsReportedAndPublishingGoesOn) {
    Link link(43, "EventLog", "aspn2_msgs::idl::EventLog", "EventLogPubSubType");
    ASSERT_TRUE(link.ok());
    ASSERT_TRUE(link.registerAndMatch());
    auto failing = std::make_shared<FailingEventLogTS>();
    RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
    failing->Set_Reference("", link.serverTransport(), 0, rc);
    ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);

    OwnReporter own;
    own.reporter.SendEvent("f", 1, HealthReporter::eStatus, "fail:first");
    own.reporter.SendEvent("f", 2, HealthReporter::eStatus, "second");
    testing::internal::CaptureStdout();
    own.reporter.InitHealthReporter("Srv", serverIds(), failing, link.serverConnection());
    bool const arrived = link.waitForCount(1);
    own.reporter.DoneHealthReporter();
    std::string const console = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(arrived);
    EXPECT_NE(console.find("!!!!!! Srv HealthReporter could not publish event type/info = 2/fail:first\n"),
              std::string::npos)
        << console;
    std::vector<Link::Sample> const got = link.received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].message.eventlog(), "second");
    EXPECT_EQ(got[0].message.header().seq_num(), 1);  // the lost event used its number
}

TEST(HealthReporterPublishing, RefusedInitialisations) {
    OwnReporter own;
    auto unconnected = std::make_shared<FACE::TSS::Details::CV_TypedTS<EventLog>>();  // no transport
    struct Case {
        std::shared_ptr<HealthReporter::EventLogTS> ts;
        char const* text;
        bool initializedAfter;
    };
    Case const cases[] = {
        {nullptr, "InitHealthReporter(Srv) called with an empty eventLogTypedTS.", false},
        {unconnected, "ASPN/HealthReporter[137]:NOT_AVAILABLE InitHealthReporter(Srv) unable to register sender.",
         true},
        // The failed registration left the reporter initialised.
        {unconnected, "InitHealthReporter(Srv) called on an already initialized HealthReporter.", true},
    };
    for (Case const& c : cases) {
        testing::internal::CaptureStdout();
        std::string error;
        try {
            own.reporter.InitHealthReporter("Srv", serverIds(), c.ts, 0);
        } catch (std::runtime_error const& e) {
            error = e.what();
        }
        std::string const console = testing::internal::GetCapturedStdout();
        EXPECT_EQ(error, c.text);
        EXPECT_EQ(own.reporter.isInitialized(), c.initializedAfter) << c.text;
        // Only the guard prints its text.
        EXPECT_EQ(console, error.rfind("ASPN/", 0) == 0 ? error + "\n" : "") << c.text;
    }
    own.reporter.DoneHealthReporter();
    EXPECT_FALSE(own.reporter.isInitialized());
}

TEST(HealthReporterPublishing, NoEventLostOrDuplicatedUnderFourProducers) {
    Link link(44, "EventLog", "aspn2_msgs::idl::EventLog", "EventLogPubSubType");
    ASSERT_TRUE(link.ok());
    ASSERT_TRUE(link.registerAndMatch());
    OwnReporter own;
    own.reporter.InitHealthReporter(kName, serverIds(), link.serverTS(), link.serverConnection());

    // Each producer retries an event the full queue refused, so that every
    // event is taken in exactly once.
    constexpr int kProducers = 4;
    constexpr int kEach = 6;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&own, p] {
            for (int n = 0; n < kEach; ++n) {
                std::string const text = "p" + std::to_string(p) + "-" + std::to_string(n);
                while (!own.reporter.queue().push_back(2, text)) std::this_thread::sleep_for(2ms);
            }
        });
    }
    for (auto& t : producers) t.join();
    bool const all = link.waitForCount(kProducers * kEach, 30s);
    own.reporter.DoneHealthReporter();
    ASSERT_TRUE(all) << link.count();
    std::this_thread::sleep_for(200ms);  // room for a duplicate to show up

    std::vector<Link::Sample> const got = link.received();
    EXPECT_EQ(got.size(), static_cast<std::size_t>(kProducers * kEach));
    std::map<std::string, int> copies;
    std::vector<int> next(kProducers, 0);
    for (std::size_t i = 0; i < got.size(); ++i) {
        std::string const& text = got[i].message.eventlog();
        ++copies[text];
        EXPECT_EQ(got[i].message.header().seq_num(), static_cast<long long>(i));
        int p = -1, n = -1;
        ASSERT_EQ(std::sscanf(text.c_str(), "p%d-%d", &p, &n), 2) << text;
        ASSERT_TRUE(p >= 0 && p < kProducers) << text;
        EXPECT_EQ(n, next[p]++) << "each producer's events in its order";
    }
    EXPECT_EQ(copies.size(), static_cast<std::size_t>(kProducers * kEach));
    for (auto const& [text, count] : copies) EXPECT_EQ(count, 1) << text;
}

// A reporter destroyed while it still publishes (no DoneHealthReporter, as
// at an unplanned exit) ends its thread and sends nothing more.
TEST(HealthReporterPublishing, DestroyedWhilePublishingEndsTheThread) {
    Link link(45, "EventLog", "aspn2_msgs::idl::EventLog", "EventLogPubSubType");
    ASSERT_TRUE(link.ok());
    ASSERT_TRUE(link.registerAndMatch());
    {
        OwnReporter own;
        own.reporter.InitHealthReporter(kName, serverIds(), link.serverTS(), link.serverConnection());
        for (int i = 0; i < 6; ++i) own.reporter.SendEvent("f", i, HealthReporter::eStatus, "e" + std::to_string(i));
        ASSERT_TRUE(link.waitForCount(1));
    }
    std::size_t const sent = link.count();
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(link.count(), sent);
    EXPECT_LE(sent, 2u);  // the first, and at most one in flight
}

}  // namespace
