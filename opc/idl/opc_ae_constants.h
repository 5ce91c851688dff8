/*
 * Constants and result codes of the OPC Alarms & Events 1.10 custom interfaces, as the OPC
 * Foundation publishes them. Plain C so the proxy/stub DLL and clients can use it.
 */
#ifndef PORVEX_OPC_AE_CONSTANTS_H
#define PORVEX_OPC_AE_CONSTANTS_H

#include <winerror.h>

/* The component category of event servers, and the text it is registered with. */
#define OPC_EVENTSERVER_CAT_DESC L"OPC Event Server Version 1.0"

/* Event types (dwEventType of events and filters). */
#define OPC_SIMPLE_EVENT 0x0001
#define OPC_TRACKING_EVENT 0x0002
#define OPC_CONDITION_EVENT 0x0004
#define OPC_ALL_EVENTS (OPC_SIMPLE_EVENT | OPC_TRACKING_EVENT | OPC_CONDITION_EVENT)

/* QueryAvailableFilters: the filters a subscription supports. */
#define OPC_FILTER_BY_EVENT 0x0001
#define OPC_FILTER_BY_CATEGORY 0x0002
#define OPC_FILTER_BY_SEVERITY 0x0004
#define OPC_FILTER_BY_AREA 0x0008
#define OPC_FILTER_BY_SOURCE 0x0010

/* wChangeMask of a condition event: what changed. */
#define OPC_CHANGE_ACTIVE_STATE 0x0001
#define OPC_CHANGE_ACK_STATE 0x0002
#define OPC_CHANGE_ENABLE_STATE 0x0004
#define OPC_CHANGE_QUALITY 0x0008
#define OPC_CHANGE_SEVERITY 0x0010
#define OPC_CHANGE_SUBCONDITION 0x0020
#define OPC_CHANGE_MESSAGE 0x0040
#define OPC_CHANGE_ATTRIBUTE 0x0080

/* wNewState / wState of a condition. */
#define OPC_CONDITION_ENABLED 0x0001
#define OPC_CONDITION_ACTIVE 0x0002
#define OPC_CONDITION_ACKED 0x0004

/* Result codes (facility 4, codes 0x0200..0x02FF). OPC_E_INVALIDBRANCHNAME has the same
   value as OPC_E_INVALID_PID of Data Access: the published codes overlap. */
#define OPC_S_ALREADYACKED ((HRESULT)0x00040200L)
#define OPC_S_INVALIDBUFFERTIME ((HRESULT)0x00040201L)
#define OPC_S_INVALIDMAXSIZE ((HRESULT)0x00040202L)
#define OPC_S_INVALIDKEEPALIVETIME ((HRESULT)0x00040203L)
#define OPC_E_INVALIDBRANCHNAME ((HRESULT)0xC0040203L)
#define OPC_E_INVALIDTIME ((HRESULT)0xC0040204L)
#define OPC_E_BUSY ((HRESULT)0xC0040205L)
#define OPC_E_NOINFO ((HRESULT)0xC0040206L)

#endif
