#include "engine_harness.h"

namespace tarnet::testing {

namespace {

constexpr wchar_t kClassName[] = L"TarnetEngineTestOwner";

void register_class() {
    static const bool registered = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kClassName;
        return ::RegisterClassW(&wc) != 0;
    }();
    (void)registered;
}

}  // namespace

OwnerWindow::OwnerWindow(NoticeReceiver& receiver) {
    register_class();
    hwnd_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&receiver));
    ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&procedure));
}

OwnerWindow::~OwnerWindow() {
    if (hwnd_ != nullptr) {
        ::DestroyWindow(hwnd_);
    }
}

LRESULT CALLBACK OwnerWindow::procedure(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    auto* receiver = reinterpret_cast<NoticeReceiver*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    LRESULT result = 0;
    if (receiver != nullptr && receiver->handle(hwnd, msg, wparam, lparam, result)) {
        return result;
    }
    return ::DefWindowProcW(hwnd, msg, wparam, lparam);
}

void Recorder::data_receive(const FrameReport& report) {
    reports.push_back(report);
    if (on_data) {
        on_data(report);
    }
}

void Recorder::failed_connect(const std::string& server, std::int16_t port) {
    const LinkEvent event{server, port, false};
    failed.push_back(event);
    if (on_failed) {
        on_failed(event);
    }
}

void Recorder::reconnect_request(const std::string& server, std::int16_t port) {
    ++reconnect_requests;
    auto engine = engine_();
    if (engine && engine->connect_link(server, port, *this) == 0) {
        engine->set_upload(server, port, true);
    }
}

void Recorder::fire_reconnect(const std::string& server, std::int16_t port) {
    const LinkEvent event{server, port, true};
    reconnected.push_back(event);
    if (on_reconnect) {
        on_reconnect(event);
    }
}

void Recorder::fire_failed_connect(const std::string& server, std::int16_t port) {
    const LinkEvent event{server, port, true};
    failed.push_back(event);
    if (on_failed) {
        on_failed(event);
    }
}

}  // namespace tarnet::testing
