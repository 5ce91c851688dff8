// Window messages by which the engine reaches the control's window.
//
//   UM_DATARECEIVE       wParam 0     lParam: const FrameReport*    sent (synchronous)
//   UM_FAILEDCONNECT     wParam port  lParam: const char* server    sent (synchronous)
//   UM_RECONNECTREQUEST  wParam port  lParam: const char* server    sent (synchronous)
//   UM_FAILEDCONNECT_POSTED  wParam port  lParam: char* server, a PostedText the message
//                        owns: the receiver (or whoever drops the message) adopts it
//                        again (set upload posts its notice, so the text must outlive
//                        the sender's stack)
//   UM_FLUSHNOTICES      posted by the window to itself: fire notices it took over
// Each handler returns 1.
#pragma once

#include <windows.h>

#include <cstring>
#include <memory>
#include <string_view>

namespace tarnet {

inline constexpr UINT UM_DATARECEIVE = WM_USER + 101;  // 0x465
inline constexpr UINT UM_FAILEDCONNECT = WM_USER + 102;
inline constexpr UINT UM_RECONNECTREQUEST = WM_USER + 103;
inline constexpr UINT UM_FAILEDCONNECT_POSTED = WM_USER + 104;
inline constexpr UINT UM_FLUSHNOTICES = WM_USER + 105;

inline bool is_notice_message(UINT msg) { return msg >= UM_DATARECEIVE && msg <= UM_FLUSHNOTICES; }

// A posted message's text: released into the message's lParam when PostMessage succeeds,
// adopted again by whoever takes the message off the queue.
using PostedText = std::unique_ptr<char[]>;

inline PostedText posted_text(std::string_view text) {
    PostedText copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

inline PostedText adopt_posted_text(LPARAM lparam) {
    return PostedText(reinterpret_cast<char*>(lparam));
}

}  // namespace tarnet
