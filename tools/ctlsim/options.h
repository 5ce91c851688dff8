// The ctlsim command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "controller_list.h"
#include "log.h"

namespace ctlsim {

struct CommandLine {
    std::optional<std::size_t> count;       // --controllers
    std::uint16_t base_port = 5768;         // --base-port
    std::vector<ControllerAddress> listen;  // --listen, in order
    std::vector<std::string> list_files;    // --list
    std::vector<std::string> door_dbs;      // --door-db
    std::optional<std::uint16_t> control_port;
    std::string scenario_file;
    std::optional<std::uint32_t> seed;
    bool read_stdin = true;
    LogLevel log_level = LogLevel::info;
    bool help = false;
    std::string error;  // set when the arguments are not usable
};

CommandLine parse_command_line(const std::vector<std::string>& args);

// The controllers the command line asks for: --controllers, then --listen, then each
// --list file, then each --door-db; one controller on port 5768 when none is given.
ControllerList controller_list(const CommandLine& cl);

extern const char* const kUsage;

}  // namespace ctlsim
