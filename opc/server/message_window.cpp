#include "opc/server/message_window.h"

namespace porvex::opc {
namespace {

HINSTANCE ModuleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ModuleInstance), &module);
    return module;
}

}  // namespace

HWND CreateMessageWindow(const wchar_t* className, WNDPROC windowProc,
                         void* creationParam) noexcept {
    WNDCLASSW wc{};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = ModuleInstance();
    wc.lpszClassName = className;
    if (!RegisterClassW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return nullptr;
    }
    return CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                           creationParam);
}

}  // namespace porvex::opc
