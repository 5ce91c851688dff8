#include "supervisor.h"

#include <algorithm>

#include "connection.h"
#include "frame/frame.h"
#include "library.h"

namespace zorvik::access {
namespace {

constexpr std::int64_t kReplyTimeout = 8;  // seconds, strict: lost after 9
constexpr std::int64_t kKeepAliveAfter = 20;
constexpr std::int64_t kReconnectAfter = 30;
constexpr std::chrono::milliseconds kKeepAliveWait{500};
// Time commands in flight at once. Each waits for its own answer (500 ms at most), as one
// at a time would, but a silent controller holds up only its slot, and a thousand idle
// links do not all send in the same instant.
constexpr std::size_t kKeepAliveWindow = 8;

thread_local bool this_is_supervisor = false;

}  // namespace

Supervisor::Supervisor(Library& library) : library_(library) {}

Supervisor::~Supervisor() { stop(); }

bool Supervisor::on_supervisor_thread() { return this_is_supervisor; }

bool Supervisor::start() {
    auto self = shared_from_this();
    auto& threads = library_.services_.threads;
    threads.add();
    if (!thread_.start([self, &threads] {
            this_is_supervisor = true;
            self->run();
            threads.done();
        })) {
        threads.done();
        return false;
    }
    return true;
}

void Supervisor::stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
}

void Supervisor::wake() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    cv_.notify_all();
}

void Supervisor::run() {
    const Clock& clock = library_.clock();
    for (;;) {
        bool again = false;
        const auto began = clock.seconds();
        try {
            again = pass();
        } catch (...) {
            // Out of memory in one pass: the next one tries again.
        }
        last_pass_second_.store(began);
        std::unique_lock lock(mutex_);
        if (!again && !stop_ && !woken_) {
            const auto wait = clock.real_wait_until_second(clock.seconds() + 1);
            cv_.wait_for(lock, wait, [this] { return stop_ || woken_; });
        }
        woken_ = false;
        if (stop_) {
            return;
        }
    }
}

bool Supervisor::pass() {
    const Clock& clock = library_.clock();
    bool again = false;
    std::vector<ConnectionTable::Ref> idle;
    for (const auto& link : library_.table_.snapshot()) {
        {
            std::lock_guard lock(mutex_);
            if (stop_) {
                return false;
            }
        }
        if (link->closing.load()) {
            continue;
        }
        if (!link->online()) {
            if (clock.seconds() - link->last_attempt.load() > kReconnectAfter) {
                reconnect(link);
            }
            continue;
        }
        const auto awaiting = link->awaiting_since.load();
        if (awaiting != 0 && clock.seconds() - awaiting > kReplyTimeout && time_out(link)) {
            again = true;
        }
        const auto last_reply = link->last_reply.load();
        if (last_reply != 0 && clock.seconds() - last_reply > kKeepAliveAfter) {
            idle.push_back(link);
        }
    }
    if (!idle.empty()) {
        keep_alive(idle);
    }
    return again;
}

void Supervisor::reconnect(const ConnectionTable::Ref& link) {
    if (!link->begin_supervision()) {
        return;
    }
    if (link->attempt_connection() && link->go_online(true)) {
        link->report_reconnected();
    } else if (!link->stopping()) {
        link->last_attempt.store(library_.clock().seconds());
    }
    link->end_supervision();
}

bool Supervisor::time_out(const ConnectionTable::Ref& link) {
    if (!link->begin_supervision()) {
        return false;
    }
    const bool lost = link->declare_silent();
    link->end_supervision();
    return lost;
}

void Supervisor::keep_alive(const std::vector<ConnectionTable::Ref>& links) {
    const Clock& clock = library_.clock();
    auto& replies = library_.services_.replies;
    auto event = std::make_shared<WaitEvent>();
    struct InFlight {
        ConnectionTable::Ref link;
        ReplyWaitList::Handle wait;
        std::uint32_t sent = 0;
    };
    std::vector<InFlight> flying;
    std::size_t next = 0;
    auto finish = [&](const InFlight& f) {
        replies.remove(f.wait);
        f.link->last_reply.store(clock.seconds());  // whatever the outcome
    };
    for (;;) {
        event->reset();
        while (flying.size() < kKeepAliveWindow && next < links.size()) {
            const auto& link = links[next++];
            const std::uint16_t ap_code = library_.next_ap_code();
            const auto payload = frame::time_payload(clock.local_time());
            InFlight f{link, replies.add(link.get(), ap_code, clock.ticks(), event), clock.ticks()};
            if (library_.send_frame(*link, frame::kCmdSetTime, ap_code,
                                    library_.psw_of_own_commands(), payload)) {
                flying.push_back(std::move(f));
            } else {
                finish(f);  // the link went offline meanwhile: nothing to wait for
            }
        }
        if (flying.empty()) {
            return;
        }
        if (library_.stopped_.load()) {
            for (const auto& f : flying) {
                replies.remove(f.wait);
            }
            return;
        }
        const std::uint32_t now = clock.ticks();
        auto soonest = kKeepAliveWait;
        bool finished = false;
        for (auto it = flying.begin(); it != flying.end();) {
            const std::chrono::milliseconds age(now - it->sent);
            if (replies.answered(it->wait) || age >= kKeepAliveWait) {
                finish(*it);
                it = flying.erase(it);
                finished = true;
            } else {
                soonest = std::min(soonest, kKeepAliveWait - age);
                ++it;
            }
        }
        if (!finished) {
            event->wait_for(clock.real_wait_for(soonest));
        }
    }
}

}  // namespace zorvik::access
