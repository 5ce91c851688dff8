// UTF-8 (the program's own text) to and from UTF-16 (the text of Windows, ODBC's wide
// functions and OLE DB). Broken sequences become U+FFFD instead of failing.
#pragma once

#include <string>
#include <string_view>

namespace porvex {

std::u16string utf8_to_utf16(std::string_view utf8);
std::string utf16_to_utf8(std::u16string_view utf16);

}  // namespace porvex
