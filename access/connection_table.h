// Every registered controller, in registration order, found by its key (IP text, port).
//
// The table hands out shared references: an entry removed from the table stays alive
// for every thread still holding it, and is freed by the last one.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/sync.h"

namespace zorvik::access {

class Connection;

class ConnectionTable {
  public:
    using Ref = std::shared_ptr<Connection>;

    // The key is compared exactly: the text byte for byte, the port as a number.
    Ref find(std::string_view ip, int port) const;
    // Appends the connection unless its key is registered already (then false).
    bool add(const Ref& connection);
    // Removes this very connection (not merely one with the same key).
    void remove(const Connection& connection);
    // The entries at this moment, in registration order.
    std::vector<Ref> snapshot() const;
    std::size_t size() const;

  private:
    using Key = std::pair<std::string, int>;

    mutable net::Mutex mutex_;
    std::vector<Ref> order_;
    std::map<Key, Ref, std::less<>> by_key_;
};

}  // namespace zorvik::access
