#include "engine_host.h"

#include <algorithm>

namespace tarnet {

EngineHost& EngineHost::instance() {
    static EngineHost host;
    return host;
}

std::shared_ptr<Engine> EngineHost::attach(EngineClient& client) {
    std::lock_guard guard(lock_);
    // Everything that can fail comes first: a failed attach leaves nothing behind.
    clients_.reserve(clients_.size() + 1);
    if (!engine_) {
        engine_ = Engine::create(client.notice_window());
    }
    clients_.push_back(&client);
    return engine_;
}

void EngineHost::detach(EngineClient& client) {
    std::shared_ptr<Engine> engine;
    EngineClient* next = nullptr;
    bool was_owner = false;
    {
        std::lock_guard guard(lock_);
        auto it = std::find(clients_.begin(), clients_.end(), &client);
        if (it == clients_.end()) {
            return;
        }
        was_owner = it == clients_.begin();
        engine = engine_;
        if (!was_owner) {
            clients_.erase(it);
            return;
        }
    }
    // The owner goes: the engine stops (outside the lock, the stop lets notices through).
    if (engine) {
        engine->stop_all();
    }
    client.drop_taken_over_notices();
    std::lock_guard guard(lock_);
    clients_.erase(std::find(clients_.begin(), clients_.end(), &client));
    if (clients_.empty()) {
        engine_.reset();  // its threads hold their own reference until they have left
        return;
    }
    next = clients_.front();
    engine_->set_owner(next->notice_window());
}

void EngineHost::notice_window_changed(EngineClient& client, HWND window) {
    std::lock_guard guard(lock_);
    if (engine_ && !clients_.empty() && clients_.front() == &client) {
        engine_->set_owner(window);
    }
}

void EngineHost::stop_all() {
    std::shared_ptr<Engine> engine;
    EngineClient* owner = nullptr;
    {
        std::lock_guard guard(lock_);
        engine = engine_;
        owner = clients_.empty() ? nullptr : clients_.front();
    }
    if (engine) {
        engine->stop_all();
    }
    if (owner != nullptr) {
        owner->drop_taken_over_notices();
    }
}

bool EngineHost::owns_notices(const EngineClient& client) const {
    std::lock_guard guard(lock_);
    return !clients_.empty() && clients_.front() == &client;
}

}  // namespace tarnet
