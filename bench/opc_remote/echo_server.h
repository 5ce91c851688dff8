// The echo servers of the benchmark: an object that takes every IOPCDataCallback call and
// does nothing, in a process of its own (this program started by COM), living in a
// single-threaded or in the multithreaded apartment. The difference between empty calls to
// the two is what the single-threaded apartment costs a call under this platform.
#pragma once

#include <windows.h>

namespace porvex::bench {

// The class of the echo in a single-threaded (sta) or the multithreaded apartment.
const CLSID& EchoClsid(bool sta);
// Registers both classes for this program (started with -Echo sta|mta); false on failure.
bool RegisterEchoServers();
void UnregisterEchoServers();
// Serves the echo class of the apartment until its last object is released.
int ServeEcho(bool sta);
// The median seconds of an empty call to each echo (alternating blocks of calls), as
// {single-threaded, multithreaded}; negative when an echo could not be started.
struct TApartmentCost {
    double sta_seconds = -1;
    double mta_seconds = -1;
};
TApartmentCost MeasureApartmentCost(int calls);

}  // namespace porvex::bench
