// Sample door databases: the two tables of the access-control management system with
// N controllers of up to 8 doors each, for tests, benchmarks and the demo.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace porvex {

struct SampleDoorDbOptions {
    int controllers = 4;
    int doors_per_controller = 8;  // 1..8; door i uses entry reader 2^i
    std::string ip = "127.0.0.1";
    int base_port = 15768;   // controller c listens on base_port + c ...
    std::vector<int> ports;  // ... unless ports names one port per controller
    // Adds to every controller one door row marked out of service (Device_Status '1'),
    // which the door query must not return.
    bool with_disabled_rows = false;
};

// Creates the database file (replacing an existing one). Throws std::runtime_error.
void create_sample_door_db(const std::filesystem::path& file, const SampleDoorDbOptions& options);

// Door name and location of door `door` of controller `controller`, unique across the
// database: "A栋3楼东门", "A栋3楼东侧".
std::string sample_door_name(int controller, int door);
std::string sample_door_location(int controller, int door);

// The statements that create the two tables (SQLite dialect).
extern const char* const kSampleDoorSchema;

}  // namespace porvex
