// The parts of the socket seam that need no platform header.
#include "socket.h"

namespace zorvik::net {

const char* to_string(NetError error) {
    switch (error) {
        case NetError::none:
            return "no error";
        case NetError::would_block:
            return "would block";
        case NetError::closed:
            return "connection closed by the peer";
        case NetError::reset:
            return "connection reset";
        case NetError::refused:
            return "connection refused";
        case NetError::timed_out:
            return "timed out";
        case NetError::interrupted:
            return "interrupted";
        case NetError::address_in_use:
            return "address already in use";
        case NetError::too_many_sockets:
            return "too many open sockets";
        case NetError::unreachable:
            return "address unreachable";
        case NetError::invalid_argument:
            return "invalid argument";
        case NetError::not_started:
            return "network not started";
        case NetError::other:
            break;
    }
    return "socket error";
}

Result<Waker> Waker::create() {
    auto pair = socket_pair();
    if (!pair) {
        return pair.error();
    }
    Waker waker;
    waker.state_ = std::make_unique<State>();
    waker.state_->reader = std::move(pair->first);
    waker.state_->writer = std::move(pair->second);
    for (Socket* s : {&waker.state_->reader, &waker.state_->writer}) {
        if (auto e = s->set_nonblocking(true); e != NetError::none) {
            return e;
        }
    }
    return waker;
}

NativeSocket Waker::poll_socket() const {
    return state_ ? state_->reader.native() : kInvalidSocket;
}

void Waker::wake() noexcept {
    if (!state_ || state_->pending.exchange(true)) {
        return;  // a byte is already on its way
    }
    const std::uint8_t byte = 1;
    // would_block means the pipe is full of earlier wakes, which is just as good.
    (void)state_->writer.send({&byte, 1});
}

void Waker::drain() noexcept {
    if (!state_) {
        return;
    }
    // Empty the pipe first and only then accept new wakes. The other order loses a wake:
    // a byte sent between clearing the flag and emptying the pipe would be swallowed while
    // the flag stays set, and every later wake would then be skipped.
    std::uint8_t buffer[64];
    while (state_->reader.recv(buffer).count > 0) {
    }
    state_->pending.store(false);
}

}  // namespace zorvik::net
