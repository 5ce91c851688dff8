// Embedding: the client site, verbs, extent, misc status and advise sinks.
#include <olectl.h>

#include <cstring>
#include <cwchar>

#include "boundary.h"
#include "enumerator.h"
#include "ole_control.h"

namespace tarnet::ax {

namespace {

wchar_t* task_copy(const wchar_t* text) {
    const std::size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
    if (copy != nullptr) {
        std::memcpy(copy, text, bytes);
    }
    return copy;
}

struct VerbTraits {
    static void hold(OLEVERB&) {}
    static void release(OLEVERB&) {}
    static HRESULT copy_out(const OLEVERB& verb, OLEVERB* out) {
        *out = verb;
        out->lpszVerbName = task_copy(verb.lpszVerbName);
        return out->lpszVerbName != nullptr ? S_OK : E_OUTOFMEMORY;
    }
};

using VerbEnumerator = Enumerator<IEnumOLEVERB, OLEVERB, VerbTraits>;

wchar_t kPropertiesVerb[] = L"&Properties...";

}  // namespace

HRESULT OleControl::SetClientSite(IOleClientSite* site) {
    if (site == nullptr) {
        InPlaceDeactivate();
    }
    site_ = win::ComPtr<IOleClientSite>(site);
    return S_OK;
}

HRESULT OleControl::GetClientSite(IOleClientSite** site) {
    if (site == nullptr) {
        return E_POINTER;
    }
    *site = win::ComPtr<IOleClientSite>(site_).detach();
    return S_OK;
}

HRESULT OleControl::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT OleControl::Close(DWORD save_option) {
    win::ComPtr<IDispatch> alive(static_cast<IDispatch*>(this));
    InPlaceDeactivate();
    if (modified_ && site_ &&
        (save_option == OLECLOSE_SAVEIFDIRTY || save_option == OLECLOSE_PROMPTSAVE)) {
        site_->SaveObject();
    }
    if (advise_holder_) {
        advise_holder_->SendOnClose();
    }
    return S_OK;
}

HRESULT OleControl::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT OleControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker != nullptr) {
        *moniker = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT OleControl::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT OleControl::GetClipboardData(DWORD, IDataObject** data) {
    if (data != nullptr) {
        *data = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT OleControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                           LPCRECT position) {
    if (site != nullptr && !site_) {
        site_ = win::ComPtr<IOleClientSite>(site);
    }
    switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_INPLACEACTIVATE:
        case OLEIVERB_UIACTIVATE:
            return in_place_activate(verb, position);
        case OLEIVERB_HIDE:
            UIDeactivate();
            if (window_ != nullptr) {
                ::ShowWindow(window_, SW_HIDE);
            }
            return S_OK;
        case OLEIVERB_PROPERTIES:
            return show_properties(parent);
        case OLEIVERB_OPEN:
        case OLEIVERB_DISCARDUNDOSTATE:
            return OLEOBJ_S_INVALIDVERB;
        default:
            return verb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
    }
}

HRESULT OleControl::show_properties(HWND parent) {
    // The container may show the frame itself (with its own extended properties).
    if (site_) {
        if (auto control_site = site_.as<IOleControlSite>(IID_IOleControlSite)) {
            if (control_site->ShowPropertyFrame() == S_OK) {
                return S_OK;
            }
        }
    }
    IUnknown* self = static_cast<IDispatch*>(this);
    CLSID page = class_.property_page;
    const std::wstring caption = Module::instance().load_string(1);
    return ::OleCreatePropertyFrame(parent != nullptr ? parent : dialog_owner(), 0, 0,
                                    caption.c_str(), 1, &self, 1, &page, ::GetUserDefaultLCID(), 0,
                                    nullptr);
}

HRESULT OleControl::EnumVerbs(IEnumOLEVERB** verbs) {
    return guarded([&] {
        std::vector<OLEVERB> list{
            {OLEIVERB_PROPERTIES, kPropertiesVerb, MF_STRING, OLEVERBATTRIB_ONCONTAINERMENU}};
        return VerbEnumerator::create(std::move(list), verbs);
    });
}

HRESULT OleControl::Update() { return S_OK; }
HRESULT OleControl::IsUpToDate() { return S_OK; }

HRESULT OleControl::GetUserClassID(CLSID* clsid) {
    if (clsid == nullptr) {
        return E_POINTER;
    }
    *clsid = class_.clsid;
    return S_OK;
}

HRESULT OleControl::GetUserType(DWORD form, LPOLESTR* type) {
    if (type == nullptr) {
        return E_POINTER;
    }
    if (SUCCEEDED(::OleRegGetUserType(class_.clsid, form, type))) {
        return S_OK;
    }
    const std::wstring name = Module::instance().load_string(1);
    *type = task_copy(name.c_str());
    return *type != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT OleControl::SetExtent(DWORD aspect, SIZEL* size) {
    if (size == nullptr) {
        return E_POINTER;
    }
    if (aspect != DVASPECT_CONTENT) {
        return DV_E_DVASPECT;
    }
    extent_ = *size;
    set_modified();
    return S_OK;
}

HRESULT OleControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (size == nullptr) {
        return E_POINTER;
    }
    if (aspect != DVASPECT_CONTENT) {
        return DV_E_DVASPECT;
    }
    *size = extent_;
    return S_OK;
}

HRESULT OleControl::Advise(IAdviseSink* sink, DWORD* connection) {
    if (!advise_holder_) {
        const HRESULT hr = ::CreateOleAdviseHolder(advise_holder_.put());
        if (FAILED(hr)) {
            return hr;
        }
    }
    return advise_holder_->Advise(sink, connection);
}

HRESULT OleControl::Unadvise(DWORD connection) {
    return advise_holder_ ? advise_holder_->Unadvise(connection) : OLE_E_NOCONNECTION;
}

HRESULT OleControl::EnumAdvise(IEnumSTATDATA** advise) {
    if (advise == nullptr) {
        return E_POINTER;
    }
    *advise = nullptr;
    return advise_holder_ ? advise_holder_->EnumAdvise(advise) : S_OK;
}

HRESULT OleControl::GetMiscStatus(DWORD aspect, DWORD* status) {
    if (status == nullptr) {
        return E_POINTER;
    }
    *status = aspect == DVASPECT_CONTENT ? class_.misc_status : 0;
    return S_OK;
}

HRESULT OleControl::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

}  // namespace tarnet::ax
