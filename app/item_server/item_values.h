// How door points look to OPC clients: the rights and types the namespace announces, the
// conversion of point values to and from VARIANTs, and the date and time text of the
// item server's log lines.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>

#include "doors/item_info.h"
#include "doors/point_kind.h"
#include "opc/com/variant.h"
#include "opc/server/types.h"

namespace porvex {

// Remote-open points are readable and writable, the others readable only.
opc::TAccessRights namespace_rights(PointKind kind);
// Card points are strings (VT_BSTR), the others short integers (VT_I2).
VARTYPE namespace_type(PointKind kind);

// A point value as the engine hands it to clients: 32-bit integers as VT_I4, the one-byte
// door-open value as VT_UI1, strings as VT_BSTR.
opc::TVariant to_variant(const ItemValue& value);
// A written value as the door model compares it with 1: integers (VT_BOOL true is -1),
// floating-point numbers and strings keep their value; anything else becomes a text that
// never equals 1.
ItemValue from_variant(const VARIANT& value);

// The current local date and time in the system's short date format and its time format.
std::wstring now_text();

}  // namespace porvex
