#include "link/event_decoder.h"

#include <cstdio>
#include <exception>

#include "core/text.h"
#include "doors/point_setters.h"

namespace porvex {

namespace {

constexpr int kReaderCount = 8;

int reader_of(int bit) { return 1 << bit; }

}  // namespace

std::string reader_payload(const DoorRecord& door) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X",
                  static_cast<unsigned>(door.in_reader) + static_cast<unsigned>(door.out_reader));
    // The library takes two characters, as controllers address doors by one byte.
    return std::string(text, 2);
}

void EventDecoder::DataReceive(Update& update, std::string_view ip, int port, int ap_code, int cmd,
                               std::string_view data) {
    cmd &= 0xFF;
    switch (cmd) {
        case kCmdDoorEvents:
            door_events(update, ip, port, data);
            return;
        case kCmdAlarmsCleared:
            alarms_cleared(update, ip, port, data);
            return;
        case kCmdTamper:
            tamper(update, ip, port, data);
            return;
        case kCmdCardRecords:
            card_records(update, ip, port, data);
            return;
        default:
            break;
    }
    if (cmd >= kFirstReportCode && cmd <= kLastReportCode) {
        // A report this program does not decode; it answers no command of ours.
        return;
    }
    HandleCommandReply(update, ip, port, ap_code, cmd, data);
}

void EventDecoder::door_events(Update& update, std::string_view ip, int port,
                               std::string_view data) {
    PointSetters set(dir_, update);
    const std::uint32_t bits = hex_field(data, 1, 8);
    const PointSet enabled = dir_.enabled();
    for (int i = 0; i < kReaderCount; ++i) {
        DoorRecord* door = dir_.FindDoor(ip, port, reader_of(i));
        if (door == nullptr) {
            continue;
        }
        door->state_time = update.now;
        if (bits & (1u << (2 * i))) {
            set.SetDoorOpen(door, DoorOpenState::open);
            door->opened_time = update.now;
        }
        if (bits & (1u << (2 * i + 1))) {
            // Not known to be closed (open, or not monitored): held open too long.
            const ContactAlarmState alarm = door->door_open != DoorOpenState::closed
                                                ? ContactAlarmState::held_open
                                                : ContactAlarmState::forced_entry;
            if (enabled.has(PointKind::door_state)) {
                set.SetDoorState(door, AlarmState::alarm);
            }
            if (enabled.has(PointKind::contact_alarm)) {
                set.SetContactAlarm(door, alarm);
            }
            update.events.push_back(
                door_event(DoorEvent::Kind::contact_alarm, *door, update.now, alarm));
        }
    }
}

void EventDecoder::alarms_cleared(Update& update, std::string_view ip, int port,
                                  std::string_view data) {
    PointSetters set(dir_, update);
    const std::uint32_t bits = hex_field(data, 1, 8);
    for (int i = 0; i < kReaderCount; ++i) {
        if ((bits & (1u << i)) == 0) {
            continue;
        }
        DoorRecord* door = dir_.FindDoor(ip, port, reader_of(i));
        if (door == nullptr) {
            continue;
        }
        set.SetDoorState(door, AlarmState::normal);
        set.SetContactAlarm(door, ContactAlarmState::normal);
        set.SetContactOpen(door, ContactState::closed);
        update.events.push_back(door_event(DoorEvent::Kind::alarms_cleared, *door, update.now));
    }
}

void EventDecoder::tamper(Update& update, std::string_view ip, int port, std::string_view data) {
    if (!dir_.enabled().has(PointKind::tamper)) {
        return;
    }
    PointSetters set(dir_, update);
    const std::uint32_t group = hex_field(data, 7, 8) & 3u;
    for (int i = 0; i < kReaderCount; ++i) {
        const bool low_group = i < 4;
        if ((low_group && (group & 1u)) || (!low_group && (group & 2u))) {
            DoorRecord* door = dir_.FindDoor(ip, port, reader_of(i));
            set.SetTamper(door, AlarmState::alarm);
            if (door != nullptr) {
                update.events.push_back(
                    door_event(DoorEvent::Kind::tamper_alarm, *door, update.now));
            }
        }
    }
}

void EventDecoder::card_records(Update& update, std::string_view ip, int port,
                                std::string_view data) {
    const std::uint32_t count = hex_field(data, 1, 2);
    if (data.size() != count * kCardRecordLength + 2) {
        return;
    }
    PointSetters set(dir_, update);
    const WallTime received = local_now();
    std::string_view rest = data.substr(2);
    while (!rest.empty()) {
        const std::string card = ascii_upper(rest.substr(0, 8));
        const auto reader = static_cast<int>(hex_field(rest, 9, 10));
        DoorRecord* door = dir_.FindDoor(ip, port, reader);
        if (door == nullptr) {
            return;
        }
        // The records carry no time this program reads: the time is the reception's.
        set.SetSwipeTime(door, received);
        if (counters_ != nullptr) {
            counters_->card_record_applied();
        }
        if (card != kNoCard) {
            set.SetLastCard(door, CardShown::card(card));
        }
        const bool granted = hex_field(rest, 11, 12) >= 128;
        if (granted) {
            set.SetDoorOpen(door, DoorOpenState::open);
            door->opened_time = update.now;
        } else {
            set.SetInvalidCard(door, CardShown::card(card));
        }
        DoorEvent read =
            door_event(granted ? DoorEvent::Kind::card_granted : DoorEvent::Kind::card_refused,
                       *door, update.now);
        read.card = card;
        read.reader = reader;
        update.events.push_back(std::move(read));
        rest.remove_prefix(kCardRecordLength);
    }
}

