#include "io_loop.h"

#include <algorithm>
#include <functional>
#include <queue>
#include <thread>
#include <unordered_map>
#include <utility>

#include "connection.h"

namespace zorvik::access {

// The I/O thread's own state: what it registered for each link, the links to ask again in
// the next turn, and the deadlines in time order.
class IoLoop::Turns {
  public:
    using SteadyClock = std::chrono::steady_clock;
    using SteadyTime = SteadyClock::time_point;

    Turns(IoLoop& loop, std::span<std::uint8_t> buffer) : loop_(loop), buffer_(buffer) {}

    // Takes the other threads' news: links added, removed and marked.
    void take_news() {
        std::vector<std::shared_ptr<Connection>> added;
        std::vector<const Connection*> removed;
        {
            std::lock_guard lock(loop_.mutex_);
            added.swap(loop_.added_);
            removed.swap(loop_.removed_);
            look_.insert(look_.end(), loop_.changed_.begin(), loop_.changed_.end());
            loop_.changed_.clear();
        }
        // Added before removed: a link may come and go between two turns.
        for (auto& link : added) {
            const Connection* key = link.get();
            watches_[key].link = std::move(link);
            look_.push_back(key);
        }
        for (const Connection* key : removed) {
            const auto it = watches_.find(key);
            if (it == watches_.end()) {
                continue;
            }
            unregister(it->second);
            // A stopped link lets go of its socket and half-sent chunk here.
            auto deadline = SteadyTime::max();
            (void)it->second.link->io_prepare(SteadyClock::now(), deadline);
            watches_.erase(it);
        }
    }

    // Asks every link that may have changed what it waits for, and brings the poll set in
    // line. Returns the wait's time-out in milliseconds (-1: none).
    int prepare() {
        const auto now = SteadyClock::now();
        while (!deadlines_.empty() && deadlines_.top().first <= now) {
            const auto [when, key] = deadlines_.top();
            deadlines_.pop();
            const auto it = watches_.find(key);
            if (it != watches_.end() && it->second.deadline == when) {
                it->second.deadline = SteadyTime::max();  // used up: the look sets the next
                look_.push_back(key);
            }
        }
        ++turn_;
        std::vector<const Connection*> looking;
        looking.swap(look_);
        for (const Connection* key : looking) {
            const auto it = watches_.find(key);
            if (it != watches_.end() && it->second.turn != turn_) {
                it->second.turn = turn_;
                look(it->second, now);
            }
        }
        loop_.polled_.store(loop_.poller_.size());
        if (!look_.empty()) {
            return 0;  // a link wants another look at once (a send that timed out)
        }
        while (!deadlines_.empty()) {
            const auto& [when, key] = deadlines_.top();
            const auto it = watches_.find(key);
            if (it != watches_.end() && it->second.deadline == when) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - now);
                return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
            }
            deadlines_.pop();  // replaced by a later look, or the link is gone
        }
        return -1;
    }

    // Lets each ready link read once or go on with its half-sent chunk.
    void service(const std::vector<net::Poller::Ready>& ready) {
        const auto now = SteadyClock::now();
        for (const auto& r : ready) {
            if (r.tag == nullptr) {
                loop_.waker_.drain();
                continue;
            }
            const auto* key = static_cast<const Connection*>(r.tag);
            const auto it = watches_.find(key);
            if (it != watches_.end()) {
                it->second.link->io_service(r.got, now, buffer_);
                look_.push_back(key);  // reading or sending may have changed what it waits for
            }
        }
    }

  private:
    struct Watch {
        std::shared_ptr<Connection> link;
        std::shared_ptr<net::Socket> polled;  // in the poll set; held until taken out
        unsigned events = 0;
        SteadyTime deadline = SteadyTime::max();  // the one in deadlines_
        std::uint64_t turn = 0;                   // the last turn it was looked at
    };

    // A failed add (no memory for it) is tried again after this.
    static constexpr std::chrono::milliseconds kRetry{10};

    void look(Watch& w, SteadyTime now) {
        Connection& link = *w.link;
        auto deadline = SteadyTime::max();
        auto want = link.io_prepare(now, deadline);
        if (want.send_now) {
            // A socket with nothing queued in it takes a chunk at once: sending now saves a
            // turn waiting for writable.
            link.io_service(net::kWritable, now, buffer_);
            want = link.io_prepare(now, deadline);
        }
        if (want.send_timed_out) {
            link.io_send_timed_out();
            look_.push_back(&link);
            return;
        }
        if (want.socket != w.polled) {
            unregister(w);
            if (want.socket) {
                if (loop_.poller_.add(want.socket->native(), want.events, &link) ==
                    net::NetError::none) {
                    w.polled = std::move(want.socket);
                    w.events = want.events;
                } else {
                    deadline = std::min(deadline, now + kRetry);
                }
            }
        } else if (w.polled && want.events != w.events) {
            if (loop_.poller_.change(w.polled->native(), want.events, &link) ==
                net::NetError::none) {
                w.events = want.events;
            } else {
                unregister(w);
                deadline = std::min(deadline, now + kRetry);
            }
        }
        if (deadline != w.deadline) {
            w.deadline = deadline;
            if (deadline != SteadyTime::max()) {
                deadlines_.emplace(deadline, &link);
            }
        }
    }

    void unregister(Watch& w) {
        if (w.polled) {
            loop_.poller_.remove(w.polled->native());
            w.polled.reset();  // may close it: only now that it is out of the set
            w.events = 0;
        }
    }

    using Deadline = std::pair<SteadyTime, const Connection*>;

    IoLoop& loop_;
    const std::span<std::uint8_t> buffer_;
    std::unordered_map<const Connection*, Watch> watches_;
    std::vector<const Connection*> look_;
    std::priority_queue<Deadline, std::vector<Deadline>, std::greater<>> deadlines_;
    std::uint64_t turn_ = 0;
};

