// Socket settings the controller links use, beyond what socket.h offers.
#pragma once

#include <chrono>

#include "socket.h"

namespace zorvik::net {

// SO_SNDBUF and SO_RCVBUF. 0 asks for the smallest buffering the system allows (no
// buffering at all on Windows, its minimum on Linux).
NetError set_buffer_sizes(Socket& socket, int send_bytes, int receive_bytes);

// SO_SNDTIMEO and SO_RCVTIMEO: a blocking send or receive gives up after this long.
NetError set_io_timeouts(Socket& socket, std::chrono::milliseconds timeout);

// Shuts both directions down without closing the handle: a thread blocked in a send or
// receive on it returns at once, and the peer sees the end of the stream.
void shutdown_both(Socket& socket) noexcept;

}  // namespace zorvik::net
