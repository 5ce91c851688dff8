// The boundary around every thread body, shared by both platforms' Thread.
#pragma once

#include <functional>
#include <string>

namespace zorvik::net {

// Runs body; an exception leaving it is counted (Thread::escaped_exceptions) and its text
// goes to the escape reporter.
void run_thread_body(const std::function<void()>& body) noexcept;

// The platform's default place for that line (thread_win32.cpp: the debugger output,
// which a DLL's host can watch; thread_posix.cpp: standard error).
void report_escape_by_default(const std::string& line) noexcept;

}  // namespace zorvik::net
