// Winsock side of socket_options.h.
#include <winsock2.h>

#include "socket_options.h"

namespace zorvik::net {
namespace {

SOCKET sock_of(const Socket& s) { return static_cast<SOCKET>(s.native()); }

NetError set_dword(Socket& s, int option, DWORD value) {
    if (::setsockopt(sock_of(s), SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
                     sizeof value) != 0) {
        return ::WSAGetLastError() == WSAENOTSOCK ? NetError::invalid_argument : NetError::other;
    }
    return NetError::none;
}

}  // namespace

NetError set_buffer_sizes(Socket& socket, int send_bytes, int receive_bytes) {
    if (auto e = set_dword(socket, SO_SNDBUF, static_cast<DWORD>(send_bytes));
        e != NetError::none) {
        return e;
    }
    return set_dword(socket, SO_RCVBUF, static_cast<DWORD>(receive_bytes));
}

NetError set_io_timeouts(Socket& socket, std::chrono::milliseconds timeout) {
    const auto ms = static_cast<DWORD>(timeout.count() < 0 ? 0 : timeout.count());
    if (auto e = set_dword(socket, SO_SNDTIMEO, ms); e != NetError::none) {
        return e;
    }
    return set_dword(socket, SO_RCVTIMEO, ms);
}

void shutdown_both(Socket& socket) noexcept {
    if (socket.valid()) {
        ::shutdown(sock_of(socket), SD_BOTH);
    }
}

}  // namespace zorvik::net
