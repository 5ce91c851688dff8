// The conformance calls: every method of every interface an OPC server of this project
// exposes, called with zero counts, one item, many items and a mix of valid and invalid
// handles, each answer written to a transcript and every [in] and [out] array checked
// (conformance_support.h). A scenario runs on a client of the server under test; the same
// scenario runs from an STA client, from an MTA client and (for the sample server) against
// the server in-process, and the transcripts must agree.
#pragma once

#include <string>
#include <vector>

#include "conformance_support.h"

namespace porvex::opc::conformance {

// What a server under test offers the scenarios.
struct TTarget {
    std::vector<std::wstring> items;  // readable items (at least 2) whose values stay put
    std::vector<std::wstring> many;   // many readable items
    std::wstring writable;            // readable and writable
    win::Variant write_value;         // what is written to it (sync and async)
    std::wstring branch;              // a branch at the root of the namespace
};

using TScenarioRun = void (*)(IOPCServer* server, const TTarget& target, TTranscript& out);

struct TScenario {
    const char* name;
    TScenarioRun run;
};

// IOPCServer, IOPCCommon, IOPCBrowseServerAddressSpace with IEnumString,
// IOPCItemProperties, IConnectionPointContainer/IConnectionPoint with IOPCShutdown, the
// group (IOPCGroupStateMgt, IOPCItemMgt, IEnumOPCItemAttributes, IEnumUnknown), IOPCSyncIO,
// IOPCAsyncIO2 with IOPCDataCallback, IOPCAsyncIO with IDataObject.
const std::vector<TScenario>& Scenarios();

}  // namespace porvex::opc::conformance
