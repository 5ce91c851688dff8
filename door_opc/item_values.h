// How door points look to OPC clients: the rights and types the namespace announces, the
// conversion of point values to and from VARIANTs, and the date and time text of the
// item server's log lines.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>

#include <optional>

#include "doors/door_directory.h"
#include "doors/item_info.h"
#include "doors/point_kind.h"
#include "opc/items/item_types.h"
#include "win/variant.h"

namespace porvex {

// Remote-open points are readable and writable, the others readable only.
opc::TAccessRights namespace_rights(PointKind kind);
// Card points are strings (VT_BSTR), the others short integers (VT_I2).
VARTYPE namespace_type(PointKind kind);

// Rights of a resolved leaf: its point's namespace rights; the address leaves and the
// other leaves are read-only.
opc::TAccessRights leaf_rights(const LeafOwner& owner);
// The one type a point's values always have, the type the namespace declares
// (VT_EMPTY for the address leaves, which keep the type of their stored value).
VARTYPE canonical_type(const LeafOwner& owner);

// A leaf value as a VARIANT: 32-bit integers as VT_I4, the one-byte value as VT_UI1,
// strings as VT_BSTR.
win::Variant to_variant(const ItemValue& value);
// The value converted to `type` (VT_EMPTY: to_variant); every door point value fits
// its point's type. Throws EOpcError when it does not.
win::Variant to_canonical(const ItemValue& value, VARTYPE type);
// An empty value of the type (0, "", date 0): what a failed read delivers with BAD
// quality, so that the item's type never changes.
win::Variant empty_of(VARTYPE type);

// The quality of a door's items for the state of its controller link.
WORD link_quality(LinkState link);

// A value a client writes to a remote-open point as the door model takes it: 1 for a
// request to open (the number 1, VT_BOOL TRUE, the texts "1" and "true"), 0 for
// anything else that is a number or a boolean. Nothing for a value that is neither
// (a text like "open", an array): the write fails with OPC_E_BADTYPE.
std::optional<std::int32_t> remote_open_request(const VARIANT& written);

// The current local date and time in the system's short date format and its time format.
std::wstring now_text();

}  // namespace porvex
