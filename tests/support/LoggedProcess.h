// A child process whose standard output and error are read continuously by
// a thread of the test: every line is kept with the time it arrived, so a
// chatty child never blocks on a full pipe and a test can wait for a line,
// count lines in a time window, or print the whole transcript when an
// assertion fails. The child is killed and reaped at the latest when the
// object goes away. Header-only, POSIX.
//
//   corvane_test::LoggedProcess server({SERVER_PATH, topLevel}, root.environment());
//   ASSERT_TRUE(server.waitForLine("started", 30s)) << server.transcript();
#ifndef TESTS_SUPPORT_LOGGEDPROCESS_H
#define TESTS_SUPPORT_LOGGEDPROCESS_H

#include "tests/support/ChildProcess.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace corvane_test {

class LoggedProcess {
 public:
  using Clock = std::chrono::steady_clock;

  struct Line {
    std::string text;  // without the newline
    Clock::time_point at;
    ChildProcess::Stream stream;
  };

  // Starts argv[0] (a path) as ChildProcess does and begins reading.
  explicit LoggedProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {})
      : m_child(argv, environment), m_reader([this] { readLoop(); }) {}

  ~LoggedProcess() {
    if (!m_child.wait(std::chrono::milliseconds(0))) m_child.signal(SIGKILL);
    m_stop = true;
    m_reader.join();
  }

  LoggedProcess(const LoggedProcess&) = delete;
  LoggedProcess& operator=(const LoggedProcess&) = delete;

  pid_t pid() const { return m_child.pid(); }
  void signal(int sig) { m_child.signal(sig); }

  // The exit status (128 + signal when killed), or nothing while the child
  // still runs after `timeout`.
  std::optional<int> wait(std::chrono::milliseconds timeout) { return m_child.wait(timeout); }

  // Waits until the child has ended and its output has been read to the
  // end; the status, or nothing after `timeout`.
  std::optional<int> finish(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::optional<int> status = m_child.wait(timeout);
    if (!status) return std::nullopt;
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_changed.wait_until(lock, deadline, [this] { return m_eof; })) return std::nullopt;
    return status;
  }

  std::size_t lineCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines.size();
  }

  // The lines from index `from` on, both streams in order of arrival.
  std::vector<Line> lines(std::size_t from = 0) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (from >= m_lines.size()) return {};
    return std::vector<Line>(m_lines.begin() + static_cast<std::ptrdiff_t>(from), m_lines.end());
  }

  // The first line from index `from` on that contains `part`, waiting up to
  // `timeout` for it; nothing when it does not come or the output ends.
  std::optional<Line> waitForLine(const std::string& part, std::chrono::milliseconds timeout,
                                  std::size_t from = 0) {
    return waitForLineIf([&part](const std::string& t) { return t.find(part) != std::string::npos; }, timeout,
                         from);
  }

  std::optional<Line> waitForLineIf(const std::function<bool(const std::string&)>& match,
                                    std::chrono::milliseconds timeout, std::size_t from = 0) {
    const auto deadline = Clock::now() + timeout;
    std::unique_lock<std::mutex> lock(m_mutex);
    std::size_t next = from;
    for (;;) {
      for (; next < m_lines.size(); ++next) {
        if (match(m_lines[next].text)) return m_lines[next];
      }
      if (m_eof) return std::nullopt;
      if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout && next == m_lines.size()) {
        return std::nullopt;
      }
    }
  }

  // How many lines from index `from` on contain `part`.
  std::size_t countLines(const std::string& part, std::size_t from = 0) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t n = 0;
    for (std::size_t i = from; i < m_lines.size(); ++i) n += m_lines[i].text.find(part) != std::string::npos;
    return n;
  }

  // Whether the child has a handler installed for `sig` now.
  bool catches(int sig) const {
    std::ifstream status("/proc/" + std::to_string(m_child.pid()) + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("SigCgt:", 0) == 0) {
        const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
        return ((mask >> (sig - 1)) & 1u) != 0;
      }
    }
    return false;
  }

  // The last `maxLines` lines, stderr lines marked, for failure messages.
  std::string transcript(std::size_t maxLines = 150) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string t = "--- output of pid " + std::to_string(m_child.pid());
    const std::size_t first = m_lines.size() > maxLines ? m_lines.size() - maxLines : 0;
    if (first > 0) t += " (last " + std::to_string(maxLines) + " of " + std::to_string(m_lines.size()) + " lines)";
    t += "\n";
    for (std::size_t i = first; i < m_lines.size(); ++i) {
      t += (m_lines[i].stream == ChildProcess::Stderr ? "[err] " : "") + m_lines[i].text + "\n";
    }
    return t;
  }

 private:
  // Reads both pipes until both have ended, or until the destructor asks
  // to stop (the child is killed first, so the pipes end soon after).
  void readLoop() {
    std::string partial[2];
    bool open[2] = {true, true};
    while (open[0] || open[1]) {
      pollfd p[2] = {{m_child.fd(ChildProcess::Stdout), POLLIN, 0}, {m_child.fd(ChildProcess::Stderr), POLLIN, 0}};
      for (int s = 0; s < 2; ++s) {
        if (!open[s]) p[s].fd = -1;
      }
      const int ready = ::poll(p, 2, 50);
      if (ready <= 0) {
        if (m_stop && ready == 0) break;
        continue;
      }
      for (int s = 0; s < 2; ++s) {
        if (!open[s] || p[s].revents == 0) continue;
        char chunk[8192];
        const ssize_t n = ::read(p[s].fd, chunk, sizeof chunk);
        if (n <= 0) {
          open[s] = false;
          continue;
        }
        partial[s].append(chunk, static_cast<std::size_t>(n));
        store(partial[s], static_cast<ChildProcess::Stream>(s));
      }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int s = 0; s < 2; ++s) {
      if (!partial[s].empty()) m_lines.push_back({partial[s], Clock::now(), static_cast<ChildProcess::Stream>(s)});
    }
    m_eof = true;
    m_changed.notify_all();
  }

  // Moves the complete lines of `buffer` into the log.
  void store(std::string& buffer, ChildProcess::Stream stream) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t begin = 0;
    for (std::size_t nl = buffer.find('\n'); nl != std::string::npos; nl = buffer.find('\n', begin)) {
      m_lines.push_back({buffer.substr(begin, nl - begin), now, stream});
      begin = nl + 1;
    }
    buffer.erase(0, begin);
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
