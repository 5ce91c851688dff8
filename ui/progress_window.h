// TProgressWindow: the progress form of the connect pass. Borderless, always on top, centred on
// the desktop, one progress bar. Destroyed with the object.
#pragma once

#include <windows.h>

#include <cstddef>

namespace porvex::ui {

class TProgressWindow {
  public:
    explicit TProgressWindow(HINSTANCE instance);
    ~TProgressWindow();
    TProgressWindow(const TProgressWindow&) = delete;
    TProgressWindow& operator=(const TProgressWindow&) = delete;

    void SetMax(std::size_t max);
    void SetPosition(std::size_t position);
    HWND Handle() const noexcept { return window_; }

  private:
    HWND window_ = nullptr;
    HWND bar_ = nullptr;
};

}  // namespace porvex::ui
