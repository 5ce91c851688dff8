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
    auto& counters = services.counters;
    if (frame::is_report(frame->cmd)) {
        if (services.callbacks.report_frame(link.ip(), link.port(), ap_code, psw, cmd,
                                            frame::to_hex(frame->data, frame::HexCase::upper))) {
            counters.reports_raised.fetch_add(1, std::memory_order_relaxed);
            link.reports_raised.fetch_add(1, std::memory_order_relaxed);
        } else {
            counters.without_callback.fetch_add(1, std::memory_order_relaxed);
        }
        return;
    }
    Reply reply;
    reply.cmd = frame->cmd;
    reply.ap_code = frame->ap_code;
    reply.psw = frame->psw;
    reply.hex = frame::to_hex(frame->data, frame::HexCase::lower);
    if (services.replies.deliver(&link, reply, services.clock->ticks())) {
        counters.replies_to_waits.fetch_add(1, std::memory_order_relaxed);
    } else if (services.callbacks.reply_frame(link.ip(), link.port(), ap_code, psw, cmd,
                                              reply.hex)) {
        counters.replies_raised.fetch_add(1, std::memory_order_relaxed);
    } else {
        counters.without_callback.fetch_add(1, std::memory_order_relaxed);
    }
}

}  // namespace zorvik::access
