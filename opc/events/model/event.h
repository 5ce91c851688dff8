// One alarm or event as the event engine carries it from the application to the
// subscriptions: what the OPC Alarms & Events sink receives, without COM types, so the
// filters, conditions and buffers are portable (and tested natively).
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace porvex::opc::events {

// Event types and condition state bits: the published A&E values (opc_ae_constants.h).
inline constexpr std::uint32_t kSimpleEvent = 0x0001;
inline constexpr std::uint32_t kTrackingEvent = 0x0002;
inline constexpr std::uint32_t kConditionEvent = 0x0004;
inline constexpr std::uint32_t kAllEvents = 0x0007;

inline constexpr std::uint16_t kChangeActive = 0x0001;
inline constexpr std::uint16_t kChangeAck = 0x0002;
inline constexpr std::uint16_t kChangeEnable = 0x0004;
inline constexpr std::uint16_t kChangeQuality = 0x0008;
inline constexpr std::uint16_t kChangeSeverity = 0x0010;
inline constexpr std::uint16_t kChangeSubcondition = 0x0020;
inline constexpr std::uint16_t kChangeMessage = 0x0040;
inline constexpr std::uint16_t kChangeAttribute = 0x0080;

inline constexpr std::uint16_t kStateEnabled = 0x0001;
inline constexpr std::uint16_t kStateActive = 0x0002;
inline constexpr std::uint16_t kStateAcked = 0x0004;

inline constexpr std::uint16_t kQualityGood = 0xC0;

// Times are FILETIME values: 100 ns units since 1601-01-01 UTC.
using TFileTime = std::uint64_t;

// An attribute value: empty, a flag, a number or a text (VT_EMPTY, VT_BOOL, VT_I4, VT_BSTR).
using TAttributeValue = std::variant<std::monostate, bool, std::int32_t, std::wstring>;

struct TAttribute {
    std::uint32_t id = 0;
    TAttributeValue value;
};

struct TEvent {
    std::wstring source;  // fully qualified source name
    std::wstring area;    // fully qualified area of the source (for area filters)
    TFileTime time = 0;
    std::wstring message;
    std::uint32_t type = kSimpleEvent;
    std::uint32_t category = 0;
    std::uint32_t severity = 1;  // 1..1000
    std::wstring actor;          // tracking events and acknowledgements: who did it
    // Condition events only.
    std::wstring condition;
    std::wstring subcondition;
    std::uint16_t change_mask = 0;
    std::uint16_t new_state = 0;
    std::uint16_t quality = kQualityGood;
    bool ack_required = false;
    TFileTime active_time = 0;
    std::uint32_t cookie = 0;
    // Every attribute the category has, in the category's order; a subscription returns
    // the ones its client selected.
    std::vector<TAttribute> attributes;
};

// The value of attribute id in event, or an empty value.
const TAttributeValue* FindAttribute(const TEvent& event, std::uint32_t id);

}  // namespace porvex::opc::events
