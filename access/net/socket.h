// A small TCP socket seam over POSIX sockets and Winsock 2.
//
// Everything above this header is portable: it never sees a Windows or POSIX socket
// header. CMake compiles exactly one of socket_posix.cpp and socket_winsock.cpp.
//
// Error policy: nothing here throws. Calls report a NetError (a portable category of
// the system's error), either directly or inside a Result<T> or IoResult.
//
// Typical use, a server loop:
//
//     NetStartup net;                              // once per process, before any socket
//     auto listener = listen_tcp("127.0.0.1", 0);  // port 0: the system picks one
//     listener->set_nonblocking(true);
//     uint16_t port = *listener->local_port();
//     std::vector<PollItem> items{{listener->native(), kReadable}};
//     poll_sockets(items, -1);                     // blocks without spinning
//     auto peer = accept(*listener);               // NetError::would_block when none
//
// and a client: connect_tcp("127.0.0.1", port, 2000ms) returns a connected socket in
// blocking mode, or refused / timed_out / unreachable.
//
// Sockets are created close-on-exec (POSIX) and not inheritable (Windows), so child
// processes never hold a connection or a listening port of their parent.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace zorvik::net {

// The system's socket handle: an int on POSIX, a SOCKET (pointer-sized) on Windows.
using NativeSocket = std::uintptr_t;
inline constexpr NativeSocket kInvalidSocket = ~NativeSocket{0};

enum class NetError {
    none,
    would_block,       // non-blocking call found nothing to do; poll and try again
    closed,            // the peer closed the connection in order (recv returned 0)
    reset,             // the connection was reset or aborted
    refused,           // nothing listens at the address
    timed_out,         // connect_tcp's time-out passed
    interrupted,       // a signal interrupted the call; try again
    address_in_use,    // listen_tcp: the port is taken
    too_many_sockets,  // the process or system has no socket (file descriptor) left
    unreachable,       // no route, or the host name does not resolve
    invalid_argument,  // bad address text, invalid socket, ...
    not_started,       // Winsock is not started (no NetStartup alive)
    other,
};

const char* to_string(NetError error);

// A value or the reason there is none.
template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(NetError error) : error_(error == NetError::none ? NetError::other : error) {}

    bool ok() const { return error_ == NetError::none; }
    explicit operator bool() const { return ok(); }
    NetError error() const { return error_; }

    T& value() & { return value_; }
    const T& value() const& { return value_; }
    T&& value() && { return std::move(value_); }
    T& operator*() & { return value_; }
    const T& operator*() const& { return value_; }
    T* operator->() { return &value_; }
    const T* operator->() const { return &value_; }

  private:
    T value_{};
    NetError error_ = NetError::none;
};

// Outcome of one send or recv: bytes moved, and why no more were (none when all were).
struct IoResult {
    std::size_t count = 0;
    NetError error = NetError::none;
    bool ok() const { return error == NetError::none; }
};

// Keeps Winsock 2.2 started for its lifetime (reference counted by Windows, so nested
// instances are fine); does nothing on POSIX except ignore SIGPIPE's default action for
// the process's sends (sends use MSG_NOSIGNAL anyway).
class NetStartup {
  public:
    NetStartup();
    ~NetStartup();
    NetStartup(const NetStartup&) = delete;
    NetStartup& operator=(const NetStartup&) = delete;

    bool ok() const { return error_ == NetError::none; }
    NetError error() const { return error_; }

  private:
    NetError error_ = NetError::none;
};

