#include "type_library.h"

#include <oleauto.h>

#include "module.h"

namespace tarnet::ax {

HRESULT register_type_library() {
    const std::wstring path = Module::instance().path();
    win::ComPtr<ITypeLib> library;
    return ::LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, library.put());
}

HRESULT unregister_type_library(const TypeLibraryId& id) {
    return ::UnRegisterTypeLib(id.libid, id.major, id.minor, id.lcid, SYS_WIN32);
}

win::ComPtr<ITypeInfo> load_type_info(const TypeLibraryId& id, const GUID& type) {
    win::ComPtr<ITypeLib> library;
    if (FAILED(::LoadRegTypeLib(id.libid, id.major, id.minor, id.lcid, library.put()))) {
        const std::wstring path = Module::instance().path();
        if (FAILED(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.put()))) {
            return nullptr;
        }
    }
    win::ComPtr<ITypeInfo> info;
    library->GetTypeInfoOfGuid(type, info.put());
    return info;
}

}  // namespace tarnet::ax
