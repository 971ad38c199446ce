// Framework connection in this process: the server's transport against a
// peer participant of the test (commands and responses over loopback DDS),
// the standard output redirection, and the failures of the connection.
#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "ASPN/AspnHelper.h"
#include "FACE/CV_Config.h"
#include "FACE/CV_TSS.h"
#include "PCSMaintReporter/PCSMaintReporter.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ServerTestRoot.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace {

using namespace std::chrono_literals;
using zozi_test::CoutCapture;
using zozi_test::drainEvents;
using zozi_test::Fd1Capture;
using FACE::RETURN_CODE_TYPE::Value;
using aspn2_msgs::idl::CommandResponse;

// Messages of one kind received by the peer, in order of arrival.
template <typename T>
class Inbox {
public:
    FACE::TSS::Read_Callback<T> callback() {
        return [this](long long, long long, const T& m, const FACE::TSS::HEADER_TYPE&,
                      const FACE::Sequence<FACE::TSS::QoS_Element>&, Value&) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.push_back(m);
            m_arrived.notify_all();
        };
    }
    // The next message, or nothing within `timeout`.
    std::optional<T> next(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_arrived.wait_for(lock, timeout, [this] { return !m_messages.empty(); })) return std::nullopt;
        T m = m_messages.front();
        m_messages.pop_front();
        return m;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<T> m_messages;
};

// The other end of the server's connections: sends on "Command", collects
// "Response" and "MaintenanceEvent".
class Peer {
public:
    explicit Peer(const std::string& connectionsFile) {
        Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
        m_tss->Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
        m_tss->Initialize(connectionsFile.c_str(), rc);
        if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) throw std::runtime_error("peer: transport");
        long long response = -1, maintenance = -1;
        int unused = 0;
        m_tss->Create_Connection("Command", -1, m_command, unused, rc);
        m_tss->Create_Connection("Response", -1, response, unused, rc);
        m_tss->Create_Connection("MaintenanceEvent", -1, maintenance, unused, rc);
        m_ts->Set_Reference("", m_tss, 0, rc);
        m_maintTS->Set_Reference("", m_tss, 0, rc);
        Value sender = FACE::RETURN_CODE_TYPE::NO_ERROR, callbacks = FACE::RETURN_CODE_TYPE::NO_ERROR;
        m_ts->Register_Sender(m_command, sender);
        m_ts->Register_Callback(response, responses.callback(), callbacks);
        m_maintTS->Register_Callback(maintenance, maintenanceEvents.callback(), rc);
        if (sender != FACE::RETURN_CODE_TYPE::NO_ERROR || callbacks != FACE::RETURN_CODE_TYPE::NO_ERROR ||
            rc != FACE::RETURN_CODE_TYPE::NO_ERROR) {
            throw std::runtime_error("peer: registration");
        }
    }

    // Sends `text` as a command (or a response) with `identifier`.
    void send(const std::string& text, std::int32_t identifier, bool command = true) {
        CommandResponse m;
        m.header().device_id(static_cast<std::int32_t>((2u << 24) | (7u << 16) | (2u << 8)));
        m.command_identifier(identifier);
        m.command_response_type(command ? aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_COMMAND
                                        : aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_RESPONSE);
        m.command_response(text);
        long long transaction = 0;
        Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
        m_ts->Send_Message(m_command, -1, transaction, m, rc);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    }

    std::optional<CommandResponse> next(std::chrono::milliseconds timeout) { return responses.next(timeout); }

    // Pings until the server answers (discovery done); the answers are
    // dropped. False when none came within `timeout`.
    bool waitForServer(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            send("BITSERVER_PING", -1);
            if (next(200ms)) {
                while (next(300ms)) {
                }
                return true;
            }
        }
        return false;
    }

    Inbox<CommandResponse> responses;
    Inbox<aspn2_msgs::idl::MaintenanceEvent> maintenanceEvents;

