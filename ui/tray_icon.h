// TrayIcon1: the program's icon in the notification area, with the hint
// "TCP/IP门禁OPC Server". Added once (the first minimise) and removed when the object
// goes. Mouse messages on the icon arrive at the owner window as `callback_message`.
#pragma once

#include <windows.h>

namespace porvex::ui {

inline constexpr wchar_t kTrayHint[] = L"TCP/IP门禁OPC Server";

class TTrayIcon {
  public:
    TTrayIcon(HWND owner, UINT callback_message, HICON icon)
        : owner_(owner), message_(callback_message), icon_(icon) {}
    ~TTrayIcon();
    TTrayIcon(const TTrayIcon&) = delete;
    TTrayIcon& operator=(const TTrayIcon&) = delete;

    // Adds the icon unless it is there already. False when the system has no usable
    // notification area (the caller then must not hide its window for good).
    bool Add();
    bool Added() const noexcept { return added_; }

  private:
    HWND owner_;
    UINT message_;
    HICON icon_;
    bool added_ = false;
};

}  // namespace porvex::ui
