// Reading and writing property values in streams and property bags.
#pragma once

#include <windows.h>

#include <objidl.h>
#include <ocidl.h>

#include <cstdint>

namespace tarnet::ax {

// Exactly sizeof(T) bytes; a short read is an error (STG_E_READFAULT).
template <class T>
HRESULT write_value(IStream* stream, const T& value) {
    ULONG written = 0;
    const HRESULT hr = stream->Write(&value, sizeof value, &written);
    return FAILED(hr) ? hr : (written == sizeof value ? S_OK : STG_E_WRITEFAULT);
}

template <class T>
HRESULT read_value(IStream* stream, T& value) {
    ULONG read = 0;
    const HRESULT hr = stream->Read(&value, sizeof value, &read);
    return FAILED(hr) ? hr : (read == sizeof value ? S_OK : STG_E_READFAULT);
}

// A 16-bit integer property; a missing one leaves value unchanged and returns S_FALSE.
HRESULT read_short(IPropertyBag* bag, IErrorLog* log, const wchar_t* name, std::int16_t& value);
HRESULT write_short(IPropertyBag* bag, const wchar_t* name, std::int16_t value);
HRESULT read_long(IPropertyBag* bag, IErrorLog* log, const wchar_t* name, LONG& value);
HRESULT write_long(IPropertyBag* bag, const wchar_t* name, LONG value);

}  // namespace tarnet::ax
