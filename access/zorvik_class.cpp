// CZorvikAccess: exported for hosts that expect it. It has no members and does nothing.
#include "ZorvikAccess.h"

CZorvikAccess::CZorvikAccess() = default;

CZorvikAccess& CZorvikAccess::operator=(const CZorvikAccess&) { return *this; }

#if defined(_WIN32) && defined(__i386__)
// The same two members as a host built with Microsoft's compiler calls them: __thiscall,
// the constructor returning the object, the assignment taking the source on the stack
// (which the callee pops) and returning the object. The .def file exports them under
// that compiler's names.
extern "C" __attribute__((thiscall)) CZorvikAccess* zorvik_class_construct(CZorvikAccess* self) {
    return self;
}

extern "C" __attribute__((thiscall)) CZorvikAccess* zorvik_class_assign(CZorvikAccess* self,
                                                                        const CZorvikAccess*) {
    return self;
}
#endif
