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
    if (frame::is_report(frame->cmd)) {
        services.callbacks.report_frame(link.ip(), link.port(), ap_code, psw, cmd,
                                        frame::to_hex(frame->data, frame::HexCase::upper));
        return;
    }
    link.last_reply.store(services.clock->seconds());
    Reply reply;
    reply.cmd = frame->cmd;
    reply.ap_code = frame->ap_code;
    reply.psw = frame->psw;
    reply.hex = frame::to_hex(frame->data, frame::HexCase::lower);
    if (!services.replies.deliver(&link, reply, services.clock->ticks())) {
        services.callbacks.reply_frame(link.ip(), link.port(), ap_code, psw, cmd, reply.hex);
    }
}

}  // namespace zorvik::access
