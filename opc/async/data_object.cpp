// IDataObject of a group: the OPC DA 1.0 advise sinks, one per stream format. The data
// itself only flows through the sinks; the other methods are not implemented.
#include "opc/async/group_async.h"
#include "opc/com/boundary.h"
#include "opc/com/errors.h"
#include "opc/group/group_impl.h"

namespace porvex::opc {

HRESULT TGroupAsync::DAdvise(FORMATETC* pformatetc, DWORD, IAdviseSink* pAdvSink,
                             DWORD* pdwConnection) noexcept {
    if (pdwConnection) {
        *pdwConnection = static_cast<DWORD>(-1);
    }
    if (!pformatetc || !pAdvSink || !pdwConnection) {
        return E_INVALIDARG;
    }
    if (pformatetc->lindex != -1) {
        return DV_E_LINDEX;
    }
    if (pformatetc->dwAspect != DVASPECT_CONTENT || pformatetc->ptd != nullptr ||
        pformatetc->tymed != TYMED_HGLOBAL) {
        return DV_E_FORMATETC;
    }
    const int format = StreamFormatIndex(pformatetc->cfFormat);
    if (format < 0) {
        return DV_E_FORMATETC;
    }
    return OpcBoundary("IDataObject::DAdvise", [&]() -> HRESULT {
        if (sinks_[format]) {
            return CONNECT_E_ADVISELIMIT;
        }
        // A group that left its server keeps no sinks (nothing would ever release them).
        if (group_.Detached()) {
            return E_FAIL;
        }
        sinks_[format] = win::ComPtr<IAdviseSink>(pAdvSink);
        last_probe_[format] = 0;
        *pdwConnection = static_cast<DWORD>(format);
        // The new sink gets the cached values of the active items, as if the client had
        // asked for a refresh. The write-complete connection carries no data.
        if (format != sfWriteComplete) {
            RefreshOnAdvise(L"IDataObject",
                            [&] { QueueRefresh1(static_cast<DWORD>(format), OPC_DS_CACHE); });
        }
        return S_OK;
    });
}

HRESULT TGroupAsync::DUnadvise(DWORD dwConnection) noexcept {
    // The sink may call back into the group while it is released: that happens after the
    // engine lock is free.
    TClientPtr<IAdviseSink> sink;
    {
        const TEngineGuard engine;
        if (dwConnection >= static_cast<DWORD>(kStreamFormatCount) || !sinks_[dwConnection]) {
            return OLE_E_NOCONNECTION;
        }
        sink = std::move(sinks_[dwConnection]);
    }
    sink.reset();
    return S_OK;
}

HRESULT TGroupAsync::EnumDAdvise(IEnumSTATDATA** ppenumAdvise) noexcept {
    if (ppenumAdvise) {
        *ppenumAdvise = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT TGroupAsync::EnumFormatEtc(DWORD, IEnumFORMATETC** ppenumFormatEtc) noexcept {
    if (ppenumFormatEtc) {
        *ppenumFormatEtc = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT TGroupAsync::GetData(FORMATETC*, STGMEDIUM*) noexcept { return E_NOTIMPL; }

HRESULT TGroupAsync::GetDataHere(FORMATETC*, STGMEDIUM*) noexcept { return E_NOTIMPL; }

HRESULT TGroupAsync::QueryGetData(FORMATETC*) noexcept { return E_NOTIMPL; }

HRESULT TGroupAsync::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) noexcept { return E_NOTIMPL; }

HRESULT TGroupAsync::SetData(FORMATETC*, STGMEDIUM*, BOOL) noexcept { return E_NOTIMPL; }

}  // namespace porvex::opc
