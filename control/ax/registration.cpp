#include "registration.h"

#include "module.h"
#include "win/registry.h"

namespace tarnet::ax {

namespace {

namespace win = porvex::win;
using win::guid_text;

bool set_registry_string(HKEY root, const std::wstring& path, const std::wstring& name,
                         const std::wstring& value) {
    return win::write_key_text(root, path, name, value) == ERROR_SUCCESS;
}

bool delete_registry_tree(HKEY root, const std::wstring& path) {
    return win::delete_key_tree(root, path) == ERROR_SUCCESS;
}

bool register_class_keys(const CLSID& clsid, const std::wstring& prog_id,
                         const std::wstring& type_name) {
    const std::wstring key = L"CLSID\\" + guid_text(clsid);
    const std::wstring path = Module::instance().path();
    return !path.empty() && set_registry_string(HKEY_CLASSES_ROOT, key, L"", type_name) &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"", path) &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\InprocServer32", L"ThreadingModel",
                               L"Apartment") &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\ProgID", L"", prog_id) &&
           set_registry_string(HKEY_CLASSES_ROOT, prog_id, L"", type_name) &&
           set_registry_string(HKEY_CLASSES_ROOT, prog_id + L"\\CLSID", L"", guid_text(clsid));
}

}  // namespace

bool register_control(const ControlRegistration& control) {
    if (!register_class_keys(control.clsid, control.prog_id, control.type_name)) {
        return false;
    }
    const std::wstring key = L"CLSID\\" + guid_text(control.clsid);
    const std::wstring bitmap =
        Module::instance().path() + L", " + std::to_wstring(control.toolbox_bitmap);
    return set_registry_string(HKEY_CLASSES_ROOT, key + L"\\Control", L"", L"") &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\ToolboxBitmap32", L"", bitmap) &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\MiscStatus", L"", L"0") &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\MiscStatus\\1", L"",
                               std::to_wstring(control.misc_status)) &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\TypeLib", L"",
                               guid_text(control.libid)) &&
           set_registry_string(HKEY_CLASSES_ROOT, key + L"\\Version", L"", control.version);
}

bool register_property_page(const PageRegistration& page) {
    return register_class_keys(page.clsid, page.prog_id, page.type_name);
}

bool unregister_class(const CLSID& clsid, const std::wstring& prog_id) {
    const bool clsid_gone = delete_registry_tree(HKEY_CLASSES_ROOT, L"CLSID\\" + guid_text(clsid));
    const bool prog_id_gone = delete_registry_tree(HKEY_CLASSES_ROOT, prog_id);
    return clsid_gone && prog_id_gone;
}

}  // namespace tarnet::ax
