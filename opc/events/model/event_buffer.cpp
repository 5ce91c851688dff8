#include "opc/events/model/event_buffer.h"

namespace porvex::opc::events {

TEventBuffer::TEventBuffer(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

void TEventBuffer::Push(TEvent event, TMilliseconds now) {
    if (waiting_.size() >= capacity_) {
        waiting_.pop_front();
        ++dropped_;
        ++lost_total_;
    }
    waiting_.push_back({std::move(event), now});
}

bool TEventBuffer::Due(TMilliseconds now, std::uint32_t bufferTimeMs, std::uint32_t maxSize) const {
    if (waiting_.empty()) {
        return dropped_ > 0;
    }
    if (maxSize != 0 && waiting_.size() >= maxSize) {
        return true;
    }
    const TMilliseconds oldest = waiting_.front().arrived;
    return now >= oldest && now - oldest >= bufferTimeMs;
}

std::vector<TEvent> TEventBuffer::Take(std::uint32_t max) {
    std::size_t count = waiting_.size();
    if (max != 0 && count > max) {
        count = max;
    }
    std::vector<TEvent> taken;
    taken.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        taken.push_back(std::move(waiting_.front().event));
        waiting_.pop_front();
    }
    return taken;
}

std::uint64_t TEventBuffer::TakeDropped() noexcept {
    const std::uint64_t dropped = dropped_;
    dropped_ = 0;
    return dropped;
}

}  // namespace porvex::opc::events
