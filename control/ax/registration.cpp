#include "registration.h"

#include "module.h"
#include "registry_key.h"

namespace tarnet::ax {

namespace {

using com::set_registry_string;

bool register_class_keys(const CLSID& clsid, const std::wstring& prog_id,
                         const std::wstring& type_name) {
    const std::wstring key = L"CLSID\\" + com::guid_text(clsid);
    const std::wstring path = Module::instance().path();
    return !path.empty() && set_registry_string(HKEY_CLASSES_ROOT, key, L"", type_name) &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"", path) &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel",
                               L"Apartment") &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\ProgID", L"", prog_id) &&
           set_registry_string(HKEY_CLASSES_ROOT, prog_id, L"", type_name) &&
           set_registry_string(HKEY_CLASSES_ROOT, prog_id + L"\\CLSID", L"", com::guid_text(clsid));
}

}  // namespace

bool register_control(const ControlRegistration& control) {
    if (!register_class_keys(control.clsid, control.prog_id, control.type_name)) {
        return false;
    }
    const std::wstring key = L"CLSID\\" + com::guid_text(control.clsid);
    const std::wstring bitmap =
        Module::instance().path() + L", " + std::to_wstring(control.toolbox_bitmap);
    return set_registry_string(HKEY_CLASSES_ROOT, key + L"\\Control", L"", L"") &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\ToolboxBitmap32", L"", bitmap) &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\MiscStatus", L"", L"0") &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\MiscStatus\\1", L"",
                               std::to_wstring(control.misc_status)) &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\TypeLib", L"",
                               com::guid_text(control.libid)) &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\Version", L"", control.version);
}

bool register_property_page(const PageRegistration& page) {
    return register_class_keys(page.clsid, page.prog_id, page.type_name);
}

bool unregister_class(const CLSID& clsid, const std::wstring& prog_id) {
    const bool clsid_gone =
        com::delete_registry_tree(HKEY_CLASSES_ROOT, L"CLSID\\" + com::guid_text(clsid));
    const bool prog_id_gone = com::delete_registry_tree(HKEY_CLASSES_ROOT, prog_id);
    return clsid_gone && prog_id_gone;
}

}  // namespace tarnet::ax
