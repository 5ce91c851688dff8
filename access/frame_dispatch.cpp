#include "frame_dispatch.h"

#include "connection.h"
#include "frame/frame.h"
#include "frame/hex.h"

namespace zorvik::access {

void dispatch_frame(LinkServices& services, Connection& link, std::span<const std::uint8_t> bytes) {
    const auto frame = frame::parse_frame(bytes);
    if (!frame) {
        return;
    }
    const int ap_code = frame->ap_code;
    const int psw = static_cast<int>(frame->psw);
    const int cmd = frame->cmd;
    // Counted before the callback runs, so whoever sees its effect also sees the count.
    auto& counters = services.counters;
    if (frame::is_report(frame->cmd)) {
        if (services.callbacks.report.load() == nullptr) {
            counters.without_callback.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        counters.reports_raised.fetch_add(1, std::memory_order_relaxed);
        link.reports_raised.fetch_add(1, std::memory_order_relaxed);
        services.callbacks.report_frame(link.ip(), link.port(), ap_code, psw, cmd,
                                        frame::to_hex(frame->data, frame::HexCase::upper));
        return;
    }
    Reply reply;
    reply.cmd = frame->cmd;
    reply.ap_code = frame->ap_code;
    reply.psw = frame->psw;
    reply.hex = frame::to_hex(frame->data, frame::HexCase::lower);
    // Counted first, as the waiting call may look once it is woken; undone when no call
    // took the reply.
    counters.replies_to_waits.fetch_add(1, std::memory_order_relaxed);
    if (services.replies.deliver(&link, reply, services.clock->ticks())) {
        return;
    }
    counters.replies_to_waits.fetch_sub(1, std::memory_order_relaxed);
    if (services.callbacks.reply.load() == nullptr) {
        counters.without_callback.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    counters.replies_raised.fetch_add(1, std::memory_order_relaxed);
    services.callbacks.reply_frame(link.ip(), link.port(), ap_code, psw, cmd, reply.hex);
}

}  // namespace zorvik::access
