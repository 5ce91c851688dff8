#include "ui/exit_deadline.h"

#include <string>
#include <system_error>

namespace porvex::ui {
namespace {

constexpr wchar_t kClassName[] = L"TPorvexExitDeadline";
constexpr UINT kMsgDeadline = WM_APP + 1;

}  // namespace

TExitDeadline::TExitDeadline(TFileLog& log) : log_(log) {
    finished_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!finished_) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "the exit deadline's event");
    }
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &TExitDeadline::WindowProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kClassName;
    RegisterClassW(&window_class);  // fails harmlessly when already registered
    window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              window_class.hInstance, nullptr);
    if (window_) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
}

TExitDeadline::~TExitDeadline() {
    SetEvent(finished_.get());
    if (watchdog_.joinable()) {
        watchdog_.join();
    }
    if (window_) {
        DestroyWindow(window_);
    }
}

void TExitDeadline::Arm(DWORD boundMs) {
    if (armed_.exchange(true)) {
        return;
    }
    bound_ms_ = boundMs;
    watchdog_ = std::thread([this, boundMs] {
        if (WaitForSingleObject(finished_.get(), boundMs) != WAIT_TIMEOUT) {
            return;
        }
        if (window_ && PostMessageW(window_, kMsgDeadline, 0, 0) &&
            WaitForSingleObject(finished_.get(), kMainThreadGraceMs) != WAIT_TIMEOUT) {
            return;
        }
        EndNow(L"the watchdog");
    });
}

void TExitDeadline::EndNow(const wchar_t* who) {
    log_.Line(L"ending: the program did not end within " + std::to_wstring(bound_ms_) +
              L" ms of the exit; " + who + L" ends the process");
    TerminateProcess(GetCurrentProcess(), kExitCode);
}

LRESULT CALLBACK TExitDeadline::WindowProc(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    if (message == kMsgDeadline) {
        auto* self = reinterpret_cast<TExitDeadline*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self) {
            if (self->before_end_) {
                try {
                    self->before_end_();
                } catch (...) {
                }
            }
            self->EndNow(L"the main thread");
        }
        return 0;
    }
    return DefWindowProcW(window, message, wp, lp);
}

}  // namespace porvex::ui
