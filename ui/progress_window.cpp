#include "ui/progress_window.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>

namespace porvex::ui {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 36;
constexpr wchar_t kClassName[] = L"PorvexProgressForm";

void RegisterClassOnce(HINSTANCE instance) {
    WNDCLASSW wc{};
    if (GetClassInfoW(instance, kClassName, &wc)) {
        return;
    }
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_WAIT);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);
}

}  // namespace

TProgressWindow::TProgressWindow(HINSTANCE instance) {
    RegisterClassOnce(instance);
    const int x = (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2;
    window_ =
        CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, L"", WS_POPUP | WS_BORDER, x,
                        y, kWidth, kHeight, nullptr, nullptr, instance, nullptr);
    if (window_) {
        bar_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 8, 8,
                               kWidth - 18, kHeight - 18, window_, nullptr, instance, nullptr);
        ShowWindow(window_, SW_SHOWNOACTIVATE);
        UpdateWindow(window_);
    }
}

TProgressWindow::~TProgressWindow() {
    if (window_) {
        DestroyWindow(window_);
    }
}

void TProgressWindow::SetMax(std::size_t max) {
    if (bar_) {
        const int top = static_cast<int>(std::min<std::size_t>(max, INT_MAX));
        SendMessageW(bar_, PBM_SETRANGE32, 0, std::max(top, 1));
    }
}

void TProgressWindow::SetPosition(std::size_t position) {
    if (bar_) {
        SendMessageW(bar_, PBM_SETPOS,
                     static_cast<WPARAM>(std::min<std::size_t>(position, INT_MAX)), 0);
    }
}

}  // namespace porvex::ui
