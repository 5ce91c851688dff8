// The library's type library: registration from the module's own TYPELIB resource, and
// the type information of one of its types.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include "win/com_ptr.h"

namespace tarnet::ax {

namespace win = porvex::win;

struct TypeLibraryId {
    GUID libid;
    WORD major;
    WORD minor;
    LCID lcid;
};

// Registers the type library embedded in the module (resource 1 of type TYPELIB).
HRESULT register_type_library();
HRESULT unregister_type_library(const TypeLibraryId& id);

// The type information of type: from the registered library (LoadRegTypeLib), or, when
// the library is not registered, from the module's own resource.
win::ComPtr<ITypeInfo> load_type_info(const TypeLibraryId& id, const GUID& type);

}  // namespace tarnet::ax
