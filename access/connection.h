// One registered controller: its key, its link state and times, its TCP socket, its
// send queue and frame reassembly.
//
// A connection has no thread of its own. The library's I/O thread (IoLoop) polls its
// socket with every other link's, reads it, cuts frames and sends its queued frames; the
// callbacks the link raises (frames, loss, reconnect) go through its DeliveryQueue to the
// delivery threads, in order. The io_* members are the I/O thread's and run only there.
//
// Frames are queued only while the link is online, and the queue is emptied whenever
// the link goes offline or gets a new socket: a frame is sent on the connection that
// existed when it was queued, or never.
//
// Lifetime: connections are shared. The table, the I/O loop, queued callbacks, the
// supervisor and an export in progress each hold a reference, so a connection is freed
// only when nothing can use it any more.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "delivery.h"
#include "frame/assembler.h"
#include "io_loop.h"
#include "link_services.h"
#include "net/socket.h"
#include "net/socket_options.h"
#include "net/sync.h"

namespace zorvik::access {

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    using SteadyClock = std::chrono::steady_clock;
    using SteadyTime = SteadyClock::time_point;

    // Creates an unconnected link. times starts as the rules want them at registration:
    // lastAttempt and lastReply now, no frame outstanding.
    Connection(LinkServices& services, std::shared_ptr<IoLoop> io,
               std::shared_ptr<Delivery> delivery, std::string ip, int port);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const std::string& ip() const { return ip_; }
    int port() const { return port_; }

    // Hands the link to the I/O loop.
    bool start();

    // One connection attempt: closes the socket held so far, connects within the
    // connect time-out and sets the socket up. The new socket becomes current on
    // success. Attempts on one connection never overlap.
    bool attempt_connection();

    // After a successful attempt: marks the link online (the first attempt keeps
    // lastAttempt, a reconnect clears it), clears the outstanding frame and sets lastReply.
    // False when the link is being stopped (then no callback may follow).
    bool go_online(bool reconnect);

    // Raises ConnCallback(1) for a reconnect on a delivery thread, behind the link's
    // earlier callbacks (its loss among them).
    void report_reconnected();

    // The reply time-out: no frame came back in time. Marks the link offline, empties the
    // send queue and drops half-received bytes, but leaves the socket to the next
    // connection attempt. When the link was online, raises DisConnCallback (on a delivery
    // thread) and returns true.
    bool declare_silent();

    // Sends a frame or raw packet, or queues it for the I/O thread. False (nothing sent or
    // queued) unless the link is online. When nothing of the link is queued or on its way
    // and its send gap has passed, the calling thread sends it at once (non-blocking; a
    // rest the socket does not take goes to the I/O thread); otherwise it is queued
    // behind the others. expects_reply marks a reply as outstanding (awaitingSince) before
    // the bytes can leave.
    bool enqueue(std::vector<std::uint8_t> bytes, bool expects_reply);
    std::size_t queued() const;

    // The supervisor brackets a connection attempt on this link with these; begin fails
    // once the link is stopping.
    bool begin_supervision();
    void end_supervision();

    // Closes the link: drops its socket and queue, leaves the I/O loop, drops its pending
    // callbacks and waits until none of them runs and the supervisor is done with the link
    // (a callback of this very link closing it is not waited for: it finishes and no other
    // follows). Once stop() has returned, no callback of this link is raised.
    void stop(bool on_supervisor_thread);
    bool stopping() const { return stop_.load(); }

    bool online() const { return online_.load(); }

    // Set by Zorvik_Disconnect; the supervisor leaves such a link alone.
    std::atomic<bool> closing{false};
    // Times in whole clock seconds; 0 means none.
    std::atomic<std::int64_t> last_attempt{0};
    std::atomic<std::int64_t> awaiting_since{0};
    std::atomic<std::int64_t> last_reply{0};

    // Counters: valid frames cut from this link's stream, reports handed to
    // DoorDataUpCallback, and chunks sent whole.
    std::atomic<std::uint64_t> frames_received{0};
    std::atomic<std::uint64_t> reports_raised{0};
    std::atomic<std::uint64_t> chunks_sent{0};

    // The I/O thread's side. What the link waits for now (no socket: nothing), and the
    // earliest time it needs another look (deadline is lowered, never raised). The loop
    // holds the socket while it is in its poll set.
    struct IoWant {
        std::shared_ptr<net::Socket> socket;
        unsigned events = 0;
        bool send_timed_out = false;  // a half-sent chunk went nowhere for too long
        bool send_now = false;        // a queued chunk may go now (no need to poll first)
    };
    IoWant io_prepare(SteadyTime now, SteadyTime& deadline);
    // The socket of the last io_prepare became ready (got: net::PollEvents).
    void io_service(unsigned got, SteadyTime now, std::span<std::uint8_t> buffer);
    // The socket of the last io_prepare could not take a chunk within the send time-out.
    void io_send_timed_out();

  private:
    using SocketRef = std::shared_ptr<net::Socket>;

    void reassemble(std::span<const std::uint8_t> chunk);
    void send_one(const SocketRef& socket, SteadyTime now);
    void send_from_caller(const SocketRef& socket, std::uint64_t generation,
                          std::vector<std::uint8_t> bytes, SteadyTime started);
    void clear_queue();  // under mutex_
    // The socket failed (end of stream, a read or a send error). If it is still the
    // current one it is dropped, and an online link is reported lost.
    void lose(const SocketRef& socket);
    void post(std::function<void()> work,
              std::chrono::milliseconds gap = std::chrono::milliseconds(0));

    LinkServices& services_;
    const std::shared_ptr<IoLoop> io_;
    const std::shared_ptr<Delivery> delivery_;
    const std::shared_ptr<DeliveryQueue> callbacks_queue_ = std::make_shared<DeliveryQueue>();
    const std::string ip_;
    const int port_;

    mutable net::Mutex mutex_;  // guards socket_, generation_, queue_, supervised_, online_ changes
    net::CondVar supervision_done_;
    SocketRef socket_;
    // Bumped whenever socket_ changes or the link goes offline: what was received or
    // queued under an older generation is never handed on or sent.
    std::uint64_t generation_ = 0;
    std::deque<std::vector<std::uint8_t>> queue_;
    // The front of queue_ is the rest of a chunk a caller began sending at this time.
    std::optional<SteadyTime> front_started_;
    // Who sends: a chunk goes from one thread at a time, in queue order.
    bool caller_sending_ = false;  // a thread inside enqueue() is sending
    bool io_sending_ = false;      // the I/O thread holds a chunk half sent
    SteadyTime send_ready_at_{};   // the end of the gap after the last chunk sent
    std::atomic<bool> online_{false};
    std::atomic<bool> stop_{false};
    bool supervised_ = false;

    net::Mutex attempt_mutex_;

    // The I/O thread's own state.
    SocketRef io_socket_;
    std::uint64_t io_generation_ = 0;
    frame::FrameAssembler assembler_;
    std::vector<std::uint8_t> io_pending_;  // a chunk partly sent
    std::size_t io_pending_sent_ = 0;
    SteadyTime io_pending_since_{};
};

}  // namespace zorvik::access