// An owned socket handle, closed by the destructor. Move-only.
class Socket {
  public:
    Socket() = default;
    explicit Socket(NativeSocket handle) : handle_(handle) {}
    ~Socket() { close(); }
    Socket(Socket&& other) noexcept : handle_(other.release()) {}
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.release();
        }
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool valid() const { return handle_ != kInvalidSocket; }
    NativeSocket native() const { return handle_; }
    NativeSocket release() { return std::exchange(handle_, kInvalidSocket); }

    // Orderly close (the peer reads end of stream). Safe on an invalid socket.
    void close();
    // Abortive close: the peer sees a connection reset instead of end of stream.
    void close_with_reset();

    NetError set_nonblocking(bool on);
    NetError set_nodelay(bool on);  // TCP_NODELAY: every send leaves at once

    // At most bytes.size() bytes; a partial count is normal for non-blocking sockets.
    // On a would-block with nothing sent, count is 0 and error would_block.
    IoResult send(std::span<const std::uint8_t> bytes);
    // count > 0 with error none; or count 0 and closed / would_block / reset / ...
    IoResult recv(std::span<std::uint8_t> buffer);

    // The port this socket is bound to (a listener's actual port after port 0).
    Result<std::uint16_t> local_port() const;

  private:
    NativeSocket handle_ = kInvalidSocket;
};

// A listening TCP socket bound to the dotted IPv4 address (normally "127.0.0.1") and
// port (0 lets the system choose; ask local_port()). The socket is in blocking mode.
// On POSIX SO_REUSEADDR is set so a restarted program can bind a port still in
// TIME_WAIT; on Windows SO_EXCLUSIVEADDRUSE keeps other programs off the port.
Result<Socket> listen_tcp(std::string_view ipv4, std::uint16_t port, int backlog = 64);

// Accepts one pending connection. A non-blocking listener gives would_block when none
// is pending. The new socket is blocking (on every platform) with TCP_NODELAY unset.
Result<Socket> accept(const Socket& listener);

// Connects to host (dotted IPv4 or a name resolved with the system's resolver, first
// IPv4 address) within timeout. The socket is returned in blocking mode.
Result<Socket> connect_tcp(std::string_view host, std::uint16_t port,
                           std::chrono::milliseconds timeout);

// Two connected stream sockets (AF_UNIX pair on POSIX, a loopback TCP pair on Windows).
Result<std::pair<Socket, Socket>> socket_pair();

// Readiness polling over many sockets: poll() on POSIX, WSAPoll on Windows.
enum PollEvents : unsigned {
    kReadable = 1U,  // data, a pending connection on a listener, or end of stream
    kWritable = 2U,
    kError = 4U,   // reported in got whatever was asked
    kHangup = 8U,  // reported in got whatever was asked
};

struct PollItem {
    NativeSocket socket = kInvalidSocket;
    unsigned want = 0;  // kReadable | kWritable
    unsigned got = 0;   // filled in by poll_sockets
};

// Waits until at least one item is ready or timeout_ms passes (-1: no limit, 0: just
// look). Returns the number of ready items (0 on time-out or when a signal interrupted
// the wait). Items with an invalid socket are skipped. An empty span just sleeps.
Result<int> poll_sockets(std::span<PollItem> items, int timeout_ms);

// Wakes a thread blocked in poll_sockets from any other thread. The polling thread
// adds poll_socket() with kReadable to its items; when it becomes readable the thread
// calls drain() first and only then looks at the work other threads handed it, so a
// wake that races with drain() is never lost.
class Waker {
  public:
    Waker() = default;
    static Result<Waker> create();

    bool valid() const { return state_ != nullptr; }
    NativeSocket poll_socket() const;
    void wake() noexcept;  // any thread; cheap when a wake is already pending
    // Polling thread only, after its poll saw the waker readable; take the queued work
    // after drain() returns, so work queued behind a skipped wake is never missed.
    void drain() noexcept;

  private:
    struct State {
        Socket reader;
        Socket writer;
        std::atomic<bool> pending{false};
    };
    std::unique_ptr<State> state_;
};

// Makes sure the process may hold `sockets` open descriptors in all (POSIX: raises the
// soft RLIMIT_NOFILE up to the hard limit, and the hard one when privileged). On
// failure returns too_many_sockets and, when detail is given, a sentence an operator can
// act on. Windows has no such per-process limit: always none there.
NetError ensure_socket_capacity(std::size_t sockets, std::string* detail = nullptr);

}  // namespace zorvik::net
