// What the door benchmarks set up before their own part: a sample SQLite door database of
// N controllers x K doors on the simulator's ports, the simulator, the door model over the
// controller access library (through a TappedLink), the directory loaded, the connect pass
// and the wait until every door is online.
//
//     DoorRig rig({"porvex-door-alarms-bench", controllers, doors, control_port}, log);
//     rig.doors().add_event_observer(...);   // observers before load()
//     const double loaded_s = rig.load();
//     Pump pump(rig.doors());
//     const OnlineTimes times = rig.go_online(pause_ms, pump);
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "bench_simulator.h"
#include "core/clock.h"
#include "core/log.h"
#include "door_run.h"
#include "door_server.h"
#include "link/zorvik_link.h"
#include "settings/settings.h"
#include "tapped_link.h"

namespace porvex::bench {

struct DoorRigOptions {
    std::string name;  // the folder under the temporary directory for the database
    int controllers = 1000;
    int doors = 8;
    std::uint16_t control_port = 0;  // a running simulator to use; 0: start one
};

struct OnlineTimes {
    double pass_s = 0;    // the connect pass itself
    double online_s = 0;  // from the pass's start until every door was online (or gave up)
    bool all_online = false;
};

class DoorRig {
  public:
    DoorRig(const DoorRigOptions& options, LogSink& log);
    DoorRig(const DoorRig&) = delete;
    DoorRig& operator=(const DoorRig&) = delete;
    ~DoorRig();

    BenchSimulator& sim() { return sim_; }
    DoorServer& doors() { return doors_; }
    TappedLink& link() { return link_; }

    // Starts the door server and loads the directory from the database; seconds taken.
    // Throws std::runtime_error when loading fails.
    double load();
    // The connect pass (pause_ms between doors, as the program does), then the pump runs
    // until every door is online or limit_s passed.
    OnlineTimes go_online(int pause_ms, Pump& pump, double limit_s = 120);

  private:
    BenchSimulator sim_;
    std::filesystem::path db_;
    Settings settings_;
    LogSink& log_;
    SteadyClock clock_;
    ZorvikLink zorvik_;
    TappedLink link_;
    DoorServer doors_;
};

// Stops the door server when it goes out of scope. Declared after the observers a
// benchmark adds, so that no event reaches an observer that is already gone (also when the
// benchmark ends early with an exception).
class StopDoorsOnExit {
  public:
    explicit StopDoorsOnExit(DoorServer& doors) : doors_(doors) {}
    StopDoorsOnExit(const StopDoorsOnExit&) = delete;
    StopDoorsOnExit& operator=(const StopDoorsOnExit&) = delete;
    ~StopDoorsOnExit() { doors_.stop(); }

  private:
    DoorServer& doors_;
};

}  // namespace porvex::bench
