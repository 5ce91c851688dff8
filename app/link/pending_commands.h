// PendingCommands: the commands sent to controllers (remote open, status query) that
// await their reply, by the request code (ApCode) the program gave them.
//
// Request codes come from CommandSeq: 1, 2, ... 32766, 0, 1, ... An entry expires
// after 60 seconds: its code may then be handed out again, and a reply that arrives
// later is ignored. A code still held by a live entry is skipped. A reply is accepted
// only from the controller the command was sent to.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "core/clock.h"
#include "doors/door_record.h"

namespace porvex {

// What a pending command asked for.
enum class PendingKind : std::uint8_t { remote_open, status_query };

inline constexpr int kRequestCodeCount = 32767;
inline constexpr double kPendingExpirySeconds = 60.0;

struct TPendingCommand {
    DoorRecord* Door = nullptr;
    PendingKind Kind = PendingKind::remote_open;
    Moment Sent;
};

class PendingCommands {
  public:
    explicit PendingCommands(double expiry_seconds = kPendingExpirySeconds)
        : expiry_seconds_(expiry_seconds) {}

    // Hands out the next free request code and enters the command under it; nothing
    // when all 32,767 codes are held by live entries.
    std::optional<int> AddPendingCommand(DoorRecord* door, PendingKind kind, Moment now);

    // Takes the entry a reply answers: the code must be held by a live entry for a
    // door of the replying controller. A late reply to an expired entry removes it.
    std::optional<TPendingCommand> take_reply(int ap_code, std::string_view ip, int port,
                                              Moment now);

    // Withdraws an entry whose command could not be sent (no reply can come).
    void withdraw(int code);

    // Drops expired entries.
    void purge_expired(Moment now);

    std::size_t size() const { return entries_.size(); }
    bool contains(int code) const { return entries_.count(code) != 0; }
    int CommandSeq() const { return command_seq_; }
    void clear() { entries_.clear(); }

  private:
    bool expired(const TPendingCommand& entry, Moment now) const {
        return more_than(expiry_seconds_, entry.Sent, now);
    }

    double expiry_seconds_;
    int command_seq_ = 0;
    std::unordered_map<int, TPendingCommand> entries_;
};

}  // namespace porvex
