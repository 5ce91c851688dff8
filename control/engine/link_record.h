// One link of the engine: a TCP connection to a controller, named by the server text and
// port the host gave.
//
// The control's thread, the poll thread and the supervision thread use a link; its small
// fields are guarded by the link's own lock, which is never held across a socket call or
// a notice. The socket is shared: a thread that works with it holds a reference, so a close on
// another thread never frees a socket handle that is in use (the handle is closed when the last
// reference goes). The receive buffer belongs to the poll thread alone.
#pragma once

#include <winsock2.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "receive_buffer.h"
#include "win/unique_socket.h"

namespace tarnet {

// A link's socket, shared by the threads that use it: it closes when the last one lets go,
// so a handle number is never reused under a recv.
using SharedSocket = std::shared_ptr<const porvex::win::UniqueSocket>;

struct PendingRequest {
    std::int32_t code = -1;  // ApCode; -1: free
    std::uint32_t sent = 0;  // tick count when sent
};

// What the supervision thread's echo probes found for a link, and in which state of the
// link: the poll thread acts on it only while the link is still in that state.
struct ProbeOutcome {
    std::uint64_t serial = 0;  // connection_serial() when the probes began
    bool connected = false;    // connected() when the probes began
    bool answered = false;     // the host answered (one of up to 5 probes when connected)
};

class LinkRecord {
  public:
    static constexpr int kSlots = 8;
    static constexpr std::int16_t kUploadOff = 0;
    static constexpr std::int16_t kUploadSent = 1;
    static constexpr std::int16_t kUploadAcknowledged = 2;

    LinkRecord(std::string server, std::int16_t port) : server_(std::move(server)), port_(port) {}

    const std::string& server() const { return server_; }
    std::int16_t port() const { return port_; }

    std::string address() const;
    void set_address(std::string dotted);

    // Pending requests.
    int take_slot(std::int32_t code, std::uint32_t now);  // slot, or -1 when all 8 are taken
    PendingRequest pending(int slot) const;
    void free_slot(int slot, std::int32_t code);            // only if it still holds code
    int free_slots_with(std::int32_t code);                 // number freed
    std::array<PendingRequest, kSlots> take_all_pending();  // frees them

    // Connection.
    bool connected() const;
    SharedSocket socket() const;
    bool is_current(const SharedSocket& s) const;
    void attach(SharedSocket s);  // connected from now on
    SharedSocket detach();        // disconnected from now on; returns the socket
    // Close link takes the socket first and decides later whether the link stays: until
    // then the poll thread neither probes it nor asks for a reconnect.
    SharedSocket begin_close();
    void end_close();
    bool closing() const;
    std::uint64_t connection_serial() const;

    // Upload state: 0 off, 1 enable sent, 2 acknowledged.
    std::int16_t upload_state() const;
    void set_upload_state(std::int16_t state);
    void acknowledge_upload();  // 1 -> 2

    // Set when the link left the table; a thread still holding it stops using it.
    bool removed() const;
    void mark_removed();

    // The supervision thread records the outcome of its probes; the poll thread takes it.
    void record_probe(const ProbeOutcome& outcome);
    std::optional<ProbeOutcome> take_probe();

    // Poll thread only: the buffer, emptied first when the link has connected anew.
    ReceiveBuffer& receive_buffer(std::uint64_t serial);

  private:
    const std::string server_;
    const std::int16_t port_;

    mutable std::mutex lock_;
    std::string address_;
    std::array<PendingRequest, kSlots> pending_{};
    SharedSocket socket_;
    bool connected_ = false;
    std::uint64_t serial_ = 0;
    std::int16_t upload_ = kUploadOff;
    bool removed_ = false;
    bool closing_ = false;
    std::optional<ProbeOutcome> probe_;

    ReceiveBuffer receive_;
    std::uint64_t receive_serial_ = 0;
};

}  // namespace tarnet
