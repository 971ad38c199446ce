#include "VICTORY/ZOziDaZodOduzuz/kbhit.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace {

// The terminal mode of standard input before _kbhit changed it; valid once
// `changed` is set.
termios savedTerminal{};
std::atomic<bool> changed{false};

}  // namespace

int _kbhit() {
    static std::atomic<bool> initialized{false};
    if (!initialized.exchange(true)) {
        termios term{};
        if (::tcgetattr(STDIN_FILENO, &term) == 0) {
            savedTerminal = term;
            term.c_lflag &= ~static_cast<tcflag_t>(ICANON);
            if (::tcsetattr(STDIN_FILENO, TCSANOW, &term) == 0) {
                changed = true;
            }
        }
        std::setbuf(stdin, nullptr);
    }
    int waiting = 0;
    if (::ioctl(STDIN_FILENO, FIONREAD, &waiting) != 0 || waiting < 0) {
        return 0;
    }
    return waiting;
}

void restoreKbhitTerminal() {
    if (changed.exchange(false)) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    }
}
