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
        queue_.clear();
    }
    if (old) {
        net::shutdown_both(*old);
        io_->wake();  // the I/O thread lets go of it
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
    io_->wake();
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
        queue_.clear();
    }
    io_->wake();
    if (was_online) {
        post([self = shared_from_this()] {
            self->services_.callbacks.link_lost(self->ip_, self->port_);
        });
    }
    return was_online;
}

bool Connection::enqueue(std::vector<std::uint8_t> bytes, bool expects_reply) {
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
        queue_.push_back(std::move(bytes));
    }
    io_->wake();
    return true;
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
        queue_.clear();  // frames still queued are never sent
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
    bool was_online = false;
    {
        std::lock_guard lock(mutex_);
        if (socket_ != socket) {
            return;  // already replaced or dropped: not this link's loss any more
        }
        socket_.reset();
        ++generation_;
        queue_.clear();  // a frame for this connection is never sent on the next one
        was_online = online_.exchange(false);
    }
    if (!was_online) {
        return;  // a socket left over from the reply time-out: dropped quietly
    }
    awaiting_since.store(0);
    last_attempt.store(services_.clock->seconds());
    post([self = shared_from_this()] {
        self->services_.callbacks.link_lost(self->ip_, self->port_);
    });
}

Connection::IoWant Connection::io_prepare(SteadyTime now, SteadyTime& deadline) {
    std::lock_guard lock(mutex_);
    if (stop_.load() || !socket_) {
        io_socket_.reset();
        io_pending_.clear();
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
    }
    IoWant want{io_socket_->native(), net::kReadable, false};
    if (!io_pending_.empty()) {
        const auto give_up = io_pending_since_ + services_.timing.socket_timeout;
        if (now >= give_up) {
            want.send_timed_out = true;
        }
        want.events |= net::kWritable;
        deadline = std::min(deadline, give_up);
    } else if (online_.load() && !queue_.empty()) {
        if (now >= io_send_ready_at_) {
            want.send_now = true;
        } else {
            deadline = std::min(deadline, io_send_ready_at_);
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
        if (!online_.load() || queue_.empty() || generation_ != io_generation_) {
            return;
        }
        io_pending_ = std::move(queue_.front());
        queue_.pop_front();
        io_pending_sent_ = 0;
        io_pending_since_ = now;
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
    io_send_ready_at_ = now + services_.timing.send_gap;
}

}  // namespace zorvik::access
