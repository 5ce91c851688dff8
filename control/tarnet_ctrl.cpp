// The control's life, window, notices, events, drawing and persistence.
#include <winsock2.h>
// winsock2.h before windows.h
#include "tarnet_ctrl.h"

#include <new>
#include <string>

#include "about_box.h"
#include "control_log.h"
#include "guarded.h"
#include "identifiers.h"
#include "notice_messages.h"
#include "persistence.h"
#include "resource.h"
#include "system_text.h"

namespace tarnet {

namespace {

constexpr wchar_t kNoticeWindowClass[] = L"TarnetNoticeWindow";
constexpr wchar_t kControlWindowClass[] = L"TarnetControlWindow";

const ax::ControlClass& tarnet_class() {
    static const ax::ControlClass description{
        CLSID_Tarnet,        DIID__DTarnet,
        DIID__DTarnetEvents, {LIBID_TARNETLib, kTypeLibMajor, kTypeLibMinor, kTypeLibLocale},
        kMiscStatus,         CLSID_TarnetPropPage,
        kControlWindowClass,
    };
    return description;
}

// Event arguments: automation text from the system code page, and numbers.
win::Variant text_argument(const std::string& text) {
    return win::Variant::string(ax::widen_system_text(text));
}
win::Variant short_argument(std::int16_t value) { return win::Variant::i2(value); }
win::Variant long_argument(std::int32_t value) { return win::Variant::i4(value); }

}  // namespace

HRESULT CTarnetCtrl::create_instance(REFIID iid, void** out) {
    auto* control = new (std::nothrow) CTarnetCtrl();
    if (control == nullptr) {
        log_line("control: no memory for a new control");
        return E_OUTOFMEMORY;
    }
    // A control that fails to initialise goes when this lets go of it.
    const win::ComPtr<CTarnetCtrl> held(control);
    const HRESULT hr = control->initialise();
    return SUCCEEDED(hr) ? control->QueryInterface(iid, out) : hr;
}

CTarnetCtrl::CTarnetCtrl() : OleControl(tarnet_class()) {}

HRESULT CTarnetCtrl::initialise() {
    WSADATA data;
    const int started = ::WSAStartup(MAKEWORD(2, 2), &data);
    winsock_started_ = started == 0;
    if (!winsock_started_) {
        // The control still exists: every socket call fails with WSANOTINITIALISED, and
        // the methods return that error to the host.
        log_line("control: Winsock did not start (error " + std::to_string(started) +
                 "); every method will return the socket error");
    }

    // The window the engine's notices reach while the control has no in-place window
    // (a script creates it without a site, or its container has not activated it yet).
    WNDCLASSW existing{};
    if (!::GetClassInfoW(ax::Module::instance().handle(), kNoticeWindowClass, &existing)) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &CTarnetCtrl::message_window_procedure;
        wc.hInstance = ax::Module::instance().handle();
        wc.lpszClassName = kNoticeWindowClass;
        ::RegisterClassW(&wc);
    }
    message_window_ = ::CreateWindowExW(0, kNoticeWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                        nullptr, ax::Module::instance().handle(), this);
    if (message_window_ == nullptr) {
        const DWORD error = ::GetLastError();
        log_line("control: its notice window could not be created (error " + std::to_string(error) +
                 ")");
        return error != 0 ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    return guarded(
        "control: joining the engine",
        [&] {
            engine_ = EngineHost::instance().attach(*this);
            return S_OK;
        },
        [](Failure failure) {
            return failure == Failure::out_of_memory ? E_OUTOFMEMORY : E_UNEXPECTED;
        });
}

void CTarnetCtrl::on_final_release() {
    if (engine_) {
        EngineHost::instance().detach(*this);  // the first control stops the engine
        engine_.reset();
    }
    if (winsock_started_) {
        ::WSACleanup();
        winsock_started_ = false;
    }
    if (message_window_ != nullptr) {
        ::DestroyWindow(message_window_);
        message_window_ = nullptr;
    }
}

HWND CTarnetCtrl::notice_window() const { return window() != nullptr ? window() : message_window_; }

void CTarnetCtrl::window_created(HWND window) {
    EngineHost::instance().notice_window_changed(*this, window);
}

void CTarnetCtrl::window_destroying(HWND) {
    EngineHost::instance().notice_window_changed(*this, message_window_);
}

bool CTarnetCtrl::window_message(HWND window, UINT msg, WPARAM wparam, LPARAM lparam,
                                 LRESULT& result) {
    return handle_notice(window, msg, wparam, lparam, result);
}

bool CTarnetCtrl::handle_notice(HWND window, UINT msg, WPARAM wparam, LPARAM lparam,
                                LRESULT& result) {
    if (!is_notice_message(msg)) {
        return false;
    }
    // The engine thread that sent msg stays parked until this returns, also while the
    // control goes away when the host released its last reference in the event.
    HandlingNotice handling(NoticeReceiver::sender_of(msg, lparam));
    win::ComPtr<IDispatch> alive(static_cast<IDispatch*>(this));
    return receiver_.handle(window, msg, wparam, lparam, result);
}

LRESULT CALLBACK CTarnetCtrl::message_window_procedure(HWND hwnd, UINT msg, WPARAM wparam,
                                                       LPARAM lparam) {
    if (msg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    }
    auto* self = reinterpret_cast<CTarnetCtrl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) {
        return ::DefWindowProcW(hwnd, msg, wparam, lparam);
    }
    // A notice that fails (no memory for the event's arguments, say) is logged and lost;
    // it must not unwind into the window manager and end the host program.
    return guarded(
        "control: notice window",
        [&] { return self->message_window_message(hwnd, msg, wparam, lparam); },
        [](Failure) { return LRESULT{0}; });
}

