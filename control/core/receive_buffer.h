// A link's receive buffer and the loop that cuts frames out of it.
//
// The buffer holds 4096 bytes. A chunk that would overflow it first empties it (a frame
// split across that point is lost). Parsing walks the buffered bytes:
//  - AA ?? ?? BB: the controller's acknowledgement of the upload switch; 4 bytes;
//  - a byte other than 0x7E that starts no acknowledgement: skipped (one byte);
//  - 0x7E with a complete frame behind it: checked with the frame's CRC-16, which covers
//    (Len + 8) mod 256 bytes from Cmd on; a mismatch costs one byte, so parsing
//    resynchronises on the next 0x7E or 0xAA;
//  - 0x7E whose Len can never fit the buffer (more than 4085 payload bytes): not a frame
//    start; one byte (waiting for it would only end in the overflow rule and lose the
//    valid frames behind it);
//  - anything incomplete: kept for the next chunk.
// Valid frames become FrameReports; the handler decides what happens to them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "frame_report.h"

namespace tarnet {

class ChunkHandler {
  public:
    virtual ~ChunkHandler() = default;
    // Checked before every frame; true ends parsing at once.
    virtual bool stop_requested() = 0;
    // The upload acknowledgement arrived.
    virtual void upload_acknowledged() = 0;
    // One byte was skipped (the engine pauses 1 ms here).
    virtual void byte_skipped() = 0;
    // A frame whose RetCode is not a report code (below 18 or above 31): returns true
    // when it answered at least one outstanding request (and was delivered at once).
    virtual bool reply_claimed(const FrameReport& reply) = 0;
    // A report, or a reply that answered no request: to the report queue.
    virtual void queue_report(const FrameReport& report) = 0;
    // A frame repeated right after itself in one chunk (every field equal) was not
    // queued a second time.
    virtual void repeat_dropped(const FrameReport& report) = 0;
};

enum class ParseEnd { finished, stopped };

class ReceiveBuffer {
  public:
    static constexpr std::size_t kCapacity = 4096;
    static constexpr std::size_t kMaxPayload = kCapacity - 11;  // 4085

    // Appends a chunk (at most kCapacity bytes are kept) and parses what is buffered.
    // Reports carry server and port. A frame that repeats the frame queued right before it
    // from the same chunk (same RetCode, ApCode, Psw and payload: a controller's
    // retransmission) is queued once and counted through repeat_dropped; frames that
    // differ in any field, the command code included, are all queued.
    ParseEnd process_chunk(std::span<const std::uint8_t> chunk, ChunkHandler& handler,
                           const std::string& server, std::int16_t port);

    void clear() { count_ = 0; }
    std::size_t buffered() const { return count_; }
    std::span<const std::uint8_t> bytes() const { return {bytes_.data(), count_}; }

  private:
    std::array<std::uint8_t, kCapacity> bytes_{};
    std::size_t count_ = 0;
};

// The report a valid frame yields (fields of the frame; payload as lower-case text).
FrameReport report_from_frame(std::span<const std::uint8_t> frame, const std::string& server,
                              std::int16_t port);

// The same frame: every field a host sees in DataReceive (the link aside) is equal.
inline bool same_frame(const FrameReport& a, const FrameReport& b) {
    return a.ret_code == b.ret_code && a.ap_code == b.ap_code && a.psw == b.psw && a.data == b.data;
}

inline constexpr bool is_report_code(std::int32_t ret_code) {
    return ret_code >= 18 && ret_code <= 31;
}

}  // namespace tarnet
