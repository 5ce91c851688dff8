// Hands leaf changes of the door model to the window's thread.
//
// The door model reports changes on whatever thread made them (a library thread, the
// event worker, the main thread). The mailbox only appends them under its own short lock
// and posts one wake-up message to the window while a batch is waiting; it never sends
// (which would block on the window thread) and never calls back into the model.
#pragma once

#include <windows.h>

#include <mutex>
#include <span>
#include <utility>
#include <vector>

#include "doors/leaf_change.h"

namespace porvex::ui {

class TLeafMailbox final : public DoorObserver {
  public:
    TLeafMailbox(HWND window, UINT message) : window_(window), message_(message) {}

    void leaves_changed(std::span<const LeafChange> changes) override;

    // The changes waiting now, oldest first; the next change posts a new wake-up.
    std::vector<LeafChange> Take();

  private:
    const HWND window_;
    const UINT message_;
    std::mutex lock_;
    std::vector<LeafChange> waiting_;
    bool posted_ = false;
};

}  // namespace porvex::ui
