#include "reply_wait_list.h"

#include <algorithm>

namespace zorvik::access {

struct ReplyWaitList::Pending {
    const void* link = nullptr;
    std::uint16_t ap_code = 0;
    std::uint32_t created = 0;
    std::shared_ptr<WaitEvent> event;
    bool done = false;  // guarded by the list's mutex, like reply
    Reply reply;
};

ReplyWaitList::Handle ReplyWaitList::add(const void* link, std::uint16_t ap_code,
                                         std::uint32_t created, std::shared_ptr<WaitEvent> event) {
    auto wait = std::make_shared<Pending>();
    wait->link = link;
    wait->ap_code = ap_code;
    wait->created = created;
    wait->event = std::move(event);
    std::lock_guard lock(mutex_);
    waits_.push_back(wait);
    return wait;
}

void ReplyWaitList::remove(const Handle& wait) {
    std::lock_guard lock(mutex_);
    std::erase(waits_, wait);
}

bool ReplyWaitList::deliver(const void* link, const Reply& reply, std::uint32_t now) {
    std::shared_ptr<WaitEvent> to_wake;
    bool claimed = false;
    {
        std::lock_guard lock(mutex_);
        Handle own;
        Handle other;
        bool repeat = false;
        for (const auto& w : waits_) {
            if (w->ap_code != reply.ap_code) {
                continue;
            }
            if (w->done) {
                repeat = true;
            } else if (w->link == link) {
                own = w;
                break;
            } else if (!other) {
                other = w;
            }
        }
        const Handle& taker = own ? own : other;
        if (taker) {
            taker->reply = reply;
            taker->done = true;
            to_wake = taker->event;
            claimed = true;
            std::erase_if(waits_,
                          [now](const Handle& w) { return now - w->created > kPurgeAgeMs; });
        } else {
            claimed = repeat;
        }
    }
    if (to_wake) {
        to_wake->set();
    }
    return claimed;
}

std::optional<Reply> ReplyWaitList::answer(const Handle& wait) const {
    std::lock_guard lock(mutex_);
    if (!wait->done) {
        return std::nullopt;
    }
    return wait->reply;
}

bool ReplyWaitList::answered(const Handle& wait) const {
    std::lock_guard lock(mutex_);
    return wait->done;
}

void ReplyWaitList::wake_all() {
    std::vector<std::shared_ptr<WaitEvent>> events;
    {
        std::lock_guard lock(mutex_);
        for (const auto& w : waits_) {
            events.push_back(w->event);
        }
    }
    for (const auto& e : events) {
        e->set();
    }
}

std::size_t ReplyWaitList::size() const {
    std::lock_guard lock(mutex_);
    return waits_.size();
}

bool wait_until(WaitEvent& event, const Clock& clock, std::uint32_t start,
                std::chrono::milliseconds timeout, const std::atomic<bool>& stop,
                const std::function<bool()>& done, MessagePump* pump) {
    for (;;) {
        event.reset();
        if (stop.load()) {
            return false;
        }
        if (done()) {
            return true;
        }
        const std::chrono::milliseconds elapsed(clock.ticks() - start);
        if (elapsed >= timeout) {
            return false;
        }
        event.wait_for(clock.real_wait_for(timeout - elapsed), pump);
    }
}

}  // namespace zorvik::access
