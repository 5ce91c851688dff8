#include "session.h"

#include <atomic>
#include <cstdio>

#include "opc/com/text.h"
#include "win/task_memory.h"

namespace porvex::opcclient {
namespace {

using win::ComPtr;

std::atomic<bool> stop_requested{false};

BOOL WINAPI OnConsoleEvent(DWORD) {
    stop_requested.store(true);
    return TRUE;
}

std::wstring Hex(HRESULT code) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(code));
    return text;
}

std::wstring SystemText(HRESULT code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text = length ? std::wstring(buffer, length) : std::wstring();
    LocalFree(buffer);
    return opc::TrimBlanks(text);
}

}  // namespace

bool StopRequested() noexcept { return stop_requested.load(); }

void InstallStopHandler() { SetConsoleCtrlHandler(&OnConsoleEvent, TRUE); }

std::wstring ResultText(IOPCServer* server, HRESULT code) {
    std::wstring text;
    if (server) {
        win::UniqueCoTaskMem<wchar_t> message;
        if (SUCCEEDED(server->GetErrorString(code, LOCALE_SYSTEM_DEFAULT, message.put())) &&
            message.get()) {
            text = opc::TrimBlanks(message.get());
        }
    }
    if (text.empty()) {
        text = SystemText(code);
    }
    return text.empty() ? Hex(code) : Hex(code) + L" " + text;
}

CLSID ServerClass(const std::wstring& server) {
    CLSID clsid{};
    const HRESULT hr = !server.empty() && server.front() == L'{'
                           ? CLSIDFromString(server.c_str(), &clsid)
                           : CLSIDFromProgID(server.c_str(), &clsid);
    if (FAILED(hr)) {
        throw TClientFailure{kExitServerFailed, L"no OPC server is registered as " + server +
                                                    L": " + ResultText(nullptr, hr)};
    }
    return clsid;
}

// ---- TSession ----------------------------------------------------------------------------

TSession::TSession(const std::wstring& server) : name_(server) {
    const CLSID clsid = ServerClass(server);
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER,
                                  IID_IOPCServer, reinterpret_cast<void**>(server_.put()));
    if (FAILED(hr)) {
        throw TClientFailure{kExitServerFailed, L"cannot start " + server + L": " +
                                                    opcclient::ResultText(nullptr, hr)};
    }
    win::ComPtr<IOPCCommon> common;
    if (SUCCEEDED(server_.query(common))) {
        common->SetClientName(L"opcclient");
    }
}

std::wstring TSession::ResultText(HRESULT code) const {
    return opcclient::ResultText(server_.get(), code);
}

void TSession::Check(HRESULT code, const std::wstring& what) const {
    if (FAILED(code)) {
        throw TClientFailure{kExitServerFailed, what + L": " + ResultText(code)};
    }
}

// ---- TClientGroup ------------------------------------------------------------------------

TClientGroup::TClientGroup(TSession& session, bool active, DWORD rateMs, float deadband)
    : session_(session) {
    LONG bias = 0;
    const HRESULT hr = session.Server()->AddGroup(
        L"", active, rateMs, 1, &bias, &deadband, LOCALE_SYSTEM_DEFAULT, &handle_, &revised_rate_,
        IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(group_.put()));
    session.Check(hr, L"the server refused a group");
}

TClientGroup::~TClientGroup() {
    group_.reset();
    if (handle_ != 0) {
        session_.Server()->RemoveGroup(handle_, FALSE);
    }
}

std::size_t TClientGroup::Add(const std::vector<std::wstring>& ids, bool active,
                              const std::function<void(const std::wstring&, HRESULT)>& onError) {
    if (ids.empty()) {
        return 0;
    }
    // Client handles number the requests from the end of the group's list; refused items
    // leave gaps.
    const OPCHANDLE first = next_client_handle_;
    std::vector<OPCITEMDEF> definitions(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        definitions[i].szAccessPath = const_cast<LPWSTR>(L"");
        definitions[i].szItemID = const_cast<LPWSTR>(ids[i].c_str());
        definitions[i].bActive = active;
        definitions[i].hClient = first + static_cast<OPCHANDLE>(i);
        definitions[i].vtRequestedDataType = VT_EMPTY;
    }
    next_client_handle_ += static_cast<OPCHANDLE>(ids.size());
    win::UniqueCoTaskMem<OPCITEMRESULT> results;
    win::UniqueCoTaskMem<HRESULT> errors;
    const HRESULT hr = group_->AddItems(static_cast<DWORD>(definitions.size()), definitions.data(),
                                        results.put(), errors.put());
    session_.Check(hr, L"the server refused to add items");
    std::size_t added = 0;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        OPCITEMRESULT& result = results[i];
        CoTaskMemFree(result.pBlob);
        result.pBlob = nullptr;
        if (FAILED(errors[i])) {
            onError(ids[i], errors[i]);
            continue;
        }
        TGroupItem item;
        item.id = ids[i];
        item.client_handle = definitions[i].hClient;
        item.server_handle = result.hServer;
        item.canonical_type = result.vtCanonicalDataType;
        item.access_rights = result.dwAccessRights;
        by_client_handle_.emplace(item.client_handle, items_.size());
        items_.push_back(std::move(item));
        ++added;
    }
    return added;
}

const TGroupItem* TClientGroup::ByClientHandle(OPCHANDLE handle) const noexcept {
    auto found = by_client_handle_.find(handle);
    return found == by_client_handle_.end() ? nullptr : &items_[found->second];
}

std::vector<OPCHANDLE> TClientGroup::ServerHandles() const {
    std::vector<OPCHANDLE> handles;
    handles.reserve(items_.size());
    for (const TGroupItem& item : items_) {
        handles.push_back(item.server_handle);
    }
    return handles;
}

// ---- TAdvise -----------------------------------------------------------------------------

TAdvise::TAdvise(const TSession& session, IUnknown* container, REFIID iid, IUnknown* sink) {
    win::ComPtr<IConnectionPointContainer> points;
    session.Check(container->QueryInterface(IID_IConnectionPointContainer,
                                            reinterpret_cast<void**>(points.put())),
                  L"the server object has no connection points");
    session.Check(points->FindConnectionPoint(iid, point_.put()),
                  L"the server object offers no such callback");
    const HRESULT hr = point_->Advise(sink, &cookie_);
    if (FAILED(hr)) {
        point_.reset();
        session.Check(hr, L"the server refused the callback");
    }
}

TAdvise::~TAdvise() {
    if (point_) {
        point_->Unadvise(cookie_);
    }
}

// ---- Waiting -----------------------------------------------------------------------------

bool PumpUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) {
            return true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (StopRequested() || now >= deadline) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        MsgWaitForMultipleObjects(0, nullptr, FALSE,
                                  static_cast<DWORD>(std::min<long long>(left, 50)), QS_ALLINPUT);
    }
}

}  // namespace porvex::opcclient
