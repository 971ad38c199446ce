// Samples from a peer process (tss_peer) to this one over each transport:
// UDP on the loopback interface, shared memory and TCP.

#include "TssTestSupport.h"

#include "../support/ChildProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
#include <memory>

namespace {

using namespace tss_test;
using corvane_test::ChildProcess;
using std::chrono::milliseconds;
using std::chrono::seconds;

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

struct Traffic {
    char const* name;
    unsigned domain;
    char const *peerTransport, *testTransport;
    bool reliable;  // reliable and transient local, or best effort and volatile
    int count;      // samples the peer sends before the test subscribes; 0: it keeps publishing at 1 kHz
    int rounds;     // subscriptions made and removed one after the other
};

class TssTraffic : public ::testing::TestWithParam<Traffic> {
protected:
    void SetUp() override { neutraliseProfiles(); }

    std::string file(char const* transport) {
        Settings s = Settings::on(GetParam().domain, transport);
        s.useBestEffort = GetParam().reliable ? "false" : "true";
        s.backFillHistory = GetParam().reliable ? "true" : "false";
        s.tcpPort = std::to_string(7400 + 250 * GetParam().domain + 200);  // a port of the test's own domain range
        return m_dir.write(std::string(transport) + ".xml", connectionsFile(s));
    }

    face_test::TempDir m_dir;
};

// Every sample arrives intact, numbered by the writer's sequence, from the
// peer's writer to this reader, with the reader's QoS; a late reliable
// subscriber gets the history, and subscriptions go quickly while the peer
// publishes.
TEST_P(TssTraffic, PeerSamplesArriveIntact) {
    Traffic const& p = GetParam();
    std::string const qos = std::string("DurabilityQosPolicy=") + (p.reliable ? "TRANSIENT_LOCAL" : "VOLATILE") +
                            "_DURABILITY_QOS,LivelinessQosPolicy=AUTOMATIC_LIVELINESS_QOS,ReliabilityQosPolicy=" +
                            (p.reliable ? "RELIABLE" : "BEST_EFFORT") + "_RELIABILITY_QOS";
    // Fast DDS 2.9.1's TCP server now and then never opens the logical port
    // of a client that joins it while it runs: the connection stands and
    // nothing flows, whichever client comes next (fixed upstream in later
    // releases; docs/deliberate-differences.md). The TCP case then starts a second server
    // once; samples that arrive damaged or from the wrong writer still fail.
    bool const tcp = std::string(p.peerTransport) == "TCP_Server";
    std::unique_ptr<ChildProcess> peerProcess;
    std::string writer;
    std::string const own = file(p.testTransport);
    std::size_t const n = p.count > 0 ? std::size_t(p.count) : 2;
    auto startPeer = [&] {
        peerProcess = std::make_unique<ChildProcess>(
            std::vector<std::string>{TSS_PEER_PATH, file(p.peerTransport), std::to_string(p.count), "1000"});
        writer = lineStarting(*peerProcess, "WRITER ");
        ASSERT_FALSE(writer.empty());
        if (p.count > 0) {
            ASSERT_EQ(lineStarting(*peerProcess, "SENT "), std::to_string(p.count));
        }
    };
    ASSERT_NO_FATAL_FAILURE(startPeer());
    // A subscriber of this process to the peer's samples, delivered into `inbox`.
    struct Subscriber {
        std::unique_ptr<Inbox<>> inbox = std::make_unique<Inbox<>>();  // outlives the participant
        Transport t;
        decltype(typedOver(nullptr)) typed;
    };
    auto subscribe = [&](Subscriber& s) {
        s.typed.reset(), s.t.tss.reset();
        s.inbox = std::make_unique<Inbox<>>();
        s.t = makeTransport(own);
        RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        long long const id = createConnection(*s.t.tss, "UTCTime", rc);
        s.typed = typedOver(s.t.tss);
        if (s.typed) s.typed->Register_Callback(id, s.inbox->callback(), rc);
        ASSERT_TRUE(s.t.rc == FACE::RETURN_CODE_TYPE::NO_ERROR && rc == FACE::RETURN_CODE_TYPE::NO_ERROR);
    };
    for (int round = 0; round < p.rounds; ++round) {
        SCOPED_TRACE(round);
        Subscriber sub;
        ASSERT_NO_FATAL_FAILURE(subscribe(sub));
        auto& inbox = sub.inbox;
        auto& t = sub.t;
        auto& typed = sub.typed;
        if (tcp && round == 0 && !waitFor([&] { return inbox->size() >= n; }, seconds(10))) {
            std::cerr << "the TCP client heard nothing in 10 s: a second server\n";
            typed.reset(), t.tss.reset();
            peerProcess->signal(SIGTERM);
            peerProcess->wait(seconds(15));
            ASSERT_NO_FATAL_FAILURE(startPeer());
            ASSERT_NO_FATAL_FAILURE(subscribe(sub));
        }
        ASSERT_TRUE(waitFor([&] { return inbox->size() >= n; }, seconds(20))) << "received " << inbox->size();
        long long const reader =
            FACE::TSS::Listeners::GuidToUid(t.tss->connectionMap_mutex_at(0).m_subscriber->getGuid());
        for (auto const& e : inbox->all()) {
            EXPECT_EQ(std::make_tuple(e.message, std::to_string(e.header.sender_id), e.header.receiver_id, e.qos),
                      std::make_tuple(sampleNumber(e.transaction), writer, reader, qos))
                << e.transaction;
        }
        EXPECT_TRUE(p.count == 0 || inbox->size() == n);
        auto const started = std::chrono::steady_clock::now();
        typed.reset(), t.tss.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - started, seconds(10)) << "slow teardown";
    }
    // The peer ends cleanly when told to.
    ChildProcess& peer = *peerProcess;
    peer.signal(SIGTERM);
    std::optional<int> const status = peer.wait(seconds(15));
    ASSERT_TRUE(status.has_value()) << "peer did not stop";
    std::string errors;
    while (std::optional<std::string> line = peer.readLine(ChildProcess::Stderr, milliseconds(100)))
        errors += *line + "\n";
    EXPECT_EQ(*status, 0) << errors;
}

INSTANTIATE_TEST_SUITE_P(Transports, TssTraffic,
                         testing::Values(Traffic{"UdpLateSubscriber", kUdpDomain, "UDP", "UDP", true, 3, 1},
                                         Traffic{"SharedMemoryWhilePublishing", kShmDomain, "SHM", "SHM", false, 0, 5},
                                         Traffic{"TcpServerPeerToClient", kTcpDomain, "TCP_Server", "TCP_Client", true,
                                                 3, 1}),
                         [](testing::TestParamInfo<Traffic> const& info) { return std::string(info.param.name); });

}  // namespace