private:
    // Destroyed first: no callback runs once the inboxes go.
    std::shared_ptr<FACE::TSS::CV_TSS> m_tss = std::make_shared<FACE::TSS::CV_TSS>("Peer");
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<CommandResponse>> m_ts =
        std::make_shared<FACE::TSS::Details::CV_TypedTS<CommandResponse>>();
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::MaintenanceEvent>> m_maintTS =
        std::make_shared<FACE::TSS::Details::CV_TypedTS<aspn2_msgs::idl::MaintenanceEvent>>();
    long long m_command = -1;
};

// Configures and connects a server from the process's runtime root on DDS
// domain `domain`.
class ConnectTest : public ::testing::Test {
protected:
    std::unique_ptr<ZOziDaZodOduzuz> server = std::make_unique<ZOziDaZodOduzuz>();
    ZOziDaZodOduzuzTestAccess access{*server};

    void configure(int domain) {
        zozi_test::serverRoot().setDomainId(domain);
        Value rc = FACE::RETURN_CODE_TYPE::IN_PROGRESS;
        CoutCapture quiet;
        server->Configure(zozi_test::serverRoot().topLevelFile().c_str(), rc);
        ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    }
    Value connect() {
        Value rc = FACE::RETURN_CODE_TYPE::IN_PROGRESS;
        server->Framework_Connect("", rc);
        return rc;
    }
    void request(ZOziDaZodOduzuz::RequestedState state) {
        Value rc = FACE::RETURN_CODE_TYPE::IN_PROGRESS;
        server->Request_State_Transition(state, rc);
        ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
    }
    void TearDown() override {
        // The maintenance reporter is process-wide: the next server of this
        // process initialises it again.
        PCSMaintReporter::Instance().DoneMaintReporter();
        Value rc = FACE::RETURN_CODE_TYPE::IN_PROGRESS;
        ZOziDaZodOduzuz::ReportedState state;
        server->Query_State(state, rc);
        if (state == FACE::LCM::Corvane::ReportedState::STARTED) request(FACE::LCM::Corvane::RequestedState::STOP);
        server->Framework_Disconnect(rc);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
        for (int s = 0; s < 3; ++s) EXPECT_FALSE(access.initialized(s)) << s;
        server.reset();
        ASPN2::TimeCodeHelper::Instance().setLiveMode();
        drainEvents();
    }
};

// A started server and a peer that has seen it answer, on the test's own
// DDS domain (tests run in parallel).
class CommandOverTransportTest : public ConnectTest {
protected:
    std::unique_ptr<Peer> peer;

    void start(int domain) {
        configure(domain);
        CoutCapture quiet;
        ASSERT_EQ(connect(), FACE::RETURN_CODE_TYPE::NO_ERROR);
        request(FACE::LCM::Corvane::RequestedState::START);
        peer = std::make_unique<Peer>(zozi_test::serverRoot().connectionsFile());
        ASSERT_TRUE(peer->waitForServer(20s));
    }
    void TearDown() override {
        ConnectTest::TearDown();
        peer.reset();
    }

    // Sends `text`, then a ping; the first response must be the ping's.
    void expectNoAnswer(const std::string& text, bool command = true) {
        SCOPED_TRACE(text);
        peer->send(text, 500, command);
        peer->send("BITSERVER_PING", 501);
        const auto r = peer->next(10s);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->command_identifier(), 501);
        EXPECT_EQ(r->command_response(), "ZOziDaZodOduzuz");
    }
};

TEST_F(CommandOverTransportTest, PingIsAnsweredWithTheServerNameAndTheCommandsIdentifier) {
    ASSERT_NO_FATAL_FAILURE(start(61));
    peer->send("BITSERVER_PING", 4242);
    const auto r = peer->next(10s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->command_response(), "ZOziDaZodOduzuz");
    EXPECT_EQ(r->command_identifier(), 4242);
    EXPECT_EQ(r->command_response_type(), aspn2_msgs::idl::COMMAND_RESPONSE_TYPE_RESPONSE);
    EXPECT_EQ(r->commanded_device_id(), static_cast<std::int32_t>((2u << 24) | (7u << 16) | (2u << 8)));
    // GroundVehicle (system 1), this server (45), a command response (kind 2).
    EXPECT_EQ(static_cast<std::uint32_t>(r->header().device_id()), (1u << 24) | (45u << 16) | (2u << 8));
    EXPECT_FALSE(peer->next(300ms));
}

