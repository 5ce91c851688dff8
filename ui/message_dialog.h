// The main window's message dialog: caption "注意", a warning icon and one "OK" button,
// shown modally. Tests and scripts find it by its caption.
#pragma once

#include <windows.h>

#include <string>

namespace porvex::ui {

inline constexpr wchar_t kDialogCaption[] = L"注意";

void ShowDialog(HWND owner, const std::wstring& text);

}  // namespace porvex::ui
