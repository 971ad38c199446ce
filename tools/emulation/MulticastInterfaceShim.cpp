// Preloaded into the arm64 programs that run under qemu-user on the build
// machine, never part of what runs on the board.
//
// qemu-user 7.2 (Debian 12) does not pass the socket option
// IP_MULTICAST_IF on to the host kernel; it answers ENOPROTOOPT. Fast DDS
// sets that option on every UDP output socket of a participant restricted
// to an interface, and gives the socket up when it fails, so emulated
// participants never send discovery traffic and never meet. This shim
// reports success for exactly that failure. The socket is bound to the
// interface's address (127.0.0.1 here), and the kernel routes multicast
// from a bound address through that address's interface, which is what
// the option would have asked for. Every other call goes through unchanged.
//
// The emulator hands the shim to an emulated program by putting it into
// that program's LD_PRELOAD (QEMU_SET_ENV). Its children inherit the
// variable, and a native child (a shell, openssl, python) cannot load an
// arm64 library: its loader would complain at every start. So the shim
// takes itself out of LD_PRELOAD as it is loaded; emulated children get it
// again from QEMU_SET_ENV, which they inherit too.

#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

using SetSockOpt = int (*)(int, int, int, void const*, socklen_t);

SetSockOpt next() {
    static SetSockOpt const function = reinterpret_cast<SetSockOpt>(::dlsym(RTLD_NEXT, "setsockopt"));
    return function;
}

// LD_PRELOAD without the entries naming this library (entries are
// separated by spaces or colons).
void removeSelfFromPreload() {
    char const* const list = std::getenv("LD_PRELOAD");
    Dl_info self{};
    if (list == nullptr || ::dladdr(reinterpret_cast<void*>(&removeSelfFromPreload), &self) == 0 ||
        self.dli_fname == nullptr) {
        return;
    }
    std::string const selfPath = self.dli_fname;
    std::string const selfName = selfPath.substr(selfPath.rfind('/') + 1);
    std::string kept;
    std::string const text = list;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t const end = std::min(text.find_first_of(": ", at), text.size());
        std::string const entry = text.substr(at, end - at);
        std::string const name = entry.substr(entry.rfind('/') + 1);
        if (!entry.empty() && entry != selfPath && name != selfName) {
            kept += (kept.empty() ? "" : ":") + entry;
        }
        at = end + 1;
    }
    if (kept.empty()) {
        ::unsetenv("LD_PRELOAD");
    } else {
        ::setenv("LD_PRELOAD", kept.c_str(), 1);
    }
}

__attribute__((constructor)) void onLoad() { removeSelfFromPreload(); }

}  // namespace

extern "C" int setsockopt(int fd, int level, int name, void const* value, socklen_t length) {
    SetSockOpt const function = next();
    if (function == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    int const result = function(fd, level, name, value, length);
    if (result != 0 && errno == ENOPROTOOPT && level == IPPROTO_IP && name == IP_MULTICAST_IF) {
        errno = 0;
        return 0;
    }
    return result;
}