TEST_F(CommandOverTransportTest, ModeCommandsChangeTheTimeCodeOfLaterMessages) {
    ASSERT_NO_FATAL_FAILURE(start(65));
    const struct {
        const char* command;
        std::int32_t timeCode;
    } steps[] = {{"SYSTEM_MODE_SELECT_SIMULATION", 101}, {"BITSERVER_PING", 101}, {"SYSTEM_MODE_SELECT_LIVE", 100},
                 {"BITSERVER_PING", 100}};
    std::int32_t id = 10;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.command);
        peer->send(step.command, ++id);
        const auto r = peer->next(10s);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->command_identifier(), id);
        EXPECT_EQ(r->command_response(), std::string(step.command) == "BITSERVER_PING"
                                             ? std::string("ZOziDaZodOduzuz")
                                             : std::string(step.command) + "_PASS");
        EXPECT_EQ(r->header().timestamp_valid().time_code(), step.timeCode);
        EXPECT_EQ(ASPN2::TimeCodeHelper::Instance().getTimeCode(), step.timeCode);
    }
}

TEST_F(CommandOverTransportTest, OtherMessagesAreNotAnswered) {
    ASSERT_NO_FATAL_FAILURE(start(66));
    expectNoAnswer("SYSTEM_MODE_SELECT_LIVE,1");
    expectNoAnswer("bitserver_ping");
    expectNoAnswer("BITSERVER_PING", false);
    expectNoAnswer("QUERY_VERSIONING");
    expectNoAnswer("START_ZEROIZE");
    EXPECT_EQ(ASPN2::TimeCodeHelper::Instance().getTimeCode(), 100);
}

TEST_F(CommandOverTransportTest, CommandsWhileStoppedAreIgnored) {
    ASSERT_NO_FATAL_FAILURE(start(68));
    request(FACE::LCM::Corvane::RequestedState::STOP);
    peer->send("BITSERVER_PING", 77);
    peer->send("SYSTEM_MODE_SELECT_SIMULATION", 78);
    EXPECT_FALSE(peer->next(1s));
    EXPECT_EQ(ASPN2::TimeCodeHelper::Instance().getTimeCode(), 100);
    request(FACE::LCM::Corvane::RequestedState::START);
}

// What the VICTORY library writes to stdout: a SOAP fault goes out as
// maintenance events, any other text to the console.
TEST_F(CommandOverTransportTest, SoapFaultsBecomeMaintenanceEventsAndOtherTextReachesTheConsole) {
    ASSERT_NO_FATAL_FAILURE(start(62));
    const std::string fault = "SOAP 1.2 fault SOAP-ENV:Sender\n\"unknown configuration item\"\nDetail: updatePeriod\n";
    const std::vector<std::string> descriptions = {"SOAP_1:" + fault.substr(0, 48), "SOAP_2:" + fault.substr(48)};

    Fd1Capture fd1;
    std::fputs("plain text through stdout\n", stdout);
    std::fprintf(stderr, "and through stderr %d\n", 7);
    // The first pieces may go out before the peer's reader has matched.
    std::optional<aspn2_msgs::idl::MaintenanceEvent> first;
    for (int i = 0; i < 20 && !first; ++i) {
        std::fputs(fault.c_str(), stdout);
        std::fflush(stdout);
        while (auto e = peer->maintenanceEvents.next(500ms)) {
            if (std::string(e->description().data()) == descriptions[0]) {
                first = e;
                break;
            }
        }
    }
    const auto second = peer->maintenanceEvents.next(5s);
    fd1.restore();

    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_EQ(std::string(second->description().data()), descriptions[1]);
    for (const aspn2_msgs::idl::MaintenanceEvent& e : {*first, *second}) {
        EXPECT_EQ(std::string(e.identity().data()), "ZOziDaZodOduzuz");
        EXPECT_EQ(e.criticality_id(), 3);
        EXPECT_EQ(e.outcome_id(), 3);
        EXPECT_EQ(e.location_id(), 45);
        EXPECT_EQ(e.category_id(), 11);
        EXPECT_EQ(e.fault_sources()[0].lru_id(), 1);
        EXPECT_EQ(e.fault_sources()[0].component_id(), 1);
        EXPECT_EQ(e.fault_sources()[1].lru_id(), 0);
        EXPECT_EQ(e.repeat_in_seconds(), 0);
        // GroundVehicle (system 1), this server (45), a maintenance event (kind 59).
        EXPECT_EQ(static_cast<std::uint32_t>(e.header().device_id()), (1u << 24) | (45u << 16) | (59u << 8));
    }
    EXPECT_EQ(second->header().seq_num(), first->header().seq_num() + 1);
    const std::string console = fd1.text();
    EXPECT_NE(console.find("plain text through stdout\nand through stderr 7\n"), std::string::npos) << console;
    EXPECT_EQ(console.find(fault), std::string::npos) << console;
}

