#include "link/status_query_sender.h"

namespace porvex {

void StatusQuerySender::post(std::vector<StatusQuerySend> batch) {
    std::deque<std::vector<StatusQuerySend>> stale;
    {
        std::lock_guard lock(mutex_);
        if (stopped_ || batch.empty()) {
            return;
        }
        stale.swap(batches_);
        batches_.push_back(std::move(batch));
        if (!thread_.joinable()) {
            thread_ = std::thread([this] { run(); });
        }
    }
    wake_.notify_one();
    for (std::vector<StatusQuerySend>& old : stale) {
        stale_(std::move(old));
    }
}

void StatusQuerySender::stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        batches_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void StatusQuerySender::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopped_ || !batches_.empty(); });
        if (stopped_) {
            return;
        }
        std::vector<StatusQuerySend> batch = std::move(batches_.front());
        batches_.pop_front();
        lock.unlock();
        send_(std::move(batch));
        lock.lock();
    }
}

}  // namespace porvex
