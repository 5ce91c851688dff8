// The simulated alarms and events of the sample server's OPC Alarms & Events class
// (ProgID opcsample.SampleEvents.1), fed by writes to its DA items Events.*:
//
//   category 1  "Card read"         simple     attributes 1 Card (BSTR), 2 Reader (I4),
//                                              3 Granted (BOOL)
//   category 3  "Level alarm"       condition  attribute 20 Level (I4)
//   condition   HighLevel           subconditions Hi (severity 500, level >= 70) and
//                                   HiHi (severity 800, level >= 90)
//   sources     Plant.Hall1.Door1   (area Plant.Hall1) card reads
//               Plant.Hall1.Tank1   (area Plant.Hall1) HighLevel
//               Plant.Hall2.Tank2   (area Plant.Hall2) HighLevel
//
//   Events.CardRead  = "123"  a card read of card 123 at reader 1, granted
//   Events.CardBurst = N      N card reads at once ("burst-1" ...)
//   Events.TankNLevel = L     HighLevel of TankN: HiHi from 90, Hi from 70, clear below
//
// TranslateToItemIDs maps a tank's Level attribute to the DA item Events.TankNLevel.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>

#include "opc/events/model/event_catalog.h"

namespace porvex::opc::events {
class TEventHub;
}

namespace porvex::opc::sample {

inline constexpr std::uint32_t kCardReadCategory = 1;
inline constexpr std::uint32_t kLevelAlarmCategory = 3;
inline constexpr std::uint32_t kCardAttribute = 1;
inline constexpr std::uint32_t kReaderAttribute = 2;
inline constexpr std::uint32_t kGrantedAttribute = 3;
inline constexpr std::uint32_t kLevelAttribute = 20;

events::TEventCatalog SampleEventCatalog();

// Acts on a write to an Events.* item.
void ApplyEventWrite(events::TEventHub& hub, const std::wstring& itemId, const VARIANT& value);

// The DA item ID of an event attribute, empty when there is none.
std::wstring SampleAttributeItem(const std::wstring& source, std::uint32_t attribute);

}  // namespace porvex::opc::sample
