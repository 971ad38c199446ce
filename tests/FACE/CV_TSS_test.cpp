// Transport set-up and connections: injection, Initialize, the participant
// attributes, the sample files, Create_Connection and the unregistrations.

#include "TssTestSupport.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace tss_test;
using namespace FACE::RETURN_CODE_TYPE;
using FACE::TSS::CV_TSS;

// A CV_Config that counts the handles opened and closed through it.
struct CountingConfig : FACE::CV_Config {
    int opens = 0, closes = 0;
    void Open(FACE::String const& name, int& handle, RC& rc) override {
        CV_Config::Open(name, handle, rc);
        opens += rc == NO_ERROR;
    }
    void Close(int handle, RC& rc) override {
        CV_Config::Close(handle, rc);
        closes += rc == NO_ERROR;
    }
};

class TssSetup : public ::testing::Test {
protected:
    void SetUp() override { neutraliseProfiles(); }

    // Initialize on a fresh transport over `content` (counting handles in
    // m_config); the console goes to m_out.
    Transport initialize(std::string const& content) {
        m_config = std::make_shared<CountingConfig>();
        testing::internal::CaptureStdout();
        Transport t = makeTransport(m_dir.write("connections.xml", content), "TssTest", m_config);
        m_out = testing::internal::GetCapturedStdout();
        return t;
    }

    face_test::TempDir m_dir;
    std::shared_ptr<CountingConfig> m_config;
    std::string m_out;
};

TEST_F(TssSetup, ReferenceAndOperationsBeforeInitialize) {
    CV_TSS tss("T");
    RC rc[6];
    testing::internal::CaptureStdout();
    tss.Initialize(FACE::String(m_dir.write("c.xml", connectionsFile(Settings::on(kSettingsDomain))).c_str()), rc[0]);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "silent without a configuration";
    EXPECT_EQ(createConnection(tss, "UTCTime", rc[1]), -1);
    tss.Destroy_Connection(0, rc[2]);
    tss.Unregister_Sender(0, rc[3]);
    tss.Unregister_Callback(0, rc[4]);
    EXPECT_EQ(std::vector<RC>(rc, rc + 5), std::vector<RC>(5, NOT_AVAILABLE));
    tss.Set_Reference("", nullptr, 0, rc[0]);
    tss.Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc[1]);
    tss.Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc[2]);
    EXPECT_EQ(std::vector<RC>(rc, rc + 3), (std::vector<RC>{INVALID_PARAM, NO_ERROR, NOT_AVAILABLE}));
}

TEST_F(TssSetup, UnreadableSettingsAreReportedAndNothingIsStored) {
    std::string const missing = m_dir.file("absent.xml");
    std::string const noContainer = m_dir.write("plain.xml", face_test::document(""));
    for (auto const& [file, console] :
         {std::pair{missing, "CFR:4 Configuration " + missing + " was not available\n"},
          std::pair{noContainer, std::string("CFR:4 Domain FastRtps was not available\n")}}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(makeTransport(file).rc, NOT_AVAILABLE);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), console);
    }
    for (char const* name :
         {"DomainId", "HistoryDepth", "UseBestEffort", "BackFillHistory", "UseTransport", "TcpAddress", "TcpPort"}) {
        Settings s = Settings::on(kSettingsDomain, "SHM");
        s.omit = {name};
        Transport t = initialize(connectionsFile(s));
        // The code, the warning, nothing stored, no handle left open.
        EXPECT_EQ(
            std::make_tuple(t.rc, m_out, t.tss->isInitialized() || t.tss->historyDepth() != 0,
                            m_config->opens - m_config->closes),
            std::make_tuple(INVALID_CONFIG, std::string("WARNING - Parameter ") + name + " not found\n", false, 0));
    }
    // All seven are read after a failure; an empty value counts as missing.
    Settings s = Settings::on(kSettingsDomain);
    s.omit = {"DomainId", "TcpPort"};
    s.tcpAddress = "";
    EXPECT_EQ(initialize(connectionsFile(s)).rc, INVALID_CONFIG);
    EXPECT_EQ(m_out,
              "WARNING - Parameter DomainId not found\nWARNING - Parameter TcpAddress not found\n"
              "WARNING - Parameter TcpPort not found\n");
}

