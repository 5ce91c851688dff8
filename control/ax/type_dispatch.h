// IDispatch through a dispinterface's type information.
//
// Names map to DISPIDs through the type information; Invoke finds the member there,
// checks the call kind and the number of arguments, takes named arguments to their
// places, and converts every argument to the type the type information declares
// (VariantChangeType) before the target sees it. The target receives the arguments in
// declaration order, already of the declared types, and fills the result.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <map>
#include <span>
#include <vector>

#include "win/com_ptr.h"
#include "win/variant.h"

namespace tarnet::ax {

namespace win = porvex::win;

enum class MemberAccess { call, get, put };

class DispatchTarget {
  public:
    virtual ~DispatchTarget() = default;
    // args: the arguments in declaration order, of the declared types (a put has one,
    // the new value). result: an empty variant to fill for calls and gets.
    virtual HRESULT invoke_member(DISPID id, MemberAccess access,
                                  std::span<const win::Variant> args, win::Variant& result) = 0;
};

class TypeDispatch {
  public:
    struct Member {
        bool property = false;
        bool read_only = false;
        std::vector<VARTYPE> parameters;  // a method's; a property's own type is result
        VARTYPE result = VT_EMPTY;
    };

    explicit TypeDispatch(win::ComPtr<ITypeInfo> info);

    bool valid() const { return static_cast<bool>(info_); }
    ITypeInfo* type_info() const { return info_.get(); }
    const std::map<DISPID, Member>& members() const { return members_; }

    HRESULT get_ids_of_names(LPOLESTR* names, UINT count, DISPID* ids) const;
    HRESULT invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, UINT* arg_error,
                   DispatchTarget& target) const;

  private:
    win::ComPtr<ITypeInfo> info_;
    std::map<DISPID, Member> members_;
};

}  // namespace tarnet::ax
