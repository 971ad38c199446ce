// The fault test keyboard on a real terminal: a child process whose
// standard input and output are a pseudo-terminal. Its own test program,
// so that no earlier call has switched the terminal mode already.
#include "VICTORY/ZOziDaZodOduzuz/VictoryFaultHelper.h"
#include "VICTORY/ZOziDaZodOduzuz/kbhit.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Child exit codes.
enum : int { kOk, kNoTerminal = 10, kWaitingAtStart, kStillCanonical, kEchoOff, kKeysNotSeen, kZNotHandled, kKeysLeft, kNotRestored };

// Runs in the child: stdin and stdout are the terminal `slavePath`.
int child(const char* slavePath, int readyFd) {
    const int slave = ::open(slavePath, O_RDWR);
    if (slave < 0) return kNoTerminal;
    ::dup2(slave, 0);
    ::dup2(slave, 1);
    if (_kbhit() != 0) return kWaitingAtStart;
    termios term{};
    if (::tcgetattr(0, &term) != 0) return kNoTerminal;
    if ((term.c_lflag & ICANON) != 0) return kStillCanonical;
    if ((term.c_lflag & ECHO) == 0) return kEchoOff;
    if (::write(readyFd, "R", 1) != 1) return kNoTerminal;

    // Keys without a newline are readable at once in non-canonical mode.
    const auto deadline = Clock::now() + 5s;
    while (_kbhit() < 2) {
        if (Clock::now() > deadline) return kKeysNotSeen;
        std::this_thread::sleep_for(2ms);
    }
    VictoryFaultHelper helper("Terminal");
    bool tellDisabled = false;
    helper.ManageFaults(tellDisabled);  // 'z'
    if (!tellDisabled) return kZNotHandled;
    helper.ManageFaults(tellDisabled);  // 'q': ignored
    if (!tellDisabled || _kbhit() != 0) return kKeysLeft;
    std::cout.flush();
    // At the end of the process the terminal gets its line mode back.
    restoreKbhitTerminal();
    if (::tcgetattr(0, &term) != 0 || (term.c_lflag & ICANON) == 0) return kNotRestored;
    return kOk;
}

TEST(KbhitTerminal, KeysArriveWithoutNewlineAndAreEchoed) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slavePath = ::ptsname(master);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);

    std::cout.flush();
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(master);
        ::close(ready[0]);
        ::_exit(child(slavePath.c_str(), ready[1]));
    }
    ::close(ready[1]);

    pollfd p{ready[0], POLLIN, 0};
    char r = 0;
    const bool childReady = ::poll(&p, 1, 5000) == 1 && ::read(ready[0], &r, 1) == 1;
    if (childReady) {
        ASSERT_EQ(::write(master, "zq", 2), 2);
    }

    // What the terminal shows: the echoed keys and the helper's line.
    std::string screen;
    const auto deadline = Clock::now() + 5s;
    while (childReady && screen.find("Tell disabled for") == std::string::npos && Clock::now() < deadline) {
        pollfd m{master, POLLIN, 0};
        if (::poll(&m, 1, 50) == 1) {
            char buffer[256];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0) break;
            screen.append(buffer, static_cast<std::size_t>(n));
        }
    }

    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < deadline + 5s) {
        std::this_thread::sleep_for(5ms);
    }
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ::close(ready[0]);
    ::close(master);

    EXPECT_TRUE(childReady);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kOk);
    EXPECT_NE(screen.find('z'), std::string::npos) << screen;
    EXPECT_NE(screen.find("\bTerminalTell disabled for \r\n"), std::string::npos) << screen;
}

}  // namespace
