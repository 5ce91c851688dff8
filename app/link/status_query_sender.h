// StatusQuerySender: a thread that hands the upkeep tick's status queries to the library,
// so that the thread running the tick does not wait for the sends. In Porvex398 that is
// the main thread, which also serves the OPC clients and delivers events; one tick at
// 1,000 controllers can ask a few hundred doors at half a millisecond a send under Wine.
// A batch is sent as soon as the batch before it is out, in order. At most one batch waits:
// when a tick posts a new one while an older one still waits (the library has been slower
// than the ticks), the older is handed back through `stale` rather than sent after a newer
// tick's; its doors are asked again at the next tick. Batches still waiting when the
// sender stops are dropped (a command is sent now or never, never later).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "doors/leaf_change.h"

namespace porvex {

class StatusQuerySender {
  public:
    using Send = std::function<void(std::vector<StatusQuerySend>)>;

    // `send` runs on the sender's thread; `stale` on the thread that posts, outside the
    // sender's lock.
    StatusQuerySender(Send send, Send stale) : send_(std::move(send)), stale_(std::move(stale)) {}
    ~StatusQuerySender() { stop(); }
    StatusQuerySender(const StatusQuerySender&) = delete;
    StatusQuerySender& operator=(const StatusQuerySender&) = delete;

    // Queues a batch for the thread (started on first use); nothing after stop().
    void post(std::vector<StatusQuerySend> batch);
    // Waits for the batch being sent, drops the rest and ends the thread. Idempotent.
    void stop();

  private:
    void run();

    Send send_;
    Send stale_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::vector<StatusQuerySend>> batches_;
    bool stopped_ = false;
    std::thread thread_;
};

}  // namespace porvex
