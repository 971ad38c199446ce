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

#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

namespace {

using SetSockOpt = int (*)(int, int, int, void const*, socklen_t);

SetSockOpt next() {
    static SetSockOpt const function = reinterpret_cast<SetSockOpt>(::dlsym(RTLD_NEXT, "setsockopt"));
    return function;
}

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
