// The events of one OnEvent call in the published ONEVENTSTRUCT layout. The batch owns
// everything the structures point to (texts, attribute VARIANTs) for the call's duration:
// the sink copies what it keeps.
#pragma once

#include <windows.h>

#include <map>
#include <vector>

#include "opc/events/model/event.h"
#include "opc/idl/opc_ae_interfaces.h"

namespace porvex::opc::events {

// The attributes a client selected per category (SelectReturnedAttributes), in its order.
using TReturnedAttributes = std::map<std::uint32_t, std::vector<std::uint32_t>>;

// VARIANT for an attribute value (VT_EMPTY, VT_BOOL, VT_I4, VT_BSTR); throws
// std::bad_alloc when a BSTR cannot be allocated.
void VariantFromAttribute(const TAttributeValue& value, VARIANT& out);

class TEventBatch {
  public:
    TEventBatch(const std::vector<TEvent>& events, const TReturnedAttributes& returned);
    TEventBatch(const TEventBatch&) = delete;
    TEventBatch& operator=(const TEventBatch&) = delete;
    ~TEventBatch();

    DWORD Count() const noexcept { return static_cast<DWORD>(structs_.size()); }
    // Never null (a call with no events still needs a valid pointer).
    ONEVENTSTRUCT* Data() noexcept { return structs_.empty() ? &empty_ : structs_.data(); }

  private:
    void Fill(const TReturnedAttributes& returned);
    void ClearAttributes() noexcept;

    std::vector<TEvent> events_;  // owns the texts
    std::vector<std::vector<VARIANT>> attributes_;
    std::vector<ONEVENTSTRUCT> structs_;
    ONEVENTSTRUCT empty_{};
};

}  // namespace porvex::opc::events
