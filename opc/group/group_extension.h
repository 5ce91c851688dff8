// The seam for the interfaces a group answers besides its core ones: IOPCAsyncIO2,
// IOPCAsyncIO and IDataObject with their transaction queue and data-object streams. A
// module providing them installs a factory on the item server
// (TOpcItemServer::SetGroupExtensionFactory, typically from the registration step); every
// group then creates its extension when it is made and consults it as below.
//
// What an extension finds on TGroupImpl: item handle validation (FindItem, ValidateItem),
// reading for delivery and writing (ReadItem, WriteItem), the OnDataChange delivery of
// refreshes (DeliverDataChange), the active items (ActiveItemHandles), the data callback,
// the enable flag, callback-failure reports, and the engine window for posting
// transactions (Server().Window().Post). Everything runs under the engine lock
// (opc/com/engine_lock.h); a call out to a client releases it.
#pragma once

#include <windows.h>

#include <span>

#include "opc/idl/opc_interfaces.h"

namespace porvex::opc {

class TGroupItemImpl;

class TGroupExtension {
  public:
    virtual ~TGroupExtension() = default;

    // riid when this extension implements it on the group's identity (its IUnknown
    // methods delegate to the group), without a new reference; null otherwise.
    virtual void* QueryInterface(REFIID riid) noexcept = 0;
    // The client advised (true) or unadvised (false) the group's IOPCDataCallback.
    virtual void DataCallbackChanged(bool advised) { (void)advised; }
    // Whether the extension wants the changes of each update tick (ItemsChanged).
    virtual bool WantsItemsChanged() const noexcept { return false; }
    // The update tick found the items of these server handles changed; called after the
    // OnDataChange delivery, during which the client may have removed some of them: an
    // extension finds the items again (and again after each call out of its own).
    virtual void ItemsChanged(std::span<const OPCHANDLE> handles) { (void)handles; }
    // The client removed the group while it still holds references to it: the group keeps
    // answering those references, but work queued for it is no longer wanted.
    virtual void GroupRemoved() noexcept {}
    // The group leaves its server (removed, or its client gone): drop pending work and
    // sinks.
    virtual void GroupLeaving() noexcept {}
};

}  // namespace porvex::opc
