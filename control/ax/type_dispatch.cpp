#include "type_dispatch.h"

#include <oleauto.h>

#include "win/variant.h"

namespace tarnet::ax {

TypeDispatch::TypeDispatch(win::ComPtr<ITypeInfo> info) : info_(std::move(info)) {
    if (!info_) {
        return;
    }
    TYPEATTR* attributes = nullptr;
    if (FAILED(info_->GetTypeAttr(&attributes))) {
        info_.reset();
        return;
    }
    for (UINT i = 0; i < attributes->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(info_->GetFuncDesc(i, &f))) {
            continue;
        }
        Member m;
        for (SHORT p = 0; p < f->cParams; ++p) {
            m.parameters.push_back(f->lprgelemdescParam[p].tdesc.vt);
        }
        m.result = f->elemdescFunc.tdesc.vt;
        members_[f->memid] = m;
        info_->ReleaseFuncDesc(f);
    }
    for (UINT i = 0; i < attributes->cVars; ++i) {
        VARDESC* v = nullptr;
        if (FAILED(info_->GetVarDesc(i, &v))) {
            continue;
        }
        Member m;
        m.property = true;
        m.read_only = (v->wVarFlags & VARFLAG_FREADONLY) != 0;
        m.result = v->elemdescVar.tdesc.vt;
        members_[v->memid] = m;
        info_->ReleaseVarDesc(v);
    }
    info_->ReleaseTypeAttr(attributes);
}

HRESULT TypeDispatch::get_ids_of_names(LPOLESTR* names, UINT count, DISPID* ids) const {
    if (!info_) {
        return E_UNEXPECTED;
    }
    return ::DispGetIDsOfNames(info_.get(), names, count, ids);
}

namespace {

// An argument that the caller left out (VB passes these for omitted arguments).
bool is_missing(const VARIANT& v) {
    return V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND;
}

HRESULT convert(const VARIANT& from, VARTYPE to, VARIANT& out) {
    win::Variant plain;
    HRESULT hr = ::VariantCopyInd(plain.get(), const_cast<VARIANT*>(&from));
    if (SUCCEEDED(hr)) {
        hr = ::VariantChangeType(&out, plain.get(), 0, to);
    }
    if (hr == DISP_E_OVERFLOW) {
        return hr;
    }
    return FAILED(hr) ? DISP_E_TYPEMISMATCH : S_OK;
}

}  // namespace

HRESULT TypeDispatch::invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                             UINT* arg_error, DispatchTarget& target) const {
    if (!info_) {
        return E_UNEXPECTED;
    }
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (params == nullptr) {
        params = &none;
    }
    const auto found = members_.find(id);
    if (found == members_.end()) {
        return DISP_E_MEMBERNOTFOUND;
    }
    const Member& member = found->second;

    MemberAccess access;
    std::vector<VARTYPE> types;
    if (member.property) {
        if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0) {
            if (member.read_only) {
                return DISP_E_MEMBERNOTFOUND;
            }
            if (params->cArgs != 1 || params->cNamedArgs != 1 ||
                params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
                return params->cArgs != 1 ? DISP_E_BADPARAMCOUNT : DISP_E_PARAMNOTFOUND;
            }
            access = MemberAccess::put;
            types = {member.result};
        } else if ((flags & DISPATCH_PROPERTYGET) != 0) {
            if (params->cArgs != 0) {
                return DISP_E_BADPARAMCOUNT;
            }
            access = MemberAccess::get;
        } else {
            return DISP_E_MEMBERNOTFOUND;
        }
    } else {
        // Scripts call methods with DISPATCH_METHOD | DISPATCH_PROPERTYGET.
        if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) {
            return DISP_E_MEMBERNOTFOUND;
        }
        access = MemberAccess::call;
        types = member.parameters;
    }

    const UINT expected = static_cast<UINT>(types.size());
    if (params->cArgs > expected) {
        return DISP_E_BADPARAMCOUNT;
    }
    // Where each declared parameter comes from in rgvarg (arguments are in reverse order;
    // named ones come first and carry their parameter's position as their DISPID).
    std::vector<int> source(expected, -1);
    if (access == MemberAccess::put) {
        source[0] = 0;
    } else {
        const UINT named = params->cNamedArgs;
        for (UINT i = 0; i < named; ++i) {
            const DISPID position = params->rgdispidNamedArgs[i];
            if (position < 0 || static_cast<UINT>(position) >= expected || source[position] != -1) {
                if (arg_error != nullptr) {
                    *arg_error = i;
                }
                return DISP_E_PARAMNOTFOUND;
            }
            source[position] = static_cast<int>(i);
        }
        const UINT positional = params->cArgs - named;
        for (UINT k = 0; k < positional; ++k) {
            if (source[k] != -1) {
                return DISP_E_PARAMNOTFOUND;  // also given by name
            }
            source[k] = static_cast<int>(params->cArgs - 1 - k);
        }
    }

    std::vector<win::Variant> args(expected);

    for (UINT p = 0; p < expected; ++p) {
        if (source[p] < 0 || is_missing(params->rgvarg[source[p]])) {
            return DISP_E_PARAMNOTOPTIONAL;
        }
        const HRESULT hr = convert(params->rgvarg[source[p]], types[p], *args[p].put());
        if (FAILED(hr)) {
            if (arg_error != nullptr) {
                *arg_error = static_cast<UINT>(source[p]);
            }
            return hr;
        }
    }

    win::Variant value;
    const HRESULT hr = target.invoke_member(id, access, args, value);
    if (SUCCEEDED(hr) && result != nullptr && access != MemberAccess::put) {
        ::VariantInit(result);
        value.move_to(*result);
    }
    return hr;
}

}  // namespace tarnet::ax
