#include "connection.h"

#include <memory>

#include "frame_dispatch.h"

namespace zorvik::access {

Connection::Connection(LinkServices& services, std::string ip, int port)
    : services_(services), ip_(std::move(ip)), port_(port) {
    const auto now = services_.clock->seconds();
    last_attempt.store(now);
    last_reply.store(now);
}

Connection::~Connection() {
    // Normally stop() has run; this only covers a connection dropped before its start.
    stop(false);
}

bool Connection::start() {
    auto waker = net::Waker::create();
    if (!waker) {
        return false;
    }
    waker_ = std::move(*waker);
    auto self = shared_from_this();
    services_.threads.add();
    if (!receive_thread_.start([self] {
            self->receive_loop();
            self->services_.threads.done();
        })) {
        services_.threads.done();
        return false;
    }
    services_.threads.add();
    if (!send_thread_.start([self] {
            self->send_loop();
            self->services_.threads.done();
        })) {
        services_.threads.done();
        stop(false);
        return false;
    }
    return true;
}

bool Connection::attempt_connection() {
    std::lock_guard attempt(attempt_mutex_);
    SocketRef old;
    {
        std::lock_guard lock(mutex_);
        old = std::move(socket_);
        ++generation_;
    }
    if (old) {
        net::shutdown_both(*old);  // ends a send still blocked on it
        waker_.wake();             // the receive thread lets go of it
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
    auto fresh = std::make_shared<net::Socket>(std::move(s));
    {
        std::lock_guard lock(mutex_);
        if (stop_.load()) {
            return false;
        }
        socket_ = std::move(fresh);
        ++generation_;
    }
    cv_.notify_all();
    waker_.wake();
    return true;
}

bool Connection::go_online(bool reconnect) {
    const auto now = services_.clock->seconds();
    {
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
    }
    cv_.notify_all();
    return true;
}

bool Connection::declare_silent() {
    bool was_online = false;
    {
        std::lock_guard lock(mutex_);
        was_online = online_.exchange(false);
    }
    discard_rx_.store(true);
    return was_online;
}

bool Connection::enqueue(std::vector<std::uint8_t> bytes) {
    {
        std::lock_guard lock(mutex_);
        if (stop_.load()) {
            return false;
        }
        queue_.push_back(std::move(bytes));
    }
    cv_.notify_all();
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
    cv_.notify_all();
}

void Connection::stop(bool on_supervisor_thread) {
    SocketRef old;
    {
        std::unique_lock lock(mutex_);
        stop_.store(true);
        old = std::move(socket_);
        ++generation_;
        online_.store(false);
        queue_.clear();  // frames still queued are never sent
    }
    cv_.notify_all();
    waker_.wake();
    if (old) {
        net::shutdown_both(*old);
        old.reset();
    }
    receive_thread_.join();  // on the thread itself this only detaches
    send_thread_.join();
    if (!on_supervisor_thread) {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return !supervised_; });
    }
}

void Connection::pause(std::chrono::milliseconds how_long) {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, how_long, [this] { return stop_.load(); });
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
        was_online = online_.exchange(false);
    }
    cv_.notify_all();
    waker_.wake();
    discard_rx_.store(true);
    if (!was_online) {
        return;  // a socket left over from the reply time-out: dropped quietly
    }
    awaiting_since.store(0);
    last_attempt.store(services_.clock->seconds());
    services_.callbacks.link_lost(ip_, port_);
}

void Connection::receive_loop() {
    // Default-initialised, so only the pages a read touches become resident.
    const std::size_t size = services_.timing.receive_buffer;
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size]);
    SocketRef socket;
    std::uint64_t generation = 0;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            cv_.wait(lock, [this] { return stop_.load() || socket_ != nullptr; });
            if (stop_.load()) {
                return;
            }
            if (socket != socket_ || generation != generation_) {
                socket = socket_;
                generation = generation_;
                // Bytes of an earlier connection never mix with this one's.
                assembler_.clear();
                discard_rx_.store(false);
            }
        }
        net::PollItem items[2] = {{socket->native(), net::kReadable, 0},
                                  {waker_.poll_socket(), net::kReadable, 0}};
        const auto ready = net::poll_sockets(items, -1);
        if (items[1].got != 0) {
            waker_.drain();
        }
        if (stop_.load()) {
            return;
        }
        if (ready && items[0].got == 0) {
            continue;  // woken: look at the current socket again
        }
        {
            std::lock_guard lock(mutex_);
            if (generation != generation_) {
                continue;
            }
        }
        net::IoResult got{};
        if (ready) {
            got = socket->recv({buffer.get(), size});
        } else {
            got.error = ready.error();
        }
        if (stop_.load()) {
            return;
        }
        if (got.count > 0) {
            reassemble({buffer.get(), got.count});
            continue;
        }
        if (got.error == net::NetError::would_block || got.error == net::NetError::interrupted) {
            continue;
        }
        // End of stream or a failed read: the connection is gone either way, and nothing
        // read before it is handed on.
        lose(socket);
        socket.reset();
    }
}

void Connection::reassemble(std::span<const std::uint8_t> chunk) {
    if (discard_rx_.exchange(false)) {
        assembler_.clear();
    }
    assembler_.append(chunk);
    bool delivered = false;
    for (;;) {
        const auto cut = assembler_.next();
        if (cut.kind == frame::FrameAssembler::Kind::need_more) {
            return;
        }
        if (cut.kind == frame::FrameAssembler::Kind::frame) {
            if (delivered) {
                pause(services_.timing.frame_gap);  // controllers' hosts expect the spacing
            }
            if (stop_.load()) {
                return;
            }
            awaiting_since.store(0);
            try {
                dispatch_frame(services_, *this, cut.bytes);
            } catch (...) {
                // Out of memory for one frame's text: that frame is lost, the link is not.
            }
            delivered = true;
        } else {
            awaiting_since.store(0);  // the controller answered, if with a broken frame
        }
        if (stop_.load()) {
            return;
        }
        if (discard_rx_.exchange(false)) {
            assembler_.clear();
            return;
        }
    }
}

void Connection::send_loop() {
    for (;;) {
        SocketRef socket;
        std::vector<std::uint8_t> chunk;
        {
            std::unique_lock lock(mutex_);
            cv_.wait(lock, [this] {
                return stop_.load() || (online_.load() && socket_ && !queue_.empty());
            });
            if (stop_.load()) {
                return;
            }
            socket = socket_;
            chunk = std::move(queue_.front());
            queue_.pop_front();
        }
        std::size_t sent = 0;
        net::IoResult r{};
        while (sent < chunk.size()) {
            r = socket->send(std::span<const std::uint8_t>(chunk).subspan(sent));
            if (!r.ok() || r.count == 0) {
                break;
            }
            sent += r.count;  // a partial send carries on with the rest of the chunk
        }
        if (sent < chunk.size()) {
            {
                // Not delivered whole: it goes first once the link is up again.
                std::lock_guard lock(mutex_);
                if (!stop_.load()) {
                    queue_.push_front(std::move(chunk));
                }
            }
            lose(socket);
            continue;
        }
        pause(services_.timing.send_gap);
    }
}

}  // namespace zorvik::access
