#include "tools/opcsample/sample_events.h"

#include "opc/com/errors.h"
#include "opc/events/model/event_hub.h"
#include "opc/idl/opc_interfaces.h"

namespace porvex::opc::sample {

using namespace porvex::opc::events;

namespace {

constexpr wchar_t kDoor[] = L"Plant.Hall1.Door1";
constexpr wchar_t kHighLevel[] = L"HighLevel";

void PostCard(TEventHub& hub, const std::wstring& card) {
    TEvent event;
    event.source = kDoor;
    event.category = kCardReadCategory;
    event.severity = 100;
    event.message = L"card " + card + L" granted at reader 1";
    event.attributes = {{kCardAttribute, card}, {kReaderAttribute, 1}, {kGrantedAttribute, true}};
    hub.Post(std::move(event));
}

void SetLevel(TEventHub& hub, const std::wstring& tank, LONG level) {
    const std::wstring sub = level >= 90 ? L"HiHi" : level >= 70 ? L"Hi" : L"";
    const std::wstring message =
        sub.empty() ? L"level normal" : L"level " + std::to_wstring(level) + L" (" + sub + L")";
    std::vector<TAttribute> attributes = {{kLevelAttribute, static_cast<std::int32_t>(level)}};
    hub.SetCondition(tank, kHighLevel, !sub.empty(), 0, sub, 0, message, std::move(attributes));
}

LONG Number(const VARIANT& value) {
    if (value.vt != VT_I4) {
        throw EOpcError(OPC_E_BADTYPE);
    }
    return value.lVal;
}

}  // namespace

TEventCatalog SampleEventCatalog() {
    TEventCatalog catalog;
    catalog.AddCategory({kCardReadCategory,
                         kSimpleEvent,
                         L"Card read",
                         {{kCardAttribute, L"Card", kTypeText},
                          {kReaderAttribute, L"Reader", kTypeInt},
                          {kGrantedAttribute, L"Granted", kTypeBool}}});
    catalog.AddCategory({kLevelAlarmCategory,
                         kConditionEvent,
                         L"Level alarm",
                         {{kLevelAttribute, L"Level", kTypeInt}}});
    catalog.AddCondition({kHighLevel,
                          kLevelAlarmCategory,
                          {{L"Hi", L"level >= 70", 500, L"Level high"},
                           {L"HiHi", L"level >= 90", 800, L"Level very high"}}});
    catalog.AddSource({kDoor, L"Plant.Hall1", {}});
    catalog.AddSource({L"Plant.Hall1.Tank1", L"Plant.Hall1", {kHighLevel}});
    catalog.AddSource({L"Plant.Hall2.Tank2", L"Plant.Hall2", {kHighLevel}});
    return catalog;
}

void ApplyEventWrite(TEventHub& hub, const std::wstring& itemId, const VARIANT& value) {
    if (itemId == L"Events.CardRead") {
        if (value.vt != VT_BSTR) {
            throw EOpcError(OPC_E_BADTYPE);
        }
        PostCard(hub, value.bstrVal ? value.bstrVal : L"");
    } else if (itemId == L"Events.CardBurst") {
        const LONG count = Number(value);
        for (LONG i = 1; i <= count; ++i) {
            PostCard(hub, L"burst-" + std::to_wstring(i));
        }
    } else if (itemId == L"Events.Tank1Level") {
        SetLevel(hub, L"Plant.Hall1.Tank1", Number(value));
    } else if (itemId == L"Events.Tank2Level") {
        SetLevel(hub, L"Plant.Hall2.Tank2", Number(value));
    }
}

std::wstring SampleAttributeItem(const std::wstring& source, std::uint32_t attribute) {
    if (attribute != kLevelAttribute) {
        return {};
    }
    if (source == L"Plant.Hall1.Tank1") {
        return L"Events.Tank1Level";
    }
    return source == L"Plant.Hall2.Tank2" ? L"Events.Tank2Level" : L"";
}

}  // namespace porvex::opc::sample
