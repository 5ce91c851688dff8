// The control's identity: IUnknown, IDispatch, connection points, class information,
// property pages and event firing.
#include "ole_control.h"

#include <olectl.h>

#include "boundary.h"
#include "enumerator.h"
#include "guarded.h"
#include "win/variant.h"

namespace tarnet::ax {

namespace {

struct ConnectionPointTraits {
    static void hold(IConnectionPoint*& p) { p->AddRef(); }
    static void release(IConnectionPoint*& p) { p->Release(); }
    static HRESULT copy_out(IConnectionPoint* const& p, IConnectionPoint** out) {
        *out = p;
        p->AddRef();
        return S_OK;
    }
};

using ConnectionPointsEnumerator =
    Enumerator<IEnumConnectionPoints, IConnectionPoint*, ConnectionPointTraits>;

// HIMETRIC units of a length in pixels at 96 dots per inch.
LONG himetric(LONG pixels) { return MulDiv(pixels, 2540, 96); }

}  // namespace

OleControl::OleControl(const ControlClass& control_class)
    : class_(control_class), events_(*this, control_class.events) {
    extent_ = {himetric(100), himetric(50)};
}

OleControl::~OleControl() { destroy_window(); }

void* OleControl::query_extra(REFIID iid) noexcept {
    return iid == class_.dispatch ? static_cast<IDispatch*>(this) : nullptr;
}

void OleControl::final_release() noexcept {
    AddRef();  // whatever on_final_release calls may take and drop references again
    tarnet::guarded(
        "control: final release",
        [&] {
            on_final_release();
            return 0;
        },
        [](Failure) { return 0; });
    delete this;
}

const TypeDispatch& OleControl::dispatcher() {
    if (!dispatch_ || !dispatch_->valid()) {
        dispatch_ = std::make_unique<TypeDispatch>(load_type_info(class_.library, class_.dispatch));
    }
    return *dispatch_;
}

HRESULT OleControl::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 1;
    return S_OK;
}

HRESULT OleControl::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (index != 0) {
        return DISP_E_BADINDEX;
    }
    return guarded([&] {
        ITypeInfo* info = dispatcher().type_info();
        if (info == nullptr) {
            return TYPE_E_CANTLOADLIBRARY;
        }
        info->AddRef();
        *out = info;
        return S_OK;
    });
}

HRESULT OleControl::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (iid != IID_NULL) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    return guarded([&] { return dispatcher().get_ids_of_names(names, count, ids); });
}

HRESULT OleControl::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                           VARIANT* result, EXCEPINFO*, UINT* arg_error) {
    if (iid != IID_NULL) {
        return DISP_E_UNKNOWNINTERFACE;
    }
    // The host may release its last reference from inside an event the call fires.
    win::ComPtr<IDispatch> alive(static_cast<IDispatch*>(this));
    return guarded(
        [&] { return dispatcher().invoke(id, flags, params, result, arg_error, *this); });
}

HRESULT OleControl::EnumConnectionPoints(IEnumConnectionPoints** out) {
    return guarded([&] {
        std::vector<IConnectionPoint*> points{&events_};
        return ConnectionPointsEnumerator::create(std::move(points), out);
    });
}

HRESULT OleControl::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (iid != class_.events) {
        return CONNECT_E_NOCONNECTION;
    }
    *out = &events_;
    events_.AddRef();
    return S_OK;
}

HRESULT OleControl::GetClassInfo(ITypeInfo** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    return guarded([&] {
        *out = load_type_info(class_.library, class_.clsid).detach();
        return *out != nullptr ? S_OK : TYPE_E_CANTLOADLIBRARY;
    });
}

HRESULT OleControl::GetGUID(DWORD kind, GUID* guid) {
    if (guid == nullptr) {
        return E_POINTER;
    }
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = class_.events;
    return S_OK;
}

HRESULT OleControl::GetPages(CAUUID* pages) {
    if (pages == nullptr) {
        return E_POINTER;
    }
    pages->pElems = static_cast<GUID*>(::CoTaskMemAlloc(sizeof(GUID)));
    if (pages->pElems == nullptr) {
        pages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pages->cElems = 1;
    pages->pElems[0] = class_.property_page;
    return S_OK;
}

HRESULT OleControl::GetControlInfo(CONTROLINFO* info) {
    if (info == nullptr) {
        return E_POINTER;
    }
    info->cb = sizeof(CONTROLINFO);
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

HRESULT OleControl::OnMnemonic(MSG*) { return S_OK; }

HRESULT OleControl::OnAmbientPropertyChange(DISPID) {
    if (window_ != nullptr) {
        ::InvalidateRect(window_, nullptr, TRUE);
    }
    return S_OK;
}

HRESULT OleControl::FreezeEvents(BOOL freeze) {
    if (freeze) {
        ++frozen_;
        return S_OK;
    }
    if (frozen_ > 0 && --frozen_ == 0) {
        win::ComPtr<IDispatch> alive(static_cast<IDispatch*>(this));
        while (frozen_ == 0 && !held_events_.empty()) {
            HeldEvent held = std::move(held_events_.front());
            held_events_.pop_front();
            events_.fire(held.id, held.arguments);
        }
    }
    return S_OK;
}

void OleControl::fire_event(DISPID id, std::span<const win::Variant> arguments) {
    if (frozen_ > 0) {
        held_events_.push_back({id, {arguments.begin(), arguments.end()}});
        return;
    }
    win::ComPtr<IDispatch> alive(static_cast<IDispatch*>(this));
    events_.fire(id, arguments);
}

HWND OleControl::dialog_owner() const {
    HWND owner = nullptr;
    if (in_place_site_) {
        in_place_site_->GetWindow(&owner);
    }
    if (owner == nullptr && site_) {
        if (auto window = site_.as<IOleWindow>(IID_IOleWindow)) {
            window->GetWindow(&owner);
        }
    }
    return owner;
}

}  // namespace tarnet::ax
