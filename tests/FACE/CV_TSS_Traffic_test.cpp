// Samples between two processes: this test and a peer process (tss_peer)
// over UDP on the loopback interface, shared memory and TCP; late joiners;
// tearing a transport down under load.

#include "TssTestSupport.h"

#include "../support/ChildProcess.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

using namespace tss_test;
using corvane_test::ChildProcess;
using FACE::RETURN_CODE_TYPE::NO_ERROR;
using std::chrono::milliseconds;
using std::chrono::seconds;

std::string const kBestEffortVolatile =
    "DurabilityQosPolicy=VOLATILE_DURABILITY_QOS,LivelinessQosPolicy=AUTOMATIC_LIVELINESS_QOS,"
    "ReliabilityQosPolicy=BEST_EFFORT_RELIABILITY_QOS";
std::string const kReliableTransientLocal =
    "DurabilityQosPolicy=TRANSIENT_LOCAL_DURABILITY_QOS,LivelinessQosPolicy=AUTOMATIC_LIVELINESS_QOS,"
    "ReliabilityQosPolicy=RELIABLE_RELIABILITY_QOS";

// The peer's next line starting with `prefix` (other lines are skipped),
// without the prefix; nothing when none comes within `timeout`.
std::optional<std::string> lineStarting(ChildProcess& peer, std::string const& prefix,
                                        milliseconds timeout = seconds(15)) {
    auto const deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        std::optional<std::string> line = peer.readLine(ChildProcess::Stdout, left);
        if (!line) break;
        if (line->rfind(prefix, 0) == 0) return line->substr(prefix.size());
    }
    return std::nullopt;
}

// What the peer wrote to `stream` and has not been read yet.
std::string drain(ChildProcess& peer, ChildProcess::Stream stream) {
    std::string text;
    while (std::optional<std::string> line = peer.readLine(stream, milliseconds(100))) text += *line + "\n";
    return text;
}

// Expects the peer to end cleanly (after SIGTERM when `stopIt`); shows
// what it wrote to standard error otherwise.
void expectCleanEnd(ChildProcess& peer, bool stopIt = true) {
    if (stopIt) peer.signal(SIGTERM);
    std::optional<int> const status = peer.wait(seconds(15));
    ASSERT_TRUE(status.has_value()) << "peer did not stop";
    EXPECT_EQ(*status, 0) << drain(peer, ChildProcess::Stderr);
}

// A subscription of this process on "UTCTime".
struct Subscription {
    Transport t;
    std::shared_ptr<TypedUtc> typed;
    FACE::TSS::CV_TSS::Connection_t* record = nullptr;

    Subscription(std::string const& file, Inbox& inbox) : t(makeTransport(file)) {
        if (t.rc != NO_ERROR) return;
        RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        long long const id = createConnection(*t.tss, "UTCTime", rc);
        typed = typedOver(t.tss);
        typed->Register_Callback(id, inbox.callback(), rc);
        if (rc == NO_ERROR) record = &t.tss->connectionMap_mutex_at(0);
    }
    long long readerUid() const { return FACE::TSS::Listeners::GuidToUid(record->m_subscriber->getGuid()); }
    bool matched() const { return record->m_subscriberListener->matchedCount() > 0; }
};

class TssTraffic : public ::testing::Test {
protected:
    void SetUp() override { neutraliseProfiles(); }

