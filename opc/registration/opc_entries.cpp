#include "opc/registration/opc_entries.h"

#include <comcat.h>

#include <algorithm>

#include "opc/com/errors.h"
#include "opc/idl/opc_interfaces.h"
#include "win/com_apartment.h"
#include "win/com_ptr.h"
#include "win/registry.h"

namespace porvex::opc {
namespace {

// COM for the length of a registration step on this thread (the program may not have set
// up its apartment yet; one of another kind serves as well).
class TComForStep {
  public:
    TComForStep() {
        if (!apartment_.usable()) {
            throw EOpcError(apartment_.result(),
                            L"COM could not be initialised for the registration");
        }
    }

  private:
    win::ComApartment apartment_;
};

win::ComPtr<ICatRegister> CategoryManager() {
    win::ComPtr<ICatRegister> manager;
    const HRESULT hr =
        CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                         IID_ICatRegister, reinterpret_cast<void**>(manager.put()));
    if (FAILED(hr)) {
        throw EOpcError(hr, L"the component categories manager is not available");
    }
    return manager;
}

void Check(HRESULT hr, const wchar_t* what) {
    if (FAILED(hr)) {
        throw EOpcError(hr, what);
    }
}

std::vector<CATID> Ids(const std::vector<TOpcCategory>& categories) {
    std::vector<CATID> ids;
    for (const TOpcCategory& category : categories) {
        ids.push_back(category.id);
    }
    return ids;
}

}  // namespace

std::vector<TOpcCategory> DataAccessCategories() {
    return {{CATID_OPCDAServer20, L"OPC Data Access Servers Version 2.0"},
            {CATID_OPCDAServer10, L"OPC Data Access Servers Version 1.0"}};
}

void RegisterOpcEntries(const CLSID& clsid, const std::wstring& progId, const std::wstring& vendor,
                        const std::vector<TOpcCategory>& categories) {
    {
        TComForStep com;
        win::ComPtr<ICatRegister> manager = CategoryManager();
        std::vector<CATEGORYINFO> infos(categories.size());
        const LCID locale = GetUserDefaultLCID();
        for (std::size_t i = 0; i < categories.size(); ++i) {
            infos[i].catid = categories[i].id;
            infos[i].lcid = locale;
            const std::wstring_view text(categories[i].description);
            const std::size_t length = std::min<std::size_t>(text.size(), 127);
            std::copy_n(text.data(), length, infos[i].szDescription);
            infos[i].szDescription[length] = L'\0';
        }
        std::vector<CATID> ids = Ids(categories);
        Check(manager->RegisterCategories(static_cast<ULONG>(infos.size()), infos.data()),
              L"the OPC categories could not be registered");
        Check(
            manager->RegisterClassImplCategories(clsid, static_cast<ULONG>(ids.size()), ids.data()),
            L"the OPC categories could not be claimed");
    }
    // The vendor text: written once; what is there already stays.
    const std::wstring opc_key = progId + L"\\Opc";
    if (!win::key_exists(HKEY_CLASSES_ROOT, opc_key)) {
        if (win::create_empty_key(HKEY_CLASSES_ROOT, opc_key) == ERROR_SUCCESS) {
            win::write_key_default(HKEY_CLASSES_ROOT, opc_key + L"\\Vendor", vendor);
        }
    }
}

void UnregisterOpcEntries(const CLSID& clsid, const std::wstring& progId,
                          const std::vector<TOpcCategory>& categories) {
    {
        TComForStep com;
        win::ComPtr<ICatRegister> manager = CategoryManager();
        std::vector<CATID> ids = Ids(categories);
        Check(manager->UnRegisterClassImplCategories(clsid, static_cast<ULONG>(ids.size()),
                                                     ids.data()),
              L"the claim to the OPC categories could not be taken back");
    }
    // The manager may leave the class's list of categories behind, empty.
    const std::wstring implemented =
        L"CLSID\\" + win::guid_text(clsid) + L"\\Implemented Categories";
    if (win::key_exists(HKEY_CLASSES_ROOT, implemented) &&
        !win::key_has_subkeys(HKEY_CLASSES_ROOT, implemented)) {
        win::delete_key(HKEY_CLASSES_ROOT, implemented);
    }
    win::delete_key(HKEY_CLASSES_ROOT, progId + L"\\Opc\\Vendor");
    win::delete_key(HKEY_CLASSES_ROOT, progId + L"\\Opc");
}

}  // namespace porvex::opc