TEST_F(ConnectTest, MissingConnectionStillStartsTheServices) {
    configure(63);
    zozi_test::serverRoot().writeConnections({"Command", "Response", "PositionVelocityAttitude", "EventLog", "UTCTime"});
    CoutCapture out;
    EXPECT_EQ(connect(), FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
    EXPECT_TRUE(access.hasTransport());
    EXPECT_FALSE(access.hasTypedTransports());
    for (int s = 0; s < 3; ++s) EXPECT_TRUE(access.initialized(s)) << s;
    EXPECT_EQ(out.take().find("CPN:"), std::string::npos);  // no identity reports
    zozi_test::serverRoot().writeConnections();
}

TEST_F(ConnectTest, WithEveryServiceSwitchedOffNoneIsStarted) {
    configure(64);
    access.processPosition() = false;
    access.processOrientation() = false;
    access.processDirectionOfTravel() = false;
    CoutCapture out;
    EXPECT_EQ(connect(), FACE::RETURN_CODE_TYPE::NO_ERROR);
    for (int s = 0; s < 3; ++s) EXPECT_FALSE(access.initialized(s)) << s;
    EXPECT_TRUE(access.hasTypedTransports());
    EXPECT_NE(out.take().find("ZOziDaZodOduzuz CPN: 415-2290-771C  "), std::string::npos);
}

TEST(MaintenanceText, OnlySoapFaultsAreConsumed) {
    ZOziDaZodOduzuz server;
    ZOziDaZodOduzuzTestAccess access(server);
    const std::string soap = "SOAP 1.2 fault SOAP-ENV:Sender\n\"unknown item\"\nDetail: updatePeriod\n";
    const std::string plain = "victory: position service not created\n";
    for (bool debug : {false, true}) {
        SCOPED_TRACE(debug);
        access.setDebug(debug);
        CoutCapture out;
        EXPECT_EQ(access.logMaintenanceEvent(plain.data(), plain.size()), 0);
        EXPECT_EQ(access.logMaintenanceEvent(soap.data(), soap.size()), static_cast<int>(soap.size()));
        // Only the given length counts: the marker cut off is no fault.
        EXPECT_EQ(access.logMaintenanceEvent(soap.data(), 20), 0);
        const std::string text = out.take();
        if (debug) {
            EXPECT_NE(text.find(" logMaintenanceEvent: ZOziDaZodOduzuz SOAP Error: victory: position service not "
                                "created\n"),
                      std::string::npos)
                << text;
            EXPECT_NE(text.find(" SOAP Error: SOAP 1.2 fault SOAP-ENV:Sender\n\"unknown item\"\nDetail: updatePeriod\n"),
                      std::string::npos)
                << text;
        } else {
            EXPECT_EQ(text.find("SOAP Error"), std::string::npos) << text;
        }
    }
}

}  // namespace
