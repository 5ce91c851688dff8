// TOpcServerFactory: the class object of the OPC server class. COM asks it for one server
// object per client (TServerImpl, through CreateServerObject); one running program serves
// every client (multiple use), and all objects live on the program's main thread
// (apartment threading). It also knows the class's registry entries.
//
// ProgID = the executable's file name without folder and extension + "." + the class name
// the item server gives (GetProgIdClassName), so a renamed executable registers under a new
// ProgID.
#pragma once

#include <windows.h>

#include <unknwn.h>

#include <atomic>
#include <string>
#include <vector>

#include "opc/registration/class_registration.h"
#include "opc/registration/opc_entries.h"

namespace porvex::opc {

// What a class object makes for a client and the OPC categories its class claims: by
// default the Data Access server object and the two Data Access categories. The Alarms &
// Events class (opc/events) gives its own.
struct TServerClassKind {
    HRESULT (*create)(REFIID riid, void** object) noexcept = nullptr;
    std::vector<TOpcCategory> categories = DataAccessCategories();
};

class TOpcServerFactory final : public IClassFactory {
  public:
    TOpcServerFactory(const CLSID& clsid, std::wstring className, std::wstring description,
                      std::wstring vendor, TServerClassKind kind = {});
    TOpcServerFactory(const TOpcServerFactory&) = delete;
    TOpcServerFactory& operator=(const TOpcServerFactory&) = delete;

    const CLSID& ClassId() const noexcept { return clsid_; }
    const std::wstring& ClassName() const noexcept { return class_name_; }
    const std::wstring& ProgId() const noexcept { return prog_id_; }
    const std::wstring& Description() const noexcept { return description_; }
    const std::wstring& Vendor() const noexcept { return vendor_; }

    // Registering writes the class's entries (ERegistrationError for a key that cannot be
    // written), then the OPC entries (EOpcError when the categories fail). Unregistering
    // takes the OPC entries back first (EOpcError when that fails), so that the class's
    // keys have nothing left below them and are deleted in their order; keys that cannot
    // be deleted are logged.
    void ApplyRegistration(bool registering);

    // IUnknown. The factory lives as long as the program's COM server role; references
    // taken by COM do not decide its life.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 2; }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }

    // IClassFactory
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                             void** object) noexcept override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override;

  private:
    TLocalServerClass ClassEntry() const;

    CLSID clsid_;
    std::wstring class_name_;
    std::wstring prog_id_;
    std::wstring description_;
    std::wstring vendor_;
    TServerClassKind kind_;
    std::atomic<long> locks_{0};
};

// The executable's file name without folder and extension.
std::wstring ExecutableName();

}  // namespace porvex::opc
