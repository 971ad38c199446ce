// The datagram guard in front of Fast DDS: when the console hears of drops
// (a clock of the test's own), receive progress per thread, the low-level
// transports' own sender resources, and traffic of a peer process over UDP,
// shared memory and TCP through it, with malformed messages dropped
// on the way and the participants unharmed (DDS domain 58).
#include "FACE/DatagramGuardStatus.h"
#include "FACE/RtpsGuardTransport.h"

#include "TssTestSupport.h"
#include "../support/ChildProcess.h"
#include "../support/RtpsInjector.h"
#include "../support/RtpsMessage.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

namespace {

namespace g = FACE::TSS::DatagramGuard;
namespace r = corvane_test::rtps;
using namespace std::chrono_literals;
using g::Verdict;

constexpr unsigned kGuardDomain = 58;

g::DropTotals totalsOf(std::initializer_list<std::pair<Verdict, std::uint64_t>> drops, std::uint64_t exceptions = 0) {
    g::DropTotals t;
    for (auto const& [v, n] : drops) t.dropped[static_cast<std::size_t>(v)] = n;
    t.exceptions = exceptions;
    return t;
}

// What the console hears as drops accumulate: the first news at once, then
// at most one line a period, each with what happened since the line before.
TEST(DropReport, TellsNewsAtMostOncePerPeriod) {
    struct Step {
        int second;
        g::DropTotals totals;
        char const* line;  // empty: no line
    };
    auto const bad = Verdict::kBeyondEnd, old = Verdict::kSequenceNumber;
    Step const steps[] = {
        {0, totalsOf({}), ""},
        {1, totalsOf({{bad, 1}}),
         "warning: DDS datagram guard dropped 1 RTPS message (1 submessage longer than the message), last from "
         "10.0.0.9:7400; at most one such line every 60 s"},
        {2, totalsOf({{bad, 5}}), ""},
        {60, totalsOf({{bad, 9}, {old, 2}}), ""},
        {61, totalsOf({{bad, 9}, {old, 2}}),
         "warning: DDS datagram guard dropped 10 RTPS messages (8 submessage longer than the message, 2 sequence "
         "number out of range), last from 10.0.0.9:7400; at most one such line every 60 s"},
        {200, totalsOf({{bad, 9}, {old, 2}}), ""},
        {201, totalsOf({{bad, 9}, {old, 2}}, 1),
         "warning: DDS datagram guard caught 1 exception out of the DDS library's receive path; at most one such line "
         "every 60 s"},
        {202, totalsOf({{bad, 10}, {old, 2}}, 3), ""},
        {262, totalsOf({{bad, 10}, {old, 2}}, 3),
         "warning: DDS datagram guard dropped 1 RTPS message (1 submessage longer than the message), last from "
         "10.0.0.9:7400; caught 2 exceptions out of the DDS library's receive path; at most one such line every 60 s"},
    };
    g::DropReport report;
    g::DropReport::Clock::time_point const start{};
    for (Step const& s : steps) {
        std::optional<std::string> const line =
            report.poll(s.totals, start + std::chrono::seconds(s.second), "10.0.0.9:7400");
        EXPECT_EQ(line.value_or(""), s.line) << "at second " << s.second;
    }
}

// A thread inside the library shows as the oldest receive with its
// transport until it returns; the call's length is kept.
TEST(ReceiveProgress, AThreadInsideTheLibraryShowsUntilItReturns) {
    std::mutex mutex;
    std::condition_variable changed;
    bool inside = false, release = false;
    std::uint64_t const before = g::receivedMessages(g::TransportKind::kTcpV4);
    std::thread receiver([&] {
        g::ReceiveScope const scope(g::TransportKind::kTcpV4);
        std::unique_lock<std::mutex> lock(mutex);
        inside = true;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return inside; }));
    }
    std::this_thread::sleep_for(120ms);  // the age to be seen, not a synchronisation
    std::optional<g::InProgress> const oldest = g::oldestReceive();
    ASSERT_TRUE(oldest.has_value());
    EXPECT_GE(oldest->age, 100ms);
    EXPECT_EQ(oldest->transport, g::TransportKind::kTcpV4);
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    changed.notify_all();
    receiver.join();
    EXPECT_FALSE(g::oldestReceive().has_value());
    EXPECT_GE(g::longestReceive(), 100ms);
    EXPECT_EQ(g::receivedMessages(g::TransportKind::kTcpV4), before + 1);
}

