#include "ctlsim_control.h"

#include <stdexcept>

namespace porvex::bench {

namespace net = zorvik::net;

CtlsimControl::CtlsimControl(std::uint16_t control_port) {
    auto socket = net::connect_tcp("127.0.0.1", control_port, std::chrono::seconds(10));
    if (!socket) {
        throw std::runtime_error(std::string("cannot connect to ctlsim's control port: ") +
                                 net::to_string(socket.error()));
    }
    socket->set_nodelay(true);
    socket_ = std::move(*socket);
}

std::string CtlsimControl::command(std::string_view line, std::chrono::milliseconds timeout) {
    std::string out(line);
    out += '\n';
    std::size_t sent = 0;
    while (sent < out.size()) {
        const auto r = socket_.send(
            {reinterpret_cast<const std::uint8_t*>(out.data()) + sent, out.size() - sent});
        if (r.count == 0) {
            throw std::runtime_error(std::string("ctlsim control connection lost: ") +
                                     net::to_string(r.error));
        }
        sent += r.count;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (const auto eol = input_.find('\n'); eol != std::string::npos) {
            std::string reply = input_.substr(0, eol);
            input_.erase(0, eol + 1);
            return reply;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            throw std::runtime_error("ctlsim did not answer '" + std::string(line) + "' in time");
        }
        net::PollItem item{socket_.native(), net::kReadable, 0};
        (void)net::poll_sockets({&item, 1}, static_cast<int>(left.count()));
        if (item.got == 0) {
            continue;
        }
        std::uint8_t chunk[4096];
        const auto got = socket_.recv(chunk);
        if (got.count == 0) {
            if (got.error == net::NetError::would_block ||
                got.error == net::NetError::interrupted) {
                continue;
            }
            throw std::runtime_error(std::string("ctlsim control connection lost: ") +
                                     net::to_string(got.error));
        }
        input_.append(reinterpret_cast<const char*>(chunk), got.count);
    }
}

}  // namespace porvex::bench
