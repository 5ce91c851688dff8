#include "door_opc/item_reading.h"

#include <exception>
#include <stdexcept>
#include <string>

#include "door_opc/item_values.h"
#include "door_server.h"
#include "opc/com/errors.h"
#include "opc/com/log.h"
#include "opc/com/text.h"
#include "opc/idl/opc_interfaces.h"

namespace porvex {

namespace {

std::wstring message_of(const std::exception& e) {
    if (const auto* opc_error = dynamic_cast<const opc::EOpcError*>(&e)) {
        if (!opc_error->Message().empty()) {
            return opc_error->Message();
        }
    }
    return opc::WideFromUtf8(e.what());
}

}  // namespace

bool read_door_item(DoorServer& doors, NodeId leaf, WORD& quality, win::Variant& value) {
    VARTYPE type = VT_EMPTY;
    try {
        type = canonical_type(doors.leaf_owner(leaf));
        const std::optional<DoorServer::ItemReading> read = doors.read_item_and_link(leaf);
        if (!read) {
            throw std::runtime_error("the leaf has no value");
        }
        value = to_canonical(read->value, type);
        // The values stay what the door shows (没有监控 and -1 for a door without a
        // link); the quality says whether the server can know them.
        quality = link_quality(read->link);
        return true;
    } catch (const std::exception& e) {
        try {
            opc::LogLine(L"door items: reading item " + std::to_wstring(leaf) + L" failed: " +
                         message_of(e));
        } catch (...) {
        }
    }
    value = empty_of(type);
    quality = OPC_QUALITY_BAD;
    return false;
}

}  // namespace porvex
