#include "connection.h"

#include <memory>

#include "frame/frame.h"
#include "frame_dispatch.h"

namespace zorvik::access {

Connection::Connection(LinkServices& services, std::shared_ptr<IoLoop> io,
                       std::shared_ptr<Delivery> delivery, std::string ip, int port)
    : services_(services),
      io_(std::move(io)),
      delivery_(std::move(delivery)),
      ip_(std::move(ip)),
      port_(port) {
    const auto now = services_.clock->seconds();
    last_attempt.store(now);
    last_reply.store(now);
}

Connection::~Connection() = default;

bool Connection::start() {
    io_->add(shared_from_this());
    return true;
}

bool Connection::attempt_connection() {
    std::lock_guard attempt(attempt_mutex_);
    SocketRef old;
    {
        std::lock_guard lock(mutex_);
        old = std::move(socket_);
        ++generation_;
        clear_queue();
    }
    if (old) {
        net::shutdown_both(*old);
        io_->changed(*this);  // the I/O thread lets go of it
        old.reset();
    }
    if (stop_.load()) {
        return false;
    }
    const auto& timing = services_.timing;
    if (port_ < 1 || port_ > 65535) {
        return false;
    }
    auto connected =
        net::connect_tcp(ip_, static_cast<std::uint16_t>(port_), timing.connect_timeout);
    if (!connected) {
        return false;
    }
    net::Socket& s = *connected;
    // Every frame leaves in its own segment at once; the small buffers keep what a
    // controller has not taken yet from piling up on this side.
    (void)s.set_nodelay(true);
    if (net::set_buffer_sizes(s, 0, 0) != net::NetError::none) {
        return false;
    }
    (void)net::set_io_timeouts(s, timing.socket_timeout);
    // The I/O thread never blocks on one link: it reads and sends only what is ready.
    if (s.set_nonblocking(true) != net::NetError::none) {
        return false;
    }
    auto fresh = std::make_shared<net::Socket>(std::move(s));
    {
        std::lock_guard lock(mutex_);
        if (stop_.load()) {
            return false;
        }
        socket_ = std::move(fresh);
        ++generation_;
    }
    io_->changed(*this);
    return true;
}

bool Connection::go_online(bool reconnect) {
    const auto now = services_.clock->seconds();
    std::lock_guard lock(mutex_);
    if (stop_.load() || !socket_) {
        return false;
    }
    if (reconnect) {
        last_attempt.store(0);
    }
    awaiting_since.store(0);
    last_reply.store(now);
    online_.store(true);
    return true;
}

void Connection::report_reconnected() {
    post([self = shared_from_this()] {
        self->services_.callbacks.link_up(self->ip_, self->port_, true);
    });
}

bool Connection::declare_silent() {
    bool was_online = false;
    {
        std::lock_guard lock(mutex_);
        was_online = online_.exchange(false);
        ++generation_;  // half-received bytes and half-sent frames are dropped
        clear_queue();
    }
    io_->changed(*this);
    if (was_online) {
        post([self = shared_from_this()] {
            self->services_.callbacks.link_lost(self->ip_, self->port_);
        });
    }
    return was_online;
}

bool Connection::enqueue(std::vector<std::uint8_t> bytes, bool expects_reply) {
    const auto now = SteadyClock::now();
    SocketRef socket;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        if (stop_.load() || !online_.load() || !socket_) {
            return false;
        }
        if (expects_reply) {
            // Marked before the bytes can leave: a controller may answer before enqueue()
            // returns, and its answer must find the mark to clear.
            awaiting_since.store(services_.clock->seconds());
        }
        if (!caller_sending_ && !io_sending_ && queue_.empty() && now >= send_ready_at_) {
            // Nothing of this link is on its way and its send gap has passed: the chunk
            // goes from this thread, sparing the I/O thread a wake-up and a round of
            // polling every socket.
            caller_sending_ = true;
            socket = socket_;
            generation = generation_;
        } else {
            queue_.push_back(std::move(bytes));
        }
    }
    if (socket) {
        send_from_caller(socket, generation, std::move(bytes), now);
    } else {
        io_->changed(*this);
    }
    return true;
}

