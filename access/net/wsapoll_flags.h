// Translation between the library's poll flags (socket.h) and WSAPoll's, shared by the
// one-shot poll of socket_winsock.cpp and the kept set of poller_wsapoll.cpp. Windows only.
#pragma once

#include <winsock2.h>

#include "socket.h"

namespace zorvik::net {

// What to ask WSAPoll for, from kReadable | kWritable.
inline SHORT wsapoll_request(unsigned want) {
    SHORT events = 0;
    if (want & kReadable) {
        events |= POLLRDNORM;
    }
    if (want & kWritable) {
        events |= POLLWRNORM;
    }
    return events;
}

// The library's flags for what WSAPoll reported. A hang-up also reads as readable, so a
// reader sees the end of the stream.
inline unsigned poll_flags_from(SHORT revents) {
    unsigned got = 0;
    if (revents & (POLLRDNORM | POLLRDBAND)) {
        got |= kReadable;
    }
    if (revents & POLLWRNORM) {
        got |= kWritable;
    }
    if (revents & (POLLERR | POLLNVAL)) {
        got |= kError;
    }
    if (revents & POLLHUP) {
        got |= kHangup | kReadable;
    }
    return got;
}

}  // namespace zorvik::net
