#include "sinks.h"

#include <cstring>

#include "opc/com/errors.h"
#include "win/global_memory.h"
#include "win/safe_array.h"

namespace porvex::opcclient {
namespace {

using win::Variant;

constexpr const wchar_t* kFormatNames[3] = {L"OPCSTMFORMATDATA", L"OPCSTMFORMATDATATIME",
                                            L"OPCSTMFORMATWRITECOMPLETE"};

bool HoldsPointer(VARTYPE type) {
    switch (type & VT_TYPEMASK) {
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_UNKNOWN:
        case VT_VARIANT:
        case VT_RECORD:
        case VT_PTR:
        case VT_LPSTR:
        case VT_LPWSTR:
            return true;
        default:
            return (type & VT_BYREF) != 0;
    }
}

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// A received value as a VARIANT of this process. Values that carried pointers in the block
// (other than strings, which the block spells out) cannot be rebuilt and show their type.
win::Variant StreamValue(const opcstream::TDecodedValue& decoded) {
    const VARTYPE type = decoded.vt;
    if (type == VT_BSTR) {
        return win::Variant::string(Wide(decoded.text));
    }
    if ((type & VT_ARRAY) == 0) {
        if (HoldsPointer(type)) {
            return win::Variant::string(L"(a value of type " + std::to_wstring(type) + L")");
        }
        win::Variant value;
        value.value().vt = type;
        std::memcpy(&value.value().bVal, decoded.data.data(), decoded.data.size());
        return value;
    }
    // Arrays come back flattened to one dimension.
    const VARTYPE element = type & VT_TYPEMASK;
    if (element == VT_BSTR) {
        win::UniqueSafeArray array =
            win::safe_array_vector(VT_BSTR, static_cast<ULONG>(decoded.strings.size()));
        for (std::size_t i = 0; i < decoded.strings.size(); ++i) {
            win::Variant text = win::Variant::string(Wide(decoded.strings[i]));
            LONG index = static_cast<LONG>(i);
            opc::CheckResult(SafeArrayPutElement(array.get(), &index, text.value().bstrVal));
        }
        win::Variant value;
        value.value().vt = VT_ARRAY | VT_BSTR;
        value.value().parray = array.release();
        return value;
    }
    if (HoldsPointer(element) || decoded.element_size == 0) {
        return win::Variant::string(L"(an array of type " + std::to_wstring(element) + L")");
    }
    const std::size_t count = decoded.elements.size() / decoded.element_size;
    win::UniqueSafeArray array = win::safe_array_vector(element, static_cast<ULONG>(count));
    if (array.get()->cbElements != decoded.element_size) {
        return win::Variant::string(L"(an array of type " + std::to_wstring(element) + L")");
    }
    if (count > 0) {
        win::SafeArrayAccess data(array.get());
        if (data.valid()) {
            std::memcpy(data.data(), decoded.elements.data(), count * decoded.element_size);
        }
    }
    win::Variant value;
    value.value().vt = type;
    value.value().parray = array.release();
    return value;
}

}  // namespace

CLIPFORMAT StreamFormat(int index) {
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatW(kFormatNames[index]));
}

