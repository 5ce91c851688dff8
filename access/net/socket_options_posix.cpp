// POSIX side of socket_options.h.
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>

#include "socket_options.h"

namespace zorvik::net {
namespace {

int fd_of(const Socket& s) { return static_cast<int>(s.native()); }

NetError set_int(Socket& s, int option, int value) {
    if (::setsockopt(fd_of(s), SOL_SOCKET, option, &value, sizeof value) != 0) {
        return errno == EBADF || errno == ENOTSOCK ? NetError::invalid_argument : NetError::other;
    }
    return NetError::none;
}

}  // namespace

NetError set_buffer_sizes(Socket& socket, int send_bytes, int receive_bytes) {
    if (auto e = set_int(socket, SO_SNDBUF, send_bytes); e != NetError::none) {
        return e;
    }
    return set_int(socket, SO_RCVBUF, receive_bytes);
}

NetError set_io_timeouts(Socket& socket, std::chrono::milliseconds timeout) {
    const auto ms = timeout.count() < 0 ? 0 : timeout.count();
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    if (::setsockopt(fd_of(socket), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0 ||
        ::setsockopt(fd_of(socket), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
        return NetError::other;
    }
    return NetError::none;
}

void shutdown_both(Socket& socket) noexcept {
    if (socket.valid()) {
        ::shutdown(fd_of(socket), SHUT_RDWR);
    }
}

}  // namespace zorvik::net
