// The host's four callbacks and how the library raises them.
//
// The pointers are swapped atomically, so a host may register or clear a callback at
// any time from any thread. No lock of the library is held while a callback runs: a
// host may call any export from inside one (its link-up handler enables the upload).
#pragma once

#include <atomic>
#include <span>
#include <string>

#include "ZorvikAccess.h"

namespace zorvik::access {

class Callbacks {
  public:
    std::atomic<ConnCallback> conn{nullptr};
    std::atomic<DisConnCallback> disconn{nullptr};
    std::atomic<DoorDataUpCallback> report{nullptr};
    std::atomic<DoorCommandRecvCallback> reply{nullptr};

    void link_up(const std::string& ip, int port, bool connected) const;
    void link_lost(const std::string& ip, int port) const;
    // hex is the payload as text; dataLen passed to the host is its length. False when
    // no callback was registered.
    bool report_frame(const std::string& ip, int port, int ap_code, int psw, int cmd,
                      const std::string& hex) const;
    bool reply_frame(const std::string& ip, int port, int ap_code, int psw, int cmd,
                     const std::string& hex) const;
};

}  // namespace zorvik::access
