#include "callbacks.h"

namespace zorvik::access {

// A host callback is foreign code: whatever it throws stays on its side of the call, so
// the library's thread carries on with the next frame.
template <class Fn, class... Args>
static bool raise(Fn fn, Args... args) {
    if (fn == nullptr) {
        return false;
    }
    try {
        fn(args...);
    } catch (...) {
    }
    return true;
}

void Callbacks::link_up(const std::string& ip, int port, bool connected) const {
    raise(conn.load(), ip.c_str(), port, connected ? 1 : 0);
}

void Callbacks::link_lost(const std::string& ip, int port) const {
    raise(disconn.load(), ip.c_str(), port);
}

bool Callbacks::report_frame(const std::string& ip, int port, int ap_code, int psw, int cmd,
                             const std::string& hex) const {
    return raise(report.load(), ip.c_str(), port, ap_code, psw, cmd, hex.c_str(),
                 static_cast<int>(hex.size()));
}

bool Callbacks::reply_frame(const std::string& ip, int port, int ap_code, int psw, int cmd,
                            const std::string& hex) const {
    return raise(reply.load(), ip.c_str(), port, ap_code, psw, cmd, hex.c_str(),
                 static_cast<int>(hex.size()));
}

}  // namespace zorvik::access
