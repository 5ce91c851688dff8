// opcclient's side of an OPC Alarms & Events server: activation, the names of categories
// and attributes (to print events readably), one subscription with this program's event
// sink, and the text of an event.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "opc/idl/opc_ae_interfaces.h"
#include "options.h"
#include "session.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace porvex::opcclient {

// Receives OnEvent calls: each event with the call's refresh flags.
class TEventSink final : public win::ComObject<IOPCEventSink> {
  public:
    using THandler = std::function<void(const ONEVENTSTRUCT&, bool refresh)>;
    static win::ComPtr<TEventSink> Create(THandler handler) {
        return win::ComPtr<TEventSink>(new TEventSink(std::move(handler)));
    }
    HRESULT STDMETHODCALLTYPE OnEvent(OPCHANDLE hClientSubscription, BOOL bRefresh,
                                      BOOL bLastRefresh, DWORD dwCount,
                                      ONEVENTSTRUCT* pEvents) noexcept override;

    bool refresh_done = false;  // the last call of a refresh came

  private:
    explicit TEventSink(THandler handler) : handler_(std::move(handler)) {}
    THandler handler_;
};

class TEventSession {
  public:
    // Activates the event server (TClientFailure when it cannot be reached) and reads its
    // categories and their attributes.
    explicit TEventSession(const std::wstring& server);

    IOPCEventServer* Server() const noexcept { return server_.get(); }
    const std::wstring& Name() const noexcept { return name_; }
    void Check(HRESULT code, const std::wstring& what) const;

    // A subscription (active, no buffer time, no size limit) with filter, every attribute
    // of every category returned, and sink advised.
    win::ComPtr<IOPCEventSubscriptionMgt> Subscribe(const TEventFilterOptions& filter,
                                                    IOPCEventSink* sink, DWORD& cookie);

    // "TIME SOURCE ..." for an event.
    std::wstring EventLine(const ONEVENTSTRUCT& event) const;

  private:
    struct TCategory {
        std::wstring name;
        std::vector<DWORD> attribute_ids;
        std::vector<std::wstring> attribute_names;
    };

    std::wstring name_;
    win::ComPtr<IOPCEventServer> server_;
    std::map<DWORD, TCategory> categories_;
};

// "enabled,active,unacked" for a condition's state bits.
std::wstring ConditionStateText(WORD state);
// "active,ack,..." for a change mask.
std::wstring ChangeMaskText(WORD mask);

}  // namespace porvex::opcclient
