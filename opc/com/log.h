// The engine's operation log: what an operator should see when something went wrong that
// no client is told about (an unexpected exception at a COM boundary, a failing exception
// handler). The program points it where its operators look; by default it goes to the
// debugger output.
#pragma once

#include <functional>
#include <string_view>

namespace porvex::opc {

using TLogSink = std::function<void(std::wstring_view line)>;

// Replaces the sink (an empty function restores the default). Returns the previous one.
TLogSink SetLogSink(TLogSink sink);

void LogLine(std::wstring_view line) noexcept;

}  // namespace porvex::opc
