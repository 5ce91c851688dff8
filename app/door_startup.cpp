#include "door_startup.h"

#include <exception>
#include <string>

namespace porvex {

DirectoryOutcome load_door_directory(const Settings& settings, DoorServer& server, LogSink& log,
                                     const DatabaseTimeouts& timeouts) {
    DirectoryOutcome outcome = read_door_directory(settings, log, timeouts);
    for (const DoorRow& row : outcome.rows) {
        server.add_door(row);
    }
    outcome.rows.clear();
    if (outcome.step != DirectoryStep::loaded) {
        return outcome;
    }
    try {
        server.attach_value_holders();
    } catch (const std::exception& e) {
        outcome.step = DirectoryStep::load_failed;
        outcome.message = e.what();
        outcome.dialog_text = std::string(kDoorListFailedText) + "\n" + e.what();
        log.write(LogLevel::error, std::string("door directory: ") + e.what());
        return outcome;
    }
    log.write(LogLevel::info, "door directory: " + std::to_string(outcome.doors) + " doors loaded");
    return outcome;
}

}  // namespace porvex
