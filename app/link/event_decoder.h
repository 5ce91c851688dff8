// Decoding of controller reports and replies into door point changes, and the two
// commands the program sends to controllers (remote open, status query) with the
// pending-command table that pairs their replies with their doors.
#pragma once

#include <string_view>
#include <vector>

#include "doors/door_commands.h"
#include "doors/door_directory.h"
#include "doors/leaf_change.h"
#include "link/controller_link.h"
#include "link/pending_commands.h"
#include "link/report_codes.h"
#include "link/report_counters.h"

namespace porvex {

// Card number a card record carries when no card was read.
inline constexpr std::string_view kNoCard = "55555555";

// Characters of one card record in a card-records report.
inline constexpr std::size_t kCardRecordLength = 24;

class EventDecoder final : public DoorCommands {
  public:
    EventDecoder(DoorDirectory& directory, PendingCommands& pending, ControllerLink& link)
        : dir_(directory), pending_(pending), link_(link) {}

    // One report or reply of a controller. Reports the program does not decode are
    // ignored; every code outside 0x12..0x1F is a reply.
    void DataReceive(Update& update, std::string_view ip, int port, int ap_code, int cmd,
                     std::string_view data);

    void HandleCommandReply(Update& update, std::string_view ip, int port, int ap_code, int cmd,
                            std::string_view data);
    void HandleStatusReply(Update& update, DoorRecord* door, int cmd, std::string_view data);

    // DoorCommands.
    RemoteOpenOutcome OpenDoor(Update& update, DoorRecord* door) override;
    // OpenDoor, true when a command was sent.
    bool SendRemoteOpen(Update& update, DoorRecord* door) {
        return OpenDoor(update, door) == RemoteOpenOutcome::sent;
    }

    bool SendStatusQuery(Update& update, DoorRecord* door) override;
    bool PrepareStatusQuery(Update& update, DoorRecord* door) override;
    // Hands prepared status queries to the library; called WITHOUT the data lock (the
    // link is thread-safe and touches no door). Returns those the library did not take;
    // a send that throws ends the sending, its text in *error.
    std::vector<StatusQuerySend> send_status_queries(std::vector<StatusQuerySend> queries,
                                                     std::string* error = nullptr);
    // Under the data lock: forgets the queries the library did not take, as if they had
    // never been prepared (no reply is expected; the door is asked again next tick).
    void withdraw_status_queries(const std::vector<StatusQuerySend>& failed);
    void purge_expired(Moment now) override { pending_.purge_expired(now); }

    // Counts every card record applied to a door there from now on.
    void count_into(ReportCounters* counters) { counters_ = counters; }

  private:
    void door_events(Update& update, std::string_view ip, int port, std::string_view data);
    void alarms_cleared(Update& update, std::string_view ip, int port, std::string_view data);
    void tamper(Update& update, std::string_view ip, int port, std::string_view data);
    void card_records(Update& update, std::string_view ip, int port, std::string_view data);
    // Enters a pending command and sends it; the entry is withdrawn when nothing was
    // queued. Returns whether the library queued it.
    bool send_command(Update& update, DoorRecord& door, int cmd, PendingKind kind);

    DoorDirectory& dir_;
    PendingCommands& pending_;
    ControllerLink& link_;
    ReportCounters* counters_ = nullptr;
};

// The payload of a remote-open or status command: in_reader + out_reader as two
// upper-case hexadecimal digits.
std::string reader_payload(const DoorRecord& door);

}  // namespace porvex