void Connection::send_from_caller(const SocketRef& socket, std::uint64_t generation,
                                  std::vector<std::uint8_t> bytes, SteadyTime started) {
    std::size_t sent = 0;
    bool failed = false;
    while (sent < bytes.size()) {
        const auto r = socket->send(std::span<const std::uint8_t>(bytes).subspan(sent));
        if (r.count > 0) {
            sent += r.count;
        } else if (r.error != net::NetError::interrupted) {
            failed = r.error != net::NetError::would_block;
            break;
        }
    }
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        caller_sending_ = false;
        if (generation_ != generation) {
            // Offline or a new socket meanwhile: what is left is dropped like any chunk
            // half sent at a loss.
            return;
        }
        if (sent == bytes.size()) {
            chunks_sent.fetch_add(1, std::memory_order_relaxed);
            send_ready_at_ = SteadyClock::now() + services_.timing.send_gap;
            wake = !queue_.empty();  // queued meanwhile: the I/O thread sends after the gap
        } else if (!failed) {
            // The socket took part of it: the I/O thread sends the rest when it is
            // writable, within the send time-out counted from the start.
            bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(sent));
            queue_.push_front(std::move(bytes));
            front_started_ = started;
            wake = true;
        }
    }
    if (failed) {
        lose(socket);
    } else if (wake) {
        io_->changed(*this);
    }
}

void Connection::clear_queue() {
    queue_.clear();
    front_started_.reset();
}

std::size_t Connection::queued() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

bool Connection::begin_supervision() {
    std::lock_guard lock(mutex_);
    if (stop_.load()) {
        return false;
    }
    supervised_ = true;
    return true;
}

void Connection::end_supervision() {
    {
        std::lock_guard lock(mutex_);
        supervised_ = false;
    }
    supervision_done_.notify_all();
}

void Connection::stop(bool on_supervisor_thread) {
    SocketRef old;
    {
        std::lock_guard lock(mutex_);
        stop_.store(true);
        old = std::move(socket_);
        ++generation_;
        online_.store(false);
        clear_queue();  // frames still queued are never sent
    }
    if (old) {
        net::shutdown_both(*old);
        old.reset();
    }
    io_->remove(*this);
    delivery_->forget(*callbacks_queue_);
    if (!on_supervisor_thread) {
        std::unique_lock lock(mutex_);
        supervision_done_.wait(lock, [this] { return !supervised_; });
    }
}

void Connection::post(std::function<void()> work, std::chrono::milliseconds gap) {
    delivery_->post(callbacks_queue_, std::move(work), gap);
}

void Connection::lose(const SocketRef& socket) {
    const auto now = services_.clock->seconds();
    bool was_online = false;
    {
        std::lock_guard lock(mutex_);
        if (socket_ != socket) {
            return;  // already replaced or dropped: not this link's loss any more
        }
        socket_.reset();
        ++generation_;
        clear_queue();  // a frame for this connection is never sent on the next one
        was_online = online_.load();
        if (was_online) {
            // Stamped before the link shows offline: whoever sees it offline (the
            // supervisor deciding on a reconnect) sees the time of this loss, not an older
            // attempt's or a later clock's.
            awaiting_since.store(0);
            last_attempt.store(now);
            online_.store(false);
        }
    }
    io_->changed(*this);  // the I/O thread takes the socket out of its poll set
    if (!was_online) {
        return;  // a socket left over from the reply time-out: dropped quietly
    }
    post([self = shared_from_this()] {
        self->services_.callbacks.link_lost(self->ip_, self->port_);
    });
}

