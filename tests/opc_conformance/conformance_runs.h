// Running a scenario (conformance_calls.h) as an STA client, as an MTA client (a thread of
// its own) and in-process, and comparing what the runs answered.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "conformance_calls.h"

namespace porvex::opc::conformance {

// A client of the local server class, on the calling (STA) thread.
TTranscript RunSta(const CLSID& clsid, const TTarget& target, const TScenario& scenario);
// A client of the local server class on a new thread in the multithreaded apartment.
TTranscript RunMta(const CLSID& clsid, const TTarget& target, const TScenario& scenario);
// A client of a server object made by connect (in this process), on the calling thread.
TTranscript RunWith(const std::function<win::ComPtr<IOPCServer>()>& connect, const TTarget& target,
                    const TScenario& scenario);

// Fails the test with the first line where the two transcripts differ.
void ExpectSame(const TTranscript& expected, const TTranscript& actual, const char* what);

}  // namespace porvex::opc::conformance
