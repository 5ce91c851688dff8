// The door logic without threads, for unit tests: a directory, the pending-command
// table, the decoder and the tick around a fake link and a manual clock.
#pragma once

#include <string>

#include "core/clock.h"
#include "doors/door_directory.h"
#include "doors/door_load.h"
#include "doors/point_setters.h"
#include "doors/upkeep_tick.h"
#include "fake_link.h"
#include "link/event_decoder.h"
#include "link/pending_commands.h"

namespace porvex::test {

inline constexpr const char* kIp = "192.168.1.10";
inline constexpr int kPort = 5768;

struct DoorHarness {
    explicit DoorHarness(PointSet enabled = PointSet::all())
        : dir(enabled), decoder(dir, pending, link), tick(dir, decoder) {
        link.register_controller(kIp, kPort);
    }

    DoorRecord& add(std::int32_t in_reader, std::int32_t out_reader = 0, std::string ip = kIp,
                    std::string port = std::to_string(kPort), std::string name = "") {
        DoorRow row;
        row.name = name.empty() ? "门" + std::to_string(dir.door_count() + 1) : name;
        row.location = "一层";
        row.ip = std::move(ip);
        row.port = std::move(port);
        row.in_reader = in_reader;
        row.out_reader = out_reader;
        Update update(clock.now());
        DoorRecord& door = load_door(dir, update, row);
        // The harness's controller is registered and its link up, as after a connection.
        door.link = LinkState::connected;
        return door;
    }

    // Applies a report or reply and returns the leaf changes it made.
    std::vector<LeafChange> receive(int cmd, const std::string& data, int ap_code = 0,
                                    const std::string& ip = kIp, int port = kPort) {
        Update update(clock.now());
        decoder.DataReceive(update, ip, port, ap_code, cmd, data);
        return update.changes;
    }

    // The tick as DoorServer runs it: the status queries it prepared are sent after it.
    void run_tick(int refresh_seconds = 10) {
        Update update(clock.now());
        tick.run(update, refresh_seconds);
        decoder.withdraw_status_queries(
            decoder.send_status_queries(std::move(update.status_queries)));
    }

    PointSetters setters(Update& update) { return PointSetters(dir, update); }

    const std::string& text(NodeId node) const { return dir.tree().text(node); }

    ManualClock clock;
    FakeLink link;
    DoorDirectory dir;
    PendingCommands pending;
    EventDecoder decoder;
    UpkeepTick tick;
};

}  // namespace porvex::test
