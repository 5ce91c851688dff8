// RpcInterfaceAnchor: keeps COM's registration of a set of interfaces for remote calls for
// as long as it lives.
//
// Why: COM registers an interface with the RPC run-time while at least one stub of it
// exists in the process, and unregisters it, waiting for the interface's calls to end, when
// the last such stub goes. Under Wine that wait can miss a call that ends at the same moment
// and then never returns: a client that releases an object right after its last call on it
// leaves the releasing thread blocked for good. In a single-threaded server that thread is
// the main one, so the window and every client hang. Holding one stub of each interface the
// process serves means the count never falls to zero while the program runs, so the
// interfaces are never unregistered under calls. It also spares a registration and an
// unregistration per object.
//
// The stubs belong to an inert object that answers only IUnknown's methods. Its marshalled
// data is thrown away at once (the stubs stay until the anchor disconnects them), so no
// client can reach it and none of the interfaces' own methods is ever called on it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

namespace porvex::win {

class RpcInterfaceAnchor {
  public:
    RpcInterfaceAnchor() noexcept;
    // Anchors each of iids that COM can marshal in this process (it needs the interface's
    // proxy/stub); the others are listed by missing(). COM must be initialised on the
    // calling thread.
    explicit RpcInterfaceAnchor(std::span<const IID> iids) noexcept;
    RpcInterfaceAnchor(const RpcInterfaceAnchor&) = delete;
    RpcInterfaceAnchor& operator=(const RpcInterfaceAnchor&) = delete;
    RpcInterfaceAnchor(RpcInterfaceAnchor&& other) noexcept;
    RpcInterfaceAnchor& operator=(RpcInterfaceAnchor&&) noexcept;
    // Disconnects the stubs (before COM is uninitialised on the thread); the interfaces
    // are unregistered without waiting for calls still finishing.
    ~RpcInterfaceAnchor();

    std::size_t anchored() const noexcept { return anchored_; }
    const std::vector<IID>& missing() const noexcept { return missing_; }

  private:
    class InertObject;
    void release() noexcept;

    std::unique_ptr<InertObject> inert_;
    std::size_t anchored_ = 0;
    std::vector<IID> missing_;
};

}  // namespace porvex::win
