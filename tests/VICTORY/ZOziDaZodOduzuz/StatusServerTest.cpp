// The status socket in this process: where it is made (and when it is
// not), what it answers, and that hostile clients get an answer or are
// dropped within the time-out while the others are served. The client side
// is the status tool's own fetchStatus().
#include "VICTORY/ZOziDaZodOduzuz/StatusServer.h"
#include "VICTORY/ZOziDaZodOduzuz/StatusSocketPath.h"
#include "tests/support/TempDir.h"
#include "tools/pnt-status/StatusClient.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A raw client socket connected to `path`; -1 when the connect fails.
int connectTo(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    timeval tv{3, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Everything the server sends until it closes (or 3 s pass).
std::string readAll(int fd) {
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        all.append(buffer, static_cast<std::size_t>(n));
    }
    return all;
}

std::string fetch(const std::string& path) {
    std::string error;
    return PntStatus::fetchStatus(path, 3s, error).value_or("failed: " + error);
}

TEST(StatusSocketPath, FollowsTheRuntimeRoot) {
    const struct {
        const char* root;
        const char* path;
    } rows[] = {
        {nullptr, "/run/corvane-pnt/status.sock"},
        {"", "/run/corvane-pnt/status.sock"},
        {"/tmp/root", "/tmp/root/run/status.sock"},
        {"/tmp/root//", "/tmp/root/run/status.sock"},
        {"/", "/run/status.sock"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(statusSocketPath(r.root), r.path) << (r.root ? r.root : "(null)");
    }
}

TEST(StatusServer, AnswersStatusAndRefusesOtherRequests) {
    corvane_test::TempDir dir("status-server");
    const std::string path = dir.file("run/status.sock");
    std::atomic<int> ticks{0};
    StatusServer server([] { return std::string("{\"ok\":true}"); }, [&] { ++ticks; });
    ASSERT_EQ(server.start(path), "");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0660u);
    EXPECT_EQ(fetch(path), "{\"ok\":true}");

    const int fd = connectTo(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::send(fd, "version\r\n", 9, 0), 9);
    EXPECT_EQ(readAll(fd), "{\"error\":\"unknown request\"}\n");
    ::close(fd);

    const auto deadline = Clock::now() + 5s;
    while (ticks == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_GT(ticks.load(), 0);
    server.stop();
    EXPECT_NE(::access(path.c_str(), F_OK), 0) << "the socket file outlives the server";
    EXPECT_NE(fetch(path).find("failed: "), std::string::npos);
}

TEST(StatusServer, ReplyThatThrowsIsAnErrorAnswer) {
    corvane_test::TempDir dir("status-server");
    StatusServer server([]() -> std::string { throw std::runtime_error("boom"); }, {});
    ASSERT_EQ(server.start(dir.file("s.sock")), "");
    EXPECT_EQ(fetch(dir.file("s.sock")), "{\"error\":\"status not available\"}");
}

// Started from a SCHED_FIFO thread (the server's threads under <PRI>), the
// socket's thread still runs SCHED_OTHER.
TEST(StatusServer, ThreadRunsSchedOtherUnderARealTimeCaller) {
    corvane_test::TempDir dir("status-server");
    std::string answer, skipped;
    std::thread caller([&] {
        sched_param fifo{};
        fifo.sched_priority = 1;
        if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &fifo) != 0) {
            skipped = "SCHED_FIFO not permitted here";
            return;
        }
        StatusServer server(
            [] {
                int policy = -1;
                sched_param param{};
                ::pthread_getschedparam(::pthread_self(), &policy, &param);
                return std::to_string(policy);
            },
            {});
        server.start(dir.file("s.sock"));
        answer = fetch(dir.file("s.sock"));
    });
    caller.join();
    if (!skipped.empty()) {
        GTEST_SKIP() << skipped;
    }
    EXPECT_EQ(answer, std::to_string(SCHED_OTHER));
}

