#include "event_recorder.h"

namespace porvex::opc::remote {

HRESULT TEventRecorder::OnEvent(OPCHANDLE hClientSubscription, BOOL bRefresh, BOOL bLastRefresh,
                                DWORD dwCount, ONEVENTSTRUCT* pEvents) noexcept {
    TReceivedCall call;
    call.subscription = hClientSubscription;
    call.refresh = bRefresh != FALSE;
    call.last_refresh = bLastRefresh != FALSE;
    for (DWORD i = 0; pEvents && i < dwCount; ++i) {
        const ONEVENTSTRUCT& e = pEvents[i];
        TReceivedEvent copy;
        copy.change_mask = e.wChangeMask;
        copy.new_state = e.wNewState;
        copy.source = e.szSource ? e.szSource : L"";
        copy.time = e.ftTime;
        copy.message = e.szMessage ? e.szMessage : L"";
        copy.type = e.dwEventType;
        copy.category = e.dwEventCategory;
        copy.severity = e.dwSeverity;
        copy.condition = e.szConditionName ? e.szConditionName : L"";
        copy.subcondition = e.szSubconditionName ? e.szSubconditionName : L"";
        copy.quality = e.wQuality;
        copy.ack_required = e.bAckRequired;
        copy.active_time = e.ftActiveTime;
        copy.cookie = e.dwCookie;
        for (DWORD a = 0; e.pEventAttributes && a < e.dwNumEventAttrs; ++a) {
            copy.attributes.emplace_back(e.pEventAttributes[a]);
        }
        copy.actor = e.szActorID ? e.szActorID : L"";
        call.events.push_back(std::move(copy));
    }
    calls.push_back(std::move(call));
    return answer;
}

std::vector<TReceivedEvent> TEventRecorder::Events(bool refresh) const {
    std::vector<TReceivedEvent> all;
    for (const TReceivedCall& call : calls) {
        if (call.refresh == refresh) {
            all.insert(all.end(), call.events.begin(), call.events.end());
        }
    }
    return all;
}

std::size_t TEventRecorder::EventCount() const { return Events().size(); }

}  // namespace porvex::opc::remote
