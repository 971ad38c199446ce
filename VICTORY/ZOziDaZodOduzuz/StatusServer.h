#ifndef VICTORY_ZOZIDAZODODUZUZ_STATUSSERVER_H
#define VICTORY_ZOZIDAZODODUZUZ_STATUSSERVER_H

// The read-only status socket: a Unix stream socket served by one thread
// of its own. A client connects, sends one request line ("status\n"; at
// most kMaxRequest bytes) and reads one reply line (a JSON object), then
// the server closes the connection. Any other request gets
// {"error":"unknown request"}.
//
// A client can neither stall nor slow the server: the thread runs
// SCHED_OTHER (also when the process runs SCHED_FIFO), every socket is
// non-blocking, at most kMaxClients are served at a time (more wait in the
// listen backlog of kMaxClients; beyond that the kernel refuses or delays
// their connect), and a request longer than kMaxRequest, or a client that
// has not sent its request and read its reply within kClientTimeout, is
// dropped.
// Signals interrupting a system call (EINTR) are retried.
//
// The same thread calls a tick function about once a second (e.g. to send
// the service manager's status line), also when no socket could be made.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

class StatusServer {
public:
    static constexpr int kMaxClients = 16;
    static constexpr std::size_t kMaxRequest = 256;    // bytes, newline included
    static constexpr std::size_t kMaxReply = 1 << 20;  // bytes; a longer reply is cut
    static constexpr std::chrono::milliseconds kClientTimeout{1000};
    static constexpr std::chrono::milliseconds kTickPeriod{1000};

    /// `reply` builds the answer to "status" (without the newline); it runs
    /// on the server's thread, and what it throws is answered with an error
    /// object. `tick` runs on the same thread about every kTickPeriod; what
    /// it throws is ignored. Either may be empty.
    StatusServer(std::function<std::string()> reply, std::function<void()> tick);
    /// Stops and joins the thread; removes the socket file it made.
    ~StatusServer();
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;

    /// Makes the socket at `path` (mode 0660; empty path: no socket) and
    /// starts the thread. A stale socket file is replaced; a live one (a
    /// server answers there) is left alone. Returns "" when the socket
    /// listens, otherwise why there is none (the thread runs anyway, for
    /// the tick). Call once.
    std::string start(const std::string& path);
    /// Stops and joins the thread, closes every connection and removes the
    /// socket file. Idempotent.
    void stop();

    /// Connections served (answered) and dropped so far.
    std::uint64_t answered() const { return m_answered.load(); }
    std::uint64_t dropped() const { return m_dropped.load(); }

private:
    void run();

    std::function<std::string()> m_reply;
    std::function<void()> m_tick;
    std::string m_path;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    std::atomic<std::uint64_t> m_answered{0};
    std::atomic<std::uint64_t> m_dropped{0};
};

#endif  // VICTORY_ZOZIDAZODODUZUZ_STATUSSERVER_H
