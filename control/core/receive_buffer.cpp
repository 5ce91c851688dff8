#include "receive_buffer.h"

#include <algorithm>
#include <cstring>

#include "frame/crc16.h"
#include "frame/hex.h"

namespace tarnet {

FrameReport report_from_frame(std::span<const std::uint8_t> frame, const std::string& server,
                              std::int16_t port) {
    const std::size_t n = (static_cast<std::size_t>(frame[7]) << 8) | frame[8];
    FrameReport r;
    r.server = server;
    r.port = port;
    r.ret_code = frame[1];
    r.ap_code = (frame[2] << 8) | frame[3];
    r.psw = (frame[4] << 16) | (frame[5] << 8) | frame[6];
    r.data = zorvik::frame::to_hex(frame.subspan(9, n), zorvik::frame::HexCase::lower);
    r.data_len = static_cast<std::int32_t>(r.data.size());
    return r;
}

ParseEnd ReceiveBuffer::process_chunk(std::span<const std::uint8_t> chunk, ChunkHandler& handler,
                                      const std::string& server, std::int16_t port) {
    if (chunk.size() > kCapacity) {
        // recv never hands over more than the buffer holds; keep the newest bytes if a
        // caller does.
        chunk = chunk.last(kCapacity);
    }
    if (count_ + chunk.size() > kCapacity) {
        count_ = 0;
    }
    std::memcpy(bytes_.data() + count_, chunk.data(), chunk.size());
    count_ += chunk.size();

    // The frame last queued from this chunk; none at its start, so the first report of a
    // chunk is always queued, even one without payload.
    std::optional<FrameReport> last_queued;
    std::size_t pos = 0;
    ParseEnd end = ParseEnd::finished;
    while (pos < count_) {
        if (handler.stop_requested()) {
            end = ParseEnd::stopped;
            break;
        }
        const std::size_t left = count_ - pos;
        const std::uint8_t* p = bytes_.data() + pos;
        if (left < 4) {
            break;
        }
        if (p[0] == 0xAA && p[3] == 0xBB) {
            handler.upload_acknowledged();
            pos += 4;
            continue;
        }
        if (p[0] != 0x7E) {
            ++pos;
            handler.byte_skipped();
            continue;
        }
        if (left < 9) {
            break;
        }
        const std::size_t n = (static_cast<std::size_t>(p[7]) << 8) | p[8];
        if (n > kMaxPayload) {
            ++pos;
            handler.byte_skipped();
            continue;
        }
        if (left < n + 11) {
            break;
        }
        const std::uint16_t crc = zorvik::frame::crc16({p + 1, (n + 8) % 256});
        const std::uint16_t stored = static_cast<std::uint16_t>((p[9 + n] << 8) | p[10 + n]);
        if (crc != stored) {
            ++pos;
            handler.byte_skipped();
            continue;
        }
        FrameReport report = report_from_frame({p, n + 11}, server, port);
        const bool delivered = !is_report_code(report.ret_code) && handler.reply_claimed(report);
        if (!delivered) {
            if (last_queued && same_frame(*last_queued, report)) {
                handler.repeat_dropped(report);
            } else {
                handler.queue_report(report);
                last_queued = std::move(report);
            }
        }
        pos += n + 11;
    }
    std::memmove(bytes_.data(), bytes_.data() + pos, count_ - pos);
    count_ -= pos;
    return end;
}

}  // namespace tarnet
