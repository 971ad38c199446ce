// Transport set-up and connections: injection, Initialize, the participant
// attributes, the sample files, Create_Connection and the unregistrations.

#include "TssTestSupport.h"

#include "FACE/CV_Topic_Helpers.h"

#include <fastdds/rtps/transport/TCPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastrtps/utils/IPLocator.h>

#include <gtest/gtest.h>

namespace {

using namespace tss_test;
using namespace FACE::RETURN_CODE_TYPE;
using FACE::TSS::CV_TSS;

class TssSetup : public ::testing::Test {
protected:
    void SetUp() override { neutraliseProfiles(); }

    // Initialize on a fresh transport over `content`; the console goes to *out.
    Transport initialize(std::string const& content, std::string* out,
                         std::shared_ptr<FACE::Configuration> config = nullptr) {
        std::string const file = m_dir.write("connections.xml", content);
        testing::internal::CaptureStdout();
        Transport t = makeTransport(file, "TssTest", std::move(config));
        *out = testing::internal::GetCapturedStdout();
        return t;
    }

    face_test::TempDir m_dir;
};

TEST_F(TssSetup, SetReferenceTakesOneConfiguration) {
    CV_TSS tss("T");
    RC rc = NO_ACTION;
    tss.Set_Reference("", nullptr, 0, rc);
    EXPECT_EQ(rc, INVALID_PARAM);
    tss.Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
    EXPECT_EQ(rc, NO_ERROR);
    tss.Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
    EXPECT_EQ(rc, NOT_AVAILABLE);
}

TEST_F(TssSetup, OperationsBeforeInitialize) {
    CV_TSS tss("T");
    RC rc = NO_ERROR;
    testing::internal::CaptureStdout();
    tss.Initialize(FACE::String(m_dir.write("c.xml", connectionsFile(Settings::on(kSettingsDomain))).c_str()), rc);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "silent without a configuration";
    EXPECT_EQ(rc, NOT_AVAILABLE);
    EXPECT_EQ(createConnection(tss, "UTCTime", rc), -1);
    EXPECT_EQ(rc, NOT_AVAILABLE);
    for (auto op : {&CV_TSS::Destroy_Connection, &CV_TSS::Unregister_Sender, &CV_TSS::Unregister_Callback}) {
        rc = NO_ERROR;
        (tss.*op)(0, rc);
        EXPECT_EQ(rc, NOT_AVAILABLE);
    }
}

TEST_F(TssSetup, UnreadableFileOrContainerPrintsCfrLine) {
    std::string const missing = m_dir.path() + "/absent.xml";
    std::string const garbage = m_dir.write("garbage.xml", "<CV_Configurations><");
    std::string const noContainer =
        m_dir.write("plain.xml", face_test::document(connection("A", "aspn2_msgs::idl::UTCTime", "UTCTimePubSubType")));
    std::pair<std::string, std::string> const cases[] = {
        {missing, "CFR:4 Configuration " + missing + " was not available\n"},
        {garbage, "CFR:4 Configuration " + garbage + " was not available\n"},
        {noContainer, "CFR:4 Domain FastRtps was not available\n"}};
    for (auto const& [file, console] : cases) {
        testing::internal::CaptureStdout();
        Transport t = makeTransport(file);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), console);
        EXPECT_EQ(t.rc, NOT_AVAILABLE);
        EXPECT_EQ(t.tss->participant(), nullptr);
    }
}

TEST_F(TssSetup, EveryMissingParameterIsReportedAndNothingIsStored) {
    for (char const* name :
         {"DomainId", "HistoryDepth", "UseBestEffort", "BackFillHistory", "UseTransport", "TcpAddress", "TcpPort"}) {
        Settings s = Settings::on(kSettingsDomain, "SHM");
        s.omit = {name};
        auto config = std::make_shared<CountingConfig>();
        std::string out;
        Transport t = initialize(connectionsFile(s), &out, config);
        EXPECT_EQ(t.rc, INVALID_CONFIG) << name;
        EXPECT_EQ(out, std::string("WARNING - Parameter ") + name + " not found\n");
        EXPECT_FALSE(t.tss->isInitialized());
        EXPECT_EQ(t.tss->participant(), nullptr);
        EXPECT_EQ(t.tss->historyDepth(), 0) << "stored although reading failed";
        EXPECT_EQ(config->opens, config->closes) << "handle left open";
    }
    // All seven are read after a failure; an empty value counts as missing.
    Settings s = Settings::on(kSettingsDomain);
    s.omit = {"DomainId", "TcpPort"};
    s.tcpAddress = "";
    std::string out;
    EXPECT_EQ(initialize(connectionsFile(s), &out).rc, INVALID_CONFIG);
    EXPECT_EQ(out,
              "WARNING - Parameter DomainId not found\nWARNING - Parameter TcpAddress not found\n"
              "WARNING - Parameter TcpPort not found\n");
}

