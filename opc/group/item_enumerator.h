// IEnumOPCItemAttributes over a group's items. It holds a reference on the group (so the
// group outlives it) and walks the group's live item list by position.
#pragma once

#include "opc/com/engine_object.h"
#include "opc/idl/opc_interfaces.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace porvex::opc {

class TGroupImpl;

class TItemEnumerator final : public TEngineObject<win::ComObject<IEnumOPCItemAttributes>> {
  public:
    static win::ComPtr<IEnumOPCItemAttributes> Create(TGroupImpl& group, ULONG position = 0);

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray,
                                   ULONG* pceltFetched) noexcept override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) noexcept override;
    HRESULT STDMETHODCALLTYPE Reset() noexcept override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumOPCItemAttributes** ppEnum) noexcept override;

  protected:
    void final_release() noexcept override;

  private:
    TItemEnumerator(TGroupImpl& group, ULONG position);

    TGroupImpl& group_;
    win::ComPtr<IUnknown> keep_;
    ULONG position_;
};

}  // namespace porvex::opc
