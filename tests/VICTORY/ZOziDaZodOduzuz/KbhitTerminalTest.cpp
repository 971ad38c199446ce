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

using Clock = std::chrono::steady_clock;

// Runs in the child, stdin and stdout on the terminal `slavePath`; the exit
// code names the first step that went wrong (0: none).
int child(const char* slavePath, int readyFd) {
    const int slave = ::open(slavePath, O_RDWR);
    ::dup2(slave, 0);
    ::dup2(slave, 1);
    termios term{};
    if (slave < 0 || _kbhit() != 0 || ::tcgetattr(0, &term) != 0) return 10;
    if ((term.c_lflag & ICANON) != 0 || (term.c_lflag & ECHO) == 0) return 11;  // keys at once, echoed
    if (::write(readyFd, "R", 1) != 1) return 12;
    // Keys without a newline are readable at once.
    for (const auto deadline = Clock::now() + std::chrono::seconds(5); _kbhit() < 2;) {
        if (Clock::now() > deadline) return 13;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    VictoryFaultHelper helper("Terminal");
    bool tellDisabled = false;
    helper.ManageFaults(tellDisabled);  // 'z'
    helper.ManageFaults(tellDisabled);  // 'q': ignored
    if (!tellDisabled || _kbhit() != 0) return 14;
    std::cout.flush();
    // At the end of the process the terminal gets its line mode back.
    restoreKbhitTerminal();
    return ::tcgetattr(0, &term) != 0 || (term.c_lflag & ICANON) == 0 ? 15 : 0;
}

TEST(KbhitTerminal, KeysArriveWithoutNewlineAndAreEchoed) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const std::string slavePath = ::ptsname(master);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    std::cout.flush();
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(child(slavePath.c_str(), ready[1]));
    ::close(ready[1]);

    pollfd p{ready[0], POLLIN, 0};
    char r = 0;
    const bool childReady = ::poll(&p, 1, 5000) == 1 && ::read(ready[0], &r, 1) == 1;
    EXPECT_TRUE(childReady && ::write(master, "zq", 2) == 2);
    // What the terminal shows: the echoed keys and the helper's line.
    std::string screen;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (childReady && screen.find("Tell disabled for") == std::string::npos && Clock::now() < deadline) {
        pollfd m{master, POLLIN, 0};
        char buffer[256];
        const ssize_t n = ::poll(&m, 1, 50) == 1 ? ::read(master, buffer, sizeof buffer) : 0;
        if (n < 0) break;
        screen.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline + std::chrono::seconds(5)) ::kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::close(ready[0]);
    ::close(master);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(screen.find('z'), std::string::npos) << screen;
    EXPECT_NE(screen.find("\bTerminalTell disabled for \r\n"), std::string::npos) << screen;
}

}  // namespace
