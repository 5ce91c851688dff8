#include "door_rig.h"

#include <stdexcept>
#include <vector>

#include "door_startup.h"
#include "sample_door_db.h"

namespace porvex::bench {
namespace {

// The database lists each controller at the port the simulator bound for it.
std::filesystem::path sample_db(const DoorRigOptions& o, const BenchSimulator& sim) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / o.name;
    std::filesystem::create_directories(dir);
    const std::filesystem::path db = dir / "doors.db";
    SampleDoorDbOptions sample;
    sample.controllers = o.controllers;
    sample.doors_per_controller = o.doors;
    sample.ports.assign(sim.ports().begin(), sim.ports().begin() + o.controllers);
    create_sample_door_db(db, sample);
    return db;
}

Settings door_settings(const std::filesystem::path& db) {
    Settings settings;
    settings.db_type = 2;
    settings.server = db.string();
    settings.points = PointSet::all();
    return settings;
}

// The door server as Porvex398 makes it.
DoorServerOptions porvex398_options() {
    DoorServerOptions options;
    options.status_queries_on_thread = true;
    return options;
}

}  // namespace

DoorRig::DoorRig(const DoorRigOptions& options, LogSink& log)
    : sim_(options.controllers, options.control_port),
      db_(sample_db(options, sim_)),
      settings_(door_settings(db_)),
      log_(log),
      link_(zorvik_),
      doors_(settings_.points, link_, clock_, log, porvex398_options()) {}

DoorRig::~DoorRig() { doors_.stop(); }

double DoorRig::load() {
    const Wall::time_point start = Wall::now();
    doors_.start();
    const DirectoryOutcome outcome = load_door_directory(settings_, doors_, log_);
    if (outcome.step != DirectoryStep::loaded) {
        throw std::runtime_error("loading the door database failed: " + outcome.message);
    }
    return seconds_since(start);
}

OnlineTimes DoorRig::go_online(int pause_ms, Pump& pump, double limit_s) {
    OnlineTimes times;
    const Wall::time_point start = Wall::now();
    doors_.connect_pass({}, std::chrono::milliseconds(pause_ms));
    times.pass_s = seconds_since(start);
    const std::size_t total = doors_.door_count();
    times.all_online = pump.until([&] { return doors_online(doors_) == total; }, limit_s);
    times.online_s = seconds_since(start);
    return times;
}

}  // namespace porvex::bench
