#include "opc/update/delivery_counts.h"

#include <atomic>

namespace porvex::opc {

namespace {

std::atomic<std::uint64_t> g_changed{0};
std::atomic<std::uint64_t> g_sent{0};
std::atomic<std::uint64_t> g_accepted{0};
std::atomic<std::uint64_t> g_failed{0};

}  // namespace

DeliveryCounts delivery_counts() {
    return DeliveryCounts{g_changed.load(), g_sent.load(), g_accepted.load(), g_failed.load()};
}

namespace detail {

void count_changed(std::uint64_t values) { g_changed.fetch_add(values, std::memory_order_relaxed); }

void count_sent(std::uint64_t values, bool accepted) {
    g_sent.fetch_add(values, std::memory_order_relaxed);
    if (accepted) {
        g_accepted.fetch_add(values, std::memory_order_relaxed);
    } else {
        g_failed.fetch_add(1, std::memory_order_relaxed);
    }
}

}  // namespace detail

}  // namespace porvex::opc
