// A door plant for integration tests: a sample door database whose controllers listen
// on free ports, the controller simulator serving exactly those controllers
// (ctlsim --door-db), and a DoorServer loaded from the same database.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/log.h"
#include "ctlsim_driver.h"
#include "door_server.h"
#include "door_startup.h"
#include "net/socket.h"
#include "sample_door_db.h"
#include "temp_dir.h"
#include "wait.h"

namespace porvex::test {

// Ports nothing listens on right now.
inline std::vector<int> free_ports(std::size_t count) {
    std::vector<zorvik::net::Socket> held;
    std::vector<int> ports;
    for (std::size_t i = 0; i < count; ++i) {
        auto listener = zorvik::net::listen_tcp("127.0.0.1", 0);
        if (!listener) {
            throw std::runtime_error("no free port");
        }
        ports.push_back(*listener->local_port());
        held.push_back(std::move(*listener));
    }
    return ports;
}

class DoorPlant {
  public:
    explicit DoorPlant(int controllers)
        : ports_(free_ports(static_cast<std::size_t>(controllers))),
          database_(dir_.path() / "doors.db") {
        SampleDoorDbOptions options;
        options.controllers = controllers;
        options.ports = ports_;
        create_sample_door_db(database_, options);
        ctlsim::testing::CtlsimOptions sim;
        sim.controllers = 0;
        sim.arguments = {"--door-db", database_.string()};
        sim_ = std::make_unique<ctlsim::testing::Ctlsim>(sim);
    }

    Settings settings() const {
        Settings s;
        s.db_type = static_cast<int>(DatabaseKind::sqlite);
        s.server = database_.string();
        s.points = PointSet::all();
        return s;
    }

    ctlsim::testing::Ctlsim& sim() { return *sim_; }
    int port(std::size_t controller) const { return ports_.at(controller); }

  private:
    zorvik::net::NetStartup net_;
    TempDir dir_;
    std::vector<int> ports_;
    std::filesystem::path database_;
    std::unique_ptr<ctlsim::testing::Ctlsim> sim_;
};

// Door i of controller c is door c * 8 + i, on reader 2^i.
inline std::size_t door_index(std::size_t controller, int door) { return controller * 8 + door; }

// Expectations shared by the integration tests.
inline bool shows_not_monitored(DoorServer& server, std::size_t index) {
    const DoorRecord d = server.door(index);
    return !d.status_poll_queued && server.node_text(d.state_node) == "门禁状态:没有监控" &&
           server.node_text(d.last_card_node) == "最后一个刷卡人卡片号码:没有监控" &&
           server.node_text(d.tamper_node) == "防拆报警:没有监控" &&
           server.node_text(d.invalid_card_node) == "非法刷卡:没有监控" &&
           d.door_open == DoorOpenState::not_monitored && d.contact_open == ContactState::unknown &&
           d.contact_alarm == ContactAlarmState::not_monitored;
}

inline bool shows_normal(DoorServer& server, std::size_t index) {
    const DoorRecord d = server.door(index);
    return d.status_poll_queued && server.node_text(d.state_node) == "门禁状态:正常" &&
           server.node_text(d.last_card_node) == "最后一个刷卡人卡片号码:" &&
           server.node_text(d.tamper_node) == "防拆报警:正常" &&
           server.node_text(d.invalid_card_node) == "非法刷卡:";
}

}  // namespace porvex::test
