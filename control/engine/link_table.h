// The engine's table of links: at most 512, in creation order. Removing a link closes
// the gap. Lookups walk from the start and take the first match.
//
// The control's thread adds and removes links while the poll thread walks them, so the
// table has a lock, held only for the table operation itself. Threads walk a snapshot
// of the references; a link removed meanwhile is marked, and they skip it.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "link_record.h"

namespace tarnet {

class LinkTable {
  public:
    static constexpr std::size_t kCapacity = 512;

    std::size_t size() const;
    std::shared_ptr<LinkRecord> at(std::size_t position) const;  // null when beyond
    int find(std::string_view server, std::int16_t port) const;  // position or -1
    std::shared_ptr<LinkRecord> find_record(std::string_view server, std::int16_t port) const;
    int find_server(std::string_view server) const;  // first link with that text, any port

    // False when the table is full.
    bool append(std::shared_ptr<LinkRecord> link);
    // Removes the link (wherever it is now) and marks it removed.
    void remove(const LinkRecord* link);

    std::vector<std::shared_ptr<LinkRecord>> snapshot() const;

  private:
    mutable std::mutex lock_;
    std::vector<std::shared_ptr<LinkRecord>> links_;
};

}  // namespace tarnet
