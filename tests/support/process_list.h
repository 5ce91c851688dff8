// The processes running right now, for tests that check how many copies of a program a
// scenario leaves behind (Windows only).
#pragma once

#include <windows.h>

#include <vector>

namespace ctlsim::testing {

// IDs of the running processes whose executable is exe_name (case-insensitive, no path).
std::vector<DWORD> ProcessesNamed(const wchar_t* exe_name);

}  // namespace ctlsim::testing
