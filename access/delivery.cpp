#include "delivery.h"

#include <algorithm>

namespace zorvik::access {

Delivery::Delivery(ThreadCount& threads) : threads_(threads) {}

Delivery::~Delivery() { stop(); }

bool Delivery::start(std::size_t workers) {
    auto self = shared_from_this();
    for (std::size_t i = 0; i < workers; ++i) {
        net::Thread thread;
        threads_.add();
        if (!thread.start(
                [self] {
                    self->run();
                    self->threads_.done();
                },
                kWorkerStack)) {
            threads_.done();
            stop();
            return false;
        }
        workers_.push_back(std::move(thread));
    }
    return true;
}

void Delivery::stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        for (const auto& queue : ready_) {
            queue->items_.clear();
            queue->scheduled_ = queue->running_;
        }
        ready_.clear();
    }
    cv_.notify_all();
    for (auto& worker : workers_) {
        worker.join();  // on the worker itself this only detaches
    }
}

bool Delivery::post(const std::shared_ptr<DeliveryQueue>& queue, std::function<void()> work,
                    std::chrono::milliseconds gap) {
    {
        std::lock_guard lock(mutex_);
        if (stop_ || queue->forgotten_) {
            return false;
        }
        queue->items_.push_back({std::move(work), gap});
        ++posted_;
        if (queue->scheduled_) {
            return true;  // runs after the link's earlier work
        }
        queue->scheduled_ = true;
        queue->not_before_ = queue->last_done_ + gap;
        ready_.push_back(queue);
    }
    cv_.notify_one();
    return true;
}

void Delivery::forget(DeliveryQueue& queue) {
    std::unique_lock lock(mutex_);
    queue.forgotten_ = true;
    queue.items_.clear();
    const auto it = std::find_if(ready_.begin(), ready_.end(),
                                 [&](const auto& q) { return q.get() == &queue; });
    if (it != ready_.end()) {
        ready_.erase(it);
        queue.scheduled_ = queue.running_;
    }
    const auto me = std::this_thread::get_id();
    done_.wait(lock, [&] { return !queue.running_ || queue.runner_ == me; });
}

std::uint64_t Delivery::posted() const {
    std::lock_guard lock(mutex_);
    return posted_;
}

std::uint64_t Delivery::completed() const {
    std::lock_guard lock(mutex_);
    return completed_;
}

std::shared_ptr<DeliveryQueue> Delivery::take_ready(DeliveryQueue::Clock::time_point now,
                                                    DeliveryQueue::Clock::time_point& next_due) {
    next_due = DeliveryQueue::Clock::time_point::max();
    for (auto it = ready_.begin(); it != ready_.end(); ++it) {
        if ((*it)->not_before_ <= now) {
            auto queue = std::move(*it);
            ready_.erase(it);
            return queue;
        }
        next_due = std::min(next_due, (*it)->not_before_);
    }
    return nullptr;
}

void Delivery::run() {
    const auto me = std::this_thread::get_id();
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stop_) {
            return;
        }
        auto next_due = DeliveryQueue::Clock::time_point::max();
        auto queue = take_ready(DeliveryQueue::Clock::now(), next_due);
        if (!queue) {
            if (next_due == DeliveryQueue::Clock::time_point::max()) {
                cv_.wait(lock);
            } else {
                cv_.wait_until(lock, next_due);
            }
            continue;
        }
        auto item = std::move(queue->items_.front());
        queue->items_.pop_front();
        queue->running_ = true;
        queue->runner_ = me;
        lock.unlock();
        try {
            item.work();
        } catch (...) {
            // Out of memory for one item: that item is lost, the link is not.
        }
        item.work = nullptr;  // what it held goes before the lock is taken again
        lock.lock();
        ++completed_;
        queue->running_ = false;
        queue->runner_ = {};
        queue->last_done_ = DeliveryQueue::Clock::now();
        if (!queue->items_.empty() && !queue->forgotten_ && !stop_) {
            // One item per turn: back to the tail, behind every other ready link.
            queue->not_before_ = queue->last_done_ + queue->items_.front().gap;
            ready_.push_back(std::move(queue));
            cv_.notify_one();
        } else {
            queue->scheduled_ = false;
        }
        done_.notify_all();  // a forget() may wait for this item
    }
}

}  // namespace zorvik::access
