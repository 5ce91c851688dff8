#include "ui/tray_icon.h"

#include <shellapi.h>

#include <cwchar>

namespace porvex::ui {
namespace {

constexpr UINT kIconId = 1;

NOTIFYICONDATAW IconData(HWND owner) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = owner;
    data.uID = kIconId;
    return data;
}

}  // namespace

bool TTrayIcon::Add() {
    if (added_) {
        return true;
    }
    NOTIFYICONDATAW data = IconData(owner_);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = message_;
    data.hIcon = icon_;
    std::wcsncpy(data.szTip, kTrayHint, sizeof data.szTip / sizeof data.szTip[0] - 1);
    added_ = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    return added_;
}

TTrayIcon::~TTrayIcon() {
    if (added_) {
        NOTIFYICONDATAW data = IconData(owner_);
        Shell_NotifyIconW(NIM_DELETE, &data);
    }
}

}  // namespace porvex::ui
