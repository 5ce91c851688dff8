// The objects opcclient hands to the server: the OPC DA 2.0 data callback, the OPC DA 1.0
// advise sink (which copies and decodes the blocks it receives) and the shutdown sink. They
// record what arrives; the commands print it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "opc/idl/opc_interfaces.h"
#include "session.h"
#include "stream_decode.h"
#include "win/com_object.h"
#include "win/com_ptr.h"
#include "win/variant.h"

namespace porvex::opcclient {

// One item of a callback or a block.
struct TItemResult {
    OPCHANDLE client_handle = 0;
    win::Variant value;
    WORD quality = 0;
    FILETIME time{};
    HRESULT error = S_OK;
};

enum class TEventKind { DataChange, ReadComplete, WriteComplete, CancelComplete };

struct TCallbackEvent {
    TEventKind kind = TEventKind::DataChange;
    DWORD transaction_id = 0;
    OPCHANDLE client_group = 0;
    HRESULT master_quality = S_OK;
    HRESULT master_error = S_OK;
    std::vector<TItemResult> items;
};

class TDataCallback final : public win::ComObject<IOPCDataCallback> {
  public:
    static win::ComPtr<TDataCallback> Create(std::function<void(TCallbackEvent&)> onEvent);

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup,
                                           HRESULT hrMasterquality, HRESULT hrMastererror,
                                           DWORD dwCount, OPCHANDLE* phClientItems,
                                           VARIANT* pvValues, WORD* pwQualities,
                                           FILETIME* pftTimeStamps,
                                           HRESULT* pErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                             HRESULT hrMasterquality, HRESULT hrMastererror,
                                             DWORD dwCount, OPCHANDLE* phClientItems,
                                             VARIANT* pvValues, WORD* pwQualities,
                                             FILETIME* pftTimeStamps,
                                             HRESULT* pErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                              HRESULT hrMastererr, DWORD dwCount,
                                              OPCHANDLE* pClienthandles,
                                              HRESULT* pErrors) noexcept override;
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) noexcept override;

  private:
    explicit TDataCallback(std::function<void(TCallbackEvent&)> onEvent)
        : on_event_(std::move(onEvent)) {}
    HRESULT Deliver(TEventKind kind, DWORD transaction, OPCHANDLE group, HRESULT quality,
                    HRESULT error, DWORD count, const OPCHANDLE* handles, const VARIANT* values,
                    const WORD* qualities, const FILETIME* times, const HRESULT* errors) noexcept;

    std::function<void(TCallbackEvent&)> on_event_;
};

// A DA 1.0 block as received: its format's index (0 data, 1 data with time, 2 write
// complete) and a copy of its bytes.
struct TStreamBlock {
    int format = -1;
    std::vector<std::uint8_t> bytes;
};

class TStreamSink final : public win::ComObject<IAdviseSink> {
  public:
    static win::ComPtr<TStreamSink> Create(std::function<void(TStreamBlock&)> onBlock);

    void STDMETHODCALLTYPE OnDataChange(FORMATETC* pFormatetc,
                                        STGMEDIUM* pStgmed) noexcept override;
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) noexcept override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) noexcept override {}
    void STDMETHODCALLTYPE OnSave() noexcept override {}
    void STDMETHODCALLTYPE OnClose() noexcept override {}

  private:
    explicit TStreamSink(std::function<void(TStreamBlock&)> onBlock)
        : on_block_(std::move(onBlock)) {}

    std::function<void(TStreamBlock&)> on_block_;
};

class TShutdownSink final : public win::ComObject<IOPCShutdown> {
  public:
    static win::ComPtr<TShutdownSink> Create() {
        return win::ComPtr<TShutdownSink>(new TShutdownSink());
    }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) noexcept override;

    bool requested = false;
    std::wstring reason;

  private:
    TShutdownSink() = default;
};

// The registered clipboard format of stream format index (0, 1, 2).
CLIPFORMAT StreamFormat(int index);

// A DA 1.0 advise of a group for one stream format, taken back when the holder goes.
class TStreamAdvise {
  public:
    TStreamAdvise(const TSession& session, const TClientGroup& group, int format,
                  IAdviseSink* sink);
    TStreamAdvise(const TStreamAdvise&) = delete;
    TStreamAdvise& operator=(const TStreamAdvise&) = delete;
    ~TStreamAdvise();
    DWORD Connection() const noexcept { return connection_; }

  private:
    win::ComPtr<IDataObject> data_;
    DWORD connection_ = 0;
};

// The items of a decoded data block as values (an empty value where the block has none).
std::vector<TItemResult> StreamItems(const opcstream::TDataBlock& block);

}  // namespace porvex::opcclient
