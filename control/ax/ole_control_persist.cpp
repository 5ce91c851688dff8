// Persistence: the stream form (a version word, the extent, then the control's
// properties) and the property-bag form (_ExtentX, _ExtentY, then the properties).
#include "ole_control.h"
#include "persistence.h"

namespace tarnet::ax {

namespace {

constexpr DWORD kStreamVersion = 0x00010000;  // 1.0

}  // namespace

HRESULT OleControl::GetClassID(CLSID* clsid) {
    if (clsid == nullptr) {
        return E_POINTER;
    }
    *clsid = class_.clsid;
    return S_OK;
}

HRESULT OleControl::IsDirty() { return modified_ ? S_OK : S_FALSE; }

HRESULT OleControl::InitNew() {
    reset_properties();
    modified_ = false;
    return S_OK;
}

HRESULT OleControl::Load(IStream* stream) {
    if (stream == nullptr) {
        return E_POINTER;
    }
    DWORD version = 0;
    SIZEL extent{};
    HRESULT hr = read_value(stream, version);
    if (SUCCEEDED(hr) && (version >> 16) != (kStreamVersion >> 16)) {
        hr = STG_E_OLDFORMAT;
    }
    if (SUCCEEDED(hr)) {
        hr = read_value(stream, extent.cx);
    }
    if (SUCCEEDED(hr)) {
        hr = read_value(stream, extent.cy);
    }
    if (FAILED(hr)) {
        return hr;
    }
    reset_properties();
    hr = load_properties(stream);
    if (SUCCEEDED(hr)) {
        extent_ = extent;
        modified_ = false;
    }
    return hr;
}

HRESULT OleControl::Save(IStream* stream, BOOL clear_dirty) {
    if (stream == nullptr) {
        return E_POINTER;
    }
    HRESULT hr = write_value(stream, kStreamVersion);
    if (SUCCEEDED(hr)) {
        hr = write_value(stream, extent_.cx);
    }
    if (SUCCEEDED(hr)) {
        hr = write_value(stream, extent_.cy);
    }
    if (SUCCEEDED(hr)) {
        hr = save_properties(stream);
    }
    if (SUCCEEDED(hr) && clear_dirty) {
        modified_ = false;
    }
    return hr;
}

HRESULT OleControl::GetSizeMax(ULARGE_INTEGER* size) {
    if (size == nullptr) {
        return E_POINTER;
    }
    size->QuadPart = 256;  // version, extent and the control's few properties
    return S_OK;
}

HRESULT OleControl::Load(IPropertyBag* bag, IErrorLog* log) {
    if (bag == nullptr) {
        return E_POINTER;
    }
    LONG cx = extent_.cx;
    LONG cy = extent_.cy;
    HRESULT hr = read_long(bag, log, L"_ExtentX", cx);
    if (SUCCEEDED(hr)) {
        hr = read_long(bag, log, L"_ExtentY", cy);
    }
    if (FAILED(hr)) {
        return hr;
    }
    reset_properties();
    hr = load_properties(bag, log);
    if (SUCCEEDED(hr)) {
        extent_ = {cx, cy};
        modified_ = false;
    }
    return hr;
}

HRESULT OleControl::Save(IPropertyBag* bag, BOOL clear_dirty, BOOL) {
    if (bag == nullptr) {
        return E_POINTER;
    }
    HRESULT hr = write_long(bag, L"_ExtentX", extent_.cx);
    if (SUCCEEDED(hr)) {
        hr = write_long(bag, L"_ExtentY", extent_.cy);
    }
    if (SUCCEEDED(hr)) {
        hr = save_properties(bag);
    }
    if (SUCCEEDED(hr) && clear_dirty) {
        modified_ = false;
    }
    return hr;
}

}  // namespace tarnet::ax
