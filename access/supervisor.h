// The library's one supervisor thread: it declares links lost when a controller stops
// answering, keeps idle links alive with the time command, and reconnects lost links.
//
// Rules, in whole clock seconds and strict:
//  - offline, more than 30 s since lastAttempt: one connection attempt; success raises
//    ConnCallback(1), failure sets lastAttempt to now;
//  - online, a frame queued more than 8 s ago and nothing came back since: DisConnCallback,
//    the link goes offline (its socket is left to the next attempt);
//  - online (or just declared lost), more than 20 s since the last reply frame: the time
//    command, waited for up to 500 ms; lastReply is set to now whatever the outcome.
//
// The thread does not poll: it runs a pass whenever the clock's second turns (or a
// hand-moved clock jumps), and once more at once after a pass that declared a link lost,
// so its reconnect is not held back. The time commands due in one pass go out eight at a
// time: each waits for its own answer, as one at a time would, but silent controllers
// hold up only their own slot, and a thousand idle links do not all send at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "connection_table.h"
#include "net/sync.h"
#include "net/thread.h"

namespace zorvik::access {

class Library;

// Shared: the thread holds its own reference, so a supervisor told to stop from one of
// its own callbacks (the host disconnecting everything from ConnCallback) finishes that
// pass safely and ends on its own.
class Supervisor : public std::enable_shared_from_this<Supervisor> {
  public:
    explicit Supervisor(Library& library);
    ~Supervisor();

    bool start();
    // Ends the thread and waits for it (on the thread itself it only tells it to end).
    void stop();
    // Makes the thread run a pass now.
    void wake();

    // True on the supervisor thread of any library.
    static bool on_supervisor_thread();

    // The clock second at which the last finished pass began (-1 before the first), so
    // a test knows when a pass has seen the time it set.
    std::int64_t last_pass_second() const { return last_pass_second_.load(); }

  private:
    void run();
    bool pass();  // true when another pass should follow at once
    void reconnect(const ConnectionTable::Ref& link);
    bool time_out(const ConnectionTable::Ref& link);
    void keep_alive(const std::vector<ConnectionTable::Ref>& links);

    Library& library_;
    net::Mutex mutex_;
    net::CondVar cv_;
    bool stop_ = false;
    bool woken_ = false;
    std::atomic<std::int64_t> last_pass_second_{-1};
    net::Thread thread_;
};

}  // namespace zorvik::access
