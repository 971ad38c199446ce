#include "VICTORY/ZOziDaZodOduzuz/kbhit.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

int _kbhit()
{
    static std::atomic<bool> initialized{false};
    if (!initialized.exchange(true)) {
        termios term{};
        if (::tcgetattr(STDIN_FILENO, &term) == 0) {
            term.c_lflag &= ~static_cast<tcflag_t>(ICANON);
            ::tcsetattr(STDIN_FILENO, TCSANOW, &term);
        }
        std::setbuf(stdin, nullptr);
    }
    int waiting = 0;
    if (::ioctl(STDIN_FILENO, FIONREAD, &waiting) != 0 || waiting < 0) {
        return 0;
    }
    return waiting;
}