TEST_F(TssSetup, InitializeStoresTheSettingsOnce) {
    Settings s = Settings::on(kHexDomain);
    s.domainId = "0x10", s.historyDepth = "014", s.useBestEffort = "TRUE", s.backFillHistory = "1", s.tcpPort = "70000";
    Transport t = initialize(connectionsFile(s));
    ASSERT_EQ(std::make_pair(t.rc, m_out), std::make_pair(NO_ERROR, std::string()));
    EXPECT_TRUE(t.tss->historyDepth() == 12 && t.tss->useBestEffort() && t.tss->backFillHistory());
    EXPECT_EQ(std::make_pair(t.tss->participant()->getAttributes().domainId, int(t.tss->tcpPort())),
              std::make_pair(16u, 4464))
        << "70000 truncated to 16 bits";
    eprosima::fastrtps::Participant* const first = t.tss->participant();
    RC rc = NO_ERROR;
    t.tss->Initialize("anything.xml", rc);
    EXPECT_EQ(std::make_pair(rc, t.tss->participant()), std::make_pair(NO_ACTION, first));
    EXPECT_EQ(std::make_pair(m_config->opens, m_config->closes), std::make_pair(1, 1))
        << "a second Initialize reads nothing";
}

// The transports themselves (the TCP client's peer too) are proven by the
// traffic tests; here the values taken from the settings.
TEST(TssAttributes, NamesWanAddressesAndUids) {
    using FACE::TSS::Details::MakeParticipantAttributes;
    EXPECT_EQ(std::string(MakeParticipantAttributes(33, std::string(300, 'n'), "UDP", "", 0).rtps.getName()),
              std::string(255, 'n'));
    EXPECT_TRUE(MakeParticipantAttributes(1, "n", "udp", "", 0).rtps.userTransports.empty());
    std::pair<char const*, std::array<std::uint8_t, 4>> const addresses[] = {
        {"10-0-0-7", {10, 0, 0, 7}}, {"300.1.2.3", {44, 1, 2, 3}}, {"1.2", {1, 2, 0, 0}},
        {"abc", {0, 0, 0, 0}},       {"1..3.4", {1, 0, 0, 0}},     {"9.8.7.6.5", {9, 8, 7, 6}}};
    for (auto const& [text, bytes] : addresses) EXPECT_EQ(FACE::TSS::Details::ParseWanAddress(text), bytes) << text;

    // The opt-in announcement period: seconds above 0 and below the lease.
    std::pair<char const*, std::optional<double>> const periods[] = {
        {"0.5", 0.5},         {" 1.25 ", 1.25},      {"4.999", 4.999},       {"5", std::nullopt}, {"0", std::nullopt},
        {"-1", std::nullopt}, {"nan", std::nullopt}, {"0.5s", std::nullopt}, {"", std::nullopt}};
    for (auto const& [text, seconds] : periods) {
        EXPECT_EQ(FACE::TSS::Details::ParseAnnouncementPeriod(text), seconds) << text;
    }

    // A sample's sender and receiver uids: the entity id, big-endian; the prefix plays no part.
    std::pair<std::array<std::uint8_t, 4>, long long> const cases[] = {{{0x00, 0x00, 0x01, 0x07}, 263},
                                                                       {{0x12, 0x34, 0x56, 0x78}, 0x12345678},
                                                                       {{0xFF, 0xFF, 0xFF, 0xFF}, 4294967295LL}};
    for (auto const& [entity, uid] : cases) {
        eprosima::fastrtps::rtps::GUID_t guid;
        std::fill(std::begin(guid.guidPrefix.value), std::end(guid.guidPrefix.value), 0xAB);
        std::copy(entity.begin(), entity.end(), guid.entityId.value);
        EXPECT_EQ(FACE::TSS::Listeners::GuidToUid(guid), uid);
    }
}

