// What the conformance calls share: a transcript of what each call answered (compared
// between an STA client, an MTA client and the same calls made in-process), checks of the
// [out] arrays a call hands out (present, allocated by the task allocator with room for
// their elements, then freed with CoTaskMemFree), snapshots of [in] arrays, and client
// sinks that record what the server sends from any thread.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "opc/idl/opc_interfaces.h"
#include "win/com_object.h"
#include "win/com_ptr.h"
#include "win/variant.h"

namespace porvex::opc::conformance {

// The answers of a run of calls, one line each, in call order.
struct TTranscript {
    std::vector<std::string> lines;
    void Add(std::string line) { lines.push_back(std::move(line)); }
};

std::string Hex(HRESULT value);
std::string Utf8(const wchar_t* text);   // "(null)" for a null string
std::string Text(const VARIANT& value);  // type and value, for values that do not change

// Checks that an [out] array of count elements was handed out by the task allocator with
// room for them; a count of 0 accepts a null array.
template <class T>
void CheckOutArray(const T* array, std::size_t count, const char* what);
void CheckTaskMemory(const void* block, std::size_t bytes, const char* what);

template <class T>
void CheckOutArray(const T* array, std::size_t count, const char* what) {
    if (count == 0 && !array) {
        return;
    }
    CheckTaskMemory(array, count * sizeof(T), what);
}

// Takes an [out] array: checked, copied and freed with CoTaskMemFree.
template <class T>
std::vector<T> Take(T* array, std::size_t count, const char* what) {
    CheckOutArray(array, count, what);
    std::vector<T> out;
    if (array) {
        out.assign(array, array + count);
    }
    CoTaskMemFree(array);
    return out;
}
// A string [out]: checked (non-null, task memory), converted and freed.
std::string TakeString(LPWSTR text, const char* what);
// A list of HRESULTs as text.
std::string Errors(const std::vector<HRESULT>& errors);

// An [in] array the call must leave as it was.
template <class T>
class TInArray {
  public:
    explicit TInArray(std::vector<T> values) : values_(values), original_(std::move(values)) {}
    T* Data() { return values_.data(); }
    DWORD Count() const { return static_cast<DWORD>(values_.size()); }
    T& operator[](std::size_t i) { return values_[i]; }
    void ExpectUnchanged(const char* call) const {
        EXPECT_TRUE(values_ == original_) << call << " changed its [in] array";
    }

  private:
    std::vector<T> values_;
    std::vector<T> original_;
};

// Waits until condition holds, handling the thread's messages (an STA client receives its
// callbacks as messages; an MTA client on other threads).
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 5000);

// One callback as the client saw it.
struct TCallbackRecord {
    std::string kind;  // "change", "read", "write"
    DWORD transaction = 0;
    OPCHANDLE group = 0;
    HRESULT master_error = S_OK;
    std::vector<OPCHANDLE> handles;
    std::vector<HRESULT> errors;
};

class TDataSink final : public win::ComObject<IOPCDataCallback> {
  public:
    static win::ComPtr<TDataSink> Create() { return win::ComPtr<TDataSink>(new TDataSink()); }
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*,
                                           VARIANT*, WORD*, FILETIME*, HRESULT*) noexcept override;
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*,
                                             VARIANT*, WORD*, FILETIME*,
                                             HRESULT*) noexcept override;
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*,
                                              HRESULT*) noexcept override;
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) noexcept override;

    std::vector<TCallbackRecord> Records();
    std::size_t Count(const std::string& kind);
    void Clear();

  private:
    TDataSink() = default;
    void Record(TCallbackRecord record);
    std::mutex lock_;
    std::vector<TCallbackRecord> records_;
};

class TShutdownSink final : public win::ComObject<IOPCShutdown> {
  public:
    static win::ComPtr<TShutdownSink> Create() {
        return win::ComPtr<TShutdownSink>(new TShutdownSink());
    }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR reason) noexcept override;
    std::vector<std::wstring> Reasons();

  private:
    TShutdownSink() = default;
    std::mutex lock_;
    std::vector<std::wstring> reasons_;
};

// DA 1.0 data-object blocks: format and size of each.
class TStreamSink final : public win::ComObject<IAdviseSink> {
  public:
    static win::ComPtr<TStreamSink> Create() { return win::ComPtr<TStreamSink>(new TStreamSink()); }
    void STDMETHODCALLTYPE OnDataChange(FORMATETC* format, STGMEDIUM* medium) noexcept override;
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) noexcept override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) noexcept override {}
    void STDMETHODCALLTYPE OnSave() noexcept override {}
    void STDMETHODCALLTYPE OnClose() noexcept override {}
    std::size_t Count();
    // The transaction ID field of each block (offset 12 of data blocks, 8 of write-complete).
    std::vector<DWORD> Transactions(std::size_t offset);

  private:
    TStreamSink() = default;
    std::mutex lock_;
    std::vector<std::vector<BYTE>> blocks_;
};

}  // namespace porvex::opc::conformance
