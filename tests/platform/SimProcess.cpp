#include "tests/platform/SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;

namespace sim_test {

namespace {

using Clock = std::chrono::steady_clock;

// Starts the simulator with its standard output and error on a pipe.
pid_t spawn(std::vector<std::string> const& args, int& readEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    std::string const path = FPGA_SIM_PATH;
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (std::string const& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    readEnd = fds[0];
    return pid;
}

// Reads into `output` until it holds `until` (empty: until the pipe closes)
// or the deadline passes. True when it got there.
bool drain(int fd, std::string& output, Clock::time_point deadline, std::string const& until = "") {
    while (until.empty() || output.find(until) == std::string::npos) {
        auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        int const n = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
        if (n < 0 && errno == EINTR) continue;
        char buffer[4096];
        ssize_t const got = n > 0 ? ::read(fd, buffer, sizeof buffer) : -1;
        if (got <= 0) return n > 0 && until.empty();
        output.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

// The exit code, or -1 (killed at the deadline, or not a normal exit).
int reap(pid_t pid, Clock::time_point deadline) {
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

Outcome runSimulator(std::vector<std::string> const& args) {
    Outcome outcome;
    int fd = -1;
    pid_t const pid = spawn(args, fd);
    if (pid < 0) {
        outcome.output = "cannot start " FPGA_SIM_PATH;
    } else {
        Clock::time_point const deadline = Clock::now() + std::chrono::seconds(20);
        drain(fd, outcome.output, deadline);
        outcome.exitCode = reap(pid, deadline);
    }
    if (fd >= 0) ::close(fd);
    return outcome;
}

RunningSimulator::RunningSimulator(std::vector<std::string> const& args) {
    m_pid = spawn(args, m_out);
    m_ready = m_pid > 0 && drain(m_out, m_output, Clock::now() + std::chrono::seconds(20), "fpga-sim: ready\n");
}

RunningSimulator::~RunningSimulator() {
    stop(SIGTERM);
    if (m_out >= 0) ::close(m_out);
}

Outcome RunningSimulator::stop(int signal) {
    Outcome outcome;
    if (m_pid > 0) {
        ::kill(m_pid, signal);
        Clock::time_point const deadline = Clock::now() + std::chrono::seconds(10);
        drain(m_out, m_output, deadline);
        outcome.exitCode = reap(m_pid, deadline);
        m_pid = -1;
    }
    outcome.output = m_output;
    return outcome;
}

}  // namespace sim_test
