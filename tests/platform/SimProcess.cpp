#include "tests/platform/SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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
    std::string const path = simulatorPath();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (std::string const& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    readEnd = fds[0];
    return pid;
}

// Reads what is available until `until` holds, the pipe closes or the
// deadline passes. True when `until` held.
template <typename Until>
bool drain(int fd, std::string& output, Clock::time_point deadline, Until until) {
    while (!until()) {
        auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        int const n = ::poll(&p, 1, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        char buffer[4096];
        ssize_t const got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) return until();
        output.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

// Waits for the exit until the deadline; -1 when it did not exit normally.
int reap(pid_t pid, Clock::time_point deadline) {
    while (true) {
        int status = 0;
        pid_t const done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 && errno != EINTR) return -1;
        if (Clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

std::string simulatorPath() { return FPGA_SIM_PATH; }

Outcome runSimulator(std::vector<std::string> const& args, std::chrono::milliseconds limit) {
    Outcome outcome;
    int fd = -1;
    pid_t const pid = spawn(args, fd);
    if (pid < 0) {
        if (fd >= 0) ::close(fd);
        outcome.output = "cannot start " + simulatorPath();
        return outcome;
    }
    Clock::time_point const deadline = Clock::now() + limit;
    drain(fd, outcome.output, deadline, [] { return false; });  // until the pipe closes
    ::close(fd);
    outcome.exitCode = reap(pid, deadline);
    return outcome;
}

RunningSimulator::RunningSimulator(std::vector<std::string> const& args, std::chrono::milliseconds limit) {
    m_pid = spawn(args, m_out);
    if (m_pid < 0) return;
    m_ready = drain(m_out, m_output, Clock::now() + limit,
                    [this] { return m_output.find("fpga-sim: ready\n") != std::string::npos; });
}

RunningSimulator::~RunningSimulator() {
    if (m_pid > 0) stop(SIGTERM);
    if (m_out >= 0) ::close(m_out);
}

Outcome RunningSimulator::stop(int signal) {
    Outcome outcome;
    if (m_pid <= 0) return outcome;
    ::kill(m_pid, signal);
    Clock::time_point const deadline = Clock::now() + std::chrono::seconds(10);
    drain(m_out, m_output, deadline, [] { return false; });
    outcome.exitCode = reap(m_pid, deadline);
    outcome.output = m_output;
    m_pid = -1;
    return outcome;
}

}  // namespace sim_test
