#include "opc/group/item_enumerator.h"

#include <algorithm>

#include "opc/com/boundary.h"
#include "opc/com/opc_task_elements.h"
#include "opc/group/group_impl.h"
#include "opc/items/server_item.h"

namespace porvex::opc {

TItemEnumerator::TItemEnumerator(TGroupImpl& group, ULONG position)
    : group_(group), keep_(group.identity()), position_(position) {}

win::ComPtr<IEnumOPCItemAttributes> TItemEnumerator::Create(TGroupImpl& group, ULONG position) {
    return win::ComPtr<IEnumOPCItemAttributes>(new TItemEnumerator(group, position));
}

HRESULT TItemEnumerator::Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray,
                              ULONG* pceltFetched) noexcept {
    if (ppItemArray) {
        *ppItemArray = nullptr;
    }
    if (pceltFetched) {
        *pceltFetched = 0;
    }
    if (!ppItemArray || !pceltFetched) {
        return E_INVALIDARG;
    }
    return OpcBoundary("IEnumOPCItemAttributes::Next", [&]() -> HRESULT {
        const ULONG total = static_cast<ULONG>(group_.ItemCount());
        const ULONG left = position_ < total ? total - position_ : 0;
        const ULONG count = std::min(celt, left);
        if (count > 0) {
            win::TaskArray<OPCITEMATTRIBUTES> attributes(count);
            for (ULONG i = 0; i < count; ++i) {
                auto& item =
                    static_cast<TGroupItemImpl&>(group_.ItemAt(static_cast<int>(position_ + i)));
                const TServerItem& shared = item.Shared();
                OPCITEMATTRIBUTES& a = attributes[i];
                a.szAccessPath = win::task_string(L"").release();
                a.szItemID = win::task_string(shared.ItemId()).release();
                a.bActive = item.Active() ? TRUE : FALSE;
                a.hClient = item.ClientHandle();
                a.hServer = item.ServerHandle();
                a.dwAccessRights = shared.AccessRights();
                a.dwBlobSize = 0;
                a.pBlob = nullptr;
                a.vtRequestedDataType = item.RequestedDataType();
                a.vtCanonicalDataType = shared.CanonicalType();
                if (IEUInfo* eu = shared.EUInfo()) {
                    a.dwEUType = static_cast<OPCEUTYPE>(eu->EUType() & 0x7F);
                    win::Variant info;
                    eu->EUInfo(info);
                    info.move_to(a.vEUInfo);
                } else {
                    a.dwEUType = OPC_NOENUM;
                }
            }
            *ppItemArray = attributes.detach();
        }
        position_ += count;
        *pceltFetched = count;
        return count < celt ? S_FALSE : S_OK;
    });
}

HRESULT TItemEnumerator::Skip(ULONG celt) noexcept {
    const ULONG total = static_cast<ULONG>(group_.ItemCount());
    const ULONG left = position_ < total ? total - position_ : 0;
    if (celt <= left) {
        position_ += celt;
        return S_OK;
    }
    position_ = total;
    return S_FALSE;
}

HRESULT TItemEnumerator::Reset() noexcept {
    position_ = 0;
    return S_OK;
}

HRESULT TItemEnumerator::Clone(IEnumOPCItemAttributes** ppEnum) noexcept {
    if (!ppEnum) {
        return E_INVALIDARG;
    }
    *ppEnum = nullptr;
    try {
        *ppEnum = Create(group_, position_).detach();
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

void TItemEnumerator::final_release() noexcept {
    // The last reference may go on any thread: the object leaves the engine under its lock,
    // unless a call holding the lock took a new reference meanwhile.
    const TEngineGuard engine;
    if (references() == 0) {
        delete this;
    }
}

}  // namespace porvex::opc
