// The controllers' side of the loop: accepting, reading, writing and dropping connections.
#include <algorithm>
#include <utility>

#include "simulator.h"

namespace ctlsim {

namespace net = zorvik::net;

std::string Controller::name() const {
    return "ctl " + std::to_string(index_) + " :" + std::to_string(address_.port);
}

void Simulator::on_accept(Controller& c) {
    for (int n = 0; n < kAcceptsPerRound && c.listener.valid(); ++n) {
        auto accepted = net::accept(c.listener);
        if (!accepted) {
            if (accepted.error() != net::NetError::would_block) {
                log_.error(c.name() + ": accept failed: " + net::to_string(accepted.error()));
            }
            return;
        }
        if (!c.connection.valid()) {
            adopt(c, std::move(*accepted));
        } else if (c.second == SecondConnection::takeover) {
            drop(c, "taken over by a new connection", false);
            adopt(c, std::move(*accepted));
        } else {
            ++c.rejected_connections;
            accepted->close();
            log_.info(c.name() + ": second connection closed (one at a time)");
        }
    }
}

void Simulator::adopt(Controller& c, net::Socket socket) {
    if (socket.set_nonblocking(true) != net::NetError::none) {
        log_.error(c.name() + ": cannot make the connection non-blocking");
        return;
    }
    socket.set_nodelay(true);  // each frame, and each piece of a split one, leaves at once
    c.connection = std::move(socket);
    c.outgoing.clear();
    c.queued_bytes = 0;
    c.front_sent = 0;
    c.write_blocked = false;
    c.model.connection_opened();
    ++c.connections;
    log_.info(c.name() + ": connected (connection " + std::to_string(c.connections) + ")");
}

void Simulator::drop(Controller& c, std::string_view why, bool reset) {
    if (!c.connection.valid()) {
        return;
    }
    if (reset) {
        c.connection.close_with_reset();
    } else {
        c.connection.close();
    }
    c.outgoing.clear();
    c.queued_bytes = 0;
    c.front_sent = 0;
    c.write_blocked = false;
    c.model.connection_closed();
    log_.info(c.name() + ": disconnected (" + std::string(why) + ")");
}

void Simulator::on_readable(Controller& c) {
    const auto got = c.connection.recv(read_buffer_);
    if (got.count == 0) {
        if (got.error == net::NetError::would_block || got.error == net::NetError::interrupted) {
            return;
        }
        drop(c,
             got.error == net::NetError::closed ? "closed by the peer" : net::to_string(got.error),
             false);
        return;
    }
    ControllerModel::Output out;
    const auto reaction = c.model.receive({read_buffer_.data(), got.count}, out);
    for (auto& bytes : out) {
        send_reply(c, std::move(bytes));
    }
    if (reaction.close) {
        drop(c, "close-on fault", false);
    }
}

void Simulator::send_reply(Controller& c, Bytes bytes) {
    send_frame(c, std::move(bytes), c.faults.delay);
}

void Simulator::queue(Controller& c, Bytes bytes, Clock::time_point due) {
    c.queued_bytes += bytes.size();
    c.outgoing.push_back({std::move(bytes), due});
}

void Simulator::send_frame(Controller& c, Bytes bytes, Clock::duration delay) {
    if (!c.connection.valid()) {
        return;
    }
    const auto due = Clock::now() + delay;
    if (!c.faults.garbage.empty()) {
        queue(c, std::exchange(c.faults.garbage, {}), due);
    }
    const auto pieces = static_cast<std::size_t>(std::max(1, c.faults.split_pieces));
    if (pieces > 1 && bytes.size() > 1) {
        const std::size_t n = std::min(pieces, bytes.size());
        const std::size_t step = (bytes.size() + n - 1) / n;
        auto when = due;
        for (std::size_t at = 0; at < bytes.size(); at += step) {
            const auto end = std::min(bytes.size(), at + step);
            queue(c,
                  Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(end)),
                  when);
            when += c.faults.split_pause;
        }
    } else {
        queue(c, std::move(bytes), due);
    }
    flush(c);
}

void Simulator::send_raw(Controller& c, Bytes bytes) {
    if (c.connection.valid()) {
        queue(c, std::move(bytes), Clock::now());
        flush(c);
    }
}

void Simulator::flush(Controller& c) {
    if (c.queued_bytes > kMaxQueuedPerConnection) {
        drop(c, "the host does not read: " + std::to_string(c.queued_bytes) + " bytes waiting",
             false);
        return;
    }
    while (c.connection.valid() && !c.outgoing.empty() && !c.write_blocked) {
        auto& front = c.outgoing.front();
        const auto now = Clock::now();
        if (front.due > now) {
            if (!c.flush_timer || *c.flush_timer > front.due) {
                c.flush_timer = front.due;
                Controller* target = &c;
                timers_.emplace(front.due, [this, target] {
                    target->flush_timer.reset();
                    flush(*target);
                });
            }
            return;
        }
        const std::span<const std::uint8_t> rest(front.bytes.data() + c.front_sent,
                                                 front.bytes.size() - c.front_sent);
        const auto sent = c.connection.send(rest);
        c.front_sent += sent.count;
        c.bytes_sent += sent.count;
        if (c.front_sent == front.bytes.size()) {
            c.queued_bytes -= front.bytes.size();
            c.outgoing.pop_front();
            c.front_sent = 0;
            continue;
        }
        if (sent.error == net::NetError::would_block || sent.error == net::NetError::none ||
            sent.error == net::NetError::interrupted) {
            c.write_blocked = sent.error == net::NetError::would_block;
            if (!c.write_blocked && sent.count == 0) {
                return;  // try again on the next round
            }
            continue;
        }
        drop(c, std::string("send failed: ") + net::to_string(sent.error), false);
        return;
    }
}

}  // namespace ctlsim