TStreamAdvise::TStreamAdvise(const TSession& session, const TClientGroup& group, int format,
                             IAdviseSink* sink)
    : data_(group.As<IDataObject>()) {
    FORMATETC description{StreamFormat(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    const HRESULT hr = data_->DAdvise(&description, 0, sink, &connection_);
    if (FAILED(hr)) {
        data_.reset();
        session.Check(hr, L"the server refused the data stream");
    }
}

TStreamAdvise::~TStreamAdvise() {
    if (data_) {
        data_->DUnadvise(connection_);
    }
}

std::vector<TItemResult> StreamItems(const opcstream::TDataBlock& block) {
    std::vector<TItemResult> items;
    items.reserve(block.items.size());
    for (const opcstream::TDecodedItem& decoded : block.items) {
        TItemResult item;
        item.client_handle = decoded.client_handle;
        item.quality = decoded.quality;
        item.time.dwLowDateTime = static_cast<DWORD>(decoded.time);
        item.time.dwHighDateTime = static_cast<DWORD>(decoded.time >> 32);
        item.value = StreamValue(decoded.value);
        items.push_back(std::move(item));
    }
    return items;
}

// ---- TDataCallback -----------------------------------------------------------------------

win::ComPtr<TDataCallback> TDataCallback::Create(std::function<void(TCallbackEvent&)> onEvent) {
    return win::ComPtr<TDataCallback>(new TDataCallback(std::move(onEvent)));
}

HRESULT TDataCallback::Deliver(TEventKind kind, DWORD transaction, OPCHANDLE group, HRESULT quality,
                               HRESULT error, DWORD count, const OPCHANDLE* handles,
                               const VARIANT* values, const WORD* qualities, const FILETIME* times,
                               const HRESULT* errors) noexcept {
    try {
        TCallbackEvent event;
        event.kind = kind;
        event.transaction_id = transaction;
        event.client_group = group;
        event.master_quality = quality;
        event.master_error = error;
        for (DWORD i = 0; i < count; ++i) {
            TItemResult item;
            item.client_handle = handles ? handles[i] : 0;
            if (values) {
                item.value = win::Variant(values[i]);
            }
            item.quality = qualities ? qualities[i] : 0;
            item.time = times ? times[i] : FILETIME{};
            item.error = errors ? errors[i] : S_OK;
            event.items.push_back(std::move(item));
        }
        if (on_event_) {
            on_event_(event);
        }
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT TDataCallback::OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                    HRESULT hrMastererror, DWORD dwCount, OPCHANDLE* phClientItems,
                                    VARIANT* pvValues, WORD* pwQualities, FILETIME* pftTimeStamps,
                                    HRESULT* pErrors) noexcept {
    return Deliver(TEventKind::DataChange, dwTransid, hGroup, hrMasterquality, hrMastererror,
                   dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
}

HRESULT TDataCallback::OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                      HRESULT hrMastererror, DWORD dwCount,
                                      OPCHANDLE* phClientItems, VARIANT* pvValues,
                                      WORD* pwQualities, FILETIME* pftTimeStamps,
                                      HRESULT* pErrors) noexcept {
    return Deliver(TEventKind::ReadComplete, dwTransid, hGroup, hrMasterquality, hrMastererror,
                   dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
}

HRESULT TDataCallback::OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                       DWORD dwCount, OPCHANDLE* pClienthandles,
                                       HRESULT* pErrors) noexcept {
    return Deliver(TEventKind::WriteComplete, dwTransid, hGroup, S_OK, hrMastererr, dwCount,
                   pClienthandles, nullptr, nullptr, nullptr, pErrors);
}

HRESULT TDataCallback::OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) noexcept {
    return Deliver(TEventKind::CancelComplete, dwTransid, hGroup, S_OK, S_OK, 0, nullptr, nullptr,
                   nullptr, nullptr, nullptr);
}

// ---- TStreamSink -------------------------------------------------------------------------

win::ComPtr<TStreamSink> TStreamSink::Create(std::function<void(TStreamBlock&)> onBlock) {
    return win::ComPtr<TStreamSink>(new TStreamSink(std::move(onBlock)));
}

void TStreamSink::OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) noexcept {
    if (!pFormatetc || !pStgmed || pStgmed->tymed != TYMED_HGLOBAL || !pStgmed->hGlobal) {
        return;
    }
    try {
        TStreamBlock block;
        for (int i = 0; i < 3; ++i) {
            if (pFormatetc->cfFormat == StreamFormat(i)) {
                block.format = i;
            }
        }
        // The block stays the server's: copy it during the call.
        win::GlobalLockScope lock(pStgmed->hGlobal);
        if (!lock.data()) {
            return;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(lock.data());
        block.bytes.assign(bytes, bytes + lock.size());
        if (on_block_) {
            on_block_(block);
        }
    } catch (...) {
        // A block that cannot be taken is lost; the server is not to be troubled with it.
    }
}

// ---- TShutdownSink -----------------------------------------------------------------------

HRESULT TShutdownSink::ShutdownRequest(LPCWSTR szReason) noexcept {
    try {
        requested = true;
        reason = szReason ? szReason : L"";
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace porvex::opcclient
