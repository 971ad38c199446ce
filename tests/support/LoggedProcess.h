// A child process whose standard output and error are read continuously by
// a thread of the test, so a chatty child never blocks on a full pipe and
// a test can wait for a line, count lines from a point on, or print the
// transcript when an assertion fails. Killed and reaped at the latest when
// the object goes away.
#ifndef TESTS_SUPPORT_LOGGEDPROCESS_H
#define TESTS_SUPPORT_LOGGEDPROCESS_H

#include "tests/support/ChildProcess.h"
#include "tests/support/TimeoutScale.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace corvane_test {

class LoggedProcess {
public:
    explicit LoggedProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {})
        : m_child(argv, environment), m_reader([this] { readLoop(); }) {}

    ~LoggedProcess() {
        if (!m_child.wait(std::chrono::milliseconds(0))) m_child.signal(SIGKILL);
        m_stop = true;
        m_reader.join();
    }

    LoggedProcess(const LoggedProcess&) = delete;
    LoggedProcess& operator=(const LoggedProcess&) = delete;

    void signal(int sig) { m_child.signal(sig); }
    pid_t pid() const { return m_child.pid(); }
    // The exit status (128 + signal when killed), or nothing while running.
    std::optional<int> wait(std::chrono::milliseconds timeout) { return m_child.wait(timeout); }

    // The status once the child has ended and its output is read to the end
    // (`timeout` scaled by timeoutScale()).
    std::optional<int> finish(std::chrono::milliseconds timeout) {
        timeout = scaled(timeout);
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        const std::optional<int> status = m_child.wait(timeout);
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!status || !m_changed.wait_until(lock, deadline, [this] { return m_eof; })) return std::nullopt;
        return status;
    }

    std::size_t lineCount() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines.size();
    }

    // The first line from index `from` on containing `part`, waiting up to
    // `timeout` (scaled); nothing when it does not come or the output ends.
    std::optional<std::string> waitForLine(const std::string& part, std::chrono::milliseconds timeout,
                                           std::size_t from = 0) {
        const auto deadline = std::chrono::steady_clock::now() + scaled(timeout);
        std::unique_lock<std::mutex> lock(m_mutex);
        for (std::size_t next = from;; ++next) {
            while (next >= m_lines.size()) {
                if (m_eof || m_changed.wait_until(lock, deadline) == std::cv_status::timeout) {
                    if (next >= m_lines.size()) return std::nullopt;
                }
            }
            if (m_lines[next].text.find(part) != std::string::npos) return m_lines[next].text;
        }
    }

    // How many lines from index `from` on contain `part`.
    std::size_t countLines(const std::string& part, std::size_t from = 0) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::size_t n = 0;
        for (std::size_t i = from; i < m_lines.size(); ++i) n += m_lines[i].text.find(part) != std::string::npos;
        return n;
    }

    std::string lastStdoutLine() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_lines.rbegin(); it != m_lines.rend(); ++it) {
            if (it->stream == ChildProcess::Stdout) return it->text;
        }
        return "";
    }

    // Whether the child has a handler installed for `sig` now.
    bool catches(int sig) const {
        std::ifstream status("/proc/" + std::to_string(m_child.pid()) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigCgt:", 0) == 0)
                return ((std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1u) != 0;
        }
        return false;
    }

    // The last `maxLines` lines, stderr lines marked, for failure messages.
    std::string transcript(std::size_t maxLines = 150) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string t = "--- output of pid " + std::to_string(m_child.pid()) + "\n";
        for (std::size_t i = m_lines.size() > maxLines ? m_lines.size() - maxLines : 0; i < m_lines.size(); ++i) {
            t += (m_lines[i].stream == ChildProcess::Stderr ? "[err] " : "") + m_lines[i].text + "\n";
        }
        return t;
    }

private:
    struct Line {
        std::string text;
        ChildProcess::Stream stream;
    };

    // Reads both pipes until both have ended, or the destructor asks to stop
    // (the child is killed first, so the pipes end soon after).
    void readLoop() {
        std::string partial[2];
        bool open[2] = {true, true};
        while (open[0] || open[1]) {
            pollfd p[2] = {{open[0] ? m_child.fd(ChildProcess::Stdout) : -1, POLLIN, 0},
                           {open[1] ? m_child.fd(ChildProcess::Stderr) : -1, POLLIN, 0}};
            const int ready = ::poll(p, 2, 50);
            if (ready == 0 && m_stop) break;
            for (int s = 0; s < 2 && ready > 0; ++s) {
                if (!open[s] || p[s].revents == 0) continue;
                char chunk[8192];
                const ssize_t n = ::read(p[s].fd, chunk, sizeof chunk);
                if (n <= 0) {
                    open[s] = false;
                    continue;
                }
                partial[s].append(chunk, static_cast<std::size_t>(n));
                std::lock_guard<std::mutex> lock(m_mutex);
                for (std::size_t nl; (nl = partial[s].find('\n')) != std::string::npos; partial[s].erase(0, nl + 1)) {
                    m_lines.push_back({partial[s].substr(0, nl), static_cast<ChildProcess::Stream>(s)});
                }
                m_changed.notify_all();
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int s = 0; s < 2; ++s) {
            if (!partial[s].empty()) m_lines.push_back({partial[s], static_cast<ChildProcess::Stream>(s)});
        }
        m_eof = true;
        m_changed.notify_all();
    }

    ChildProcess m_child;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Line> m_lines;
    bool m_eof = false;
    std::atomic<bool> m_stop{false};
    std::thread m_reader;  // last: starts once everything above exists
};

}  // namespace corvane_test

#endif  // TESTS_SUPPORT_LOGGEDPROCESS_H
