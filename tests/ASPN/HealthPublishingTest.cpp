// Health events published as EventLog messages through a recording
// transport, stamped from the FPGA simulator's running system counter. The
// DDS path is proven by the server's end-to-end tests.

#include "ASPN/AspnHelper.h"
#include "ASPN/HealthReporter.h"
#include "FACE/CV_Config.h"
#include "FACE/CV_Devmem.h"
#include "aspn2_msgs/EventLog.h"
#include "platform/FPGA.h"
#include "tests/ASPN/QueueTestSupport.h"
#include "tests/FACE/TssTestSupport.h"
#include "tests/platform/DevmemTestSupport.h"
#include "tests/platform/SimProcess.h"
#include "tests/support/RecordingTS.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <regex>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using aspn2_msgs::idl::EventLog;
using RC = FACE::RETURN_CODE_TYPE::Value;
using Texts = std::vector<std::string>;
using Recording = corvane_test::RecordingTS<EventLog>;

constexpr char kDevices[] = CORVANE_SOURCE_DIR "/config/devices.xml";
constexpr char kName[] = "ZOziDaZodOduzuz";

Texts textsOf(Recording& ts) {
    Texts out;
    for (EventLog const& m : ts.sent()) out.push_back(m.eventlog());
    return out;
}
// Also notes when each message was handed over, on the steady clock: the
// pause between events is kept on that clock, while the simulator's counter
// may lag it by a few milliseconds on a loaded machine.
class TimedRecording : public Recording {
public:
    void Send_Message(long long connection, long long timeout, long long& uid, EventLog const& message,
                      RC& rc) override {
        {
            std::lock_guard<std::mutex> lock(m_timesMutex);
            m_times.push_back(std::chrono::steady_clock::now());
        }
        Recording::Send_Message(connection, timeout, uid, message, rc);
    }
    std::vector<std::chrono::steady_clock::time_point> sendTimes() {
        std::lock_guard<std::mutex> lock(m_timesMutex);
        return m_times;
    }

private:
    std::mutex m_timesMutex;
    std::vector<std::chrono::steady_clock::time_point> m_times;
};
bool waitForCount(Recording& ts, std::size_t n) {
    return tss_test::waitFor([&] { return ts.sent().size() >= n; });
}

// The FPGA simulator runs beside the test process; FpgaFace::Instance()
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

std::int64_t nsOf(aspn2_msgs::idl::timestamp const& t) { return ASPN2::nsec_fromSecNsec(t.sec(), t.nsec()); }

// The FPGA counter now, as the time it stamps.
std::int64_t fpgaNowNs() {
    ASPN2::SecNsec const t = ASPN2::secNsec_fromFpgaTicks(FpgaFace::Instance().fpga_get_SystemCount());
    return ASPN2::nsec_fromSecNsec(t.sec, t.nsec);
}

ASPN2::DeviceIdFactory serverIds() { return ASPN2::DeviceIdFactory("GroundVehicle", 45); }

// InitHealthReporter("Srv", ...)'s exception text ("" if none) and console output.
using Refusal = std::pair<std::string, std::string>;
Refusal tryInit(HealthReporter& reporter, std::shared_ptr<HealthReporter::EventLogTS> const& ts) {
    testing::internal::CaptureStdout();
    std::string error;
    try {
        reporter.InitHealthReporter("Srv", serverIds(), ts, 0);
    } catch (std::runtime_error const& e) {
        error = e.what();
    }
    return {error, testing::internal::GetCapturedStdout()};
}

// A reporter of the test's own, with its own filter and a clock the test moves.
struct OwnReporter {
    ManualClock clock;
    FaultHysteresis filter{clock.fn()};
    HealthReporter reporter{filter, clock.fn()};
};

// The process-wide reporter, left uninitialised and empty for the next test.
class SingletonReporter : public testing::Test {
protected:
    void SetUp() override { drain(reporter.queue()); }
    void TearDown() override {
        reporter.DoneHealthReporter();
        drain(reporter.queue());
    }
    HealthReporter& reporter = HealthReporter::Instance();
};

