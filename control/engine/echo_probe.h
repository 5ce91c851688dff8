// The echo probe: does a controller's host answer an ICMP echo request?
//
// The system prober sends the control's 44-byte echo request on a raw ICMP socket, pauses
// 100 ms, then waits up to the time-out for the answer. It reads datagrams until one is
// an echo reply from the probed address carrying this process's identifier: on a raw
// socket other ICMP traffic arrives too (on loopback the request itself comes back first,
// and other processes' probes are seen), so the first datagram alone says nothing.
// Where a raw socket cannot be opened (it needs administrator rights on Windows), it asks
// the platform's ICMP echo API instead, with the same total time budget.
// An unanswered host yields false in every case, also when sending fails.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

namespace tarnet {

class EchoProber {
  public:
    virtual ~EchoProber() = default;
    // True when address (dotted IPv4 text) answered within timeout_ms. size is the
    // payload size (already checked to be at least 8). cancel, when not null, is an event
    // that ends the wait early with false.
    virtual bool probe(const std::string& address, unsigned timeout_ms, unsigned size,
                       HANDLE cancel) = 0;
};

class SystemEchoProber : public EchoProber {
  public:
    enum class Method { automatic, raw_socket, icmp_api };

    explicit SystemEchoProber(Method method = Method::automatic) : method_(method) {}
    bool probe(const std::string& address, unsigned timeout_ms, unsigned size,
               HANDLE cancel) override;

    // The method the last probe used (automatic never appears here).
    Method last_method() const { return last_; }

  private:
    bool probe_raw(unsigned long target, unsigned timeout_ms, unsigned size, HANDLE cancel,
                   bool& no_raw_socket);
    bool probe_api(unsigned long target, unsigned timeout_ms, unsigned size);

    Method method_;
    std::atomic<Method> last_{Method::raw_socket};
};

}  // namespace tarnet
