#include "doors/door_record.h"

#include "core/text.h"

namespace porvex {

NodeId DoorRecord::node(PointKind kind) const {
    switch (kind) {
        case PointKind::door_state:
            return state_node;
        case PointKind::remote_open:
            return remote_open_node;
        case PointKind::last_card:
            return last_card_node;
        case PointKind::invalid_card:
            return invalid_card_node;
        case PointKind::tamper:
            return tamper_node;
        case PointKind::door_open_state:
            return door_open_node;
        case PointKind::contact_alarm:
            return contact_alarm_node;
    }
    return kNoNode;
}

int link_port(const std::string& port_text) {
    return parse_int(port_text).value_or(kDefaultControllerPort);
}

}  // namespace porvex
