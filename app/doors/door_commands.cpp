#include "doors/door_commands.h"

namespace porvex {

std::string_view describe(RemoteOpenOutcome outcome) {
    switch (outcome) {
        case RemoteOpenOutcome::sent:
            return "sent";
        case RemoteOpenOutcome::locked:
            return "locked by a pending open, nothing sent";
        case RemoteOpenOutcome::refused_offline:
            return "refused, controller offline";
        case RemoteOpenOutcome::refused_by_library:
            return "refused by the controller library";
        case RemoteOpenOutcome::refused_value:
            return "refused, value is not 1";
        case RemoteOpenOutcome::not_remote_open:
            return "not a remote-open point";
    }
    return "?";
}

}  // namespace porvex
