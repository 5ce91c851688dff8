// The library's exports: class objects, unloading and self-registration.
#include <windows.h>

#include <olectl.h>

#include "class_factory.h"
#include "identifiers.h"
#include "module.h"
#include "registration.h"
#include "resource.h"
#include "tarnet_ctrl.h"
#include "tarnet_prop_page.h"
#include "type_library.h"

using namespace tarnet;

namespace {

const ax::TypeLibraryId kLibrary{LIBID_TARNETLib, kTypeLibMajor, kTypeLibMinor, kTypeLibLocale};

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        ax::Module::instance().set_handle(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (clsid == CLSID_Tarnet) {
        return ax::ClassFactory<CTarnetCtrl>::create(iid, out);
    }
    if (clsid == CLSID_TarnetPropPage) {
        return ax::ClassFactory<CTarnetPropPage>::create(iid, out);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return ax::Module::instance().can_unload() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    if (FAILED(ax::register_type_library())) {
        return SELFREG_E_TYPELIB;
    }
    const ax::Module& module = ax::Module::instance();
    const bool control =
        ax::register_control({CLSID_Tarnet, kControlProgId, module.load_string(IDS_TARNET),
                              IDB_TARNET, kMiscStatus, LIBID_TARNETLib, L"1.0"});
    const bool page = ax::register_property_page(
        {CLSID_TarnetPropPage, kPageProgId, module.load_string(IDS_TARNET_PPG)});
    return control && page ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
    // Both steps run even when the first fails, so nothing is left half registered.
    const bool library = SUCCEEDED(ax::unregister_type_library(kLibrary));
    const bool control = ax::unregister_class(CLSID_Tarnet, kControlProgId);
    const bool page = ax::unregister_class(CLSID_TarnetPropPage, kPageProgId);
    if (!library) {
        return SELFREG_E_TYPELIB;
    }
    return control && page ? S_OK : SELFREG_E_CLASS;
}
