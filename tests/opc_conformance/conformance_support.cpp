#include "conformance_support.h"

#include <cstdio>
#include <cstring>

#include "opc/com/text.h"

namespace porvex::opc::conformance {

std::string Hex(HRESULT value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

std::string Utf8(const wchar_t* text) { return text ? Utf8FromWide(text) : "(null)"; }

std::string Text(const VARIANT& value) {
    std::string out = "vt=" + std::to_string(value.vt);
    VARIANT as_text;
    VariantInit(&as_text);
    if ((value.vt & VT_ARRAY) == 0 &&
        SUCCEEDED(VariantChangeType(&as_text, const_cast<VARIANT*>(&value), 0, VT_BSTR))) {
        out += " " + Utf8(as_text.bstrVal);
    }
    VariantClear(&as_text);
    return out;
}

void CheckTaskMemory(const void* block, std::size_t bytes, const char* what) {
    ASSERT_NE(block, nullptr) << what << ": the [out] array is missing";
    win::ComPtr<IMalloc> malloc;
    ASSERT_EQ(CoGetMalloc(1, malloc.put()), S_OK);
    EXPECT_EQ(malloc->DidAlloc(const_cast<void*>(block)), 1)
        << what << ": not from the task allocator";
    EXPECT_GE(malloc->GetSize(const_cast<void*>(block)), bytes) << what << ": too short";
}

std::string TakeString(LPWSTR text, const char* what) {
    if (!text) {
        ADD_FAILURE() << what << ": the [out] string is missing";
        return "(null)";
    }
    CheckTaskMemory(text, (std::wcslen(text) + 1) * sizeof(wchar_t), what);
    std::string out = Utf8(text);
    CoTaskMemFree(text);
    return out;
}

std::string Errors(const std::vector<HRESULT>& errors) {
    std::string out = "[";
    for (std::size_t i = 0; i < errors.size(); ++i) {
        out += (i ? " " : "") + Hex(errors[i]);
    }
    return out + "]";
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

// ---- Sinks ---------------------------------------------------------------------------------

namespace {

TCallbackRecord MakeRecord(const char* kind, DWORD transaction, OPCHANDLE group,
                           HRESULT masterError, DWORD count, const OPCHANDLE* handles,
                           const HRESULT* errors) {
    TCallbackRecord record;
    record.kind = kind;
    record.transaction = transaction;
    record.group = group;
    record.master_error = masterError;
    if (handles) {
        record.handles.assign(handles, handles + count);
    }
    if (errors) {
        record.errors.assign(errors, errors + count);
    }
    return record;
}

}  // namespace

void TDataSink::Record(TCallbackRecord record) {
    std::lock_guard<std::mutex> hold(lock_);
    records_.push_back(std::move(record));
}

HRESULT TDataSink::OnDataChange(DWORD transaction, OPCHANDLE group, HRESULT, HRESULT masterError,
                                DWORD count, OPCHANDLE* handles, VARIANT*, WORD*, FILETIME*,
                                HRESULT* errors) noexcept {
    Record(MakeRecord("change", transaction, group, masterError, count, handles, errors));
    return S_OK;
}

HRESULT TDataSink::OnReadComplete(DWORD transaction, OPCHANDLE group, HRESULT, HRESULT masterError,
                                  DWORD count, OPCHANDLE* handles, VARIANT*, WORD*, FILETIME*,
                                  HRESULT* errors) noexcept {
    Record(MakeRecord("read", transaction, group, masterError, count, handles, errors));
    return S_OK;
}

HRESULT TDataSink::OnWriteComplete(DWORD transaction, OPCHANDLE group, HRESULT masterError,
                                   DWORD count, OPCHANDLE* handles, HRESULT* errors) noexcept {
    Record(MakeRecord("write", transaction, group, masterError, count, handles, errors));
    return S_OK;
}

HRESULT TDataSink::OnCancelComplete(DWORD transaction, OPCHANDLE group) noexcept {
    Record(MakeRecord("cancel", transaction, group, S_OK, 0, nullptr, nullptr));
    return S_OK;
}

std::vector<TCallbackRecord> TDataSink::Records() {
    std::lock_guard<std::mutex> hold(lock_);
    return records_;
}

std::size_t TDataSink::Count(const std::string& kind) {
    std::lock_guard<std::mutex> hold(lock_);
    std::size_t n = 0;
    for (const TCallbackRecord& record : records_) {
        n += record.kind == kind ? 1 : 0;
    }
    return n;
}

void TDataSink::Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    records_.clear();
}

HRESULT TShutdownSink::ShutdownRequest(LPCWSTR reason) noexcept {
    std::lock_guard<std::mutex> hold(lock_);
    reasons_.emplace_back(reason ? reason : L"(null)");
    return S_OK;
}

std::vector<std::wstring> TShutdownSink::Reasons() {
    std::lock_guard<std::mutex> hold(lock_);
    return reasons_;
}

void TStreamSink::OnDataChange(FORMATETC*, STGMEDIUM* medium) noexcept {
    if (!medium || medium->tymed != TYMED_HGLOBAL || !medium->hGlobal) {
        return;
    }
    const SIZE_T size = GlobalSize(medium->hGlobal);
    const void* data = GlobalLock(medium->hGlobal);
    if (!data) {
        return;
    }
    std::vector<BYTE> block(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
    GlobalUnlock(medium->hGlobal);
    std::lock_guard<std::mutex> hold(lock_);
    blocks_.push_back(std::move(block));
}

std::size_t TStreamSink::Count() {
    std::lock_guard<std::mutex> hold(lock_);
    return blocks_.size();
}

std::vector<DWORD> TStreamSink::Transactions(std::size_t offset) {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<DWORD> out;
    for (const std::vector<BYTE>& block : blocks_) {
        DWORD id = 0;
        if (block.size() >= offset + sizeof id) {
            std::memcpy(&id, block.data() + offset, sizeof id);
        }
        out.push_back(id);
    }
    return out;
}

}  // namespace porvex::opc::conformance
