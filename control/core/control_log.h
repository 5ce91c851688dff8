// The control's log: what an operator should see when something went wrong that no
// method result or event tells the host (an exception caught at a thread entry or a
// window procedure, Winsock that would not start). The control lives inside someone
// else's program, so it never writes to the console: by default a line goes to the
// debugger output on Windows (DebugView shows it) and to standard error elsewhere, and a
// host or a test may point it elsewhere.
#pragma once

#include <functional>
#include <string_view>

namespace tarnet {

using LogSink = std::function<void(std::string_view line)>;

// Replaces the sink (an empty function restores the default); returns the previous one.
LogSink set_log_sink(LogSink sink);

// Writes one line. A log that fails (no memory for the line, a sink that throws) never
// takes its caller down.
void log_line(std::string_view line) noexcept;

// The default destination of a line; one definition per platform.
void write_default_log(std::string_view line) noexcept;

}  // namespace tarnet
