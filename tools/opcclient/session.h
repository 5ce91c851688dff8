// A connection of opcclient to one OPC DA server: activation by ProgID or class ID, the
// texts of result codes, a group of items, and waiting for callbacks while the thread's
// messages are pumped (the client runs in a single-threaded apartment, so callbacks arrive
// as messages).
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "opc/idl/opc_interfaces.h"
#include "options.h"
#include "win/com_ptr.h"

namespace porvex::opcclient {

// A failure that ends the command with its exit code; main prints the text.
struct TClientFailure {
    int exit_code = kExitServerFailed;
    std::wstring text;
};

// "0xC0040007 The item is no longer available ..." from the server, else the system.
std::wstring ResultText(IOPCServer* server, HRESULT code);
// The class registered as server (a CLSID in braces or a ProgID); TClientFailure with
// kExitServerFailed when there is none.
CLSID ServerClass(const std::wstring& server);

class TSession {
  public:
    // Activates the server (TClientFailure when it cannot be reached) and names this client.
    explicit TSession(const std::wstring& server);
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    IOPCServer* Server() const noexcept { return server_.get(); }
    const std::wstring& Name() const noexcept { return name_; }
    std::wstring ResultText(HRESULT code) const;
    // TClientFailure "what: the result's text" when code is a failure.
    void Check(HRESULT code, const std::wstring& what) const;

  private:
    std::wstring name_;
    win::ComPtr<IOPCServer> server_;
};

// An item added to a group.
struct TGroupItem {
    std::wstring id;
    OPCHANDLE client_handle = 0;
    OPCHANDLE server_handle = 0;
    VARTYPE canonical_type = VT_EMPTY;
    DWORD access_rights = 0;
};

// A private group of the session, removed again when the holder goes.
class TClientGroup {
  public:
    TClientGroup(TSession& session, bool active, DWORD rateMs, float deadband);
    TClientGroup(const TClientGroup&) = delete;
    TClientGroup& operator=(const TClientGroup&) = delete;
    ~TClientGroup();

    // Adds the items; those the server refuses are reported through onError (item ID, code)
    // and left out. Returns how many were added.
    std::size_t Add(const std::vector<std::wstring>& ids, bool active,
                    const std::function<void(const std::wstring&, HRESULT)>& onError);
    const std::vector<TGroupItem>& Items() const noexcept { return items_; }
    // The item of a client handle, or null.
    const TGroupItem* ByClientHandle(OPCHANDLE handle) const noexcept;
    std::vector<OPCHANDLE> ServerHandles() const;

    template <class I>
    win::ComPtr<I> As() const {
        win::ComPtr<I> out;
        session_.Check(group_.query(out), L"the group has no such interface");
        return out;
    }
    IUnknown* identity() const noexcept { return group_.get(); }
    DWORD RevisedRate() const noexcept { return revised_rate_; }

  private:
    TSession& session_;
    win::ComPtr<IOPCItemMgt> group_;
    OPCHANDLE handle_ = 0;
    DWORD revised_rate_ = 0;
    std::vector<TGroupItem> items_;
    std::unordered_map<OPCHANDLE, std::size_t> by_client_handle_;
    OPCHANDLE next_client_handle_ = 1;
};

// Advises a sink on a container's connection point for iid; unadvises when the holder goes.
class TAdvise {
  public:
    TAdvise(const TSession& session, IUnknown* container, REFIID iid, IUnknown* sink);
    TAdvise(const TAdvise&) = delete;
    TAdvise& operator=(const TAdvise&) = delete;
    ~TAdvise();

  private:
    win::ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// Pumps the thread's messages until done() holds, stop is requested or the deadline passes;
// returns whether done() held.
bool PumpUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline);

// Set by Ctrl+C (and the console closing): waits end early.
bool StopRequested() noexcept;
void InstallStopHandler();

}  // namespace porvex::opcclient
