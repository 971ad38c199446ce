// Runs a program as a child process for tests: its stdout and stderr come
// through pipes and are read line by line with a timeout; it is killed and
// reaped at the latest when the object goes away. Header-only, POSIX.
#ifndef TESTS_SUPPORT_CHILDPROCESS_H
#define TESTS_SUPPORT_CHILDPROCESS_H

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace corvane_test {

class ChildProcess {
public:
    enum Stream { Stdout = 0, Stderr = 1 };

    // Starts argv[0] (a path) with the given arguments; stdin is /dev/null.
    // `environment` entries ("NAME=value") are added to the inherited
    // environment, replacing variables of the same name. In a cross build
    // (CORVANE_TEST_EMULATOR, e.g. qemu-aarch64-static) a program the kernel
    // cannot run itself (no binfmt_misc rule for the target) is started
    // through the emulator instead.
    explicit ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& environment = {}) {
        std::vector<std::string> env = mergedEnvironment(environment);
        std::vector<char*> envp;
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            throw std::runtime_error("ChildProcess: pipe failed");
        }
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        // Prepared before fork: the child only calls async-signal-safe functions.
        std::vector<char*> emulated;
#ifdef CORVANE_TEST_EMULATOR
        emulated.push_back(const_cast<char*>(CORVANE_TEST_EMULATOR));
        emulated.insert(emulated.end(), args.begin(), args.end());
#endif
        m_pid = ::fork();
        if (m_pid < 0) throw std::runtime_error("ChildProcess: fork failed");
        if (m_pid == 0) {
            const int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, 0);
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            ::execve(args[0], args.data(), envp.data());
            if (errno == ENOEXEC && !emulated.empty()) ::execve(emulated[0], emulated.data(), envp.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        m_fd[Stdout] = out[0];
        m_fd[Stderr] = err[0];
    }

    ~ChildProcess() {
        if (!m_status) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
        ::close(m_fd[Stdout]);
        ::close(m_fd[Stderr]);
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }

    // The read end of the stream's pipe, for callers that poll it themselves
    // (and then do not use readLine on it). Closed when the object goes away.
    int fd(Stream stream) const { return m_fd[stream]; }

    // The next line (without its newline) of the stream, or nothing when no
    // complete line arrives within `timeout` or the stream ends.
    std::optional<std::string> readLine(Stream stream, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::string& buffer = m_buffer[stream];
        for (;;) {
            const std::size_t newline = buffer.find('\n');
            if (newline != std::string::npos) {
                std::string line = buffer.substr(0, newline);
                buffer.erase(0, newline + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                    .count();
            if (left <= 0) return std::nullopt;
            pollfd p{m_fd[stream], POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char chunk[4096];
            const ssize_t n = ::read(m_fd[stream], chunk, sizeof chunk);
            if (n <= 0) return std::nullopt;
            buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

    void signal(int sig) { ::kill(m_pid, sig); }

    // The exit status, 128 + signal number when killed by a signal, or
    // nothing when the process is still running after `timeout`.
    std::optional<int> wait(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!m_status) {
            int status = 0;
            const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return m_status;
    }

private:
    // The process's environment with `extra` merged in.
    static std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
        std::vector<std::string> env;
        auto nameOf = [](const std::string& e) { return e.substr(0, e.find('=')); };
        for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const std::string& x : extra) replaced = replaced || nameOf(x) == nameOf(entry);
            if (!replaced) env.push_back(entry);
        }
        env.insert(env.end(), extra.begin(), extra.end());
        return env;
    }

    pid_t m_pid = -1;
    int m_fd[2] = {-1, -1};
    std::string m_buffer[2];
    std::optional<int> m_status;
};

}  // namespace corvane_test

#endif  // TESTS_SUPPORT_CHILDPROCESS_H
