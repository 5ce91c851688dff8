// Automation strings and the 8-bit text (the system code page) the engine works with.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <string_view>

namespace tarnet::ax {

// Automation text to the system code page (characters it lacks become its default
// character). A null BSTR is the empty text.
std::string to_system_text(BSTR text);
std::string to_system_text(std::wstring_view text);
// System code page text to automation text.
std::wstring widen_system_text(std::string_view text);

}  // namespace tarnet::ax
