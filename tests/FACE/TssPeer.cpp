// The other end of the transport tests: a separate process that publishes
// or subscribes UTCTime samples on the connection "UTCTime" of a
// connections file, through the transport under test.
//
//   tss_peer <file> publish <count> <period-us> [--no-wait] [--go-file <path>]
//       Registers as sender, waits for a matched reader (unless --no-wait)
//       and for <path> to exist (if given), sends samples 1..count (count 0:
//       until SIGTERM, at most 60 s) and then stays until SIGTERM (at most
//       30 s) so that its history stays available.
//   tss_peer <file> subscribe <count>
//       Registers a callback and reports the first <count> samples.
//
// Lines on standard output: "WRITER <uid>" / "READER <uid>", "MATCHED",
// "SENT <n>", "SAMPLE <transaction> <sender> <receiver> <intact 0|1> <qos>"
// and "DONE" after the transport is gone. Exit status 0; 2 when set-up
// fails; 3 when a wait runs out.

#include "TssTestSupport.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

#if defined(__SANITIZE_THREAD__)
// ThreadSanitizer builds: Fast DDS's TCP transport closes its sockets while
// its own threads still read them when a participant goes away (inside the
// library, unsymbolised). This helper only publishes or queues what it
// receives, so every race report with a library frame is left out here;
// the test process itself keeps the narrower suppressions.
extern "C" char const* __tsan_default_suppressions() { return "race:libfastrtps.so\n"; }
#endif

namespace {

std::atomic<bool> g_stop{false};

void onSignal(int) { g_stop = true; }

void say(std::string const& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// Waits for `done` until `timeout` passes or a stop signal arrives.
bool waitUnlessStopped(std::function<bool()> const& done, std::chrono::seconds timeout) {
    return tss_test::waitFor([&] { return g_stop.load() || done(); }, timeout) && !g_stop.load();
}

bool fileExists(std::string const& path) { return std::ifstream(path).good(); }

int publish(tss_test::Transport& t, long long id, long long count, long long periodUs, bool wait,
            std::string const& goFile) {
    auto typed = tss_test::typedOver(t.tss);
    tss_test::RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
    typed->Register_Sender(id, rc);
    if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) return 2;
    FACE::TSS::CV_TSS::Connection_t& record = t.tss->connectionMap_mutex_at(static_cast<unsigned>(id));
    say("WRITER " + std::to_string(FACE::TSS::Listeners::GuidToUid(record.m_publisher->getGuid())));
    if (wait) {
        if (!waitUnlessStopped([&] { return record.m_publisherListener->matchedCount() > 0; },
                               std::chrono::seconds(15))) {
            return 3;
        }
        say("MATCHED");
    }
    if (!goFile.empty() && !waitUnlessStopped([&] { return fileExists(goFile); }, std::chrono::seconds(15))) {
        return 3;
    }
    auto next = std::chrono::steady_clock::now();
    auto const latest = next + std::chrono::seconds(60);
    long long sent = 0;
    while (!g_stop.load() && (count == 0 || sent < count) && next < latest) {
        long long transaction = 0;
        typed->Send_Message(id, 0, transaction, tss_test::sampleNumber(sent + 1), rc);
        if (rc == FACE::RETURN_CODE_TYPE::NO_ERROR) ++sent;
        next += std::chrono::microseconds(periodUs);
        std::this_thread::sleep_until(next);
    }
    say("SENT " + std::to_string(sent));
    waitUnlessStopped([] { return false; }, std::chrono::seconds(30));
    return 0;
}

int subscribe(tss_test::Transport& t, long long id, long long count) {
    // The callback writes one short line per sample to the pipe the test reads.
    std::atomic<long long> reported{0};
    auto callback = [&](long long, long long transaction, tss_test::UTCTime const& m,
                        FACE::TSS::HEADER_TYPE const& h, FACE::Sequence<FACE::TSS::QoS_Element> const& qos,
                        tss_test::RC&) {
        if (reported.load() >= count) return;
        bool const intact = m == tss_test::sampleNumber(m.header().seq_num());
        say("SAMPLE " + std::to_string(transaction) + " " + std::to_string(h.sender_id) + " " +
            std::to_string(h.receiver_id) + " " + (intact ? "1 " : "0 ") + tss_test::qosText(qos));
        ++reported;
    };
    auto typed = tss_test::typedOver(t.tss);
    tss_test::RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
    typed->Register_Callback(id, callback, rc);
    if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) return 2;
    FACE::TSS::CV_TSS::Connection_t& record = t.tss->connectionMap_mutex_at(static_cast<unsigned>(id));
    say("READER " + std::to_string(FACE::TSS::Listeners::GuidToUid(record.m_subscriber->getGuid())));
    if (!waitUnlessStopped([&] { return record.m_subscriberListener->matchedCount() > 0; },
                           std::chrono::seconds(15))) {
        return 3;
    }
    say("MATCHED");
    bool const all = waitUnlessStopped([&] { return reported.load() >= count; }, std::chrono::seconds(20));
    // The transport goes before what the callback refers to.
    typed.reset();
    t.tss.reset();
    return all || g_stop.load() ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
    tss_test::neutraliseProfiles();
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    // A test that dies must not leave its peer publishing: the peer then
    // stops as if told to, and removes its shared-memory files.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() == 1) return 2;
    if (argc < 4) {
        std::fprintf(stderr, "usage: tss_peer <file> publish <count> <period-us> [--no-wait] [--go-file <path>]\n"
                             "       tss_peer <file> subscribe <count>\n");
        return 2;
    }
    std::string const file = argv[1];
    std::string const mode = argv[2];
    long long const count = std::atoll(argv[3]);
    long long periodUs = 1000;
    bool wait = true;
    std::string goFile;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-wait") == 0) {
            wait = false;
        } else if (std::strcmp(argv[i], "--go-file") == 0 && i + 1 < argc) {
            goFile = argv[++i];
        } else {
            periodUs = std::atoll(argv[i]);
        }
    }

    int status = 2;
    {
        tss_test::Transport t = tss_test::makeTransport(file, "TssPeer");
        if (t.rc != FACE::RETURN_CODE_TYPE::NO_ERROR) return 2;
        tss_test::RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        long long const id = tss_test::createConnection(*t.tss, "UTCTime", rc);
        if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) return 2;
        if (mode == "publish") {
            status = publish(t, id, count, periodUs, wait, goFile);
        } else if (mode == "subscribe") {
            status = subscribe(t, id, count);
        }
    }
    say("DONE");
    return status;
}
