// An owning Winsock socket (apart from the rest so that only users of sockets include the
// Winsock headers).
#pragma once

#include <winsock2.h>

#include "win/unique_any.h"

namespace porvex::win {

struct SocketTraits {
    using type = SOCKET;
    static type invalid() noexcept { return INVALID_SOCKET; }
    static void close(type s) noexcept { ::closesocket(s); }
};

using UniqueSocket = UniqueAny<SocketTraits>;

}  // namespace porvex::win
