#include "doors/door_record.h"

#include "core/text.h"

namespace porvex {

NodeId DoorRecord::node(PointKind kind) const {
    switch (kind) {
        case PointKind::door_state:
            return StateNode;
        case PointKind::remote_open:
            return RemoteOpenNode;
        case PointKind::last_card:
            return LastCardNode;
        case PointKind::invalid_card:
            return InvalidCardNode;
        case PointKind::tamper:
            return TamperNode;
        case PointKind::door_open_state:
            return DoorOpenNode;
        case PointKind::contact_alarm:
            return ContactAlarmNode;
    }
    return kNoNode;
}

int link_port(const std::string& port_text) {
    return parse_int(port_text).value_or(kDefaultControllerPort);
}

}  // namespace porvex
