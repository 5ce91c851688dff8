#include "test_support.h"

#include "opc/server_object/server_impl.h"

namespace porvex::opc::test {

bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (condition()) {
            return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 5)),
                                  QS_ALLINPUT);
    }
}

bool PumpTicks(const TGroupInfo& group, unsigned long count) {
    const unsigned long target = group.TickCount() + count;
    return PumpUntil([&] { return group.TickCount() >= target; });
}

const win::Variant* TDataChange::ValueOf(OPCHANDLE h) const {
    for (std::size_t i = 0; i < handles.size(); ++i) {
        if (handles[i] == h) {
            return &values[i];
        }
    }
    return nullptr;
}

namespace {

TDataChange Record(DWORD transaction, OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count,
                   const OPCHANDLE* handles, const VARIANT* values, const WORD* qualities,
                   const FILETIME* times, const HRESULT* errors) {
    TDataChange change;
    change.transaction_id = transaction;
    change.client_group = group;
    change.master_quality = quality;
    change.master_error = error;
    for (DWORD i = 0; i < count; ++i) {
        change.handles.push_back(handles[i]);
        change.values.emplace_back(values ? win::Variant(values[i]) : win::Variant());
        change.qualities.push_back(qualities ? qualities[i] : 0);
        change.times.push_back(times ? times[i] : FILETIME{});
        change.errors.push_back(errors[i]);
    }
    return change;
}

}  // namespace

HRESULT TTestDataCallback::OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                          HRESULT hrMasterquality, HRESULT hrMastererror,
                                          DWORD dwCount, OPCHANDLE* phClientItems,
                                          VARIANT* pvValues, WORD* pwQualities,
                                          FILETIME* pftTimeStamps, HRESULT* pErrors) noexcept {
    reads.push_back(Record(dwTransid, hGroup, hrMasterquality, hrMastererror, dwCount,
                           phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors));
    if (during_read) {
        during_read();
    }
    return answer;
}

HRESULT TTestDataCallback::OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                           DWORD dwCount, OPCHANDLE* pClienthandles,
                                           HRESULT* pErrors) noexcept {
    writes.push_back(Record(dwTransid, hGroup, S_OK, hrMastererr, dwCount, pClienthandles, nullptr,
                            nullptr, nullptr, pErrors));
    return answer;
}

HRESULT TTestDataCallback::OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                        HRESULT hrMastererror, DWORD dwCount,
                                        OPCHANDLE* phClientItems, VARIANT* pvValues,
                                        WORD* pwQualities, FILETIME* pftTimeStamps,
                                        HRESULT* pErrors) noexcept {
    TDataChange change;
    change.transaction_id = dwTransid;
    change.client_group = hGroup;
    change.master_quality = hrMasterquality;
    change.master_error = hrMastererror;
    for (DWORD i = 0; i < dwCount; ++i) {
        change.handles.push_back(phClientItems[i]);
        change.values.emplace_back(pvValues[i]);
        change.qualities.push_back(pwQualities[i]);
        change.times.push_back(pftTimeStamps[i]);
        change.errors.push_back(pErrors[i]);
    }
    changes.push_back(std::move(change));
    if (during_call) {
        during_call();
    }
    return answer;
}

DWORD Advise(IUnknown* container, REFIID iid, IUnknown* sink) {
    win::ComPtr<IConnectionPointContainer> cpc;
    EXPECT_EQ(container->QueryInterface(IID_IConnectionPointContainer,
                                        reinterpret_cast<void**>(cpc.put())),
              S_OK);
    win::ComPtr<IConnectionPoint> point;
    EXPECT_EQ(cpc->FindConnectionPoint(iid, point.put()), S_OK);
    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(sink, &cookie), S_OK);
    return cookie;
}

EngineTest::~EngineTest() { EXPECT_EQ(win::ObjectCount::live(), 0) << "COM objects leaked"; }

void EngineTest::SetUp() {
    server_ = std::make_unique<TTestItemServer>();
    client_ = Connect();
}

void EngineTest::TearDown() {
    client_.reset();
    server_.reset();
    // Nothing the engine posted may outlive the test.
    PumpUntil([] { return true; }, 0);
}

win::ComPtr<IOPCServer> EngineTest::Connect() {
    win::ComPtr<IOPCServer> server;
    EXPECT_EQ(CreateServerObject(IID_IOPCServer, reinterpret_cast<void**>(server.put())), S_OK);
    return server;
}

TTestGroup EngineTest::AddGroup(const std::wstring& name, DWORD rate, bool active, float* deadband,
                                IOPCServer* server) {
    TTestGroup group;
    IOPCServer* target = server ? server : client_.get();
    LONG bias = 0;
    group.result = target->AddGroup(name.c_str(), active, rate, 77, &bias, deadband, 0x409,
                                    &group.handle, &group.revised_rate, IID_IOPCItemMgt,
                                    reinterpret_cast<IUnknown**>(group.items.put()));
    if (group.items) {
        group.items.query(group.state);
        group.items.query(group.io);
    }
    return group;
}

TAdded EngineTest::AddItems(IOPCItemMgt* group, const std::vector<TItemEntry>& entries) {
    std::vector<OPCITEMDEF> defs(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        defs[i].szAccessPath = const_cast<LPWSTR>(L"");
        defs[i].szItemID = const_cast<LPWSTR>(entries[i].id.c_str());
        defs[i].bActive = entries[i].active;
        defs[i].hClient = entries[i].client ? entries[i].client : static_cast<OPCHANDLE>(i + 1);
        defs[i].vtRequestedDataType = entries[i].requested;
    }
    TAdded added;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    added.result = group->AddItems(static_cast<DWORD>(defs.size()), defs.data(), &results, &errors);
    if (results && errors) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            added.handles.push_back(results[i].hServer);
            added.canonical.push_back(results[i].vtCanonicalDataType);
            added.rights.push_back(results[i].dwAccessRights);
            added.errors.push_back(errors[i]);
        }
    }
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return added;
}

std::vector<HRESULT> EngineTest::Errors(HRESULT* errors, std::size_t count) {
    std::vector<HRESULT> out(errors, errors + (errors ? count : 0));
    CoTaskMemFree(errors);
    return out;
}

}  // namespace porvex::opc::test