// Where no socket can be made, start() says why and the server goes on.
TEST(StatusServer, SaysWhyThereIsNoSocket) {
    corvane_test::TempDir dir("status-server");
    std::ofstream(dir.file("plain")) << "x";
    StatusServer live([] { return std::string("{}"); }, {});
    ASSERT_EQ(live.start(dir.file("live.sock")), "");
    // A stale socket file (its server gone) is replaced.
    {
        StatusServer gone([] { return std::string("{}"); }, {});
        ASSERT_EQ(gone.start(dir.file("stale.sock")), "");
        gone.stop();
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, dir.file("stale.sock").c_str(), sizeof a.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ::close(fd);  // bound, never listening: a leftover
    }
    const struct {
        std::string path;
        std::string why;  // "" : it listens
    } rows[] = {
        {dir.file("stale.sock"), ""},
        {dir.file("live.sock"), "another server answers on " + dir.file("live.sock")},
        {dir.file("plain"), dir.file("plain") + " exists and is not a socket"},
        {dir.file("no/such/run/status.sock"),
         "cannot create " + dir.file("no/such/run") + ": No such file or directory"},
        {"/" + std::string(120, 'x') + "/s.sock", "path too long for a Unix socket"},
        {"", "no path"},
    };
    for (const auto& r : rows) {
        StatusServer server([] { return std::string("{\"second\":1}"); }, {});
        const std::string why = server.start(r.path);
        if (r.why.empty()) {
            EXPECT_EQ(why, "") << r.path;
            EXPECT_EQ(fetch(r.path), "{\"second\":1}");
        } else {
            EXPECT_NE(why.find(r.why), std::string::npos) << why;
        }
    }
    EXPECT_EQ(fetch(dir.file("live.sock")), "{}") << "the live server lost its socket";
}

// 50 clients at once, one sending 1 MB of garbage, one that sends its
// request and never reads, one that never sends: every well-behaved client
// is answered, the hostile ones are dropped within the time-out, and a
// client after them is answered at once.
TEST(StatusServer, HostileClientsAreDroppedAndTheRestServed) {
    corvane_test::TempDir dir("status-server");
    const std::string path = dir.file("s.sock");
    // An answer large enough not to fit a socket buffer whole.
    const std::string big(300000, 'x');
    StatusServer server([&] { return "{\"pad\":\"" + big + "\"}"; }, {});
    ASSERT_EQ(server.start(path), "");

    const int silent = connectTo(path);      // never sends
    const int neverReads = connectTo(path);  // sends, never reads
    ASSERT_GE(silent, 0);
    ASSERT_GE(neverReads, 0);
    ASSERT_EQ(::send(neverReads, "status\n", 7, 0), 7);

    std::thread garbage([&] {
        const int fd = connectTo(path);
        if (fd < 0) {
            return;
        }
        const std::string junk(1 << 20, '\x7f');
        std::size_t sent = 0;
        while (sent < junk.size()) {
            const ssize_t n = ::send(fd, junk.data() + sent, junk.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                break;  // dropped: the server closed it
            }
            sent += static_cast<std::size_t>(n);
        }
        EXPECT_LT(sent, junk.size()) << "the server read 1 MB of garbage";
        ::close(fd);
    });

    std::atomic<int> answered{0}, refused{0};
    std::vector<std::thread> clients;
    const auto start = Clock::now();
    for (int i = 0; i < 50; ++i) {
        clients.emplace_back([&] {
            std::string error;
            const auto answer = PntStatus::fetchStatus(path, 3s, error);
            if (answer && answer->size() == big.size() + 10) {
                ++answered;
            } else {
                ++refused;
            }
        });
    }
    for (std::thread& t : clients) {
        t.join();
    }
    garbage.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(answered + refused, 50);
    EXPECT_GE(answered.load(), 40) << refused << " of 50 got no answer";
    EXPECT_LT(seconds, 3.0);

    // The two hostile connections are closed within the time-out.
    for (int fd : {silent, neverReads}) {
        char c;
        const auto before = Clock::now();
        while (::recv(fd, &c, 1, 0) > 0) {
        }
        EXPECT_LT(Clock::now() - before, StatusServer::kClientTimeout + 2s);
        ::close(fd);
    }
    EXPECT_GE(server.dropped(), 3u);
    const auto t0 = Clock::now();
    EXPECT_EQ(fetch(path).size(), big.size() + 10);
    EXPECT_LT(Clock::now() - t0, 500ms);
}

}  // namespace
