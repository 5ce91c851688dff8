// The host's end of one controller connection, for tests: raw bytes and whole frames
// over a real loopback socket, every read bounded by a time-out.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "frame/assembler.h"
#include "net/socket.h"

namespace ctlsim::testing {

using Bytes = std::vector<std::uint8_t>;

class HostLink {
  public:
    explicit HostLink(std::uint16_t port) {
        auto s = zorvik::net::connect_tcp("127.0.0.1", port, std::chrono::seconds(5));
        if (!s) {
            throw std::runtime_error(std::string("connect: ") + zorvik::net::to_string(s.error()));
        }
        s->set_nodelay(true);
        socket_ = std::move(*s);
    }

    void send(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const auto r = socket_.send({bytes.data() + done, bytes.size() - done});
            if (r.count == 0) {
                throw std::runtime_error("send failed");
            }
            done += r.count;
        }
    }

    // One recv after waiting up to timeout; the bytes, empty on time-out. end_ and
    // error_ tell whether the connection ended.
    Bytes read_some(std::chrono::milliseconds timeout) {
        zorvik::net::PollItem item{socket_.native(), zorvik::net::kReadable, 0};
        (void)zorvik::net::poll_sockets({&item, 1}, static_cast<int>(timeout.count()));
        if (item.got == 0) {
            return {};
        }
        Bytes buffer(65536);
        const auto r = socket_.recv(buffer);
        if (r.count == 0 && r.error != zorvik::net::NetError::would_block &&
            r.error != zorvik::net::NetError::interrupted) {
            error_ = r.error;
        }
        buffer.resize(r.count);
        return buffer;
    }

    // Exactly n bytes (fewer when the time-out passes or the connection ends).
    Bytes read_exact(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (pending_.size() < n && ended() == false) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            const auto got = read_some(left);
            pending_.insert(pending_.end(), got.begin(), got.end());
        }
        const std::size_t take = std::min(n, pending_.size());
        Bytes out(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(take));
        return out;
    }

    // The next whole frame (stray bytes and upload acknowledgements are skipped).
    std::optional<Bytes> read_frame(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (!pending_.empty()) {
                assembler_.append(pending_);
                pending_.clear();
            }
            for (auto cut = assembler_.next();
                 cut.kind != zorvik::frame::FrameAssembler::Kind::need_more;
                 cut = assembler_.next()) {
                if (cut.kind == zorvik::frame::FrameAssembler::Kind::frame) {
                    return Bytes(cut.bytes.begin(), cut.bytes.end());
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || ended()) {
                return std::nullopt;
            }
            pending_ = read_some(left);
        }
    }

    // True when the peer ended the connection within timeout (reading and dropping data).
    bool ends_within(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!ended()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return false;
            }
            read_some(left);
        }
        return true;
    }

    bool ended() const { return error_ != zorvik::net::NetError::none; }
    zorvik::net::NetError end_reason() const { return error_; }
    std::uint64_t acks_seen() const { return assembler_.acks_seen(); }

  private:
    zorvik::net::Socket socket_;
    Bytes pending_;
    zorvik::frame::FrameAssembler assembler_;
    zorvik::net::NetError error_ = zorvik::net::NetError::none;
};

}  // namespace ctlsim::testing
