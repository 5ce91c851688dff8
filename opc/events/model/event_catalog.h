// What an event server offers, set up by the application before clients come and fixed
// from then on: event categories with their attributes, conditions with their
// subconditions, and the sources (with the area each belongs to and its conditions).
// Areas are the paths of the sources' areas and every path above them, separated by
// kAreaDelimiter. The engine adds its own category (kServerCategory) for its messages,
// such as events dropped from a full subscription buffer.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "opc/events/model/event.h"

namespace porvex::opc::events {

// The engine's category of server messages and its attribute: events lost by a
// subscription (a simple event, severity 500).
inline constexpr std::uint32_t kServerCategory = 9000;
inline constexpr std::uint32_t kLostEventsAttribute = 9001;

// VARTYPE codes of the attributes.
inline constexpr std::uint16_t kTypeBool = 11;  // VT_BOOL
inline constexpr std::uint16_t kTypeInt = 3;    // VT_I4
inline constexpr std::uint16_t kTypeText = 8;   // VT_BSTR

struct TAttributeInfo {
    std::uint32_t id = 0;
    std::wstring description;
    std::uint16_t type = kTypeText;
};

struct TCategoryInfo {
    std::uint32_t id = 0;
    std::uint32_t event_type = kSimpleEvent;
    std::wstring description;
    std::vector<TAttributeInfo> attributes;
};

struct TSubconditionInfo {
    std::wstring name;
    std::wstring definition;
    std::uint32_t severity = 500;
    std::wstring description;
};

struct TConditionInfo {
    std::wstring name;
    std::uint32_t category = 0;
    std::vector<TSubconditionInfo> subconditions;
};

struct TSourceInfo {
    std::wstring name;  // fully qualified
    std::wstring area;  // fully qualified area path, empty for the root
    std::vector<std::wstring> conditions;
};

class TEventCatalog {
  public:
    TEventCatalog();

    void AddCategory(TCategoryInfo category);
    void AddCondition(TConditionInfo condition);
    void AddSource(TSourceInfo source);

    const std::vector<TCategoryInfo>& Categories() const noexcept { return categories_; }
    const TCategoryInfo* Category(std::uint32_t id) const;
    const std::vector<TConditionInfo>& Conditions() const noexcept { return conditions_; }
    const TConditionInfo* Condition(const std::wstring& name) const;
    const std::vector<TSourceInfo>& Sources() const noexcept { return sources_; }
    const TSourceInfo* Source(const std::wstring& name) const;
    // Whether path is an area (the root "" always is).
    bool IsArea(const std::wstring& path) const;
    // The names (last path part) of the areas right below path.
    std::vector<std::wstring> ChildAreas(const std::wstring& path) const;
    // The sources right in area path.
    std::vector<const TSourceInfo*> SourcesIn(const std::wstring& path) const;
    // A source's name without its area path.
    static std::wstring ShortSourceName(const TSourceInfo& source);

  private:
    std::vector<TCategoryInfo> categories_;
    std::vector<TConditionInfo> conditions_;
    std::vector<TSourceInfo> sources_;
    std::map<std::wstring, std::size_t> source_index_;
};

// Joins an area path and a name with kAreaDelimiter (just the name below the root).
std::wstring JoinArea(const std::wstring& path, const std::wstring& name);

}  // namespace porvex::opc::events
