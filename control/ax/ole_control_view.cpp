// Drawing into any device context: containers render the control through IViewObject
// whether it has a window or not.
#include "ole_control.h"

namespace tarnet::ax {

HRESULT OleControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds,
                         LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT) {
        return DV_E_DVASPECT;
    }
    if (dc == nullptr) {
        return E_INVALIDARG;
    }
    RECT area{};
    if (bounds != nullptr) {
        area = {bounds->left, bounds->top, bounds->right, bounds->bottom};
    } else if (window_ != nullptr) {
        ::GetClientRect(window_, &area);
    } else {
        return E_INVALIDARG;
    }
    draw(dc, area);
    return S_OK;
}

HRESULT OleControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
    if (colors != nullptr) {
        *colors = nullptr;
    }
    return S_FALSE;  // no particular palette
}

HRESULT OleControl::Freeze(DWORD, LONG, void*, DWORD*) { return E_NOTIMPL; }
HRESULT OleControl::Unfreeze(DWORD) { return E_NOTIMPL; }

HRESULT OleControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    view_aspects_ = aspects;
    view_flags_ = flags;
    view_sink_ = win::ComPtr<IAdviseSink>(sink);
    return S_OK;
}

HRESULT OleControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects != nullptr) {
        *aspects = view_aspects_;
    }
    if (flags != nullptr) {
        *flags = view_flags_;
    }
    if (sink != nullptr) {
        *sink = win::ComPtr<IAdviseSink>(view_sink_).detach();
    }
    return S_OK;
}

HRESULT OleControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);
}

}  // namespace tarnet::ax
