// The process's one engine and the control instances that share it.
//
// The first control created gets the engine and its notices; every later one in the
// process uses the same engine (same links), while notices keep going to the first one
// alive. When that one is destroyed it stops the engine (all links close, as
// DisconnectAll), and the next one alive receives the notices of whatever it connects
// from then on. A later control's destruction leaves the engine alone, so the first one
// keeps working.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>
#include <vector>

#include "engine.h"

namespace tarnet {

class EngineClient {
  public:
    virtual ~EngineClient() = default;
    // Where its notices go now: its in-place window, or its message-only window.
    virtual HWND notice_window() const = 0;
    // DisconnectAll: notices it took over and has not fired yet are dropped.
    virtual void drop_taken_over_notices() = 0;
};

class EngineHost {
  public:
    static EngineHost& instance();

    // Throws std::bad_alloc with nothing changed.
    std::shared_ptr<Engine> attach(EngineClient& client);
    void detach(EngineClient& client);
    void notice_window_changed(EngineClient& client, HWND window);
    // DisconnectAll from any control.
    void stop_all();
    bool owns_notices(const EngineClient& client) const;

  private:
    mutable std::mutex lock_;
    std::vector<EngineClient*> clients_;  // in creation order; the first gets notices
    std::shared_ptr<Engine> engine_;
};

}  // namespace tarnet