// More receiving threads than slots: the surplus is counted, not watched,
// and a slot comes back when its thread ends.
TEST(ReceiveProgress, ThreadsBeyondTheSlotsAreCountedAndSlotsComeBack) {
    std::uint64_t const unwatched = g::unwatchedThreads();
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t inside = 0;
    bool release = false;
    std::vector<std::thread> threads;
    std::size_t const count = g::kProgressSlots + 4;
    for (std::size_t i = 0; i < count; ++i) {
        threads.emplace_back([&] {
            g::ReceiveScope const scope(g::TransportKind::kUdpV4);
            std::unique_lock<std::mutex> lock(mutex);
            ++inside;
            changed.notify_all();
            changed.wait(lock, [&] { return release; });
        });
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 20s, [&] { return inside == count; }));
    }
    EXPECT_GE(g::unwatchedThreads(), unwatched + 4);
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    changed.notify_all();
    for (auto& t : threads) t.join();
    std::thread later([] { g::ReceiveScope const scope(g::TransportKind::kUdpV4); });
    later.join();
    EXPECT_LE(g::unwatchedThreads(), unwatched + 4) << "a slot of an ended thread is taken again";
}

// The guard hands the participant the low-level transport's own sender
// resources, so that transport finds and reuses them: one sender for any
// number of remote locators (wrapped ones would make the shared-memory
// transport add a sender per locator and send each message once per
// sender).
TEST(RtpsGuardTransport, SendersAreTheLowLevelTransportsOwnAndReused) {
    using eprosima::fastrtps::rtps::Locator_t;
    eprosima::fastdds::rtps::UDPv4TransportDescriptor udp;
    udp.interfaceWhiteList.emplace_back("127.0.0.1");
    eprosima::fastdds::rtps::SharedMemTransportDescriptor shm;
    struct Kind {
        char const* name;
        std::shared_ptr<eprosima::fastdds::rtps::TransportDescriptorInterface> descriptor;
        std::int32_t locatorKind;
    } const kinds[] = {{"UDPv4", g::protect(udp), LOCATOR_KIND_UDPv4}, {"SHM", g::protect(shm), LOCATOR_KIND_SHM}};
    for (Kind const& k : kinds) {
        std::unique_ptr<eprosima::fastdds::rtps::TransportInterface> transport(k.descriptor->create_transport());
        ASSERT_NE(dynamic_cast<g::RtpsGuardTransport*>(transport.get()), nullptr) << k.name;
        ASSERT_TRUE(transport->init()) << k.name;
        eprosima::fastdds::rtps::SendResourceList senders;
        for (std::uint32_t port : {17410u, 17412u, 17414u}) {
            Locator_t locator;
            locator.kind = k.locatorKind;
            locator.port = port;
            locator.address[12] = 127;
            locator.address[15] = 1;
            EXPECT_TRUE(transport->OpenOutputChannel(senders, locator)) << k.name << " " << port;
        }
        EXPECT_EQ(senders.size(), 1u) << k.name;
        senders.clear();
    }
}

