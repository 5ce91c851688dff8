// The seam between the door logic and the controller access library: the few calls the
// door server makes and the four callbacks it receives. The production implementation
// (ZorvikLink) calls the library's exports; unit tests use a fake.
#pragma once

#include <string>
#include <string_view>

namespace porvex {

// What the library reports. Called on the library's threads, or on the thread calling
// ControllerLink::connect for the result of the first attempt. Texts are valid only
// during the call.
class LinkEvents {
  public:
    virtual ~LinkEvents() = default;
    // A link came up (connected), or the first attempt inside connect failed.
    virtual void on_connection(std::string_view ip, int port, bool connected) = 0;
    // An online link was lost.
    virtual void on_disconnection(std::string_view ip, int port) = 0;
    // A controller report (command codes 0x12..0x1F) or a reply to a command; both go
    // the same way and are told apart by their command code.
    virtual void on_frame(std::string_view ip, int port, int ap_code, int psw, int cmd,
                          std::string_view hex) = 0;
};

class ControllerLink {
  public:
    virtual ~ControllerLink() = default;

    // Registers the receiver of the four callbacks, or unregisters it (null). After
    // unregistering returns, no callback is running and none will reach the old
    // receiver. Never call it from inside a callback.
    virtual void set_events(LinkEvents* events) = 0;

    // Registers the controller and makes one connection attempt. True: the link is up
    // now. False: the attempt failed (the library keeps retrying) or the controller was
    // already registered. The result of the attempt is also reported through
    // on_connection on the calling thread before this returns.
    virtual bool connect(const std::string& ip, int port) = 0;

    // Hands a frame to the library for the current connection; false when the controller
    // is not registered or its link is not up (the library never keeps a frame for later).
    virtual bool send_data(const std::string& ip, int port, int cmd, int ap_code, int psw,
                           std::string_view hex) = 0;

    // Asks the controller to send its reports.
    virtual void enable_upload(const std::string& ip, int port) = 0;

    // Closes every link; afterwards the library raises no more callbacks.
    virtual void disconnect_all() = 0;
};

}  // namespace porvex
