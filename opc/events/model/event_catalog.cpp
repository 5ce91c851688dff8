#include "opc/events/model/event_catalog.h"

#include <algorithm>
#include <stdexcept>

#include "opc/events/model/event_filter.h"

namespace porvex::opc::events {

std::wstring JoinArea(const std::wstring& path, const std::wstring& name) {
    return path.empty() ? name : path + kAreaDelimiter + name;
}

TEventCatalog::TEventCatalog() {
    AddCategory({kServerCategory,
                 kSimpleEvent,
                 L"Server messages",
                 {{kLostEventsAttribute, L"Events lost", kTypeInt}}});
}

void TEventCatalog::AddCategory(TCategoryInfo category) {
    if (Category(category.id)) {
        throw std::invalid_argument("event category added twice");
    }
    categories_.push_back(std::move(category));
}

void TEventCatalog::AddCondition(TConditionInfo condition) {
    if (Condition(condition.name) || !Category(condition.category)) {
        throw std::invalid_argument("condition added twice or without its category");
    }
    conditions_.push_back(std::move(condition));
}

void TEventCatalog::AddSource(TSourceInfo source) {
    for (const std::wstring& condition : source.conditions) {
        if (!Condition(condition)) {
            throw std::invalid_argument("source names an unknown condition");
        }
    }
    if (!source_index_.emplace(source.name, sources_.size()).second) {
        throw std::invalid_argument("source added twice");
    }
    sources_.push_back(std::move(source));
}

const TCategoryInfo* TEventCatalog::Category(std::uint32_t id) const {
    for (const TCategoryInfo& category : categories_) {
        if (category.id == id) {
            return &category;
        }
    }
    return nullptr;
}

const TConditionInfo* TEventCatalog::Condition(const std::wstring& name) const {
    for (const TConditionInfo& condition : conditions_) {
        if (condition.name == name) {
            return &condition;
        }
    }
    return nullptr;
}

const TSourceInfo* TEventCatalog::Source(const std::wstring& name) const {
    const auto found = source_index_.find(name);
    return found == source_index_.end() ? nullptr : &sources_[found->second];
}

namespace {

// Whether area equals path or lies below it.
bool Within(const std::wstring& area, const std::wstring& path) {
    if (path.empty()) {
        return true;
    }
    return area == path || (area.size() > path.size() && area.compare(0, path.size(), path) == 0 &&
                            area[path.size()] == kAreaDelimiter);
}

}  // namespace

bool TEventCatalog::IsArea(const std::wstring& path) const {
    return path.empty() || std::any_of(sources_.begin(), sources_.end(),
                                       [&](const auto& s) { return Within(s.area, path); });
}

std::vector<std::wstring> TEventCatalog::ChildAreas(const std::wstring& path) const {
    std::vector<std::wstring> children;
    for (const TSourceInfo& source : sources_) {
        if (!Within(source.area, path) || source.area == path) {
            continue;
        }
        const std::size_t start = path.empty() ? 0 : path.size() + 1;
        const std::size_t end = source.area.find(kAreaDelimiter, start);
        std::wstring child =
            source.area.substr(start, end == std::wstring::npos ? end : end - start);
        if (std::find(children.begin(), children.end(), child) == children.end()) {
            children.push_back(std::move(child));
        }
    }
    return children;
}

std::vector<const TSourceInfo*> TEventCatalog::SourcesIn(const std::wstring& path) const {
    std::vector<const TSourceInfo*> found;
    for (const TSourceInfo& source : sources_) {
        if (source.area == path) {
            found.push_back(&source);
        }
    }
    return found;
}

std::wstring TEventCatalog::ShortSourceName(const TSourceInfo& source) {
    if (!source.area.empty() && source.name.size() > source.area.size() + 1 &&
        source.name.compare(0, source.area.size(), source.area) == 0 &&
        source.name[source.area.size()] == kAreaDelimiter) {
        return source.name.substr(source.area.size() + 1);
    }
    return source.name;
}

}  // namespace porvex::opc::events
