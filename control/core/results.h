// Results of the control's methods, as the host sees them (16-bit signed values).
#pragma once

namespace tarnet {

// ConnectToServer: 0, kNoRoom, kHostSilent or the socket layer's error number.
// EnableUpload: 0, kNoLink or kSendFailed.
// SendData: 0, kNoLink, kTooManyPending, kSendFailed or kBadArguments.
inline constexpr short kOk = 0;
inline constexpr short kNoRoom = -1;         // no memory for a link, or 512 links exist
inline constexpr short kNoLink = 1;          // no link of that server text and port
inline constexpr short kTooManyPending = 2;  // eight requests of the link are outstanding
inline constexpr short kSendFailed = 3;      // the send failed; the link is disconnected
inline constexpr short kBadArguments = 4;    // DataLen negative or above 8171, or Data short
inline constexpr short kHostSilent = 10060;  // no answer to 5 echo probes (WSAETIMEDOUT)
inline constexpr short kWouldBlock = 10035;  // WSAEWOULDBLOCK: a send that is not a failure

// The reply code of a request notice: a request that timed out or whose link was lost.
inline constexpr short kRequestNoticeCode = 9;

}  // namespace tarnet
