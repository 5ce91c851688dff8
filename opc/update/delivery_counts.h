// Process-wide counts of what the groups' update ticks delivered, since start: the last
// stages of a value's way from the item server to a client. The door server logs them
// beside its own report counts, so that a lost value can be placed.
#pragma once

#include <cstdint>

namespace porvex::opc {

struct DeliveryCounts {
    std::uint64_t values_changed = 0;   // item values the ticks found changed
    std::uint64_t values_sent = 0;      // values in OnDataChange calls of the ticks
    std::uint64_t values_accepted = 0;  // of those, in calls the client answered with success
    std::uint64_t calls_failed = 0;     // OnDataChange calls of the ticks that failed
};

DeliveryCounts delivery_counts();

namespace detail {
void count_changed(std::uint64_t values);
void count_sent(std::uint64_t values, bool accepted);
}  // namespace detail

}  // namespace porvex::opc
