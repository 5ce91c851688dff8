// File-name style masks for browse filters.
#pragma once

#include <string_view>

namespace porvex::opc {

// Whether name matches mask, ignoring letter case: '*' matches any run of characters
// (also none), '?' exactly one, '[...]' one character of a set of characters and ranges
// ("[a-c9]"), negated by a leading '!' ("[!0-9]"); the first character of a set is taken
// literally, so "[]]" matches ']'. A set without its closing ']' is malformed:
// EOpcError OPC_E_INVALIDFILTER.
bool MatchesMask(std::wstring_view mask, std::wstring_view name);

}  // namespace porvex::opc
