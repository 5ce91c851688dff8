// Self-registration of the OPC proxy/stub DLL (PorvexOpcPS.dll).
//
// The DLL marshals the OPC DA 1.0/2.0, OPC Alarms & Events 1.10 and OPC Common custom
// interfaces across processes.
// A machine may already have the OPC Foundation's marshalling components; they stay in
// charge: registration writes the Interface key of an interface only when that interface
// has none yet, and unregistration removes only the Interface keys that name this DLL's
// class. The DLL's own class key (its proxy/stub factory) has an ID of its own, so it never
// replaces another component's class either.
#include <windows.h>

#include <string>

#include "opc/proxy/proxy_interfaces.h"
#include "win/registry.h"

extern "C" {
// The class of this DLL's proxy/stub factory (dlldata.c serves it from DllGetClassObject).
extern const CLSID CLSID_PorvexOpcProxy = {
    0x565AB45A, 0x823E, 0x4C7C, {0x9E, 0x34, 0x09, 0xFE, 0x6E, 0xE5, 0xF8, 0x7D}};
}

namespace {

namespace win = porvex::win;

HMODULE this_module = nullptr;

constexpr wchar_t kClassName[] = L"Porvex OPC DA proxy/stub";

std::wstring Widen(const char* text) {
    std::wstring out;
    for (; text && *text; ++text) {
        out += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    }
    return out;
}

HRESULT FromWin32(LONG error) { return error == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(error); }

// Calls visit(iid, name, method count) for every interface the DLL marshals.
template <class Visit>
void ForEachInterface(Visit&& visit) {
    const IID* iid = nullptr;
    const char* name = nullptr;
    unsigned long methods = 0;
    for (unsigned i = 0; PorvexProxyInterface(i, &iid, &name, &methods); ++i) {
        visit(*iid, Widen(name), methods);
    }
}

HRESULT RegisterProxyClass() {
    const std::wstring path = win::module_path(this_module);
    if (path.empty()) {
        return HRESULT_FROM_WIN32(GetLastError());
    }
    const std::wstring key = L"CLSID\\" + win::guid_text(CLSID_PorvexOpcProxy);
    HRESULT hr = FromWin32(win::write_key_default(HKEY_CLASSES_ROOT, key, kClassName));
    if (SUCCEEDED(hr)) {
        hr = FromWin32(win::write_key_default(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", path));
    }
    if (SUCCEEDED(hr)) {
        hr = FromWin32(win::write_key_text(HKEY_CLASSES_ROOT, key + L"\\InprocServer32",
                                           L"ThreadingModel", L"Both"));
    }
    return hr;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        this_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

// Writes the proxy/stub class and, for every interface without an Interface key, that key
// with its name, method count and this DLL's class. Interfaces registered by other
// components are left as they are.
STDAPI DllRegisterServer() {
    try {
        HRESULT hr = RegisterProxyClass();
        const std::wstring clsid = win::guid_text(CLSID_PorvexOpcProxy);
        ForEachInterface([&](const IID& iid, const std::wstring& name, unsigned long methods) {
            const std::wstring key = L"Interface\\" + win::guid_text(iid);
            if (FAILED(hr) || win::key_exists(HKEY_CLASSES_ROOT, key)) {
                return;
            }
            hr = FromWin32(win::write_key_default(HKEY_CLASSES_ROOT, key, name));
            if (SUCCEEDED(hr)) {
                hr = FromWin32(win::write_key_default(HKEY_CLASSES_ROOT, key + L"\\NumMethods",
                                                      std::to_wstring(methods)));
            }
            if (SUCCEEDED(hr)) {
                hr = FromWin32(
                    win::write_key_default(HKEY_CLASSES_ROOT, key + L"\\ProxyStubClsid32", clsid));
            }
        });
        return hr;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// Removes the Interface keys that name this DLL's class, then the class itself.
STDAPI DllUnregisterServer() {
    try {
        const std::wstring clsid = win::guid_text(CLSID_PorvexOpcProxy);
        ForEachInterface([&](const IID& iid, const std::wstring&, unsigned long) {
            const std::wstring key = L"Interface\\" + win::guid_text(iid);
            const auto owner = win::read_key_text(HKEY_CLASSES_ROOT, key + L"\\ProxyStubClsid32");
            if (!owner ||
                CompareStringOrdinal(owner->c_str(), -1, clsid.c_str(), -1, TRUE) != CSTR_EQUAL) {
                return;
            }
            win::delete_key(HKEY_CLASSES_ROOT, key + L"\\ProxyStubClsid32");
            win::delete_key(HKEY_CLASSES_ROOT, key + L"\\NumMethods");
            win::delete_key(HKEY_CLASSES_ROOT, key);
        });
        const std::wstring key = L"CLSID\\" + clsid;
        win::delete_key(HKEY_CLASSES_ROOT, key + L"\\InprocServer32");
        win::delete_key(HKEY_CLASSES_ROOT, key);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
