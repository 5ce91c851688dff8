// Controllers from a door database: the controllers of the doors the door server would
// load from the same file, read with the door server's own query (so doors out of
// service are left out), one controller per address and port.
#pragma once

#include <string>

#include "controller_list.h"

namespace ctlsim {

// An SQLite door database file (as doordb creates it). Controllers on another host
// than 127.0.0.1 are skipped with a warning; a port text that is not a number is the
// controllers' default port 5768, as the door server reads it.
ControllerList load_door_db(const std::string& path);

}  // namespace ctlsim