    // The peer publishes 5 samples once both sides have matched; this
    // process receives them.
    void peerPublishes(Settings const& s, std::string const& expectedQos) {
        std::string const file = m_dir.write("c.xml", connectionsFile(s));
        std::string const go = m_dir.path() + "/go";
        Inbox inbox;
        Subscription sub(file, inbox);
        ASSERT_NE(sub.record, nullptr);
        ChildProcess peer({TSS_PEER_PATH, file, "publish", "5", "2000", "--go-file", go});
        std::string const writer = lineStarting(peer, "WRITER ").value_or("");
        ASSERT_FALSE(writer.empty());
        ASSERT_TRUE(lineStarting(peer, "MATCHED")) << "peer's writer never matched";
        ASSERT_TRUE(waitFor([&] { return sub.matched(); }));
        std::ofstream(go) << "go\n";
        ASSERT_TRUE(waitFor([&] { return inbox.size() >= 5; })) << "received " << inbox.size();
        std::vector<Inbox::Entry> const got = inbox.all();
        for (std::size_t k = 0; k < got.size(); ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(got[k].transaction, static_cast<long long>(k + 1));
            EXPECT_EQ(got[k].message, sampleNumber(got[k].transaction));
            EXPECT_EQ(got[k].header.sender_id, std::stoll(writer));
            EXPECT_EQ(got[k].header.receiver_id, sub.readerUid());
            EXPECT_EQ(got[k].qos, expectedQos);
        }
        expectCleanEnd(peer);
    }

    // This process publishes 5 samples once both sides have matched; the
    // peer reports what it receives.
    void testPublishes(Settings const& s, std::string const& expectedQos) {
        std::string const file = m_dir.write("c.xml", connectionsFile(s));
        Transport t = makeTransport(file);
        ASSERT_EQ(t.rc, NO_ERROR);
        RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        long long const id = createConnection(*t.tss, "UTCTime", rc);
        auto typed = typedOver(t.tss);
        typed->Register_Sender(id, rc);
        ASSERT_EQ(rc, NO_ERROR);
        FACE::TSS::CV_TSS::Connection_t& record = t.tss->connectionMap_mutex_at(0);
        long long const writerUid = FACE::TSS::Listeners::GuidToUid(record.m_publisher->getGuid());

        ChildProcess peer({TSS_PEER_PATH, file, "subscribe", "5"});
        std::string const reader = lineStarting(peer, "READER ").value_or("");
        ASSERT_FALSE(reader.empty());
        ASSERT_TRUE(lineStarting(peer, "MATCHED")) << "peer's reader never matched";
        ASSERT_TRUE(waitFor([&] { return record.m_publisherListener->matchedCount() > 0; }));
        for (long long i = 1; i <= 5; ++i) {
            long long transaction = 0;
            typed->Send_Message(id, 0, transaction, sampleNumber(i), rc);
            EXPECT_EQ(rc, NO_ERROR);
        }
        for (long long i = 1; i <= 5; ++i) {
            std::istringstream line(lineStarting(peer, "SAMPLE ").value_or(""));
            long long transaction = 0, sender = 0, receiver = 0;
            int intact = 0;
            std::string qos;
            ASSERT_TRUE(line >> transaction >> sender >> receiver >> intact >> qos) << "sample " << i;
            EXPECT_EQ(transaction, i);
            EXPECT_EQ(sender, writerUid);
            EXPECT_EQ(receiver, std::stoll(reader));
            EXPECT_EQ(intact, 1) << "sample " << i << " changed on the way";
            EXPECT_EQ(qos, expectedQos);
        }
        expectCleanEnd(peer, false);
    }

    face_test::TempDir m_dir;
};

// Best effort and volatile, or reliable and transient local.
Settings qos(unsigned domain, char const* transport, bool reliable) {
    Settings s = Settings::on(domain, transport);
    s.useBestEffort = reliable ? "false" : "true";
    s.backFillHistory = reliable ? "true" : "false";
    return s;
}

TEST_F(TssTraffic, UdpLoopbackPeerToTest) { peerPublishes(qos(kUdpToTestDomain, "UDP", false), kBestEffortVolatile); }
TEST_F(TssTraffic, UdpLoopbackTestToPeer) { testPublishes(qos(kUdpFromTestDomain, "UDP", true), kReliableTransientLocal); }
TEST_F(TssTraffic, SharedMemoryPeerToTest) { peerPublishes(qos(kShmToTestDomain, "SHM", true), kReliableTransientLocal); }
TEST_F(TssTraffic, SharedMemoryTestToPeer) { testPublishes(qos(kShmFromTestDomain, "SHM", false), kBestEffortVolatile); }

