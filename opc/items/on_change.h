// TOnChange: how an item server that pushes its own changes hands them to the engine
// (TOpcItemServer::SubscribeItem). Public to item servers, like item_types.h.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <memory>
#include <utility>

#include "opc/com/critical_section.h"

namespace porvex::opc {

class TServerItem;

// The callback handed to SubscribeItem, bound to one shared server item. Calling it hands a
// new value and quality to every group item using that item; the next tick of each group
// delivers it. It may be called from any thread, and stays safe to call after the item is
// gone (it then does nothing).
class TOnChange {
  public:
    TOnChange() = default;
    void operator()(const VARIANT& value, WORD quality) const;
    bool Connected() const;

  private:
    friend class TServerItem;
    struct TLink {
        std::shared_ptr<TCriticalSection> lock;  // the table's cache lock
        TServerItem* item = nullptr;             // cleared when the item goes
    };
    explicit TOnChange(std::shared_ptr<TLink> link) : link_(std::move(link)) {}

    std::shared_ptr<TLink> link_;
};

}  // namespace porvex::opc
