#include "ui/message_dialog.h"

namespace porvex::ui {

void ShowDialog(HWND owner, const std::wstring& text) {
    MessageBoxW(owner, text.c_str(), kDialogCaption, MB_OK | MB_ICONWARNING | MB_TASKMODAL);
}

}  // namespace porvex::ui
