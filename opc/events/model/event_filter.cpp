#include "opc/events/model/event_filter.h"

#include <algorithm>

#include "opc/events/model/wildcard.h"

namespace porvex::opc::events {
namespace {

// Whether pattern names area or one of the areas above it.
bool AreaPasses(const std::wstring& pattern, std::wstring_view area) {
    while (true) {
        if (MatchesWildcard(pattern, area)) {
            return true;
        }
        const std::size_t dot = area.rfind(kAreaDelimiter);
        if (dot == std::wstring_view::npos) {
            return false;
        }
        area = area.substr(0, dot);
    }
}

}  // namespace

bool TEventFilter::Passes(const TEvent& event) const {
    if ((event.type & event_types) == 0) {
        return false;
    }
    if (!categories.empty() &&
        std::find(categories.begin(), categories.end(), event.category) == categories.end()) {
        return false;
    }
    if (event.severity < low_severity || event.severity > high_severity) {
        return false;
    }
    if (!areas.empty() && std::none_of(areas.begin(), areas.end(), [&](const std::wstring& a) {
            return AreaPasses(a, event.area);
        })) {
        return false;
    }
    return sources.empty() || std::any_of(sources.begin(), sources.end(), [&](const auto& s) {
               return MatchesWildcard(s, event.source);
           });
}

const TAttributeValue* FindAttribute(const TEvent& event, std::uint32_t id) {
    for (const TAttribute& attribute : event.attributes) {
        if (attribute.id == id) {
            return &attribute.value;
        }
    }
    return nullptr;
}

}  // namespace porvex::opc::events
