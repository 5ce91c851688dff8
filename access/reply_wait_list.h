// Calls waiting for a controller's reply, matched by the reply's ApCode.
//
// Every reply frame (a command code outside the report range) is offered here before it
// may reach DoorCommandRecvCallback. A reply is stored in the first unanswered wait, in
// the order the waits began, whose ApCode equals the reply's in its low 16 bits; a wait
// of the connection the reply came from is preferred, and a wait of another connection
// takes it only when its own connection has none (replies are matched across
// connections, but two calls on two connections that happen to use the same ApCode
// each get their own controller's reply). A reply whose ApCode matches only waits that
// were already answered is a repeat and is absorbed.
//
// After each stored reply, waits older than the purge age (60 s) are dropped from the
// list, so a wait longer than that no longer receives its reply.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "clock.h"
#include "net/sync.h"
#include "wait_event.h"

namespace zorvik::access {

struct Reply {
    std::uint8_t cmd = 0;
    std::uint16_t ap_code = 0;
    std::uint32_t psw = 0;
    std::string hex;  // payload as lower-case hex text
};

class ReplyWaitList {
  public:
    static constexpr std::uint32_t kPurgeAgeMs = 60000;

    struct Pending;
    using Handle = std::shared_ptr<Pending>;

    // Starts a wait: link identifies the connection the request went to, created is the
    // clock's tick count now, and event is set whenever the wait should look again
    // (several waits may share one event).
    Handle add(const void* link, std::uint16_t ap_code, std::uint32_t created,
               std::shared_ptr<WaitEvent> event);
    void remove(const Handle& wait);

    // Offers a reply that came from link; true when a wait took (or absorbed) it.
    bool deliver(const void* link, const Reply& reply, std::uint32_t now);

    // The stored reply, once there is one.
    std::optional<Reply> answer(const Handle& wait) const;
    bool answered(const Handle& wait) const;

    // Sets every wait's event (the library is stopping, or the clock jumped).
    void wake_all();

    std::size_t size() const;

  private:
    mutable net::Mutex mutex_;
    std::vector<Handle> waits_;
};

// Blocks until done() holds, stop is set, or the clock has moved timeout past start.
// True only when done() held. event is reset before each look, so a set that races with
// the look is never lost.
bool wait_until(WaitEvent& event, const Clock& clock, std::uint32_t start,
                std::chrono::milliseconds timeout, const std::atomic<bool>& stop,
                const std::function<bool()>& done, MessagePump* pump = nullptr);

}  // namespace zorvik::access