TEST_F(TssSetup, InitializeStoresTheSettingsOnce) {
    Settings s = Settings::on(kHexDomain);
    s.domainId = "0x10";
    s.historyDepth = "014";
    s.useBestEffort = "TRUE";
    s.backFillHistory = "1";
    s.tcpAddress = "10.1.2.3";
    s.tcpPort = "70000";
    auto config = std::make_shared<CountingConfig>();
    std::string out;
    Transport t = initialize(connectionsFile(s), &out, config);
    ASSERT_EQ(t.rc, NO_ERROR);
    EXPECT_EQ(out, "");
    ASSERT_NE(t.tss->participant(), nullptr);
    EXPECT_EQ(t.tss->participant()->getAttributes().domainId, 16u);
    EXPECT_STREQ(t.tss->participant()->getAttributes().rtps.getName(), "TssTest");
    EXPECT_EQ(t.tss->historyDepth(), 12);
    EXPECT_TRUE(t.tss->useBestEffort());
    EXPECT_TRUE(t.tss->backFillHistory());
    EXPECT_EQ(t.tss->transport(), "UDP");
    EXPECT_EQ(t.tss->tcpAddress(), "10.1.2.3");
    EXPECT_EQ(t.tss->tcpPort(), 4464) << "70000 truncated to 16 bits";
    EXPECT_EQ(config->opens, 1);
    EXPECT_EQ(config->closes, 1);

    eprosima::fastrtps::Participant* const first = t.tss->participant();
    RC rc = NO_ERROR;
    t.tss->Initialize("anything.xml", rc);
    EXPECT_EQ(rc, NO_ACTION);
    EXPECT_EQ(t.tss->participant(), first);
    EXPECT_EQ(config->opens, 1) << "a second Initialize reads nothing";
}

TEST_F(TssSetup, UnknownTransportNameEitherWorksOrThrowsTheParticipantError) {
    for (char const* name : {"udp", "Shm", "TCP"}) {
        Settings s = Settings::on(kLowerCaseDomain, name);
        try {
            std::string out;
            Transport t = initialize(connectionsFile(s), &out);
            EXPECT_EQ(t.rc, NO_ERROR) << name;
        } catch (std::runtime_error const& e) {
            testing::internal::GetCapturedStdout();
            EXPECT_STREQ(e.what(), "Error creating participant TssTest") << name;
        }
    }
}

TEST(TssAttributes, ParticipantByTransport) {
    using namespace eprosima::fastdds::rtps;
    using FACE::TSS::Details::MakeParticipantAttributes;
    auto const udp = MakeParticipantAttributes(33, std::string(300, 'n'), "UDP", "10.0.0.1", 5100);
    EXPECT_EQ(udp.domainId, 33u);
    EXPECT_EQ(std::string(udp.rtps.getName()), std::string(255, 'n'));
    EXPECT_EQ(udp.rtps.builtin.discovery_config.leaseDuration, eprosima::fastrtps::Duration_t(5, 0));
    EXPECT_FALSE(udp.rtps.useBuiltinTransports);
    ASSERT_EQ(udp.rtps.userTransports.size(), 1u);
    auto const* u = dynamic_cast<UDPv4TransportDescriptor const*>(udp.rtps.userTransports[0].get());
    ASSERT_NE(u, nullptr);
    EXPECT_TRUE(u->non_blocking_send);
    EXPECT_EQ(u->interfaceWhiteList, std::vector<std::string>{"127.0.0.1"});

    auto const client = MakeParticipantAttributes(1, "n", "TCP_Client", "10.1.2.3", 5100);
    ASSERT_EQ(client.rtps.builtin.initialPeersList.size(), 1u);
    auto const& peer = *client.rtps.builtin.initialPeersList.begin();
    EXPECT_EQ(peer.kind, LOCATOR_KIND_TCPv4);
    EXPECT_EQ(eprosima::fastrtps::rtps::IPLocator::toIPv4string(peer), "10.1.2.3");
    EXPECT_EQ(peer.port, 5100u);

    auto const server = MakeParticipantAttributes(1, "n", "TCP_Server", "192.168.7.9", 6000);
    auto const* t = dynamic_cast<TCPv4TransportDescriptor const*>(server.rtps.userTransports.at(0).get());
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(std::vector<int>(t->wan_addr, t->wan_addr + 4), (std::vector<int>{192, 168, 7, 9}));
    EXPECT_EQ(t->listening_ports, std::vector<std::uint16_t>{6000});

    EXPECT_TRUE(MakeParticipantAttributes(1, "n", "udp", "", 0).rtps.userTransports.empty());
}

