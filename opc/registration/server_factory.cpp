#include "opc/registration/server_factory.h"

#include "opc/com/engine_lock.h"
#include "opc/com/log.h"
#include "opc/registration/opc_entries.h"
#include "opc/server_object/server_impl.h"
#include "win/com_object.h"
#include "win/registry.h"

namespace porvex::opc {

std::wstring ExecutableName() {
    std::wstring name = win::module_path(nullptr);
    if (const std::size_t slash = name.find_last_of(L"\\/:"); slash != std::wstring::npos) {
        name.erase(0, slash + 1);
    }
    if (const std::size_t dot = name.rfind(L'.'); dot != std::wstring::npos) {
        name.erase(dot);
    }
    return name;
}

TOpcServerFactory::TOpcServerFactory(const CLSID& clsid, std::wstring className,
                                     std::wstring description, std::wstring vendor,
                                     TServerClassKind kind)
    : clsid_(clsid),
      class_name_(std::move(className)),
      prog_id_(ExecutableName() + L"." + class_name_),
      description_(std::move(description)),
      vendor_(std::move(vendor)),
      kind_(std::move(kind)) {}

TLocalServerClass TOpcServerFactory::ClassEntry() const {
    TLocalServerClass entry;
    entry.clsid = clsid_;
    entry.prog_id = prog_id_;
    entry.description = description_;
    entry.server_path = LocalServerPath(win::module_path(nullptr));
    return entry;
}

void TOpcServerFactory::ApplyRegistration(bool registering) {
    const TLocalServerClass entry = ClassEntry();
    if (registering) {
        RegisterLocalServerClass(entry);
        RegisterOpcEntries(clsid_, prog_id_, vendor_, kind_.categories);
        return;
    }
    UnregisterOpcEntries(clsid_, prog_id_, kind_.categories);
    for (const std::wstring& key : UnregisterLocalServerClass(entry)) {
        LogLine(L"unregistering " + prog_id_ + L": could not delete " + key);
    }
}

HRESULT TOpcServerFactory::QueryInterface(REFIID riid, void** object) noexcept {
    if (!object) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT TOpcServerFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) noexcept {
    if (object) {
        *object = nullptr;
    }
    if (outer) {
        return CLASS_E_NOAGGREGATION;
    }
    // A new client object joins the engine's lists: under the engine lock.
    const TEngineGuard engine;
    return kind_.create ? kind_.create(riid, object) : CreateServerObject(riid, object);
}

HRESULT TOpcServerFactory::LockServer(BOOL lock) noexcept {
    // A lock counts as a live object: a server started by COM stays while it is held. An
    // unlock without a lock changes nothing.
    if (lock) {
        locks_.fetch_add(1);
        win::ObjectCount::add();
        return S_OK;
    }
    long held = locks_.load();
    while (held > 0 && !locks_.compare_exchange_weak(held, held - 1)) {
    }
    if (held > 0) {
        win::ObjectCount::remove();
    }
    return S_OK;
}

}  // namespace porvex::opc
