// Window messages by which the engine reaches the control's window.
//
//   UM_DATARECEIVE       wParam 0     lParam: const FrameReport*    sent (synchronous)
//   UM_FAILEDCONNECT     wParam port  lParam: const char* server    sent (synchronous)
//   UM_RECONNECTREQUEST  wParam port  lParam: const char* server    sent (synchronous)
//   UM_FAILEDCONNECT_POSTED  wParam 0  lParam 0: posted wake-up; the notices themselves
//                        wait in the engine (posted_notices.h), so a message dropped with
//                        its window owns nothing
//   UM_FLUSHNOTICES      posted by the window to itself: fire notices it took over
// Each handler returns 1.
#pragma once

#include <windows.h>

namespace tarnet {

inline constexpr UINT UM_DATARECEIVE = WM_USER + 101;  // 0x465
inline constexpr UINT UM_FAILEDCONNECT = WM_USER + 102;
inline constexpr UINT UM_RECONNECTREQUEST = WM_USER + 103;
inline constexpr UINT UM_FAILEDCONNECT_POSTED = WM_USER + 104;
inline constexpr UINT UM_FLUSHNOTICES = WM_USER + 105;

inline bool is_notice_message(UINT msg) { return msg >= UM_DATARECEIVE && msg <= UM_FLUSHNOTICES; }

}  // namespace tarnet
