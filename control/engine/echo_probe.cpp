#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h
#include <windows.h>
// iphlpapi.h before icmpapi.h
#include <iphlpapi.h>
//
#include <icmpapi.h>

#include <algorithm>
#include <vector>

#include "echo_packet.h"
#include "echo_probe.h"
#include "win/unique_any.h"
#include "win/unique_socket.h"

namespace tarnet {

namespace {

namespace win = porvex::win;

constexpr DWORD kPauseBeforeWaitMs = 100;
constexpr DWORD kWaitSliceMs = 50;

bool cancelled(HANDLE cancel, DWORD wait_ms) {
    if (cancel == nullptr) {
        if (wait_ms > 0) {
            ::Sleep(wait_ms);
        }
        return false;
    }
    return ::WaitForSingleObject(cancel, wait_ms) == WAIT_OBJECT_0;
}

win::UniqueSocket raw_icmp_socket() {
    win::UniqueSocket s(::socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
    if (s) {
        // Programs the host starts must not inherit it.
        ::SetHandleInformation(reinterpret_cast<HANDLE>(s.get()), HANDLE_FLAG_INHERIT, 0);
    }
    return s;
}

// The ICMP echo API's handle.
struct IcmpHandleTraits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { ::IcmpCloseHandle(h); }
};
using UniqueIcmpHandle = win::UniqueAny<IcmpHandleTraits>;

}  // namespace

bool SystemEchoProber::probe(const std::string& address, unsigned timeout_ms, unsigned size,
                             HANDLE cancel) {
    const unsigned long target = ::inet_addr(address.c_str());
    if (target == INADDR_NONE || target == INADDR_ANY) {
        return false;
    }
    if (method_ != Method::icmp_api) {
        bool no_raw_socket = false;
        const bool answered = probe_raw(target, timeout_ms, size, cancel, no_raw_socket);
        if (!no_raw_socket || method_ == Method::raw_socket) {
            last_ = Method::raw_socket;
            return answered;
        }
    }
    last_ = Method::icmp_api;
    return probe_api(target, timeout_ms, size);
}

bool SystemEchoProber::probe_raw(unsigned long target, unsigned timeout_ms, unsigned size,
                                 HANDLE cancel, bool& no_raw_socket) {
    const win::UniqueSocket s = raw_icmp_socket();
    if (!s) {
        no_raw_socket = true;
        return false;
    }
    const auto identifier = static_cast<std::uint16_t>(::GetCurrentProcessId() & 0xFFFF);
    const std::vector<std::uint8_t> request =
        build_echo_request(identifier, ::GetTickCount(), size);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = target;
    if (::sendto(s.get(), reinterpret_cast<const char*>(request.data()),
                 static_cast<int>(request.size()), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to) == SOCKET_ERROR) {
        return false;
    }
    if (cancelled(cancel, kPauseBeforeWaitMs)) {
        return false;
    }
    const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
    std::uint8_t datagram[1024];
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline || cancelled(cancel, 0)) {
            return false;
        }
        const DWORD slice = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kWaitSliceMs));
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s.get(), &readable);
        timeval tv{static_cast<long>(slice / 1000), static_cast<long>((slice % 1000) * 1000)};
        const int ready = ::select(0, &readable, nullptr, nullptr, &tv);
        if (ready == SOCKET_ERROR) {
            return false;
        }
        if (ready == 0) {
            continue;
        }
        sockaddr_in from{};
        int from_len = sizeof from;
        const int got = ::recvfrom(s.get(), reinterpret_cast<char*>(datagram), sizeof datagram, 0,
                                   reinterpret_cast<sockaddr*>(&from), &from_len);
        if (got == SOCKET_ERROR) {
            return false;
        }
        if (from.sin_addr.s_addr == target &&
            is_echo_reply_for({datagram, static_cast<std::size_t>(got)}, identifier)) {
            return true;
        }
    }
}

bool SystemEchoProber::probe_api(unsigned long target, unsigned timeout_ms, unsigned size) {
    const UniqueIcmpHandle icmp(::IcmpCreateFile());
    if (!icmp) {
        return false;
    }
    std::vector<std::uint8_t> payload(size, kEchoFill);
    std::vector<std::uint8_t> replies(sizeof(ICMP_ECHO_REPLY) + size + 8 + 64);
    const DWORD count = ::IcmpSendEcho(
        icmp.get(), target, payload.data(), static_cast<WORD>(payload.size()), nullptr,
        replies.data(), static_cast<DWORD>(replies.size()), kPauseBeforeWaitMs + timeout_ms);
    bool answered = false;
    const auto* reply = reinterpret_cast<const ICMP_ECHO_REPLY*>(replies.data());
    for (DWORD i = 0; i < count; ++i) {
        answered = answered || (reply[i].Status == IP_SUCCESS && reply[i].Address == target);
    }
    return answered;
}

}  // namespace tarnet
