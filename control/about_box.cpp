#include "about_box.h"

#include "guarded.h"
#include "module.h"
#include "resource.h"

namespace tarnet {

namespace {

INT_PTR about_message(HWND dialog, UINT msg, WPARAM wparam) {
    switch (msg) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
                ::EndDialog(dialog, LOWORD(wparam));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

INT_PTR CALLBACK about_procedure(HWND dialog, UINT msg, WPARAM wparam, LPARAM) {
    return guarded(
        "control: About box", [&] { return about_message(dialog, msg, wparam); },
        [](Failure) { return INT_PTR{FALSE}; });
}

}  // namespace

void show_about_box(HWND owner) {
    ::DialogBoxParamW(ax::Module::instance().handle(), MAKEINTRESOURCEW(IDD_ABOUTBOX_TARNET), owner,
                      &about_procedure, 0);
}

}  // namespace tarnet
