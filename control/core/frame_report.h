// The record behind every DataReceive event: a frame from a controller, or the notice
// that an outstanding request timed out or lost its link.
#pragma once

#include <cstdint>
#include <string>

namespace tarnet {

// Which engine thread handed a report to the control's window. The control needs it to
// know which thread waits for it while it handles the report (see docs/tarnet.md).
enum class NoticeOrigin : std::uint8_t { poll_thread, dispatch_thread, control_thread };

struct FrameReport {
    std::string server;         // the link's server text as the host gave it
    std::int16_t port = 0;      // the link's port
    std::int32_t ap_code = 0;   // frame bytes 2-3, big-endian
    std::int32_t psw = 0;       // frame bytes 4-6, big-endian
    std::int16_t ret_code = 0;  // frame byte 1 (Cmd); 9 for a request notice
    std::string data;           // payload as lower-case hexadecimal text, two per byte
    std::int32_t data_len = 0;  // characters in data
    NoticeOrigin origin = NoticeOrigin::poll_thread;

    // A request notice: the request's ApCode, Psw 0, RetCode 9, no data.
    static FrameReport request_notice(std::string server, std::int16_t port, std::int32_t ap_code);
};

inline FrameReport FrameReport::request_notice(std::string server, std::int16_t port,
                                               std::int32_t ap_code) {
    FrameReport r;
    r.server = std::move(server);
    r.port = port;
    r.ap_code = ap_code;
    r.ret_code = 9;
    return r;
}

}  // namespace tarnet
