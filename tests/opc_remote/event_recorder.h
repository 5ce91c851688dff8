// A client's IOPCEventSink for the out-of-process event tests: it copies every OnEvent
// call (the server's memory is only valid during the call) and answers with a chosen
// result, so a test can play a client whose sink is gone.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "opc/idl/opc_ae_interfaces.h"
#include "win/com_object.h"
#include "win/com_ptr.h"
#include "win/variant.h"

namespace porvex::opc::remote {

struct TReceivedEvent {
    WORD change_mask = 0;
    WORD new_state = 0;
    std::wstring source;
    FILETIME time{};
    std::wstring message;
    DWORD type = 0;
    DWORD category = 0;
    DWORD severity = 0;
    std::wstring condition;
    std::wstring subcondition;
    WORD quality = 0;
    BOOL ack_required = FALSE;
    FILETIME active_time{};
    DWORD cookie = 0;
    std::vector<win::Variant> attributes;
    std::wstring actor;
};

struct TReceivedCall {
    OPCHANDLE subscription = 0;
    bool refresh = false;
    bool last_refresh = false;
    std::vector<TReceivedEvent> events;
};

class TEventRecorder final : public win::ComObject<IOPCEventSink> {
  public:
    static win::ComPtr<TEventRecorder> Create() {
        return win::ComPtr<TEventRecorder>(new TEventRecorder());
    }

    HRESULT STDMETHODCALLTYPE OnEvent(OPCHANDLE hClientSubscription, BOOL bRefresh,
                                      BOOL bLastRefresh, DWORD dwCount,
                                      ONEVENTSTRUCT* pEvents) noexcept override;

    // Every event received so far, in order, and those of refresh calls only.
    std::vector<TReceivedEvent> Events(bool refresh = false) const;
    std::size_t EventCount() const;

    std::vector<TReceivedCall> calls;
    HRESULT answer = S_OK;

  private:
    TEventRecorder() = default;
};

}  // namespace porvex::opc::remote
