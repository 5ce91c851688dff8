// WSAPoll as the one-shot poll of socket_winsock.cpp and the kept set of poller_wsapoll.cpp
// both use it: the translation of the library's poll flags (socket.h) and the call itself.
// Windows only.
#pragma once

#include <winsock2.h>

#include <chrono>
#include <thread>
#include <vector>

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

// WSAPoll over fds (timeout_ms < 0: no time-out): the number of ready entries, or
// SOCKET_ERROR with WSAGetLastError set. WSAPoll refuses an empty set, so an empty set
// waits out the time-out instead, like a poll with nothing to watch.
inline int wsapoll_or_sleep(std::vector<WSAPOLLFD>& fds, int timeout_ms) {
    if (fds.empty()) {
        if (timeout_ms > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
        }
        return 0;
    }
    return ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeout_ms < 0 ? -1 : timeout_ms);
}

}  // namespace zorvik::net
