// WaitEvent without window messages: a flag under a mutex and a condition variable.
#include <condition_variable>
#include <mutex>

#include "wait_event.h"

namespace zorvik::access {

MessagePump::~MessagePump() = default;

struct WaitEvent::State {
    mutable std::mutex mutex;
    std::condition_variable cv;
    bool set = false;
};

WaitEvent::WaitEvent() : state_(std::make_unique<State>()) {}
WaitEvent::~WaitEvent() = default;

void WaitEvent::set() {
    std::lock_guard lock(state_->mutex);
    state_->set = true;
    state_->cv.notify_all();
}

void WaitEvent::reset() {
    std::lock_guard lock(state_->mutex);
    state_->set = false;
}

bool WaitEvent::is_set() const {
    std::lock_guard lock(state_->mutex);
    return state_->set;
}

bool WaitEvent::wait_for(std::chrono::milliseconds timeout, MessagePump*) {
    std::unique_lock lock(state_->mutex);
    return state_->cv.wait_for(lock, timeout, [this] { return state_->set; });
}

}  // namespace zorvik::access