TEST_F(TssTraffic, LateSubscriberWithBackFillGetsTheHistory) {
    std::string const file = m_dir.write("c.xml", connectionsFile(qos(kBackFillDomain, "UDP", true)));  // history depth 10
    ChildProcess peer({TSS_PEER_PATH, file, "publish", "3", "1000", "--no-wait"});
    ASSERT_EQ(lineStarting(peer, "SENT ").value_or(""), "3");

    Inbox inbox;
    Subscription sub(file, inbox);
    ASSERT_NE(sub.record, nullptr);
    ASSERT_TRUE(waitFor([&] { return inbox.size() >= 3; })) << "received " << inbox.size();
    std::vector<Inbox::Entry> const got = inbox.all();
    ASSERT_EQ(got.size(), 3u);
    for (long long i = 1; i <= 3; ++i) {
        EXPECT_EQ(got[i - 1].transaction, i);
        EXPECT_EQ(got[i - 1].message, sampleNumber(i));
    }
    expectCleanEnd(peer);
}

TEST_F(TssTraffic, TcpServerPeerToTcpClientTest) {
    Settings server = qos(kTcpDomain, "TCP_Server", true);
    // A port of the test's own domain range: no other test uses it.
    server.tcpPort = std::to_string(7400 + 250 * kTcpDomain + 200);
    Settings client = server;
    client.useTransport = "TCP_Client";
    std::string const serverFile = m_dir.write("server.xml", connectionsFile(server));
    std::string const clientFile = m_dir.write("client.xml", connectionsFile(client));

    ChildProcess peer({TSS_PEER_PATH, serverFile, "publish", "3", "1000", "--no-wait"});
    ASSERT_EQ(lineStarting(peer, "SENT ").value_or(""), "3");
    Inbox inbox;
    Subscription sub(clientFile, inbox);
    ASSERT_NE(sub.record, nullptr);
    EXPECT_TRUE(waitFor([&] { return inbox.size() >= 3; }, seconds(20)))
        << "received " << inbox.size() << "; peer said:\n" << drain(peer, ChildProcess::Stdout);
    for (Inbox::Entry const& e : inbox.all()) {
        EXPECT_EQ(e.message, sampleNumber(e.transaction));
    }
    expectCleanEnd(peer);
}

TEST_F(TssTraffic, TransportGoesCleanlyWhileThePeerPublishesAt1kHz) {
    std::string const file = m_dir.write("c.xml", connectionsFile(qos(kShutdownDomain, "SHM", false)));
    std::set<std::string> segments;
    {
        ChildProcess peer({TSS_PEER_PATH, file, "publish", "0", "1000", "--no-wait"});
        ASSERT_TRUE(lineStarting(peer, "WRITER "));
        for (int round = 0; round < 20; ++round) {
            SCOPED_TRACE(round);
            Inbox inbox;
            auto sub = std::make_unique<Subscription>(file, inbox);
            ASSERT_NE(sub->record, nullptr);
            ASSERT_TRUE(waitFor([&] { return inbox.size() >= 2; })) << "no samples";
            std::set<std::string> const mine = mappedShmSegments();
            segments.insert(mine.begin(), mine.end());
            auto const started = std::chrono::steady_clock::now();
            sub.reset();
            EXPECT_LT(std::chrono::steady_clock::now() - started, seconds(10)) << "slow teardown";
        }
        std::set<std::string> const theirs = mappedShmSegments(std::to_string(peer.pid()));
        segments.insert(theirs.begin(), theirs.end());
        EXPECT_FALSE(segments.empty()) << "the shared-memory transport mapped nothing";
        expectCleanEnd(peer);
    }
    std::vector<std::string> const left = removeLeftovers(kShutdownDomain, segments);
    EXPECT_TRUE(left.empty()) << "left in /dev/shm: " << ::testing::PrintToString(left);
}

}  // namespace
