// What the engine's tests share: message pumping with deadlines, client-side sinks that
// record what the engine sends, and a fixture with one item server and one client.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "opc/idl/opc_interfaces.h"
#include "test_item_server.h"
#include "win/com_object.h"
#include "win/com_ptr.h"
#include "win/task_memory.h"
#include "win/variant.h"

namespace porvex::opc::test {

// Pumps the thread's messages until condition holds or timeoutMs passed; returns whether it
// held.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = 5000);
// Pumps until the group has run count more ticks.
bool PumpTicks(const TGroupInfo& group, unsigned long count = 3);

// One OnDataChange as the client saw it.
struct TDataChange {
    DWORD transaction_id = 0;
    OPCHANDLE client_group = 0;
    HRESULT master_quality = S_OK;
    HRESULT master_error = S_OK;
    std::vector<OPCHANDLE> handles;
    std::vector<win::Variant> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> times;
    std::vector<HRESULT> errors;
    // The value of client handle h (VT_ERROR when absent).
    const win::Variant* ValueOf(OPCHANDLE h) const;
};

class TTestDataCallback final : public win::ComObject<IOPCDataCallback> {
  public:
    static win::ComPtr<TTestDataCallback> Create() {
        return win::ComPtr<TTestDataCallback>(new TTestDataCallback());
    }
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
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) noexcept override {
        ++cancels;
        return S_OK;
    }

    std::vector<TDataChange> changes;
    std::vector<TDataChange> reads;   // OnReadComplete
    std::vector<TDataChange> writes;  // OnWriteComplete (handles and errors only)
    int cancels = 0;
    HRESULT answer = S_OK;              // what every callback returns
    std::function<void()> during_call;  // inside OnDataChange
    std::function<void()> during_read;  // inside OnReadComplete

  private:
    TTestDataCallback() = default;
};

class TTestShutdown final : public win::ComObject<IOPCShutdown> {
  public:
    static win::ComPtr<TTestShutdown> Create() {
        return win::ComPtr<TTestShutdown>(new TTestShutdown());
    }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) noexcept override {
        reasons.emplace_back(szReason ? szReason : L"(null)");
        return answer;
    }
    std::vector<std::wstring> reasons;
    HRESULT answer = S_OK;

  private:
    TTestShutdown() = default;
};

// Advises sink on the container's point for iid; returns the cookie.
DWORD Advise(IUnknown* container, REFIID iid, IUnknown* sink);

// A group made through IOPCServer::AddGroup, with the interfaces tests use.
struct TTestGroup {
    win::ComPtr<IOPCItemMgt> items;
    win::ComPtr<IOPCGroupStateMgt> state;
    win::ComPtr<IOPCSyncIO> io;
    OPCHANDLE handle = 0;
    DWORD revised_rate = 0;
    HRESULT result = E_FAIL;
};

// The result of an AddItems call, freed by the holder.
struct TAdded {
    HRESULT result = E_FAIL;
    std::vector<OPCHANDLE> handles;
    std::vector<HRESULT> errors;
    std::vector<VARTYPE> canonical;
    std::vector<DWORD> rights;
};

struct TItemEntry {
    std::wstring id;
    bool active = true;
    OPCHANDLE client = 0;
    VARTYPE requested = VT_EMPTY;
};

class EngineTest : public ::testing::Test {
  protected:
    // Every COM object of the test, the engine's included, must be gone by now.
    ~EngineTest() override;
    void SetUp() override;
    void TearDown() override;

    // A new client (server object).
    win::ComPtr<IOPCServer> Connect();
    TTestGroup AddGroup(const std::wstring& name, DWORD rate = 10, bool active = true,
                        float* deadband = nullptr, IOPCServer* server = nullptr);
    TAdded AddItems(IOPCItemMgt* group, const std::vector<TItemEntry>& entries);
    std::vector<HRESULT> Errors(HRESULT* errors, std::size_t count);

    std::unique_ptr<TTestItemServer> server_;
    win::ComPtr<IOPCServer> client_;
};

}  // namespace porvex::opc::test
