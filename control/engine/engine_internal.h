// Pieces the engine's files share: the thread generation, thread roles and Winsock helpers.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

#include "engine.h"

namespace tarnet {

// One start of the two engine threads. Stop all asks a generation to stop; a later start
// makes a new one, so a thread of an old generation that has not left yet (it was parked
// on a notice) never mistakes the new start for its own.
struct Engine::Generation {
    Generation() : stop_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    void request_stop() {
        stop.store(true);
        ::SetEvent(stop_event.get());
    }
    bool stopped() const { return stop.load(); }

    win::UniqueHandle stop_event;
    std::atomic<bool> stop{false};
    win::UniqueHandle poll_thread;
    win::UniqueHandle dispatch_thread;
    win::UniqueHandle supervise_thread;
};

// The role of the calling thread (control for every thread the engine did not start).
ThreadRole current_thread_role();
void set_current_thread_role(ThreadRole role);

// Sends every byte; 0 or the Winsock error (WSAENOTSOCK without a socket).
int send_all(const SharedSocket& socket, std::span<const std::uint8_t> bytes);

}  // namespace tarnet

namespace tarnet {

struct Engine::ThreadStart {
    std::shared_ptr<Engine> engine;
    std::shared_ptr<Generation> generation;
    ThreadRole role = ThreadRole::poll;
    HMODULE module = nullptr;  // pinned: the module stays loaded until the thread ends
};

}  // namespace tarnet
