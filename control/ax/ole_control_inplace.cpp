// In-place activation: the control's window inside the site's window, UI activation and
// the window procedure.
#include "ole_control.h"

#include "guarded.h"

namespace tarnet::ax {

namespace {

void register_window_class(const wchar_t* name, WNDPROC procedure) {
    WNDCLASSW existing{};
    if (::GetClassInfoW(Module::instance().handle(), name, &existing)) {
        return;
    }
    WNDCLASSW wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = procedure;
    wc.hInstance = Module::instance().handle();
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = name;
    ::RegisterClassW(&wc);
}

}  // namespace

HRESULT OleControl::in_place_activate(LONG verb, const RECT* position) {
    if (!site_) {
        return E_UNEXPECTED;
    }
    if (!in_place_site_) {
        auto site = site_.as<IOleInPlaceSite>(IID_IOleInPlaceSite);
        if (!site) {
            return E_NOINTERFACE;
        }
        if (site->CanInPlaceActivate() != S_OK) {
            return E_FAIL;
        }
        site->OnInPlaceActivate();
        HWND parent = nullptr;
        site->GetWindow(&parent);
        RECT placed{};
        RECT clip{};
        OLEINPLACEFRAMEINFO info{};
        info.cb = sizeof info;
        site->GetWindowContext(frame_.put(), document_.put(), &placed, &clip, &info);
        if (position != nullptr) {
            placed = *position;
        }
        in_place_site_ = site;
        if (!create_window(parent, placed)) {
            site->OnInPlaceDeactivate();
            in_place_site_.reset();
            frame_.reset();
            document_.reset();
            return E_FAIL;
        }
    }
    ::ShowWindow(window_, SW_SHOWNA);
    if ((verb == OLEIVERB_UIACTIVATE || verb == OLEIVERB_PRIMARY) && !ui_active_) {
        ui_active_ = true;
        in_place_site_->OnUIActivate();
        const std::wstring name = Module::instance().load_string(1);
        if (frame_) {
            frame_->SetActiveObject(static_cast<IOleInPlaceActiveObject*>(this), name.c_str());
            frame_->SetBorderSpace(nullptr);
        }
        if (document_) {
            document_->SetActiveObject(static_cast<IOleInPlaceActiveObject*>(this), name.c_str());
            document_->SetBorderSpace(nullptr);
        }
    }
    return S_OK;
}

bool OleControl::create_window(HWND parent, const RECT& position) {
    register_window_class(class_.window_class, &OleControl::window_procedure);
    HWND hwnd = ::CreateWindowExW(0, class_.window_class, L"", WS_CHILD | WS_CLIPSIBLINGS,
                                  position.left, position.top, position.right - position.left,
                                  position.bottom - position.top, parent, nullptr,
                                  Module::instance().handle(), this);
    if (hwnd == nullptr) {
        return false;
    }
    window_ = hwnd;
    window_created(hwnd);
    return true;
}

void OleControl::destroy_window() {
    if (window_ == nullptr) {
        return;
    }
    HWND hwnd = window_;
    window_destroying(hwnd);
    window_ = nullptr;
    ::DestroyWindow(hwnd);
}

LRESULT CALLBACK OleControl::window_procedure(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<OleControl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) {
        return ::DefWindowProcW(hwnd, msg, wparam, lparam);
    }
    // Nothing thrown while handling a message may unwind into the window manager: it
    // would end the host program.
    return tarnet::guarded(
        "control: in-place window",
        [&] { return self->handle_window_message(hwnd, msg, wparam, lparam); },
        [](Failure) { return LRESULT{0}; });
}

LRESULT OleControl::handle_window_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    LRESULT result = 0;
    if (window_message(hwnd, msg, wparam, lparam, result)) {
        return result;
    }
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = ::BeginPaint(hwnd, &paint);
            RECT client;
            ::GetClientRect(hwnd, &client);
            draw(dc, client);
            ::EndPaint(hwnd, &paint);
            return 0;
        }
        case WM_PRINTCLIENT: {
            // Drawing into a device context the caller gives (PrintWindow, animations).
            RECT client;
            ::GetClientRect(hwnd, &client);
            draw(reinterpret_cast<HDC>(wparam), client);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;  // WM_PAINT covers every pixel
        case WM_NCDESTROY:
            ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            break;
        default:
            break;
    }
    return ::DefWindowProcW(hwnd, msg, wparam, lparam);
}

HRESULT OleControl::GetWindow(HWND* window) {
    if (window == nullptr) {
        return E_POINTER;
    }
    *window = window_;
    return window_ != nullptr ? S_OK : E_FAIL;
}

HRESULT OleControl::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT OleControl::InPlaceDeactivate() {
    if (!in_place_site_) {
        return S_OK;
    }
    win::ComPtr<IDispatch> alive(static_cast<IDispatch*>(this));
    UIDeactivate();
    destroy_window();
    auto site = std::move(in_place_site_);
    frame_.reset();
    document_.reset();
    site->OnInPlaceDeactivate();
    return S_OK;
}

HRESULT OleControl::UIDeactivate() {
    if (!ui_active_) {
        return S_OK;
    }
    ui_active_ = false;
    if (frame_) {
        frame_->SetActiveObject(nullptr, nullptr);
    }
    if (document_) {
        document_->SetActiveObject(nullptr, nullptr);
    }
    if (in_place_site_) {
        in_place_site_->OnUIDeactivate(FALSE);
    }
    return S_OK;
}

HRESULT OleControl::SetObjectRects(LPCRECT position, LPCRECT) {
    if (position == nullptr) {
        return E_POINTER;
    }
    if (window_ != nullptr) {
        ::MoveWindow(window_, position->left, position->top, position->right - position->left,
                     position->bottom - position->top, TRUE);
    }
    return S_OK;
}

HRESULT OleControl::ReactivateAndUndo() { return E_NOTIMPL; }
HRESULT OleControl::TranslateAccelerator(LPMSG) { return S_FALSE; }
HRESULT OleControl::OnFrameWindowActivate(BOOL) { return S_OK; }
HRESULT OleControl::OnDocWindowActivate(BOOL) { return S_OK; }
HRESULT OleControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
HRESULT OleControl::EnableModeless(BOOL) { return S_OK; }

}  // namespace tarnet::ax
