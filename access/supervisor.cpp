#include "supervisor.h"

#include "connection.h"
#include "frame/frame.h"
#include "library.h"

namespace zorvik::access {
namespace {

constexpr std::int64_t kReplyTimeout = 8;  // seconds, strict: lost after 9
constexpr std::int64_t kKeepAliveAfter = 20;
constexpr std::int64_t kReconnectAfter = 30;
constexpr std::chrono::milliseconds kKeepAliveWait{500};

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
        library_.services_.callbacks.link_up(link->ip(), link->port(), true);
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
    if (lost) {
        library_.services_.callbacks.link_lost(link->ip(), link->port());
    }
    link->end_supervision();
    return lost;
}

void Supervisor::keep_alive(const std::vector<ConnectionTable::Ref>& links) {
    const Clock& clock = library_.clock();
    auto& replies = library_.services_.replies;
    auto event = std::make_shared<WaitEvent>();
    const std::uint32_t start = clock.ticks();
    std::vector<ReplyWaitList::Handle> waits;
    waits.reserve(links.size());
    for (const auto& link : links) {
        const std::uint16_t ap_code = library_.next_ap_code();
        const auto payload = frame::time_payload(clock.local_time());
        auto wait = replies.add(link.get(), ap_code, clock.ticks(), event);
        library_.send_frame(*link, frame::kCmdSetTime, ap_code, library_.psw_of_own_commands(),
                            payload);
        waits.push_back(std::move(wait));
    }
    // Every answer wakes this wait; looking on from the first unanswered one keeps a pass
    // over a thousand links linear.
    std::size_t unanswered = 0;
    wait_until(*event, clock, start, kKeepAliveWait, library_.stopped_, [&] {
        while (unanswered < waits.size() && replies.answered(waits[unanswered])) {
            ++unanswered;
        }
        return unanswered == waits.size();
    });
    for (const auto& w : waits) {
        replies.remove(w);
    }
    const auto now = clock.seconds();
    for (const auto& link : links) {
        link->last_reply.store(now);
    }
}

}  // namespace zorvik::access
