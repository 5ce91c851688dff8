#include "connection_table.h"

#include <algorithm>

#include "connection.h"

namespace zorvik::access {

ConnectionTable::Ref ConnectionTable::find(std::string_view ip, int port) const {
    const Key key(std::string(ip), port);
    std::lock_guard lock(mutex_);
    const auto it = by_key_.find(key);
    return it == by_key_.end() ? nullptr : it->second;
}

bool ConnectionTable::add(const Ref& connection) {
    Key key(connection->ip(), connection->port());
    std::lock_guard lock(mutex_);
    if (!by_key_.emplace(std::move(key), connection).second) {
        return false;
    }
    order_.push_back(connection);
    return true;
}

void ConnectionTable::remove(const Connection& connection) {
    std::lock_guard lock(mutex_);
    const auto it = by_key_.find(Key(connection.ip(), connection.port()));
    if (it != by_key_.end() && it->second.get() == &connection) {
        by_key_.erase(it);
    }
    std::erase_if(order_, [&](const Ref& r) { return r.get() == &connection; });
}

std::vector<ConnectionTable::Ref> ConnectionTable::snapshot() const {
    std::lock_guard lock(mutex_);
    return order_;
}

std::size_t ConnectionTable::size() const {
    std::lock_guard lock(mutex_);
    return order_.size();
}

}  // namespace zorvik::access
