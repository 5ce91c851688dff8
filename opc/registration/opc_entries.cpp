#include "opc/registration/opc_entries.h"

#include <comcat.h>

#include <algorithm>

#include "opc/com/com_ptr.h"
#include "opc/com/errors.h"
#include "opc/com/registry.h"
#include "opc/idl/opc_interfaces.h"

namespace porvex::opc {
namespace {

// COM for the length of a registration step on this thread (the program may not have set
// up its apartment yet).
class TComForStep {
  public:
    TComForStep() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {
        if (FAILED(hr_) && hr_ != RPC_E_CHANGED_MODE) {
            throw EOpcError(hr_, L"COM could not be initialised for the registration");
        }
    }
    TComForStep(const TComForStep&) = delete;
    TComForStep& operator=(const TComForStep&) = delete;
    ~TComForStep() {
        if (SUCCEEDED(hr_)) {
            CoUninitialize();
        }
    }

  private:
    HRESULT hr_;
};

TComPtr<ICatRegister> CategoryManager() {
    TComPtr<ICatRegister> manager;
    const HRESULT hr =
        CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                         IID_ICatRegister, reinterpret_cast<void**>(manager.Put()));
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
        TComPtr<ICatRegister> manager = CategoryManager();
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
    if (!KeyExists(HKEY_CLASSES_ROOT, opc_key)) {
        if (CreateEmptyKey(HKEY_CLASSES_ROOT, opc_key) == ERROR_SUCCESS) {
            WriteKeyDefault(HKEY_CLASSES_ROOT, opc_key + L"\\Vendor", vendor);
        }
    }
}

void UnregisterOpcEntries(const CLSID& clsid, const std::wstring& progId,
                          const std::vector<TOpcCategory>& categories) {
    {
        TComForStep com;
        TComPtr<ICatRegister> manager = CategoryManager();
        std::vector<CATID> ids = Ids(categories);
        Check(manager->UnRegisterClassImplCategories(clsid, static_cast<ULONG>(ids.size()),
                                                     ids.data()),
              L"the claim to the OPC categories could not be taken back");
    }
    // The manager may leave the class's list of categories behind, empty.
    const std::wstring implemented = L"CLSID\\" + GuidText(clsid) + L"\\Implemented Categories";
    if (KeyExists(HKEY_CLASSES_ROOT, implemented) &&
        !KeyHasSubkeys(HKEY_CLASSES_ROOT, implemented)) {
        DeleteKey(HKEY_CLASSES_ROOT, implemented);
    }
    DeleteKey(HKEY_CLASSES_ROOT, progId + L"\\Opc\\Vendor");
    DeleteKey(HKEY_CLASSES_ROOT, progId + L"\\Opc");
}

}  // namespace porvex::opc
