#include "ui/leaf_mailbox.h"

namespace porvex::ui {

void TLeafMailbox::leaves_changed(std::span<const LeafChange> changes) {
    if (changes.empty()) {
        return;
    }
    bool post = false;
    {
        std::lock_guard lock(lock_);
        waiting_.insert(waiting_.end(), changes.begin(), changes.end());
        post = !posted_;
        posted_ = true;
    }
    if (post && !PostMessageW(window_, message_, 0, 0)) {
        // The window is gone (or its queue is full): let the next change try again.
        std::lock_guard lock(lock_);
        posted_ = false;
    }
}

std::vector<LeafChange> TLeafMailbox::Take() {
    std::lock_guard lock(lock_);
    posted_ = false;
    return std::exchange(waiting_, {});
}

}  // namespace porvex::ui