Connection::IoWant Connection::io_prepare(SteadyTime now, SteadyTime& deadline) {
    std::lock_guard lock(mutex_);
    if (stop_.load() || !socket_) {
        io_socket_.reset();
        io_pending_.clear();
        io_sending_ = false;
        return {};
    }
    if (socket_ != io_socket_ || generation_ != io_generation_) {
        // A new socket, or the link went offline on the old one: bytes of an earlier
        // connection never complete a frame of this one, and a half-sent frame is dropped.
        io_socket_ = socket_;
        io_generation_ = generation_;
        assembler_.clear();
        io_pending_.clear();
        io_pending_sent_ = 0;
        io_sending_ = false;
    }
    IoWant want{io_socket_, net::kReadable};
    if (!io_pending_.empty()) {
        const auto give_up = io_pending_since_ + services_.timing.socket_timeout;
        if (now >= give_up) {
            want.send_timed_out = true;
        }
        want.events |= net::kWritable;
        deadline = std::min(deadline, give_up);
    } else if (online_.load() && !queue_.empty() && !caller_sending_) {
        if (now >= send_ready_at_) {
            want.send_now = true;
        } else {
            deadline = std::min(deadline, send_ready_at_);
        }
    }
    return want;
}

void Connection::io_send_timed_out() {
    SocketRef socket = io_socket_;
    if (socket) {
        lose(socket);  // as a blocking send that gave up after the send time-out
    }
}

void Connection::io_service(unsigned got, SteadyTime now, std::span<std::uint8_t> buffer) {
    SocketRef socket;
    {
        std::lock_guard lock(mutex_);
        if (stop_.load() || socket_ != io_socket_ || generation_ != io_generation_) {
            return;  // changed since the poll: the next round looks again
        }
        socket = io_socket_;
    }
    if ((got & (net::kReadable | net::kHangup | net::kError)) != 0) {
        const auto r = socket->recv(buffer);
        if (r.count > 0) {
            reassemble(buffer.first(r.count));
        } else if (r.error != net::NetError::would_block && r.error != net::NetError::interrupted) {
            // End of stream or a failed read: the connection is gone either way, and
            // nothing read before it is handed on.
            lose(socket);
            return;
        }
    }
    if ((got & net::kWritable) != 0) {
        send_one(socket, now);
    }
}

void Connection::reassemble(std::span<const std::uint8_t> chunk) {
    assembler_.append(chunk);
    std::chrono::milliseconds gap{0};
    for (;;) {
        const auto cut = assembler_.next();
        if (cut.kind == frame::FrameAssembler::Kind::need_more) {
            return;
        }
        awaiting_since.store(0);  // the controller answered, if with a broken frame
        if (cut.kind != frame::FrameAssembler::Kind::frame) {
            continue;
        }
        const auto parsed = frame::parse_frame(cut.bytes);
        if (!parsed) {
            continue;
        }
        if (!frame::is_report(parsed->cmd)) {
            last_reply.store(services_.clock->seconds());
        }
        frames_received.fetch_add(1, std::memory_order_relaxed);
        services_.counters.frames_received.fetch_add(1, std::memory_order_relaxed);
        std::vector<std::uint8_t> bytes(cut.bytes.begin(), cut.bytes.end());
        // Frames cut from one read reach the host 5 ms apart, as controllers' hosts expect.
        post([self = shared_from_this(),
              bytes = std::move(bytes)] { dispatch_frame(self->services_, *self, bytes); },
             gap);
        gap = services_.timing.frame_gap;
    }
}

void Connection::send_one(const SocketRef& socket, SteadyTime now) {
    if (io_pending_.empty()) {
        std::lock_guard lock(mutex_);
        if (!online_.load() || queue_.empty() || caller_sending_ || generation_ != io_generation_) {
            return;
        }
        io_pending_ = std::move(queue_.front());
        queue_.pop_front();
        io_pending_sent_ = 0;
        io_pending_since_ = front_started_.value_or(now);
        front_started_.reset();
        io_sending_ = true;
    }
    while (io_pending_sent_ < io_pending_.size()) {
        const auto r =
            socket->send(std::span<const std::uint8_t>(io_pending_).subspan(io_pending_sent_));
        if (r.count > 0) {
            io_pending_sent_ += r.count;  // a partial send carries on with the rest
            continue;
        }
        if (r.error == net::NetError::would_block || r.error == net::NetError::interrupted) {
            return;  // the rest goes when the socket is writable again
        }
        lose(socket);
        return;
    }
    io_pending_.clear();
    chunks_sent.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard lock(mutex_);
    io_sending_ = false;
    send_ready_at_ = now + services_.timing.send_gap;
}

}  // namespace zorvik::access
