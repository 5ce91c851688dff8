// Calls a function the way a host of another compiler would, and tells which calling
// convention the callee follows (32-bit x86 Windows only).
#pragma once

#include <cstdint>
#include <vector>

namespace zorvik::access::testing {

struct ProbedCall {
    std::uint32_t result = 0;  // EAX after the call
    int popped_bytes = 0;      // argument bytes the callee removed from the stack
};

// Pushes args right to left, sets ECX to this_arg, calls fn. A __stdcall or __thiscall
// callee pops 4 bytes per argument; a __cdecl one pops none.
ProbedCall probe_call(const void* fn, const std::vector<std::uint32_t>& args,
                      std::uint32_t this_arg = 0);

}  // namespace zorvik::access::testing