void EventDecoder::HandleCommandReply(Update& update, std::string_view ip, int port, int ap_code,
                                      int cmd, std::string_view data) {
    const auto entry = pending_.take_reply(ap_code, ip, port, update.now);
    if (!entry) {
        return;
    }
    PointSetters set(dir_, update);
    DoorRecord* door = entry->Door;
    if (entry->Kind == PendingKind::remote_open) {
        if (cmd == kCmdRemoteOpen) {
            set.SetDoorOpen(door, DoorOpenState::open);
            door->opened_time = update.now;
            set.SetRemoteOpenResult(door, RemoteOpenResult::success);
            update.remote_open_ends.push_back({door->index, "reply: opened"});
        } else {
            set.SetRemoteOpenResult(door, RemoteOpenResult::failure);
            update.remote_open_ends.push_back({door->index, "reply: refused"});
        }
        if (door != nullptr) {
            update.events.push_back(door_event(cmd == kCmdRemoteOpen
                                                   ? DoorEvent::Kind::remote_open_done
                                                   : DoorEvent::Kind::remote_open_failed,
                                               *door, update.now));
        }
    } else if (entry->Kind == PendingKind::status_query) {
        HandleStatusReply(update, door, cmd, data);
    }
}

void EventDecoder::HandleStatusReply(Update& update, DoorRecord* door, int cmd,
                                     std::string_view data) {
    if (cmd != kCmdStatusQuery) {
        return;
    }
    PointSetters set(dir_, update);
    const std::uint32_t status = hex_field(data, 1, 2);
    set.SetDoorOpen(door, (status & 0x80u) ? DoorOpenState::open : DoorOpenState::closed);
    set.SetContactOpen(door, (status & 0x01u) ? ContactState::closed : ContactState::open);
}

bool EventDecoder::send_command(Update& update, DoorRecord& door, int cmd, PendingKind kind) {
    const auto code = pending_.AddPendingCommand(&door, kind, update.now);
    if (!code) {
        return false;
    }
    const bool queued = link_.send_data(door.ip, door.port, cmd, *code, 0, reader_payload(door));
    if (!queued) {
        pending_.withdraw(*code);
    }
    return queued;
}

RemoteOpenOutcome EventDecoder::OpenDoor(Update& update, DoorRecord* door) {
    if (door == nullptr || door->remote_open_node == kNoNode) {
        return RemoteOpenOutcome::not_remote_open;
    }
    if (door->remote_open_pending) {
        return RemoteOpenOutcome::locked;
    }
    PointSetters set(dir_, update);
    RemoteOpenOutcome outcome = RemoteOpenOutcome::refused_offline;
    if (door->link == LinkState::connected) {
        if (send_command(update, *door, kCmdRemoteOpen, PendingKind::remote_open)) {
            door->remote_open = RemoteOpenResult::locked;
            set.show(*door, PointKind::remote_open, true);
            door->remote_open_pending = true;
            door->remote_open_time = update.now;
            return RemoteOpenOutcome::sent;
        }
        outcome = RemoteOpenOutcome::refused_by_library;
    }
    door->remote_open = RemoteOpenResult::failure;
    set.show(*door, PointKind::remote_open, true);
    door->remote_open_pending = false;
    door->remote_open_time = kLongAgo;
    return outcome;
}

bool EventDecoder::SendStatusQuery(Update& update, DoorRecord* door) {
    return door != nullptr &&
           send_command(update, *door, kCmdStatusQuery, PendingKind::status_query);
}

bool EventDecoder::PrepareStatusQuery(Update& update, DoorRecord* door) {
    if (door == nullptr) {
        return false;
    }
    const auto code = pending_.AddPendingCommand(door, PendingKind::status_query, update.now);
    if (!code) {
        return false;
    }
    update.status_queries.push_back(StatusQuerySend{door->index, door->ip, door->port,
                                                    kCmdStatusQuery, *code, reader_payload(*door),
                                                    door->status_poll_queued});
    return true;
}

std::vector<StatusQuerySend> EventDecoder::send_status_queries(std::vector<StatusQuerySend> queries,
                                                               std::string* error) {
    std::vector<StatusQuerySend> failed;
    for (std::size_t i = 0; i < queries.size(); ++i) {
        StatusQuerySend& query = queries[i];
        try {
            if (!link_.send_data(query.ip, query.port, query.cmd, query.code, 0, query.payload)) {
                failed.push_back(std::move(query));
            }
        } catch (const std::exception& e) {
            // A fault below the door model: this query and the rest are not sent.
            if (error != nullptr) {
                *error = e.what();
            }
            for (std::size_t rest = i; rest < queries.size(); ++rest) {
                failed.push_back(std::move(queries[rest]));
            }
            break;
        }
    }
    return failed;
}

void EventDecoder::withdraw_status_queries(const std::vector<StatusQuerySend>& failed) {
    for (const StatusQuerySend& query : failed) {
        pending_.withdraw(query.code);
        if (!query.poll_queued_before && query.door < dir_.door_count()) {
            dir_.door(query.door).status_poll_queued = false;
        }
    }
}

}  // namespace porvex
