// The value rules of change detection.
#pragma once

#include <windows.h>

#include <oleauto.h>

namespace porvex::opc {

class IEUInfo;

// Whether two values are the same: the same VARTYPE, and for arrays one dimension each with
// the same element count, element size and contents (strings element by element, other
// elements byte by byte); scalars compare by value (two NaNs are the same).
bool SameValue(const VARIANT& a, const VARIANT& b) noexcept;

// A numeric scalar as a double; false for anything else.
bool NumericValue(const VARIANT& v, double& out) noexcept;

// The analog limits of engineering-units information: element 0 low, element 1 high of a
// one-dimensional array; both 0 when the information is no such array.
void AnalogLimits(IEUInfo& info, double& low, double& high);

}  // namespace porvex::opc
