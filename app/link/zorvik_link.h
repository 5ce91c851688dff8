// The production ControllerLink: the controller access library's exports
// (ZorvikAccess.h). The library keeps its four callbacks process-wide, so one ZorvikLink
// exists at a time; it registers its callbacks when made, in the order connection,
// disconnection, report, reply, and unregisters them when destroyed.
#pragma once

#include "link/controller_link.h"

namespace porvex {

class ZorvikLink final : public ControllerLink {
  public:
    // Throws std::logic_error when another ZorvikLink exists.
    ZorvikLink();
    ~ZorvikLink() override;
    ZorvikLink(const ZorvikLink&) = delete;
    ZorvikLink& operator=(const ZorvikLink&) = delete;

    void set_events(LinkEvents* events) override;
    bool connect(const std::string& ip, int port) override;
    bool send_data(const std::string& ip, int port, int cmd, int ap_code, int psw,
                   std::string_view hex) override;
    void enable_upload(const std::string& ip, int port) override;
    void disconnect_all() override;
};

}  // namespace porvex
