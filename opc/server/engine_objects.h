// The clients and groups as the item server's own state keeps them. TOpcItemServer lists
// the connected clients and registers the live groups through these two interfaces; the
// layers above implement them (TServerImpl in opc/server_object, TGroupImpl in opc/group),
// so the item server's state depends on nothing above it.
#pragma once

#include <windows.h>

#include <string>

#include "opc/namespace/namespace_node.h"
#include "opc/server/public_info.h"

namespace porvex::opc {

// A connected client's server object.
class TEngineClient : public TClientInfo {
  public:
    // The object's COM identity: the item server holds a reference on it while it calls
    // the client without the client-list lock.
    virtual IUnknown& ComIdentity() noexcept = 0;
    // The client's browse position (null for the root), under the client-list lock.
    virtual TItemIdList*& BrowsePosition() noexcept = 0;
    // Sends ShutdownRequest when a sink is advised; true when one was.
    virtual bool RequestShutdown(const std::wstring& reason) = 0;
    // The item server is going away: the groups leave, the sink is dropped, and every later
    // call fails.
    virtual void Detach() noexcept = 0;
};

// A live group, registered under its server handle.
class TEngineGroup : public TGroupInfo {
  public:
    // One update tick (the window timer whose ID is the group's server handle).
    virtual void Tick() = 0;
};

}  // namespace porvex::opc