LRESULT CTarnetCtrl::message_window_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    LRESULT result = 0;
    if (handle_notice(hwnd, msg, wparam, lparam, result)) {
        return result;
    }
    return ::DefWindowProcW(hwnd, msg, wparam, lparam);
}

void CTarnetCtrl::data_receive(const FrameReport& report) {
    const win::Variant arguments[] = {
        text_argument(report.server),    short_argument(report.port),
        long_argument(report.ap_code),   long_argument(report.psw),
        short_argument(report.ret_code), text_argument(report.data),
        long_argument(report.data_len),
    };
    fire_event(kEventDataReceive, arguments);
}

void CTarnetCtrl::fire_link_event(DISPID id, const std::string& server, std::int16_t port) {
    const win::Variant arguments[] = {text_argument(server), short_argument(port)};
    fire_event(id, arguments);
}

void CTarnetCtrl::failed_connect(const std::string& server, std::int16_t port) {
    fire_link_event(kEventFailedConnect, server, port);
}

void CTarnetCtrl::fire_failed_connect(const std::string& server, std::int16_t port) {
    fire_link_event(kEventFailedConnect, server, port);
}

void CTarnetCtrl::fire_reconnect(const std::string& server, std::int16_t port) {
    fire_link_event(kEventReConnect, server, port);
}

void CTarnetCtrl::reconnect_request(const std::string& server, std::int16_t port) {
    if (connect_to_server(server, port) == 0) {
        enable_upload(server, port, 1);
    }
}

void CTarnetCtrl::draw(HDC dc, const RECT& bounds) {
    ::FillRect(dc, &bounds, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::Ellipse(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
}

void CTarnetCtrl::reset_properties() { default_port_ = kDefaultPort; }

HRESULT CTarnetCtrl::save_properties(IStream* stream) {
    return ax::write_value(stream, default_port_);
}

HRESULT CTarnetCtrl::load_properties(IStream* stream) {
    std::int16_t port = kDefaultPort;
    const HRESULT hr = ax::read_value(stream, port);
    if (SUCCEEDED(hr)) {
        default_port_ = port;
    }
    return hr;
}

HRESULT CTarnetCtrl::save_properties(IPropertyBag* bag) {
    return ax::write_short(bag, L"DefaultPort", default_port_);
}

HRESULT CTarnetCtrl::load_properties(IPropertyBag* bag, IErrorLog* log) {
    const HRESULT hr = ax::read_short(bag, log, L"DefaultPort", default_port_);
    return FAILED(hr) ? hr : S_OK;
}

}  // namespace tarnet
