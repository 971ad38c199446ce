// Samples from a peer process (tss_peer) to this one over each transport:
// UDP on the loopback interface, shared memory and TCP.

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
// without the prefix; empty when none comes within 15 s.
std::string lineStarting(ChildProcess& peer, std::string const& prefix) {
    auto const deadline = std::chrono::steady_clock::now() + seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        std::optional<std::string> line = peer.readLine(ChildProcess::Stdout, left);
        if (!line) break;
        if (line->rfind(prefix, 0) == 0) return line->substr(prefix.size());
    }
    return "";
}

// Stops the peer and expects it to end cleanly; shows its standard error otherwise.
void expectCleanEnd(ChildProcess& peer) {
    peer.signal(SIGTERM);
    std::optional<int> const status = peer.wait(seconds(15));
    ASSERT_TRUE(status.has_value()) << "peer did not stop";
    std::string errors;
    while (std::optional<std::string> line = peer.readLine(ChildProcess::Stderr, milliseconds(100))) errors += *line + "\n";
    EXPECT_EQ(*status, 0) << errors;
}

// A subscription of this process on "UTCTime"; the participant goes before the inbox.
struct Subscription {
    Inbox<> inbox;
    Transport t;
    std::shared_ptr<TypedUtc> typed;
    bool ok = false;

    explicit Subscription(std::string const& file) : t(makeTransport(file)) {
        RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        long long const id = createConnection(*t.tss, "UTCTime", rc);
        typed = typedOver(t.tss);
        if (typed) typed->Register_Callback(id, inbox.callback(), rc);
        ok = t.rc == NO_ERROR && rc == NO_ERROR;
    }
    ~Subscription() { typed.reset(), t.tss.reset(); }

    // Waits for `n` samples; each must be intact, numbered by the writer's
    // sequence, from `writer` to this reader, with the reader's `qos`.
    void expect(std::size_t n, std::string const& writer, std::string const& qos, seconds timeout = seconds(10)) {
        ASSERT_TRUE(waitFor([&] { return inbox.size() >= n; }, timeout)) << "received " << inbox.size();
        long long const reader = FACE::TSS::Listeners::GuidToUid(t.tss->connectionMap_mutex_at(0).m_subscriber->getGuid());
        for (auto const& e : inbox.all()) {
            SCOPED_TRACE(e.transaction);
            EXPECT_EQ(e.message, sampleNumber(e.transaction));
            EXPECT_EQ(std::to_string(e.header.sender_id), writer);
            EXPECT_EQ(e.header.receiver_id, reader);
            EXPECT_EQ(e.qos, qos);
        }
    }
};

class TssTraffic : public ::testing::Test {
protected:
    void SetUp() override { neutraliseProfiles(); }

    // Best effort and volatile, or reliable and transient local (history depth 10).
    std::string file(char const* name, unsigned domain, char const* transport, bool reliable) {
        Settings s = Settings::on(domain, transport);
        s.useBestEffort = reliable ? "false" : "true";
        s.backFillHistory = reliable ? "true" : "false";
        s.tcpPort = std::to_string(7400 + 250 * domain + 200);  // a port of the test's own domain range
        return m_dir.write(name, connectionsFile(s));
    }

    face_test::TempDir m_dir;
};

TEST_F(TssTraffic, UdpLateSubscriberGetsTheHistory) {
    std::string const f = file("c.xml", kUdpDomain, "UDP", true);
    ChildProcess peer({TSS_PEER_PATH, f, "3", "1000"});
    std::string const writer = lineStarting(peer, "WRITER ");
    ASSERT_EQ(lineStarting(peer, "SENT "), "3");
    Subscription sub(f);
    ASSERT_TRUE(sub.ok);
    sub.expect(3, writer, kReliableTransientLocal);
    EXPECT_EQ(sub.inbox.size(), 3u);
    expectCleanEnd(peer);
}

// Subscriptions come and go while the peer publishes at 1 kHz: each gets
// samples and goes quickly.
TEST_F(TssTraffic, SharedMemoryBestEffortWhileThePeerPublishes) {
    std::string const f = file("c.xml", kShmDomain, "SHM", false);
    ChildProcess peer({TSS_PEER_PATH, f, "0", "1000"});
    std::string const writer = lineStarting(peer, "WRITER ");
    ASSERT_FALSE(writer.empty());
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        auto sub = std::make_unique<Subscription>(f);
        ASSERT_TRUE(sub->ok);
        sub->expect(2, writer, kBestEffortVolatile);
        auto const started = std::chrono::steady_clock::now();
        sub.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - started, seconds(10)) << "slow teardown";
    }
    expectCleanEnd(peer);
}

TEST_F(TssTraffic, TcpServerPeerToTcpClientTest) {
    ChildProcess peer({TSS_PEER_PATH, file("server.xml", kTcpDomain, "TCP_Server", true), "3", "1000"});
    std::string const writer = lineStarting(peer, "WRITER ");
    ASSERT_EQ(lineStarting(peer, "SENT "), "3");
    Subscription sub(file("client.xml", kTcpDomain, "TCP_Client", true));
    ASSERT_TRUE(sub.ok);
    sub.expect(3, writer, kReliableTransientLocal, seconds(20));
    expectCleanEnd(peer);
}

}  // namespace
