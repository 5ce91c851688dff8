// Winsock 2 side of the socket seam.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h
#include <windows.h>

#include <chrono>
#include <climits>
#include <string>
#include <vector>

#include "socket.h"
#include "wsapoll.h"

namespace zorvik::net {
namespace {

SOCKET sock_of(NativeSocket s) { return static_cast<SOCKET>(s); }

NetError from_wsa(int e) {
    switch (e) {
        case 0:
            return NetError::none;
        case WSAEWOULDBLOCK:
        case WSAEINPROGRESS:
        case WSAEALREADY:
            return NetError::would_block;
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAENETRESET:
        case WSAESHUTDOWN:
            return NetError::reset;
        case WSAECONNREFUSED:
            return NetError::refused;
        case WSAETIMEDOUT:
            return NetError::timed_out;
        case WSAEINTR:
            return NetError::interrupted;
        case WSAEADDRINUSE:
        case WSAEACCES:  // another program holds the port exclusively
            return NetError::address_in_use;
        case WSAEMFILE:
        case WSAENOBUFS:
            return NetError::too_many_sockets;
        case WSAENETUNREACH:
        case WSAEHOSTUNREACH:
        case WSAEADDRNOTAVAIL:
        case WSAHOST_NOT_FOUND:
        case WSANO_DATA:
            return NetError::unreachable;
        case WSAENOTSOCK:
        case WSAEINVAL:
        case WSAEFAULT:
            return NetError::invalid_argument;
        case WSANOTINITIALISED:
            return NetError::not_started;
        default:
            return NetError::other;
    }
}

NetError last_error() { return from_wsa(::WSAGetLastError()); }

Result<Socket> new_tcp_socket() {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return last_error();
    }
    // Child processes must not inherit our connections and listening ports.
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return Socket(static_cast<NativeSocket>(s));
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

int clamp_len(std::size_t n) { return n > INT_MAX ? INT_MAX : static_cast<int>(n); }

}  // namespace

NetStartup::NetStartup() {
    WSADATA data{};
    if (const int e = ::WSAStartup(MAKEWORD(2, 2), &data); e != 0) {
        error_ = from_wsa(e);
    }
}

NetStartup::~NetStartup() {
    if (ok()) {
        ::WSACleanup();
    }
}

void Socket::close() {
    if (valid()) {
        ::closesocket(sock_of(release()));
    }
}

void Socket::close_with_reset() {
    if (valid()) {
        linger lg{};
        lg.l_onoff = 1;
        lg.l_linger = 0;
        ::setsockopt(sock_of(handle_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg),
                     sizeof lg);
        close();
    }
}

NetError Socket::set_nonblocking(bool on) {
    u_long mode = on ? 1 : 0;
    if (::ioctlsocket(sock_of(handle_), FIONBIO, &mode) != 0) {
        return last_error();
    }
    return NetError::none;
}

NetError Socket::set_nodelay(bool on) {
    const BOOL value = on ? TRUE : FALSE;
    if (::setsockopt(sock_of(handle_), IPPROTO_TCP, TCP_NODELAY,
                     reinterpret_cast<const char*>(&value), sizeof value) != 0) {
        return last_error();
    }
    return NetError::none;
}

IoResult Socket::send(std::span<const std::uint8_t> bytes) {
    if (!valid()) {
        return {0, NetError::invalid_argument};
    }
    const int n = ::send(sock_of(handle_), reinterpret_cast<const char*>(bytes.data()),
                         clamp_len(bytes.size()), 0);
    if (n == SOCKET_ERROR) {
        return {0, last_error()};
    }
    return {static_cast<std::size_t>(n), NetError::none};
}

IoResult Socket::recv(std::span<std::uint8_t> buffer) {
    if (!valid()) {
        return {0, NetError::invalid_argument};
    }
    const int n = ::recv(sock_of(handle_), reinterpret_cast<char*>(buffer.data()),
                         clamp_len(buffer.size()), 0);
    if (n == SOCKET_ERROR) {
        return {0, last_error()};
    }
    if (n == 0) {
        return {0, buffer.empty() ? NetError::none : NetError::closed};
    }
    return {static_cast<std::size_t>(n), NetError::none};
}

Result<std::uint16_t> Socket::local_port() const {
    sockaddr_in addr{};
    int len = sizeof addr;
    if (::getsockname(sock_of(handle_), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
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
    // SO_REUSEADDR on Windows would let another socket steal the port; keep it ours.
    const BOOL one = TRUE;
    ::setsockopt(sock_of(sock->native()), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                 reinterpret_cast<const char*>(&one), sizeof one);
    if (::bind(sock_of(sock->native()), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) !=
            0 ||
        ::listen(sock_of(sock->native()), backlog) != 0) {
        return last_error();
    }
    return sock;
}

Result<Socket> accept(const Socket& listener) {
    for (;;) {
        const SOCKET s = ::accept(sock_of(listener.native()), nullptr, nullptr);
        if (s != INVALID_SOCKET) {
            ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
            Socket accepted(static_cast<NativeSocket>(s));
            // An accepted socket inherits the listener's non-blocking mode on Windows;
            // make it blocking as on POSIX so both behave alike.
            if (auto e = accepted.set_nonblocking(false); e != NetError::none) {
                return e;
            }
            return accepted;
        }
        const int e = ::WSAGetLastError();
        if (e != WSAEINTR && e != WSAECONNRESET && e != WSAECONNABORTED) {
            return from_wsa(e);
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
    const SOCKET s = sock_of(sock->native());
    if (::connect(s, reinterpret_cast<const sockaddr*>(&*addr), sizeof(sockaddr_in)) != 0) {
        const int e = ::WSAGetLastError();
        if (e != WSAEWOULDBLOCK && e != WSAEINPROGRESS) {
            return from_wsa(e);
        }
        // select(), not WSAPoll: older WSAPoll never reports a failed connect.
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        const long long ms = timeout.count() < 0 ? 0 : timeout.count();
        timeval tv{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
        const int n = ::select(0, nullptr, &writable, &failed, &tv);
        if (n == SOCKET_ERROR) {
            return last_error();
        }
        if (n == 0) {
            return NetError::timed_out;
        }
        int err = 0;
        int len = sizeof err;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) {
            return last_error();
        }
        if (err != 0 || FD_ISSET(s, &failed)) {
            return err != 0 ? from_wsa(err) : NetError::refused;
        }
    }
    if (auto e = sock->set_nonblocking(false); e != NetError::none) {
        return e;
    }
    return sock;
}

Result<std::pair<Socket, Socket>> socket_pair() {
    auto listener = listen_tcp("127.0.0.1", 0, 1);
    if (!listener) {
        return listener.error();
    }
    auto port = listener->local_port();
    if (!port) {
        return port.error();
    }
    auto client = connect_tcp("127.0.0.1", *port, std::chrono::milliseconds(5000));
    if (!client) {
        return client.error();
    }
    auto server = accept(*listener);
    if (!server) {
        return server.error();
    }
    // Make sure the accepted end is our own client, not another local program that
    // connected to the short-lived listener first.
    sockaddr_in peer{};
    int len = sizeof peer;
    auto client_port = client->local_port();
    if (::getpeername(sock_of(server->native()), reinterpret_cast<sockaddr*>(&peer), &len) != 0 ||
        !client_port || ntohs(peer.sin_port) != *client_port) {
        return NetError::other;
    }
    client->set_nodelay(true);
    server->set_nodelay(true);
    return std::pair<Socket, Socket>(std::move(*server), std::move(*client));
}

Result<int> poll_sockets(std::span<PollItem> items, int timeout_ms) {
    thread_local std::vector<WSAPOLLFD> fds;
    thread_local std::vector<std::size_t> index;
    fds.clear();
    index.clear();
    for (std::size_t i = 0; i < items.size(); ++i) {
        items[i].got = 0;
        if (items[i].socket == kInvalidSocket) {
            continue;
        }
        fds.push_back({sock_of(items[i].socket), wsapoll_request(items[i].want), 0});
        index.push_back(i);
    }
    const int n = wsapoll_or_sleep(fds, timeout_ms);
    if (n == SOCKET_ERROR) {
        return last_error();
    }
    for (std::size_t k = 0; k < fds.size(); ++k) {
        items[index[k]].got = poll_flags_from(fds[k].revents);
    }
    return n;
}

NetError ensure_socket_capacity(std::size_t, std::string*) { return NetError::none; }

}  // namespace zorvik::net
