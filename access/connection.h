// One registered controller: its key, its link state and times, its TCP socket, and the
// two threads that move its bytes.
//
// The receive thread blocks on the socket (and on a waker, so a stop or a replaced
// socket ends the wait at once), cuts frames out of the stream and hands them to the
// frame dispatch, which raises the data callbacks on this thread. The send thread blocks
// on the send queue and sends each chunk whole while the link is online. Both live from
// registration to Zorvik_Disconnect, across any number of reconnects, and always pick up
// the current socket.
//
// Lifetime: connections are shared. The table, a thread working on a link, the
// supervisor and an export in progress each hold a reference, so a connection is freed
// only when nothing can use it any more.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "frame/assembler.h"
#include "link_services.h"
#include "net/socket.h"
#include "net/socket_options.h"
#include "net/thread.h"

namespace zorvik::access {

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    // Creates an unconnected link with no threads yet. times starts as the rules want
    // them at registration: lastAttempt and lastReply now, no frame outstanding.
    Connection(LinkServices& services, std::string ip, int port);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const std::string& ip() const { return ip_; }
    int port() const { return port_; }

    // Starts the receive and the send thread; false when the system gave no thread or
    // no waker (the connection is then unusable and must be dropped).
    bool start();

    // One connection attempt: closes the socket held so far, connects within the
    // connect time-out and sets the socket up. The new socket becomes current on
    // success. Attempts on one connection never overlap.
    bool attempt_connection();

    // After a successful attempt: marks the link online (the first attempt keeps
    // lastAttempt, a reconnect clears it), clears the outstanding frame and sets lastReply.
    // False when the link is being stopped (then no callback may follow).
    bool go_online(bool reconnect);

    // The reply time-out: no frame came back in time. Marks the link offline and drops
    // half-received bytes, but leaves the socket to the next connection attempt. True when
    // the link was online (the caller raises DisConnCallback).
    bool declare_silent();

    // Queues a frame or raw packet for the send thread. False once the link is stopped.
    bool enqueue(std::vector<std::uint8_t> bytes);
    std::size_t queued() const;

    // The supervisor brackets its work on this link (a connection attempt or the reply
    // time-out, with the callback that follows) with these; begin fails once the link is
    // stopping.
    bool begin_supervision();
    void end_supervision();

    // Ends both threads and waits until they have left, and until the supervisor is done
    // with the link (a thread of the link itself, or the supervisor, calling this from a
    // callback is not waited for; it finishes its callback and leaves). Once stop() has
    // returned, no callback of this link is raised by any other thread.
    void stop(bool on_supervisor_thread);
    bool stopping() const { return stop_.load(); }

    bool online() const { return online_.load(); }

    // Set by Zorvik_Disconnect; the supervisor leaves such a link alone.
    std::atomic<bool> closing{false};
    // Times in whole clock seconds; 0 means none.
    std::atomic<std::int64_t> last_attempt{0};
    std::atomic<std::int64_t> awaiting_since{0};
    std::atomic<std::int64_t> last_reply{0};

  private:
    using SocketRef = std::shared_ptr<net::Socket>;

    void receive_loop();
    void send_loop();
    void reassemble(std::span<const std::uint8_t> chunk);
    void pause(std::chrono::milliseconds how_long);
    // The socket failed (end of stream, a read or a send error). If it is still the
    // current one it is dropped, and an online link is reported lost.
    void lose(const SocketRef& socket);

    LinkServices& services_;
    const std::string ip_;
    const int port_;

    mutable std::mutex mutex_;    // guards socket_, generation_, queue_, and online_ changes
    std::condition_variable cv_;  // socket, queue, online or stop changed
    SocketRef socket_;
    std::uint64_t generation_ = 0;  // bumped whenever socket_ changes
    std::deque<std::vector<std::uint8_t>> queue_;
    std::atomic<bool> online_{false};
    std::atomic<bool> stop_{false};
    bool supervised_ = false;

    std::mutex attempt_mutex_;
    net::Waker waker_;                     // wakes the receive thread's socket wait
    std::atomic<bool> discard_rx_{false};  // drop half-received bytes before the next read
    frame::FrameAssembler assembler_;      // receive thread only

    net::Thread receive_thread_;
    net::Thread send_thread_;
};

}  // namespace zorvik::access
