// The door list at start-up: the rows the database gives (db/door_loader.h) handed to
// the door server, then the value holders.
#pragma once

#include "core/log.h"
#include "db/door_loader.h"
#include "door_server.h"

namespace porvex {

// read_door_directory, then every row read goes to the server in order (after a failed
// row the rows before it too); only when every row was read do the leaves get their
// value holders. The outcome's rows are handed over (left empty).
DirectoryOutcome load_door_directory(const Settings& settings, DoorServer& server, LogSink& log,
                                     const DatabaseTimeouts& timeouts = {});

}  // namespace porvex
