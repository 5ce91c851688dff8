// One simulated controller's protocol, without sockets: bytes from the host go in,
// the bytes the controller writes back come out, and everything received is recorded.
//
// The host sends frames (access/frame) and the raw five-byte upload switch. The switch
// is recognised only between frames, where a real controller looks for it too; inside
// a frame those bytes are payload.
//
// Standard answers, each echoing the request's ApCode and Psw:
//   0x10 init         -> 0x10, no payload
//   0x11 time         -> 0x11, no payload; a valid packed-BCD time is remembered
//   0x20 remote open  -> 0x20, no payload
//   0x21 status query -> 0x21 and the one status byte (bit 7 door open, bit 0 contact
//                        closed)
//   upload switch     -> AA AA 00 BB; the controller sends reports only while enabled
// Other commands are recorded and not answered. A ReplyRule per command code changes
// any of this: answer with another code (a failed remote open), another payload, or not
// at all.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "frame/assembler.h"
#include "frame/packets.h"
#include "reports.h"

namespace ctlsim {

struct ReceivedEntry {
    enum class Kind { frame, upload_switch };
    Kind kind = Kind::frame;
    std::uint8_t cmd = 0;
    std::uint16_t ap_code = 0;
    std::uint32_t psw = 0;
    Bytes data;
    bool upload_on = false;  // for an upload switch: enable (true) or disable
};

// What a controller received since the last clear. Keeps the newest kLimit entries;
// the per-kind counts cover everything since the clear.
class ReceivedLog {
  public:
    static constexpr std::size_t kLimit = 10000;

    void add(ReceivedEntry entry);
    void clear();

    const std::deque<ReceivedEntry>& entries() const { return entries_; }
    std::uint64_t lost() const { return lost_; }  // entries pushed out by kLimit
    std::uint64_t frames_with_cmd(std::uint8_t cmd) const { return by_cmd_[cmd]; }
    std::uint64_t switches(bool on) const { return switches_[on ? 1 : 0]; }

  private:
    std::deque<ReceivedEntry> entries_;
    std::uint64_t lost_ = 0;
    std::array<std::uint64_t, 256> by_cmd_{};
    std::array<std::uint64_t, 2> switches_{};
};

struct ReplyRule {
    enum class Mode {
        standard,  // the standard answer (payload may still be replaced)
        silent,    // no answer
        code,      // answer with `code`
    };
    Mode mode = Mode::standard;
    std::uint8_t code = 0;
    std::optional<Bytes> payload;  // replaces the standard payload when set
};

class ControllerModel {
  public:
    using Output = std::vector<Bytes>;  // each element is one frame or packet

    struct Reaction {
        bool close = false;  // the close-on fault fired: drop the connection now
    };

    // A new connection starts with upload disabled and an empty stream.
    void connection_opened();
    void connection_closed();

    // Bytes from the host; appends the answers to out, one element per frame.
    Reaction receive(std::span<const std::uint8_t> bytes, Output& out);

    bool upload_enabled() const { return upload_; }

    // Settings.
    void set_status(std::uint8_t status) { status_ = status; }
    std::uint8_t status() const { return status_; }
    void set_rule(std::uint8_t cmd, ReplyRule rule);
    void clear_rule(std::uint8_t cmd) { rules_.erase(cmd); }
    void clear_rules() { rules_.clear(); }
    const std::map<std::uint8_t, ReplyRule>& rules() const { return rules_; }
    // Silent: receive and record, but answer nothing (not even the upload switch).
    void set_silent(bool on) { silent_ = on; }
    bool silent() const { return silent_; }
    // Close-on: a frame with this command (any command when -1) is recorded and then
    // the connection is dropped without an answer. Nothing when unset.
    void set_close_on(std::optional<int> cmd) { close_on_ = cmd; }
    std::optional<int> close_on() const { return close_on_; }

    // State and counters.
    ReceivedLog& log() { return log_; }
    const ReceivedLog& log() const { return log_; }
    const std::optional<zorvik::frame::ControllerTime>& last_time() const { return time_; }
    std::uint64_t frames() const { return frames_; }
    std::uint64_t invalid_frames() const { return invalid_; }
    std::uint64_t skipped_bytes() const { return skipped_before_ + assembler_.skipped_bytes(); }
    std::uint64_t rejected_times() const { return bad_times_; }

  private:
    void handle_frame(const zorvik::frame::FrameView& frame, Output& out, Reaction& reaction);
    void handle_switch(bool on, Output& out);
    void drain_assembler(Output& out, Reaction& reaction);

    zorvik::frame::FrameAssembler assembler_;
    Bytes pending_;  // bytes not yet given to the assembler (a possible upload switch)
    bool upload_ = false;
    std::uint8_t status_ = 0x01;  // door closed, contact closed
    std::map<std::uint8_t, ReplyRule> rules_;
    bool silent_ = false;
    std::optional<int> close_on_;

    ReceivedLog log_;
    std::optional<zorvik::frame::ControllerTime> time_;
    std::uint64_t frames_ = 0;
    std::uint64_t invalid_ = 0;
    std::uint64_t skipped_before_ = 0;  // skipped bytes of earlier connections
    std::uint64_t bad_times_ = 0;
};

}  // namespace ctlsim
