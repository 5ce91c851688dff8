// Link failures that set upload reports after it has returned. The engine keeps them here,
// under a lock of its own, and posts the owner window only a wake-up message that owns
// nothing (UM_FAILEDCONNECT_POSTED); the window's handler takes them all. A window that
// goes before its wake-up is dispatched therefore loses nothing: the notices wait here for
// the next owner (set_owner wakes it) or go with the engine.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tarnet {

struct PostedNotice {
    std::string server;
    std::int16_t port = 0;
};

class PostedNotices {
  public:
    void push(PostedNotice notice);
    // Every waiting notice, oldest first; none wait afterwards.
    std::vector<PostedNotice> take_all();
    std::size_t size() const;
    void clear();

  private:
    mutable std::mutex lock_;
    std::vector<PostedNotice> notices_;
};

}  // namespace tarnet
