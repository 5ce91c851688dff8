// A manual-reset event a thread blocks on.
//
// Calls such as Zorvik_SendDataWithRet block their caller for up to seconds. A Windows
// host often calls from its user-interface thread, so while such a call waits it keeps
// that thread's window messages flowing (a MessagePump for the call), one message per
// wake, as the hosts of this library expect; messages handled meanwhile may call the
// library again. Elsewhere a MessagePump does nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

namespace zorvik::access {

// Lives for one blocking call. A quit message (WM_QUIT) seen while pumping belongs to
// the host's own message loop: pumping stops and the destructor posts it again.
class MessagePump {
  public:
    MessagePump() = default;
    ~MessagePump();
    MessagePump(const MessagePump&) = delete;
    MessagePump& operator=(const MessagePump&) = delete;

  private:
    friend class WaitEvent;
    // Only the Windows implementation pumps messages; elsewhere these stay unused.
    [[maybe_unused]] bool quit_seen_ = false;
    [[maybe_unused]] std::uintptr_t quit_code_ = 0;
};

class WaitEvent {
  public:
    WaitEvent();
    ~WaitEvent();
    WaitEvent(const WaitEvent&) = delete;
    WaitEvent& operator=(const WaitEvent&) = delete;

    void set();
    void reset();
    bool is_set() const;

    // Blocks until the event is set or timeout passes; with a pump (Windows), also
    // returns after handling one window message of the calling thread. True when set.
    bool wait_for(std::chrono::milliseconds timeout, MessagePump* pump = nullptr);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zorvik::access
