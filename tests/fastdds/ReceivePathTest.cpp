// Crafted datagrams against a real participant of the installed Fast DDS:
// a HEARTBEAT or GAP whose sequence-number range a peer controls (up to
// 2^63) must not keep a receive thread busy or grow memory with the range,
// and eProsima's statistics submessage placed where it may not stand, or a
// DATA_FRAG cut short, must not abort the process. After each, the reader still receives another
// writer's samples over the same port, the process stays idle, and the
// participants are removed.
//
// DDS domains: 140 (HEARTBEAT), 141 and 142 (GAP), 143 (statistics
// submessage, DATA_FRAG); see TestParticipant.h for the ports.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "RtpsDatagram.h"
#include "TestParticipant.h"
#include "tests/support/UdpTestSocket.h"

namespace {

using namespace std::chrono_literals;
using namespace corvane_test;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kSanitizerScale = 3;
#else
constexpr int kSanitizerScale = 1;
#endif
constexpr int kScale = CORVANE_TIMEOUT_SCALE * kSanitizerScale;
const auto kMatch = std::chrono::milliseconds(15000 * kScale);
const auto kArrive = std::chrono::milliseconds(5000 * kScale);
// CPU time the whole process may use over the 2 s after the datagrams: a
// spinning receive thread uses all of it, idle participants a few ms.
constexpr double kIdleCpuSeconds = 0.5 * kScale;
constexpr std::int64_t kHuge = std::int64_t{1} << 62;

// Ends the process with a message when a scenario is not over in time: a
// receive thread that spins holds the reader's mutex, and removing the
// participant would then wait for ever.
class Watchdog {
public:
    Watchdog(std::chrono::seconds limit, std::string what) : m_what(std::move(what)) {
        m_thread = std::thread([this, limit] {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_done.wait_for(lock, limit, [this] { return m_finished; })) {
                std::fprintf(stderr, "%s: not over after %lld s (a receive thread is stuck)\n", m_what.c_str(),
                             static_cast<long long>(limit.count()));
                std::fflush(stdout);
                std::_Exit(3);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::string m_what;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread;
};

// A crafted submessage on a writer's behalf, from the sequence numbers the
// scenario has reached (the spoofed writer has sent 1 and 2).
struct SpinCase {
    const char* name;
    int domain;
    std::string (*submessage)(const rtps::EntityId& reader, const rtps::EntityId& writer);
};

const SpinCase kSpinCases[] = {
    // The writer claims to hold 2^62.. and nothing before: every sample
    // below 2^62 is lost at once.
    {"HeartbeatJump", 140,
     [](const rtps::EntityId& r, const rtps::EntityId& w) {
         return rtps::heartbeat(r, w, kHuge, kHuge - 1, 1u << 30);
     }},
    // Everything from 1 to 2^62 - 1 is irrelevant: starts below the reader's low mark.
    {"GapFromStart", 141, [](const rtps::EntityId& r, const rtps::EntityId& w) { return rtps::gap(r, w, 1, kHuge); }},
    // The same range starting above the low mark, with sample 3 still missing:
    // the part that must be kept as received until 3 arrives.
    {"GapAboveLowMark", 142,
     [](const rtps::EntityId& r, const rtps::EntityId& w) { return rtps::gap(r, w, 4, kHuge); }},
};

class ReceivePathSpin : public ::testing::TestWithParam<SpinCase> {};

TEST_P(ReceivePathSpin, ReaderStaysResponsiveAndIdle) {
    const SpinCase& c = GetParam();
    Watchdog watchdog(std::chrono::seconds(90 * kScale), c.name);

    TestParticipant victim(c.domain, 0, {1, 2});
    victim.createReader();
    TestParticipant spoofed(c.domain, 1, {0});
    spoofed.createWriter(1);
    TestParticipant honest(c.domain, 2, {0});
    honest.createWriter(2);
    ASSERT_TRUE(victim.waitMatched(2, kMatch));
    ASSERT_TRUE(spoofed.waitMatched(1, kMatch));
    ASSERT_TRUE(honest.waitMatched(1, kMatch));
    ASSERT_TRUE(spoofed.write());
    ASSERT_TRUE(spoofed.write());
    ASSERT_TRUE(victim.waitFor(1, 2, kArrive));

    const double cpuBefore = processCpuSeconds();
    const std::string datagram =
        rtps::header(spoofed.guidPrefix()) + c.submessage(victim.readerEntity(), spoofed.writerEntity());
    sendUdp(userPort(c.domain, 0), datagram);

    // The same receive thread (same port) delivers the other writer's sample.
    ASSERT_TRUE(honest.write());
    EXPECT_TRUE(victim.waitFor(2, 1, kArrive)) << "the reader stopped receiving after " << c.name;
    // A fixed window to measure the process's CPU time over.
    std::this_thread::sleep_for(2s);
    EXPECT_LT(processCpuSeconds() - cpuBefore, kIdleCpuSeconds) << "the process stayed busy after " << c.name;

    EXPECT_TRUE(victim.remove());
    EXPECT_TRUE(spoofed.remove());
    EXPECT_TRUE(honest.remove());
}

INSTANTIATE_TEST_SUITE_P(Crafted, ReceivePathSpin, ::testing::ValuesIn(kSpinCases),
                         [](const ::testing::TestParamInfo<SpinCase>& info) { return std::string(info.param.name); });

// One datagram each, after the RTPS header with a discovered peer's GUID
// prefix: eProsima's statistics submessage (0x80) among the peer's captured
// discovery submessages, in the places and lengths a parser may get wrong,
// and a DATA_FRAG that ends before its payload.
struct OneDatagramCase {
    const char* name;
    std::string (*body)(const std::string& captured);
};

const OneDatagramCase kOneDatagramCases[] = {
    {"statistics submessage in the middle",
     [](const std::string& c) { return c + rtps::statisticsSubmessage(52) + c; }},
    {"statistics submessage in the middle, shorter than it is",
     [](const std::string& c) { return c + rtps::statisticsSubmessage(20) + c; }},
    {"statistics submessage in the middle, longer than it is",
     [](const std::string& c) { return c + rtps::statisticsSubmessage(100) + c; }},
    {"statistics submessage last, as sent", [](const std::string& c) { return c + rtps::statisticsSubmessage(52); }},
    {"statistics submessage last, longer than the datagram",
     [](const std::string& c) { return c + rtps::statisticsSubmessage(4000); }},
    {"DATA_FRAG with inline QoS and no payload",
     [](const std::string&) {
         return rtps::dataFragWithoutPayload(rtps::kSpdpReader, {0x00, 0x01, 0x00, 0xc2});
     }},
};

TEST(OneDatagram, ParticipantSurvivesEach) {
    constexpr int kDomain = 143;
    Watchdog watchdog(std::chrono::seconds(90 * kScale), "OneDatagram");
    UdpReceiver capture;
    TestParticipant victim(kDomain, 0, {1});
    victim.createReader();
    TestParticipant peer(kDomain, 1, {0}, {capture.port()});
    peer.createWriter(1);

    // One of the peer's participant announcements, as it sends them to an
    // initial peer (a DATA submessage, id 0x15, among them).
    std::vector<std::string> announced;
    const auto deadline = std::chrono::steady_clock::now() + kMatch;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto datagram = capture.receive(500ms);
        if (!datagram) continue;
        auto parts = rtps::submessages(*datagram);
        for (const auto& p : parts) {
            if (static_cast<std::uint8_t>(p[0]) == 0x15) announced = parts;
        }
        if (!announced.empty()) break;
    }
    ASSERT_FALSE(announced.empty()) << "no discovery datagram from the peer";
    std::string all;
    for (const auto& p : announced) all += p;

    for (const OneDatagramCase& c : kOneDatagramCases) {
        SCOPED_TRACE(c.name);
        const std::string datagram = rtps::header(peer.guidPrefix()) + c.body(all);
        sendUdp(discoveryPort(kDomain, 0), datagram);
        sendUdp(userPort(kDomain, 0), datagram);
    }

    ASSERT_TRUE(victim.waitMatched(1, kMatch));
    ASSERT_TRUE(peer.waitMatched(1, kMatch));
    ASSERT_TRUE(peer.write());
    EXPECT_TRUE(victim.waitFor(1, 1, kArrive));
    EXPECT_TRUE(victim.remove());
    EXPECT_TRUE(peer.remove());
}

}  // namespace

int main(int argc, char** argv) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // (Natively only: the sanitizers and user-mode emulation reserve more.)
    // A reader that kept one set entry per sequence number of a GAP would eat
    // the machine's memory within seconds: fail here instead, at 4 GiB.
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = rlim_t{4} << 30;
    if (CORVANE_TIMEOUT_SCALE == 1) setrlimit(RLIMIT_AS, &limit);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
