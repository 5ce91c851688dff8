// Wide-string helpers of the engine: UTF-8 for exception texts, the case-insensitive key
// every name lookup uses (namespace, groups, server items), blank trimming.
#pragma once

#include <string>
#include <string_view>

namespace porvex::opc {

std::string Utf8FromWide(std::wstring_view text);
std::wstring WideFromUtf8(std::string_view text);

// The key under which names are sorted and looked up: an ordinal, case-insensitive key
// (upper case, locale independent), so the same rule holds for sorting and for lookup.
std::wstring FoldCase(std::wstring_view text);
bool EqualNoCase(std::wstring_view a, std::wstring_view b);

// Leading and trailing blanks and control characters removed.
std::wstring TrimBlanks(std::wstring_view text);

// The text of a null-terminated wide string from a client, or an empty one for null.
inline std::wstring FromClientString(const wchar_t* text) { return text ? text : L""; }

}  // namespace porvex::opc
