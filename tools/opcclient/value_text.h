// How opcclient shows and reads values: VARIANTs, their types, OPC qualities and time
// stamps as text, and the text of a value to write turned into a VARIANT of the item's type.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>

#include "win/variant.h"

namespace porvex::opcclient {

// "I4", "BSTR", "R8[]" ...
std::wstring TypeName(VARTYPE type);
// 42, 3.5, true, "text" (quoted, escaped), 2024-05-06T07:08:09.123 for dates, [1, 2, 3].
std::wstring ValueText(const VARIANT& value);
// "good", "bad:out-of-service", "uncertain:last-usable:low" ...
std::wstring QualityText(WORD quality);
// 2024-05-06T07:08:09.123Z (UTC), or "-" for a zero time.
std::wstring FileTimeText(const FILETIME& time);
// "ITEM = VALUE (TYPE) quality=Q time=T"
std::wstring ValueLine(const std::wstring& item, const VARIANT& value, WORD quality,
                       const FILETIME& time);

// The value of text for an item of type (its canonical type): numbers, true/false, dates
// (2024-05-06 or 2024-05-06T07:08:09), strings (as they are, or quoted with escapes) and
// arrays ([1, 2, 3]). EOpcError with the conversion's code when the text does not fit.
win::Variant ParseValue(const std::wstring& text, VARTYPE type);

}  // namespace porvex::opcclient