TEST_F(SingletonReporter, QueuedEventsArriveOldestFirstPacedNumberedStampedFromTheFpgaAndDoneDrainsTheQueue) {
    auto ts = std::make_shared<TimedRecording>();
    ts->registerResult = FACE::RETURN_CODE_TYPE::NO_ACTION;                  // an existing sender is accepted
    ts->refuses = [](EventLog const& m) { return m.eventlog() == "nine"; };  // reported; publishing goes on
    reporter.SendEvent(__FILE__, 1, HealthReporter::eStatus, "first");
    reporter.SendEvent(__FILE__, 2, static_cast<HealthReporter::eEventType>(9), "nine");
    reporter.SendEvent(__FILE__, 3, HealthReporter::eInfo, "third");
    reporter.SendConfigEvent("Mode: live");
    std::int64_t const before = fpgaNowNs();
    testing::internal::CaptureStdout();
    reporter.InitHealthReporter(kName, serverIds(), ts, 0);
    EXPECT_TRUE(reporter.isInitialized());
    // The initialisation set up the filter: faults reported now are located.
    reporter.SendEvent("src/x/y.cpp", 7, HealthReporter::eFault, "late");

    bool const arrived = waitForCount(*ts, 5);
    std::int64_t const after = fpgaNowNs();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "!!!!!! ZOziDaZodOduzuz HealthReporter could not publish event type/info = 0/nine\n");
    ASSERT_TRUE(arrived) << ts->sent().size();
    std::vector<EventLog> const got = ts->sent();
    auto const times = ts->sendTimes();
    EXPECT_EQ(textsOf(*ts), (Texts{"first", "nine", "third", "Mode: live", "y.cpp[7]:late"}));
    int const types[] = {2, 0, 1, 2, 3};
    for (std::size_t i = 0; i < got.size() && i < 5; ++i) {
        auto const& h = got[i].header();
        EXPECT_EQ(std::make_tuple(static_cast<int>(got[i].event_log_type()), h.seq_num(), h.device_id(),
                                  h.timestamp_valid().time_code()),
                  std::make_tuple(types[i], static_cast<std::int64_t>(i), 0x012D0100, 100))
            << i;
        EXPECT_EQ(h.timestamp_valid(), h.timestamp_arrival()) << i;
        EXPECT_TRUE(nsOf(h.timestamp_valid()) >= before && nsOf(h.timestamp_valid()) <= after) << i;
        if (i > 0) {  // paced 100 ms apart; the stamps never go back
            EXPECT_GE(times[i] - times[i - 1], 100ms) << i;
            EXPECT_GE(nsOf(h.timestamp_valid()), nsOf(got[i - 1].header().timestamp_valid())) << i;
        }
    }

    EXPECT_EQ(tryInit(reporter, ts).first, "InitHealthReporter(Srv) called on an already initialized HealthReporter.");
    for (char const* text : {"b", "c", "d"}) reporter.SendEvent(__FILE__, __LINE__, HealthReporter::eStatus, text);
    reporter.DoneHealthReporter();
    EXPECT_FALSE(reporter.isInitialized());
    EXPECT_EQ(ts->sent().size(), 8u);  // all sent before the thread ended
    // Stopped: events wait until the next initialisation, which numbers from 0.
    reporter.SendEvent(__FILE__, __LINE__, HealthReporter::eStatus, "e");
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(ts->sent().size(), 8u);
    reporter.InitHealthReporter(kName, serverIds(), ts, 0);
    ASSERT_TRUE(waitForCount(*ts, 9));
    std::vector<long long> seq;
    for (EventLog const& m : ts->sent()) seq.push_back(m.header().seq_num());
    EXPECT_EQ(seq, (std::vector<long long>{0, 1, 2, 3, 4, 5, 6, 7, 0}));
    EXPECT_EQ(textsOf(*ts).back(), "e");
}

// Another thread keeps raising events, faster than the ten a second that
// are published, while the reporter stops: the stop still ends after the
// events queued at that moment, and every event the queue took is
// published, reported on the console as dropped, or (raised after the stop)
// still queued for the next initialisation. Guards against a publisher
// thread that runs until it finds the queue empty, which a steady stream
// never allows.
TEST(HealthReporterPublishing, StopsUnderASteadyStreamAndLosesNothingSilently) {
    OwnReporter own;
    auto ts = std::make_shared<Recording>();
    own.reporter.InitHealthReporter(kName, serverIds(), ts, 0);
    std::atomic<bool> streaming{true};
    std::atomic<std::size_t> accepted{0};
    std::thread sender([&] {
        for (unsigned n = 0; streaming; ++n) {
            if (own.reporter.queue().push_back(HealthReporter::eStatus, "event " + std::to_string(n))) ++accepted;
            std::this_thread::sleep_for(2ms);
        }
    });
    ASSERT_TRUE(waitForCount(*ts, 2));  // publishing under the stream
    testing::internal::CaptureStdout();
    auto done = std::async(std::launch::async, [&] { own.reporter.DoneHealthReporter(); });
    // At most ten queued events, 0.1 s apart; the rest is margin for a loaded machine.
    bool const stoppedUnderTheStream = done.wait_for(10s) == std::future_status::ready;
    streaming = false;
    sender.join();
    done.wait();
    std::string const console = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(stoppedUnderTheStream) << "the stop waited for the stream to end";
    std::size_t dropped = 0;
    std::smatch m;
    if (std::regex_search(console, m, std::regex("HealthReporter dropped ([0-9]+) events? raised while it stopped"))) {
        dropped = std::stoul(m[1]);
    }
    EXPECT_EQ(ts->sent().size() + dropped + own.reporter.queue().size(), accepted.load()) << console;
    EXPECT_FALSE(own.reporter.isInitialized());
}

TEST(HealthReporterPublishing, RefusedInitialisations) {
    OwnReporter own;
    auto unconnected = std::make_shared<FACE::TSS::Details::CV_TypedTS<EventLog>>();  // no transport
    std::string const guard =
        "ASPN/HealthReporter[137]:NOT_AVAILABLE InitHealthReporter(Srv) unable to register sender.";
    EXPECT_EQ(tryInit(own.reporter, nullptr),
              Refusal("InitHealthReporter(Srv) called with an empty eventLogTypedTS.", ""));
    EXPECT_FALSE(own.reporter.isInitialized());
    EXPECT_EQ(tryInit(own.reporter, unconnected), Refusal(guard, guard + "\n"));  // only the guard prints
    // The failed registration left the reporter initialised.
    EXPECT_EQ(tryInit(own.reporter, unconnected).first,
              "InitHealthReporter(Srv) called on an already initialized HealthReporter.");
    own.reporter.DoneHealthReporter();
    EXPECT_FALSE(own.reporter.isInitialized());
}

}  // namespace
