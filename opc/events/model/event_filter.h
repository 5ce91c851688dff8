// The filter of one subscription (SetFilter): event types, categories, a severity range,
// areas and sources. An empty list lets everything through; areas and sources may hold
// wildcard patterns (wildcard.h). An area lets through the sources of that area and of
// every area below it (area paths are separated by kAreaDelimiter).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "opc/events/model/event.h"

namespace porvex::opc::events {

inline constexpr wchar_t kAreaDelimiter = L'.';

struct TEventFilter {
    std::uint32_t event_types = kAllEvents;
    std::vector<std::uint32_t> categories;
    std::uint32_t low_severity = 1;
    std::uint32_t high_severity = 1000;
    std::vector<std::wstring> areas;
    std::vector<std::wstring> sources;

    bool Passes(const TEvent& event) const;
};

}  // namespace porvex::opc::events
