// The client that owns a group, as its groups see it: the client's group list (names,
// insertion, renaming, removal), its item server and its last-update time. TServerImpl
// (opc/server_object) implements it.
#pragma once

#include <string>

#include "opc/server/engine_objects.h"
#include "opc/server/item_server.h"

namespace porvex::opc {

class TGroupImpl;

class TGroupOwner : public TEngineClient {
  public:
    // The item server; EOpcServer "OPCSERV: No item server" once it has gone.
    virtual TOpcItemServer& Server() const = 0;
    // Stamps the last update time with the item server's clock.
    virtual void RefreshLastUpdate() = 0;

    virtual bool NameInUse(const std::wstring& name) const = 0;
    // Inserts / takes out a group of this client; EOpcError OPC_E_DUPLICATENAME for a name
    // in use.
    virtual void InsertGroup(TGroupImpl& group) = 0;
    virtual void TakeOutGroup(TGroupImpl& group) noexcept = 0;
    virtual void RenameGroup(TGroupImpl& group, const std::wstring& newName) = 0;
    // A group taken out while still referenced tells when its last reference goes.
    virtual void ForgetRemovedGroup(TGroupImpl& group) noexcept = 0;
};

}  // namespace porvex::opc
