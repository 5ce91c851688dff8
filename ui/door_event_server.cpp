#include "ui/door_event_server.h"

#include <atomic>

#include "door_opc/porvex_server.h"
#include "door_server.h"
#include "opc/com/text.h"
#include "opc/events/com/register_event_server.h"

namespace porvex::ui {
namespace {

std::atomic<TDoorEventServer*> the_server{nullptr};

}  // namespace

TDoorEventServer::TDoorEventServer()
    : engine_(opc::events::TEventCatalog(), std::wstring(kPorvexEventsDescription)),
      alarms_(engine_.Hub()) {
    opc::events::RegisterEventServer(kPorvexEventsClsid, kPorvexEventsClassName,
                                     kPorvexEventsDescription, L"");
    engine_.SetItemIdTranslator(
        [this](const std::wstring& source, std::uint32_t, const std::wstring&, const std::wstring&,
               std::uint32_t attribute) { return ItemId(source, attribute); },
        kPorvexServerClsid);
    the_server.store(this);
}

TDoorEventServer::~TDoorEventServer() { the_server.store(nullptr); }

TDoorEventServer* TDoorEventServer::Instance() noexcept { return the_server.load(); }

void TDoorEventServer::Attach(DoorServer& doors) {
    doors_ = &doors;
    doors.add_event_observer(&alarms_);
}

void TDoorEventServer::DoorsLoaded(DoorServer& doors) {
    doors_ = &doors;
    std::vector<AlarmDoor> list;
    for (std::size_t i = 0; i < doors.door_count(); ++i) {
        const DoorRecord door = doors.door(i);
        list.push_back({doors.node_text(door.door_node), door.ip, door.port});
    }
    engine_.Hub().ReplaceCatalog(door_alarm_catalog(list));
    alarms_.set_doors(std::move(list));
}

// The DA item of an attribute of a door: its point leaf, when the point is enabled.
std::wstring TDoorEventServer::ItemId(const std::wstring& source, std::uint32_t attribute) const {
    if (!doors_) {
        return {};
    }
    std::optional<PointKind> kind;
    switch (attribute) {
        case door_alarms::kCardAttribute:
            kind = PointKind::last_card;
            break;
        case door_alarms::kGrantedAttribute:
            kind = PointKind::door_open_state;
            break;
        case door_alarms::kOutcomeAttribute:
            kind = PointKind::remote_open;
            break;
        default:
            return {};
    }
    const std::string item = opc::Utf8FromWide(source) + "." + std::string(info(*kind).name);
    return doors_->find_leaf(item) ? opc::WideFromUtf8(item) : std::wstring();
}

}  // namespace porvex::ui
