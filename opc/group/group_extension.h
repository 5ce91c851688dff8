// The seam for the interfaces a group answers besides its core ones: IOPCAsyncIO2,
// IOPCAsyncIO and IDataObject with their transaction queue and data-object streams. A
// module providing them installs a factory on the item server
// (TOpcItemServer::SetGroupExtensionFactory, typically from the registration step); every
// group then creates its extension when it is made and consults it as below. Everything
// runs on the engine thread.
//
// What an extension finds on TGroupImpl: item handle validation (FindItem, ValidateItem),
// reading for delivery and writing (ReadItem, WriteItem), the OnDataChange delivery of
// refreshes (DeliverDataChange), the active items (ActiveItemHandles), the data callback,
// the enable flag, callback-failure reports, and the engine window for posting
// transactions (Server().Window().Post).
#pragma once

#include <windows.h>

#include <span>

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
    // The update tick found these items changed; called after the OnDataChange delivery.
    virtual void ItemsChanged(std::span<TGroupItemImpl* const> items) { (void)items; }
    // The client removed the group while it still holds references to it: the group keeps
    // answering those references, but work queued for it is no longer wanted.
    virtual void GroupRemoved() noexcept {}
    // The group leaves its server (removed, or its client gone): drop pending work and
    // sinks.
    virtual void GroupLeaving() noexcept {}
};

}  // namespace porvex::opc
