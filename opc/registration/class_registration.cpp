#include "opc/registration/class_registration.h"

#include "win/registry.h"

namespace porvex::opc {
namespace {

void Write(const std::wstring& path, const std::wstring& value) {
    const LONG error = win::write_key_default(HKEY_CLASSES_ROOT, path, value);
    if (error != ERROR_SUCCESS) {
        throw ERegistrationError(L"Could not write the registry key HKEY_CLASSES_ROOT\\" + path +
                                     L" (error " + std::to_wstring(error) + L")",
                                 error);
    }
}

}  // namespace

std::wstring LocalServerPath(const std::wstring& programPath) {
    if (programPath.find(L' ') == std::wstring::npos) {
        return programPath;
    }
    const DWORD needed = GetShortPathNameW(programPath.c_str(), nullptr, 0);
    if (needed == 0) {
        return programPath;
    }
    std::wstring short_path(needed, L'\0');
    const DWORD length = GetShortPathNameW(programPath.c_str(), short_path.data(), needed);
    if (length == 0 || length >= needed) {
        return programPath;
    }
    short_path.resize(length);
    return short_path;
}

void RegisterLocalServerClass(const TLocalServerClass& entry) {
    const std::wstring clsid = win::guid_text(entry.clsid);
    const std::wstring class_key = L"CLSID\\" + clsid;
    Write(class_key, entry.description);
    Write(class_key + L"\\LocalServer32", entry.server_path);
    Write(entry.prog_id, entry.description);
    Write(entry.prog_id + L"\\Clsid", clsid);
    Write(class_key + L"\\ProgID", entry.prog_id);
}

std::vector<std::wstring> UnregisterLocalServerClass(const TLocalServerClass& entry) {
    const std::wstring class_key = L"CLSID\\" + win::guid_text(entry.clsid);
    const std::wstring keys[] = {class_key + L"\\ProgID", entry.prog_id + L"\\Clsid", entry.prog_id,
                                 class_key + L"\\LocalServer32", class_key};
    std::vector<std::wstring> failed;
    for (const std::wstring& key : keys) {
        const LONG error = win::delete_key(HKEY_CLASSES_ROOT, key);
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
            failed.push_back(L"HKEY_CLASSES_ROOT\\" + key + L" (error " + std::to_wstring(error) +
                             L")");
        }
    }
    return failed;
}

}  // namespace porvex::opc
