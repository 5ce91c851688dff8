// The controller access library as one object: the connection table, the callbacks,
// the calls waiting for replies, the supervisor, and every operation the exports offer.
//
// The exports (exports.cpp) are a thin C layer over one process-wide instance. Tests make
// their own instances with a clock they move by hand.
//
// Results follow the exported interface: 1/0, or a command code with 9 for "pair not
// registered, no reply in time, or library stopping". Nothing here throws to its caller
// on a controller's or a host's account; only running out of memory can throw, and the
// exports turn that into a failure result.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "clock.h"
#include "connection_table.h"
#include "link_services.h"
#include "net/socket.h"
#include "net/sync.h"

namespace zorvik::access {

class Supervisor;
class IoLoop;
class Delivery;

class Library {
  public:
    // IP texts are kept in 50 bytes by the hosts of this library: 49 characters at most.
    static constexpr std::size_t kMaxIpLength = 49;
    static constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();

    explicit Library(std::shared_ptr<Clock> clock = system_clock(), LinkTiming timing = {});
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    Callbacks& callbacks() { return services_.callbacks; }

    int connect(const char* ip, int port);
    int disconnect(const char* ip, int port);
    int disconnect_all();

    int send_data(const char* ip, int port, int cmd, int ap_code, int psw, const char* data,
                  int data_len);
    // reply_size bounds what is written to reply; kUnbounded for hosts that pass none.
    int send_data_with_ret(const char* ip, int port, int cmd, int ap_code, int psw,
                           const char* data, int data_len, int timeout_ms, char* reply,
                           std::size_t reply_size, int* reply_len);
    int enable_upload(const char* ip, int port, int enable);
    int init(const char* ip, int port);
    int verify_time(const char* ip, int port);

    int is_online(const char* ip, int port) const;
    // size bounds what is written to out (NUL included); kUnbounded for hosts that pass none.
    int online_list(char* out, std::size_t size) const;

    // The library's counters (LinkCounters, in its order) and a link's (frames received,
    // reports raised), as 32-bit values that wrap; at most count of them. Returns how many
    // were written; 0 for an unknown link.
    int counters(unsigned int* values, int count) const;
    int link_counters(const char* ip, int port, unsigned int* values, int count) const;

    int set_pass(int value);
    int set_encrypt_key(const unsigned int* key);

    // For tests and the benchmark.
    std::size_t connection_count() const { return table_.size(); }
    ConnectionTable::Ref find(std::string_view ip, int port) const;
    const Clock& clock() const { return *services_.clock; }
    bool stopped() const { return stopped_.load(); }
    std::size_t waiting_calls() const { return services_.replies.size(); }
    // The clock second at which the supervisor's last finished pass began; -1 when none.
    std::int64_t supervised_second() const;
    // Sockets in the I/O thread's poll set, its waker's included; 0 while it does not run.
    std::size_t polled_sockets() const;

  private:
    friend class Supervisor;

    ConnectionTable::Ref lookup(const char* ip, int port) const;
    std::uint16_t next_ap_code() { return static_cast<std::uint16_t>(sequence_.fetch_add(1)); }
    std::uint32_t psw_of_own_commands() const {
        return static_cast<std::uint32_t>(pass_value_.load()) & 0xFFFFFFU;
    }
    // Starts the supervisor, the I/O thread and the delivery threads unless they run;
    // false when the system gave no thread (nothing can be registered then).
    bool start_threads();
    // Ends them and waits for them (a thread of the library calling this is not waited
    // for; it ends on its own once its work is done).
    void stop_threads();
    // Builds a frame and queues it on the link, marking a reply as outstanding. False
    // when the link is offline or the payload is too long for a frame (nothing is queued
    // then).
    bool send_frame(Connection& link, std::uint8_t cmd, std::uint32_t ap_code, std::uint32_t psw,
                    std::span<const std::uint8_t> payload);
    int request(const ConnectionTable::Ref& link, std::uint8_t cmd, std::uint16_t ap_code,
                std::uint32_t psw, std::span<const std::uint8_t> payload,
                std::chrono::milliseconds timeout, char* reply, std::size_t reply_size,
                int* reply_len);
    int disconnect(const ConnectionTable::Ref& link);

    net::NetStartup net_;
    LinkServices services_;
    ConnectionTable table_;
    std::atomic<int> pass_value_{0};
    std::atomic<std::uint32_t> sequence_{0};
    net::Mutex key_mutex_;
    std::optional<std::array<std::uint32_t, 2>> key_;  // kept, never used: nothing is enciphered

    // Set until the first connect and again by disconnect_all: waits give up, the
    // supervisor ends.
    std::atomic<bool> stopped_{true};
    mutable net::Mutex lifecycle_mutex_;
    std::shared_ptr<Supervisor> supervisor_;
    std::shared_ptr<IoLoop> io_;
    std::shared_ptr<Delivery> delivery_;
    int clock_listener_ = 0;
};

// CRC-16/XMODEM of a whole file. 1 with the CRC stored; 0 when the file cannot be opened
// (result untouched). Read errors end the reading as the end of the file would.
int file_check_crc16(const char* path, unsigned short* result);

}  // namespace zorvik::access
