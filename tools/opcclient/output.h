// opcclient's output: results on standard output, diagnostics on standard error, both
// UTF-8 and flushed line by line (scripts and tests read them as they come).
#pragma once

#include <string>

namespace porvex::opcclient {

void PrintLine(const std::wstring& line);
void PrintError(const std::wstring& line);

}  // namespace porvex::opcclient
