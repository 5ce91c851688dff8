// IEnumOPCItemAttributes over a group's items. It holds a reference on the group (so the
// group outlives it) and walks the group's live item list by position.
#pragma once

#include "opc/com/com_object.h"
#include "opc/com/com_ptr.h"
#include "opc/idl/opc_interfaces.h"

namespace porvex::opc {

class TGroupImpl;

class TItemEnumerator final : public TComObject<IEnumOPCItemAttributes> {
  public:
    static TComPtr<IEnumOPCItemAttributes> Create(TGroupImpl& group, ULONG position = 0);

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray,
                                   ULONG* pceltFetched) noexcept override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) noexcept override;
    HRESULT STDMETHODCALLTYPE Reset() noexcept override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumOPCItemAttributes** ppEnum) noexcept override;

  private:
    TItemEnumerator(TGroupImpl& group, ULONG position);

    TGroupImpl& group_;
    TComPtr<IUnknown> keep_;
    ULONG position_;
};

}  // namespace porvex::opc
