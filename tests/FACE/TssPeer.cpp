// The other end of the transport tests: a separate process that publishes
// UTCTime samples on the connection "UTCTime" of a connections file,
// through the transport under test.
//
//   tss_peer <file> <count> <period-us>
//       Registers as sender, sends samples 1..count (count 0: until
//       SIGTERM, at most 60 s) and then stays until SIGTERM (at most 30 s)
//       so that its history stays available.
//
// Lines on standard output: "WRITER <uid>", "SENT <n>", and "DONE" after
// the transport is gone. Exit status 0; 2 when set-up fails.

#include "TssTestSupport.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer builds: Fast DDS's TCP transport closes its sockets while
// its own threads still read them when a participant goes away (inside the
// library, unsymbolised). This helper only publishes, so every race report
// with a library frame is left out here; the test process itself keeps the
// narrower suppressions.
extern "C" char const* __tsan_default_suppressions() { return "race:libfastrtps.so\n"; }
#endif

namespace {

std::atomic<bool> g_stop{false};

void say(std::string const& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

int publish(std::string const& file, long long count, long long periodUs) {
    tss_test::Transport t = tss_test::makeTransport(file, "TssPeer");
    tss_test::RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
    long long const id = tss_test::createConnection(*t.tss, "UTCTime", rc);
    auto typed = tss_test::typedOver(t.tss);
    if (typed) typed->Register_Sender(id, rc);
    if (t.rc != FACE::RETURN_CODE_TYPE::NO_ERROR || rc != FACE::RETURN_CODE_TYPE::NO_ERROR) return 2;
    say("WRITER " +
        std::to_string(FACE::TSS::Listeners::GuidToUid(t.tss->connectionMap_mutex_at(0).m_publisher->getGuid())));
    auto next = std::chrono::steady_clock::now();
    auto const latest = next + std::chrono::seconds(60);
    long long sent = 0;
    while (!g_stop.load() && (count == 0 || sent < count) && next < latest) {
        long long transaction = 0;
        typed->Send_Message(id, 0, transaction, tss_test::sampleNumber(sent + 1), rc);
        sent += rc == FACE::RETURN_CODE_TYPE::NO_ERROR;
        next += std::chrono::microseconds(periodUs);
        std::this_thread::sleep_until(next);
    }
    say("SENT " + std::to_string(sent));
    tss_test::waitFor([] { return g_stop.load(); }, std::chrono::seconds(30));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    tss_test::neutraliseProfiles();
    std::signal(SIGTERM, [](int) { g_stop = true; });
    // A test that dies must not leave its peer publishing: the peer then
    // stops as if told to, and removes its shared-memory files.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() == 1 || argc != 4) {
        std::fprintf(stderr, "usage: tss_peer <file> <count> <period-us>\n");
        return 2;
    }
    int const status = publish(argv[1], std::atoll(argv[2]), std::atoll(argv[3]));
    say("DONE");
    return status;
}