IoLoop::IoLoop(ThreadCount& threads, std::size_t receive_buffer)
    : threads_(threads), receive_buffer_(receive_buffer) {}

IoLoop::~IoLoop() { stop(); }

bool IoLoop::start() {
    auto waker = net::Waker::create();
    auto poller = net::Poller::create();
    if (!waker || !poller) {
        return false;
    }
    waker_ = std::move(*waker);
    poller_ = std::move(*poller);
    if (poller_.add(waker_.poll_socket(), net::kReadable, nullptr) != net::NetError::none) {
        return false;
    }
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
    added_.clear();
    removed_.clear();
    changed_.clear();
}

void IoLoop::add(const std::shared_ptr<Connection>& link) {
    {
        std::lock_guard lock(mutex_);
        if (stop_.load()) {
            return;  // stopped meanwhile: held here, the link would never be let go
        }
        added_.push_back(link);
    }
    wake();
}

void IoLoop::remove(const Connection& link) {
    {
        std::lock_guard lock(mutex_);
        removed_.push_back(&link);
    }
    wake();
}

void IoLoop::changed(const Connection& link) {
    {
        std::lock_guard lock(mutex_);
        changed_.push_back(&link);
    }
    wake();
}

void IoLoop::wake() noexcept { waker_.wake(); }

void IoLoop::run() {
    // Default-initialised, so only the pages a read touches become resident.
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[receive_buffer_]);
    Turns turns(*this, {buffer.get(), receive_buffer_});
    std::vector<net::Poller::Ready> ready;
    while (!stop_.load()) {
        turns.take_news();
        const int timeout_ms = turns.prepare();
        const auto waited = poller_.wait(ready, timeout_ms);
        if (stop_.load()) {
            return;
        }
        if (!waited) {
            // The wait itself failed (no memory for it): try again shortly rather than spin.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        turns.service(ready);
    }
}

}  // namespace zorvik::access