TEST(TssAttributes, WanAddressFromAnyText) {
    struct Case {
        char const* text;
        std::array<std::uint8_t, 4> bytes;
    } const cases[] = {{"192.168.1.20", {192, 168, 1, 20}}, {"10-0-0-7", {10, 0, 0, 7}}, {"300.1.2.3", {44, 1, 2, 3}},
                       {"1.2", {1, 2, 0, 0}}, {"", {0, 0, 0, 0}}, {"abc", {0, 0, 0, 0}}, {"1..3.4", {1, 0, 0, 0}},
                       {"9.8.7.6.5", {9, 8, 7, 6}}};
    for (Case const& c : cases) EXPECT_EQ(FACE::TSS::Details::ParseWanAddress(c.text), c.bytes) << c.text;
}

TEST(TssSampleFiles, NameTheServersSixConnections) {
    std::pair<char const*, char const*> const samples[] = {{"connections-udp.xml", "UDP"},
                                                           {"connections-shm.xml", "SHM"},
                                                           {"connections-tcp-server.xml", "TCP_Server"},
                                                           {"connections-tcp-client.xml", "TCP_Client"}};
    std::pair<char const*, char const*> const connections[] = {
        {"Command", "CommandResponse"}, {"Response", "CommandResponse"},
        {"PositionVelocityAttitude", "PositionVelocityAttitude"}, {"EventLog", "EventLog"},
        {"UTCTime", "UTCTime"}, {"MaintenanceEvent", "MaintenanceEvent"}};
    for (auto const& [file, transport] : samples) {
        SCOPED_TRACE(file);
        FACE::CV_Config config;
        ASSERT_EQ(face_test::initConfig(config, (std::string(TSS_SAMPLE_CONFIG_DIR) + "/" + file).c_str()), NO_ERROR);
        int const handle = face_test::openHandle(config, "FastRtps");
        EXPECT_EQ(face_test::readValue(config, handle, "UseTransport"), transport);
        for (char const* p : {"DomainId", "HistoryDepth", "UseBestEffort", "BackFillHistory", "TcpAddress", "TcpPort"}) {
            EXPECT_EQ(face_test::readValue(config, handle, p).rfind("<rc", 0), std::string::npos) << p;
        }
        for (auto const& [name, type] : connections) {
            int const h = face_test::openHandle(config, name);
            EXPECT_EQ(face_test::readValue(config, h, "TopicType"), std::string("aspn2_msgs::idl::") + type);
            std::unique_ptr<eprosima::fastdds::dds::TopicDataType> support(
                FACE::TSS::Topics::GetPubSubType(face_test::readValue(config, h, "PubSubType")));
            ASSERT_NE(support, nullptr) << name;
            EXPECT_EQ(std::string(support->getName()), std::string("aspn2_msgs::idl::") + type);
        }
    }
}

TEST_F(TssSetup, ServerConnectionsGetDenseIdsAndAreMadeOnce) {
    std::string text = face_test::readFile(std::string(TSS_SAMPLE_CONFIG_DIR) + "/connections-udp.xml");
    std::string const from = "<DomainId>0</DomainId>";
    ASSERT_NE(text.find(from), std::string::npos);
    text.replace(text.find(from), from.size(), "<DomainId>" + std::to_string(kConnectionIdsDomain) + "</DomainId>");
    auto config = std::make_shared<CountingConfig>();
    std::string out;
    Transport t = initialize(text, &out, config);
    ASSERT_EQ(t.rc, NO_ERROR);

    char const* const names[] = {"Command", "Response", "PositionVelocityAttitude", "EventLog", "UTCTime",
                                 "MaintenanceEvent"};
    for (long long expected = 0; expected < 6; ++expected) {
        RC rc = NO_ACTION;
        long long id = -7;
        int untouched = 41;
        t.tss->Create_Connection(FACE::String(names[expected]), -1, id, untouched, rc);
        EXPECT_EQ(rc, NO_ERROR) << names[expected];
        EXPECT_EQ(id, expected) << names[expected];
        EXPECT_EQ(untouched, 41);
    }
    int const opens = config->opens;
    RC rc = NO_ACTION;
    EXPECT_EQ(createConnection(*t.tss, "UTCTime", rc), 4);
    EXPECT_EQ(rc, NO_ERROR);
    EXPECT_EQ(config->opens, opens) << "an existing connection reads no container";
    EXPECT_EQ(config->closes, config->opens);
    EXPECT_EQ(t.tss->connectionCount(), 6u);
    EXPECT_EQ(t.tss->connectionMap_mutex_at(1).m_topicType, "aspn2_msgs::idl::CommandResponse");
    EXPECT_TRUE(t.tss->isTopicRegistered("aspn2_msgs::idl::MaintenanceEvent"));
    EXPECT_FALSE(t.tss->isTopicRegistered("aspn2_msgs::idl::IMU"));
    EXPECT_THROW(t.tss->connectionMap_mutex_at(6), std::out_of_range);
}