TEST_F(TssSetup, SampleFilesGiveTheServersSixConnectionsDenseIds) {
    char const* const names[] = {"Command",  "Response", "PositionVelocityAttitude",
                                 "EventLog", "UTCTime",  "MaintenanceEvent"};
    for (auto const& [transport, kindName] :
         {std::pair{"udp", "UDP"}, std::pair{"shm", "SHM"}, std::pair{"tcp-server", "TCP_Server"},
          std::pair{"tcp-client", "TCP_Client"}}) {
        // Over UDP in a domain of this test: the TCP transports would open ports.
        std::string text =
            face_test::readFile(std::string(TSS_SAMPLE_CONFIG_DIR) + "/connections-" + std::string(transport) + ".xml");
        std::size_t const domain = text.find("<DomainId>0</DomainId>"), kind = text.find("<UseTransport>");
        ASSERT_TRUE(domain != std::string::npos && kind != std::string::npos) << transport;
        std::size_t const kindEnd = text.find("</UseTransport>");
        EXPECT_EQ(text.substr(kind + 14, kindEnd - kind - 14), kindName);
        text.replace(kind, kindEnd - kind, "<UseTransport>UDP");
        text.replace(domain, 22, "<DomainId>" + std::to_string(kConnectionIdsDomain) + "</DomainId>");
        Transport t = initialize(text);
        ASSERT_EQ(t.rc, NO_ERROR) << transport;
        for (long long expected = 0; expected < 6; ++expected) {
            RC rc = NO_ACTION;
            EXPECT_EQ(std::make_pair(createConnection(*t.tss, names[expected], rc), rc),
                      std::make_pair(expected, NO_ERROR));
            std::string const& type = t.tss->connectionMap_mutex_at(static_cast<unsigned>(expected)).m_topicType;
            EXPECT_EQ(type, std::string("aspn2_msgs::idl::") + (expected < 2 ? "CommandResponse" : names[expected]));
        }
        int const opens = m_config->opens;
        RC rc = NO_ACTION;
        EXPECT_EQ(createConnection(*t.tss, "UTCTime", rc), 4);
        EXPECT_EQ(std::make_tuple(m_config->opens, m_config->closes, t.tss->connectionCount()),
                  std::make_tuple(opens, opens, 6u))
            << "an existing connection reads no container";
    }
}

TEST_F(TssSetup, ConnectionFailuresLeaveNoRecord) {
    std::string const extra = connection("NoPubSubType", "aspn2_msgs::idl::UTCTime", "") +
                              connection("LowerCase", "aspn2_msgs::idl::UTCTime", "utcTimePubSubType") +
                              connection("ElementType", "aspn2_msgs::idl::lru_comp_set", "lru_comp_setPubSubType");
    std::tuple<char const*, RC, char const*, bool> const cases[] = {
        // connection, code, console, error line
        {"NoSuchConnection", INVALID_CONFIG, "", false},
        {"NoPubSubType", INVALID_CONFIG, "WARNING - Parameter PubSubType not found\n", false},
        {"LowerCase", NO_ACTION, "", true},
        {"ElementType", NO_ACTION, "", true},
    };
    Transport t = initialize(connectionsFile(Settings::on(kConnectionFailuresDomain), extra));
    ASSERT_EQ(t.rc, NO_ERROR);
    for (auto const& [name, code, console, errorLine] : cases) {
        RC rc = NO_ERROR;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        long long const id = createConnection(*t.tss, name, rc);
        std::string const out = testing::internal::GetCapturedStdout(), errors = testing::internal::GetCapturedStderr();
        // No id, the code, the console line, the error line, no handle left open.
        EXPECT_EQ(std::make_tuple(id, rc, out, errors.find("!!!!! Could NOT register topic") != std::string::npos,
                                  m_config->opens - m_config->closes),
                  std::make_tuple(-1LL, code, std::string(console), errorLine, 0))
            << name;
    }
    RC rc = NO_ACTION;
    EXPECT_EQ(createConnection(*t.tss, "UTCTime", rc), 0) << "failures use up no ids";
}

TEST_F(TssSetup, UnregisterRemovesOnlyWhatExists) {
    Transport t = initialize(connectionsFile(Settings::on(kUnregisterDomain)));
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
        typed->Register_Callback(id, ignoreSample, rc);
        t.tss->Destroy_Connection(id, rc);
        EXPECT_EQ(rc, NO_ERROR);
        ASSERT_TRUE(record.isPublisher() && record.isSubscriber()) << "Destroy_Connection keeps the connection working";
        RC rcs[2];
        t.tss->Unregister_Sender(id, rcs[0]);
        EXPECT_TRUE(!record.isPublisher() && record.m_publisherListener == nullptr && record.isSubscriber());
        t.tss->Unregister_Callback(id, rcs[1]);
        EXPECT_TRUE(!record.isSubscriber() && record.m_subscriberListener == nullptr);
        EXPECT_TRUE(rcs[0] == NO_ERROR && rcs[1] == NO_ERROR);
    }
}

}  // namespace
