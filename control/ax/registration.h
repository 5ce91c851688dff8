// Registry entries of the library's classes (under HKEY_CLASSES_ROOT).
#pragma once

#include <windows.h>

#include <string>

namespace tarnet::ax {

struct ControlRegistration {
    const CLSID& clsid;
    std::wstring prog_id;
    std::wstring type_name;
    UINT toolbox_bitmap;  // bitmap resource of the module
    DWORD misc_status;
    const GUID& libid;
    std::wstring version;  // of the type library, "1.0"
};

struct PageRegistration {
    const CLSID& clsid;
    std::wstring prog_id;
    std::wstring type_name;
};

// CLSID\{clsid}: type name, InprocServer32 (the module, ThreadingModel Apartment),
// ProgID, Control, ToolboxBitmap32, MiscStatus, TypeLib, Version; and the ProgID key.
bool register_control(const ControlRegistration& control);
// CLSID\{clsid}: type name, InprocServer32 (Apartment), ProgID; and the ProgID key.
bool register_property_page(const PageRegistration& page);
// Removes both keys; true also when they were not there.
bool unregister_class(const CLSID& clsid, const std::wstring& prog_id);

}  // namespace tarnet::ax
