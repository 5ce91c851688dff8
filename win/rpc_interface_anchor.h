// AnchorRpcInterfaces: keeps COM's registration of a set of interfaces for remote calls for
// the rest of the process's life.
//
// Why: COM registers an interface with the RPC run-time while at least one stub of it
// exists in the process, and unregisters it, waiting for the interface's calls to end, when
// the last such stub goes. Under Wine that wait can miss a call that ends at the same moment
// and then never returns. Two moments lead there:
// - while the program runs, a client releases an object right after its last call on it,
//   and the releasing thread (in a single-threaded server, the main one) blocks for good;
// - when the program ends, CoUninitialize tears down every stub the apartment still has
//   (objects clients still hold, COM's own remote IUnknown, the activation object) and
//   unregisters each interface whose last stub goes, while the clients' last calls and
//   releases still arrive on the RPC threads. A multithreaded server then never ends.
// Holding one stub of each interface the process serves means the count never falls to zero,
// so no interface is ever unregistered under calls.
//
// The stubs belong to an inert object that answers only IUnknown's methods, in an apartment
// of its own: a thread that marshals the object for each interface and then only waits for
// messages until the process ends. Being in another apartment, the stubs (and that
// apartment's remote IUnknown) outlive the end of the program's own apartment. The
// marshalled data is thrown away at once, so no client can reach the object and none of
// the interfaces' own methods is ever called on it. The thread ends with the process: it
// is for programs, not for DLLs that may be unloaded.
#pragma once

#include <windows.h>

#include <cstddef>
#include <span>
#include <vector>

namespace porvex::win {

struct RpcAnchorReport {
    // How many of the interfaces asked for are anchored.
    std::size_t anchored = 0;
    // Those COM cannot marshal in this process (no proxy/stub), or all of them when the
    // anchoring thread could not run.
    std::vector<IID> missing;
};

// Anchors each of iids for the life of the process, in the anchoring apartment (its own
// thread; the calling thread needs no COM). Anchoring an interface twice is harmless.
RpcAnchorReport AnchorRpcInterfaces(std::span<const IID> iids) noexcept;

}  // namespace porvex::win
