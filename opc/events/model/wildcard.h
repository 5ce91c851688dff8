// Wildcard patterns of area and source filters: '*' any run of characters (also none),
// '?' exactly one; letters compare without case (ASCII and Latin-1 letters).
#pragma once

#include <string_view>

namespace porvex::opc::events {

bool MatchesWildcard(std::wstring_view pattern, std::wstring_view name);

}  // namespace porvex::opc::events
