// Allocation failures on purpose: the test program's operator new fails the n-th
// allocation of one engine thread, or of the calling thread, as if memory had run out.
// Only the code linked into the test program is affected (the engine and the control's
// library), so a test sees exactly what the control does when an allocation fails.
#pragma once

#include "engine.h"

namespace tarnet::testing {

// The n-th allocation (1 = the next) made by a thread of that role fails once.
void fail_allocation_on(ThreadRole role, int nth = 1);
// The n-th allocation the calling thread makes fails once.
void fail_allocation_here(int nth = 1);
// No allocation fails any more.
void stop_failing_allocations();
// Allocations that were made to fail since the program started.
int failed_allocations();

}  // namespace tarnet::testing
