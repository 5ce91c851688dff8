// One door row of the database, as the door directory takes it.
#pragma once

#include <cstdint>
#include <string>

namespace porvex {

// One door row as the directory takes it (already converted from database values).
struct DoorRow {
    std::string name;      // Device_Name
    std::string location;  // Device_Location
    std::string ip;        // Board_IP
    std::string port;      // Board_Port
    std::int32_t in_reader = 0;
    std::int32_t out_reader = 0;
};

}  // namespace porvex
