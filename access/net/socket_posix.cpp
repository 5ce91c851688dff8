// POSIX side of the socket seam.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "socket.h"

namespace zorvik::net {
namespace {

int fd_of(NativeSocket s) { return static_cast<int>(s); }

NetError from_errno(int e) {
    switch (e) {
        case 0:
            return NetError::none;
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
        case EINPROGRESS:
            return NetError::would_block;
        case ECONNRESET:
        case ECONNABORTED:
        case EPIPE:
            return NetError::reset;
        case ECONNREFUSED:
            return NetError::refused;
        case ETIMEDOUT:
            return NetError::timed_out;
        case EINTR:
            return NetError::interrupted;
        case EADDRINUSE:
            return NetError::address_in_use;
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
            return NetError::too_many_sockets;
        case ENETUNREACH:
        case EHOSTUNREACH:
        case EADDRNOTAVAIL:
            return NetError::unreachable;
        case EBADF:
        case EINVAL:
        case ENOTSOCK:
            return NetError::invalid_argument;
        default:
            return NetError::other;
    }
}

NetError last_error() { return from_errno(errno); }

Result<Socket> new_tcp_socket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return last_error();
    }
    return Socket(static_cast<NativeSocket>(fd));
}

bool parse_ipv4(std::string_view text, in_addr& out) {
    const std::string s(text);
    return ::inet_pton(AF_INET, s.c_str(), &out) == 1;
}

Result<sockaddr_in> resolve(std::string_view host, std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (parse_ipv4(host, addr.sin_addr)) {
        return addr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string name(host);
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return NetError::unreachable;
    }
    addr.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return addr;
}

}  // namespace

NetStartup::NetStartup() {
    // A peer that closes while we write must not kill the process. Sends pass
    // MSG_NOSIGNAL; this also covers code that writes to sockets some other way.
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
        ::signal(SIGPIPE, SIG_IGN);
    }
}

NetStartup::~NetStartup() = default;

void Socket::close() {
    if (valid()) {
        ::close(fd_of(release()));
    }
}

void Socket::close_with_reset() {
    if (valid()) {
        linger lg{};
        lg.l_onoff = 1;
        lg.l_linger = 0;
        ::setsockopt(fd_of(handle_), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        close();
    }
}

NetError Socket::set_nonblocking(bool on) {
    const int flags = ::fcntl(fd_of(handle_), F_GETFL, 0);
    if (flags < 0) {
        return last_error();
    }
    const int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (wanted != flags && ::fcntl(fd_of(handle_), F_SETFL, wanted) < 0) {
        return last_error();
    }
    return NetError::none;
}

NetError Socket::set_nodelay(bool on) {
    const int value = on ? 1 : 0;
    if (::setsockopt(fd_of(handle_), IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) < 0) {
        return last_error();
    }
    return NetError::none;
}

IoResult Socket::send(std::span<const std::uint8_t> bytes) {
    if (!valid()) {
        return {0, NetError::invalid_argument};
    }
    for (;;) {
        const ssize_t n = ::send(fd_of(handle_), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n >= 0) {
            return {static_cast<std::size_t>(n), NetError::none};
        }
        if (errno != EINTR) {
            return {0, last_error()};
        }
    }
}

IoResult Socket::recv(std::span<std::uint8_t> buffer) {
    if (!valid()) {
        return {0, NetError::invalid_argument};
    }
    for (;;) {
        const ssize_t n = ::recv(fd_of(handle_), buffer.data(), buffer.size(), 0);
        if (n > 0) {
            return {static_cast<std::size_t>(n), NetError::none};
        }
        if (n == 0) {
            return {0, buffer.empty() ? NetError::none : NetError::closed};
        }
        if (errno != EINTR) {
            return {0, last_error()};
        }
    }
}

Result<std::uint16_t> Socket::local_port() const {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd_of(handle_), reinterpret_cast<sockaddr*>(&addr), &len) < 0) {
        return last_error();
    }
    return static_cast<std::uint16_t>(ntohs(addr.sin_port));
}

