#include "posted_notices.h"

#include <utility>

namespace tarnet {

void PostedNotices::push(PostedNotice notice) {
    std::lock_guard guard(lock_);
    notices_.push_back(std::move(notice));
}

std::vector<PostedNotice> PostedNotices::take_all() {
    std::lock_guard guard(lock_);
    return std::exchange(notices_, {});
}

std::size_t PostedNotices::size() const {
    std::lock_guard guard(lock_);
    return notices_.size();
}

void PostedNotices::clear() {
    std::vector<PostedNotice> dropped;
    std::lock_guard guard(lock_);
    dropped.swap(notices_);
}

}  // namespace tarnet
