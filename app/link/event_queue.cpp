#include "link/event_queue.h"

namespace porvex {

EventQueue::PushResult EventQueue::push(ReceivedFrame item) {
    PushResult result;
    {
        std::lock_guard lock(mutex_);
        if (stopped_) {
            return result;
        }
        if (items_.size() >= limit_) {
            items_.pop_front();
            ++dropped_;
            result.dropped_oldest = true;
        }
        items_.push_back(std::move(item));
        result.queued = true;
    }
    wake_.notify_one();
    return result;
}

bool EventQueue::wait_take_all(std::vector<ReceivedFrame>& batch) {
    batch.clear();
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return stopped_ || !items_.empty(); });
    if (stopped_) {
        return false;
    }
    batch.reserve(items_.size());
    for (auto& item : items_) {
        batch.push_back(std::move(item));
    }
    items_.clear();
    return true;
}

bool EventQueue::pause(std::chrono::milliseconds pause) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, pause, [&] { return stopped_; });
    return !stopped_;
}

void EventQueue::stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        stopped_flag_ = true;
    }
    wake_.notify_all();
}

bool EventQueue::stopped() const { return stopped_flag_.load(); }

std::size_t EventQueue::size() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

std::uint64_t EventQueue::take_dropped() {
    std::lock_guard lock(mutex_);
    const std::uint64_t n = dropped_;
    dropped_ = 0;
    return n;
}

void EventQueue::clear() {
    std::lock_guard lock(mutex_);
    items_.clear();
}

}  // namespace porvex
