#include "link/zorvik_link.h"

#include <ZorvikAccess.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>

namespace porvex {

namespace {

// The receiver of the library's callbacks. Callbacks hold the lock shared while they
// run; set_events takes it exclusively, so unregistering waits for callbacks in flight.
std::shared_mutex g_events_lock;
LinkEvents* g_events = nullptr;
std::atomic<bool> g_link_exists{false};

std::string_view text(const char* s) {
    return s != nullptr ? std::string_view(s) : std::string_view();
}

// The payload: dataLen hex characters, never read past the text's end.
std::string_view payload(const char* data, int length) {
    if (data == nullptr || length <= 0) {
        return {};
    }
    const auto* end =
        static_cast<const char*>(std::memchr(data, '\0', static_cast<std::size_t>(length)));
    return std::string_view(data, end != nullptr ? static_cast<std::size_t>(end - data)
                                                 : static_cast<std::size_t>(length));
}

void ZORVIK_CALL on_connection(const char* ip, int port, int connected) {
    std::shared_lock lock(g_events_lock);
    if (g_events != nullptr) {
        g_events->on_connection(text(ip), port, (connected & 0xFF) != 0);  // low byte only
    }
}

void ZORVIK_CALL on_disconnection(const char* ip, int port) {
    std::shared_lock lock(g_events_lock);
    if (g_events != nullptr) {
        g_events->on_disconnection(text(ip), port);
    }
}

void ZORVIK_CALL on_frame(const char* ip, int port, int ap_code, int psw, int cmd, const char* data,
                          int length) {
    std::shared_lock lock(g_events_lock);
    if (g_events != nullptr) {
        g_events->on_frame(text(ip), port, ap_code, psw, cmd, payload(data, length));
    }
}

}  // namespace

ZorvikLink::ZorvikLink() {
    if (g_link_exists.exchange(true)) {
        throw std::logic_error("the controller library has one set of callbacks: one ZorvikLink");
    }
    Zorvik_SetConnCallback(&on_connection);
    Zorvik_SetDisConnCallback(&on_disconnection);
    Zorvik_SetDoorDataUpCallback(&on_frame);
    Zorvik_SetDoorCommandRecvCallback(&on_frame);
}

ZorvikLink::~ZorvikLink() {
    set_events(nullptr);
    Zorvik_SetConnCallback(nullptr);
    Zorvik_SetDisConnCallback(nullptr);
    Zorvik_SetDoorDataUpCallback(nullptr);
    Zorvik_SetDoorCommandRecvCallback(nullptr);
    g_link_exists = false;
}

void ZorvikLink::set_events(LinkEvents* events) {
    std::unique_lock lock(g_events_lock);
    g_events = events;
}

bool ZorvikLink::connect(const std::string& ip, int port) {
    return Zorvik_ConnectToServer(ip.c_str(), port) != 0;
}

bool ZorvikLink::send_data(const std::string& ip, int port, int cmd, int ap_code, int psw,
                           std::string_view hex) {
    const std::string data(hex);
    return Zorvik_SendData(ip.c_str(), port, cmd, ap_code, psw, data.c_str(),
                           static_cast<int>(data.size())) != 0;
}

void ZorvikLink::enable_upload(const std::string& ip, int port) {
    Zorvik_EnableUpload(ip.c_str(), port, 1);
}

void ZorvikLink::disconnect_all() { Zorvik_DisconnectAll(); }

}  // namespace porvex