// Samples of a peer process reach this process's reader through the guard
// over each transport (the shared-memory descriptor still counts as one:
// the data comes over shared memory), with nothing dropped; then malformed
// messages to the discovery port are dropped and told once, and samples
// keep arriving.
TEST(RtpsGuardTransport, PeerTrafficPassesAndMalformedMessagesAreDropped) {
    tss_test::neutraliseProfiles();
    face_test::TempDir dir;
    std::vector<std::string> lines;
    std::mutex linesMutex;
    g::DropCounters::instance().setSink([&](std::string const& line) {
        std::lock_guard<std::mutex> lock(linesMutex);
        lines.push_back(line);
    });
    struct Path {
        char const* peer;
        char const* own;
        g::TransportKind kind;
    } const paths[] = {{"UDP", "UDP", g::TransportKind::kUdpV4},
                       {"SHM", "SHM", g::TransportKind::kSharedMemory},
                       {"TCP_Server", "TCP_Client", g::TransportKind::kTcpV4}};
    for (Path const& p : paths) {
        SCOPED_TRACE(p.peer);
        g::DropTotals const clean = g::DropCounters::instance().totals();
        auto file = [&](char const* transport) {
            tss_test::Settings s = tss_test::Settings::on(kGuardDomain, transport);
            s.tcpPort = std::to_string(7400 + 250 * kGuardDomain + 200);
            return dir.write(std::string(transport) + ".xml", tss_test::connectionsFile(s));
        };
        corvane_test::ChildProcess peer({TSS_PEER_PATH, file(p.peer), "0", "20000"});
        std::uint64_t const before = g::receivedMessages(p.kind);
        auto inbox = std::make_unique<tss_test::Inbox<>>();
        tss_test::Transport t = tss_test::makeTransport(file(p.own));
        tss_test::RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        long long const id = tss_test::createConnection(*t.tss, "UTCTime", rc);
        auto typed = tss_test::typedOver(t.tss);
        ASSERT_TRUE(typed);
        typed->Register_Callback(id, inbox->callback(), rc);
        ASSERT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
        ASSERT_TRUE(tss_test::waitFor([&] { return inbox->size() >= 3; }, 30s)) << inbox->size();
        EXPECT_GT(g::receivedMessages(p.kind), before);
        EXPECT_EQ(g::DropCounters::instance().totals(), clean);

        if (p.kind == g::TransportKind::kUdpV4) {
            r::Injector injector;
            std::uint16_t const port = r::discoveryMulticastPort(kGuardDomain);
            std::vector<r::Submessage> announcement{r::infoTs(), r::data(1, r::Bytes(240, 0x11)), r::statistics()};
            std::vector<r::Submessage> twice = announcement;
            twice.insert(twice.end(), announcement.begin(), announcement.end());
            ASSERT_TRUE(injector.multicast(port, r::message(twice)));
            ASSERT_TRUE(injector.multicast(
                port, r::message({r::heartbeat(std::int64_t{1} << 62, (std::int64_t{1} << 62) - 1)})));
            ASSERT_TRUE(injector.multicast(port, r::message({r::infoTs(), r::data(1, r::Bytes(8, 1))}) /* legal */));
            auto dropped = [](Verdict v) {
                return g::DropCounters::instance().totals().dropped[static_cast<std::size_t>(v)];
            };
            EXPECT_TRUE(tss_test::waitFor(
                [&] { return dropped(Verdict::kStatistics) >= 1 && dropped(Verdict::kSequenceNumber) >= 1; }, 10s));
            std::size_t const seen = inbox->size();
            EXPECT_TRUE(tss_test::waitFor([&] { return inbox->size() >= seen + 3; }, 20s)) << "samples stopped";
            std::lock_guard<std::mutex> lock(linesMutex);
            ASSERT_EQ(lines.size(), 1u) << "one line for the first news, the next only a minute later";
            EXPECT_EQ(lines[0].rfind("warning: DDS datagram guard dropped 1 RTPS message (", 0), 0u) << lines[0];
            EXPECT_NE(lines[0].find("last from 127.0.0.1:"), std::string::npos) << lines[0];
        }
        typed.reset();
        t.tss.reset();
        peer.signal(SIGTERM);
        EXPECT_EQ(peer.wait(15s), 0);
    }
    g::DropCounters::instance().setSink(nullptr);
}

}  // namespace