TEST_F(TssSetup, ConnectionFailuresLeaveNoRecord) {
    std::string const extra = connection("NoPubSubType", "aspn2_msgs::idl::UTCTime", "") +
                              connection("NoTopicType", "", "UTCTimePubSubType") +
                              connection("LowerCase", "aspn2_msgs::idl::UTCTime", "utcTimePubSubType") +
                              connection("ElementType", "aspn2_msgs::idl::lru_comp_set", "lru_comp_setPubSubType");
    struct Case {
        char const* name;
        RC rc;
        char const* console;
        bool errorLine;
    } const cases[] = {
        {"NoSuchConnection", INVALID_CONFIG, "", false},
        {"NoPubSubType", INVALID_CONFIG, "WARNING - Parameter PubSubType not found\n", false},
        {"NoTopicType", INVALID_CONFIG, "WARNING - Parameter TopicType not found\n", false},
        {"LowerCase", NO_ACTION, "", true},
        {"ElementType", NO_ACTION, "", true},
    };
    auto config = std::make_shared<CountingConfig>();
    std::string out;
    Transport t = initialize(connectionsFile(Settings::on(kConnectionFailuresDomain), extra), &out, config);
    ASSERT_EQ(t.rc, NO_ERROR);
    for (Case const& c : cases) {
        RC rc = NO_ERROR;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        long long const id = createConnection(*t.tss, c.name, rc);
        std::string const console = testing::internal::GetCapturedStdout();
        std::string const errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(rc, c.rc) << c.name;
        EXPECT_EQ(id, -1) << c.name;
        EXPECT_EQ(console, c.console) << c.name;
        EXPECT_EQ(errors.find("!!!!! Could NOT register topic") != std::string::npos, c.errorLine) << c.name;
        EXPECT_EQ(config->opens, config->closes) << c.name << ": handle left open";
        EXPECT_EQ(t.tss->connectionCount(), 0u) << c.name;
    }
    RC rc = NO_ACTION;
    EXPECT_EQ(createConnection(*t.tss, "UTCTime", rc), 0) << "failures use up no ids";
}

TEST_F(TssSetup, UnregisterRemovesOnlyWhatExists) {
    std::string out;
    Transport t = initialize(connectionsFile(Settings::on(kUnregisterDomain)), &out);
    ASSERT_EQ(t.rc, NO_ERROR);
    RC rc = NO_ACTION;
    long long const id = createConnection(*t.tss, "UTCTime", rc);
    auto typed = typedOver(t.tss);
    CV_TSS::Connection_t& record = t.tss->connectionMap_mutex_at(0);

    for (auto op : {&CV_TSS::Unregister_Sender, &CV_TSS::Unregister_Callback}) {
        for (long long unknown : {99LL, -1LL, -4294967296LL}) {
            (t.tss.get()->*op)(unknown, rc);
            EXPECT_EQ(rc, INVALID_PARAM) << unknown;
        }
        (t.tss.get()->*op)(id, rc);
        EXPECT_EQ(rc, NO_ERROR) << "nothing registered is no failure";
    }
    for (int round = 0; round < 2; ++round) {  // registered, removed, registered again
        typed->Register_Sender(id, rc);
        ASSERT_EQ(rc, NO_ERROR);
        typed->Register_Callback(id, ignoreSample, rc);
        ASSERT_EQ(rc, NO_ERROR);
        t.tss->Destroy_Connection(id, rc);
        EXPECT_EQ(rc, NO_ERROR);
        EXPECT_TRUE(record.isPublisher()) << "Destroy_Connection keeps the connection working";
        t.tss->Unregister_Sender(id, rc);
        EXPECT_EQ(rc, NO_ERROR);
        EXPECT_FALSE(record.isPublisher());
        EXPECT_EQ(record.m_publisherListener, nullptr);
        EXPECT_TRUE(record.isSubscriber());
        t.tss->Unregister_Callback(id, rc);
        EXPECT_EQ(rc, NO_ERROR);
        EXPECT_FALSE(record.isSubscriber());
        EXPECT_EQ(record.m_subscriberListener, nullptr);
    }
}

}  // namespace
