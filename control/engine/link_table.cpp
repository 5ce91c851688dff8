#include "link_table.h"

#include <algorithm>

namespace tarnet {

std::size_t LinkTable::size() const {
    std::lock_guard guard(lock_);
    return links_.size();
}

std::shared_ptr<LinkRecord> LinkTable::at(std::size_t position) const {
    std::lock_guard guard(lock_);
    return position < links_.size() ? links_[position] : nullptr;
}

int LinkTable::find(std::string_view server, std::int16_t port) const {
    std::lock_guard guard(lock_);
    for (std::size_t i = 0; i < links_.size(); ++i) {
        if (links_[i]->server() == server && links_[i]->port() == port) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::shared_ptr<LinkRecord> LinkTable::find_record(std::string_view server,
                                                   std::int16_t port) const {
    std::lock_guard guard(lock_);
    for (const auto& link : links_) {
        if (link->server() == server && link->port() == port) {
            return link;
        }
    }
    return nullptr;
}

int LinkTable::find_server(std::string_view server) const {
    std::lock_guard guard(lock_);
    for (std::size_t i = 0; i < links_.size(); ++i) {
        if (links_[i]->server() == server) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool LinkTable::append(std::shared_ptr<LinkRecord> link) {
    std::lock_guard guard(lock_);
    if (links_.size() >= kCapacity) {
        return false;
    }
    links_.push_back(std::move(link));
    return true;
}

void LinkTable::remove(const LinkRecord* link) {
    std::lock_guard guard(lock_);
    auto it = std::find_if(links_.begin(), links_.end(),
                           [link](const auto& l) { return l.get() == link; });
    if (it != links_.end()) {
        (*it)->mark_removed();
        links_.erase(it);
    }
}

std::vector<std::shared_ptr<LinkRecord>> LinkTable::snapshot() const {
    std::lock_guard guard(lock_);
    return links_;
}

}  // namespace tarnet
