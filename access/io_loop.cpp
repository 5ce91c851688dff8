#include "io_loop.h"

#include <algorithm>
#include <chrono>

#include "connection.h"

namespace zorvik::access {

IoLoop::IoLoop(ThreadCount& threads, std::size_t receive_buffer)
    : threads_(threads), receive_buffer_(receive_buffer) {}

IoLoop::~IoLoop() { stop(); }

bool IoLoop::start() {
    auto waker = net::Waker::create();
    if (!waker) {
        return false;
    }
    waker_ = std::move(*waker);
    auto self = shared_from_this();
    threads_.add();
    if (!thread_.start(
            [self] {
                self->run();
                self->threads_.done();
            },
            kStack)) {
        threads_.done();
        return false;
    }
    return true;
}

void IoLoop::stop() {
    stop_.store(true);
    wake();
    thread_.join();
    std::lock_guard lock(mutex_);
    links_.clear();
    ++version_;
}

void IoLoop::add(const std::shared_ptr<Connection>& link) {
    {
        std::lock_guard lock(mutex_);
        links_.push_back(link);
        ++version_;
    }
    wake();
}

void IoLoop::remove(const Connection& link) {
    {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(links_.begin(), links_.end(),
                                     [&](const auto& l) { return l.get() == &link; });
        if (it != links_.end()) {
            links_.erase(it);
            ++version_;
        }
    }
    wake();
}

void IoLoop::wake() noexcept { waker_.wake(); }

void IoLoop::run() {
    using SteadyClock = std::chrono::steady_clock;
    // Default-initialised, so only the pages a read touches become resident.
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[receive_buffer_]);
    std::vector<std::shared_ptr<Connection>> links;
    std::uint64_t seen = ~std::uint64_t{0};
    std::vector<net::PollItem> items;
    std::vector<Connection*> owners;
    std::vector<Connection*> timed_out;
    for (;;) {
        if (stop_.load()) {
            return;
        }
        {
            std::lock_guard lock(mutex_);
            if (version_ != seen) {
                links = links_;
                seen = version_;
            }
        }
        const auto now = SteadyClock::now();
        auto deadline = SteadyClock::time_point::max();
        items.clear();
        owners.clear();
        timed_out.clear();
        items.push_back({waker_.poll_socket(), net::kReadable, 0});
        for (const auto& link : links) {
            auto want = link->io_prepare(now, deadline);
            if (want.send_now) {
                // A socket with nothing queued in it takes a chunk at once: sending now
                // saves a round of polling for writable.
                link->io_service(net::kWritable, now, {buffer.get(), receive_buffer_});
                want = link->io_prepare(now, deadline);
            }
            if (want.send_timed_out) {
                timed_out.push_back(link.get());
            } else if (want.socket != net::kInvalidSocket) {
                items.push_back({want.socket, want.events, 0});
                owners.push_back(link.get());
            }
        }
        for (Connection* link : timed_out) {
            link->io_send_timed_out();
        }
        if (!timed_out.empty()) {
            continue;  // look at those links again before polling them
        }
        int timeout_ms = -1;
        if (deadline != SteadyClock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
            timeout_ms =
                static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
        }
        const auto ready = net::poll_sockets(items, timeout_ms);
        if (items[0].got != 0) {
            waker_.drain();
        }
        if (stop_.load()) {
            return;
        }
        if (!ready) {
            // The poll itself failed (no memory for it): try again shortly rather than spin.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        const auto after = SteadyClock::now();
        for (std::size_t i = 1; i < items.size(); ++i) {
            if (items[i].got != 0) {
                owners[i - 1]->io_service(items[i].got, after, {buffer.get(), receive_buffer_});
            }
        }
    }
}

}  // namespace zorvik::access