Result<Socket> listen_tcp(std::string_view ipv4, std::uint16_t port, int backlog) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (!parse_ipv4(ipv4, addr.sin_addr)) {
        return NetError::invalid_argument;
    }
    auto sock = new_tcp_socket();
    if (!sock) {
        return sock.error();
    }
    const int one = 1;
    ::setsockopt(fd_of(sock->native()), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd_of(sock->native()), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) < 0 ||
        ::listen(fd_of(sock->native()), backlog) < 0) {
        return last_error();
    }
    return sock;
}

Result<Socket> accept(const Socket& listener) {
    for (;;) {
        const int fd = ::accept4(fd_of(listener.native()), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            return Socket(static_cast<NativeSocket>(fd));
        }
        // A connection that died in the backlog is not the listener's failure.
        if (errno != EINTR && errno != ECONNABORTED) {
            return last_error();
        }
    }
}

Result<Socket> connect_tcp(std::string_view host, std::uint16_t port,
                           std::chrono::milliseconds timeout) {
    auto addr = resolve(host, port);
    if (!addr) {
        return addr.error();
    }
    auto sock = new_tcp_socket();
    if (!sock) {
        return sock.error();
    }
    if (auto e = sock->set_nonblocking(true); e != NetError::none) {
        return e;
    }
    const int fd = fd_of(sock->native());
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&*addr), sizeof(sockaddr_in)) < 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            return last_error();
        }
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return NetError::timed_out;
            }
            pollfd p{fd, POLLOUT, 0};
            const int n = ::poll(&p, 1, static_cast<int>(left.count()));
            if (n > 0) {
                break;
            }
            if (n < 0 && errno != EINTR) {
                return last_error();
            }
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) {
            return last_error();
        }
        if (err != 0) {
            return from_errno(err);
        }
    }
    if (auto e = sock->set_nonblocking(false); e != NetError::none) {
        return e;
    }
    return sock;
}

Result<std::pair<Socket, Socket>> socket_pair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) < 0) {
        return last_error();
    }
    return std::pair<Socket, Socket>(Socket(static_cast<NativeSocket>(fds[0])),
                                     Socket(static_cast<NativeSocket>(fds[1])));
}

Result<int> poll_sockets(std::span<PollItem> items, int timeout_ms) {
    if (items.empty()) {
        if (timeout_ms > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
        }
        return 0;
    }
    thread_local std::vector<pollfd> fds;
    fds.resize(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        short events = 0;
        if (items[i].want & kReadable) {
            events |= POLLIN;
        }
        if (items[i].want & kWritable) {
            events |= POLLOUT;
        }
        // A negative descriptor makes poll() skip the entry.
        fds[i] = {items[i].socket == kInvalidSocket ? -1 : fd_of(items[i].socket), events, 0};
        items[i].got = 0;
    }
    const int n = ::poll(fds.data(), fds.size(), timeout_ms < 0 ? -1 : timeout_ms);
    if (n < 0) {
        return errno == EINTR ? Result<int>(0) : Result<int>(last_error());
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        const short r = fds[i].revents;
        unsigned got = 0;
        if (r & POLLIN) {
            got |= kReadable;
        }
        if (r & POLLOUT) {
            got |= kWritable;
        }
        if (r & (POLLERR | POLLNVAL)) {
            got |= kError;
        }
        if (r & POLLHUP) {
            got |= kHangup | kReadable;  // so a reader sees the end of stream
        }
        items[i].got = got;
    }
    return n;
}

NetError ensure_socket_capacity(std::size_t sockets, std::string* detail) {
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) < 0) {
        return last_error();
    }
    const auto wanted = static_cast<rlim_t>(sockets);
    if (lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur < wanted) {
        rlimit raised = lim;
        raised.rlim_cur = wanted;
        if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max < wanted) {
            raised.rlim_max = wanted;  // only a privileged process may do this
        }
        if (::setrlimit(RLIMIT_NOFILE, &raised) < 0) {
            if (detail != nullptr) {
                *detail = "needs " + std::to_string(sockets) +
                          " file descriptors but the hard limit is " +
                          std::to_string(static_cast<unsigned long long>(lim.rlim_max)) +
                          " (raise it with 'ulimit -Hn " + std::to_string(sockets) +
                          "' as root, or in /etc/security/limits.conf)";
            }
            return NetError::too_many_sockets;
        }
    }
    return NetError::none;
}

}  // namespace zorvik::net
