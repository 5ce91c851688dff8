#include "library.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "connection.h"
#include "delivery.h"
#include "frame/crc16.h"
#include "frame/frame.h"
#include "frame/hex.h"
#include "frame/packets.h"
#include "io_loop.h"
#include "supervisor.h"

namespace zorvik::access {
namespace {

// The part of a caller's text the library may read: at most max characters, and never
// beyond its terminating NUL (characters past it count as NUL, as the hex rule expects).
std::string_view bounded(const char* text, std::size_t max) {
    if (text == nullptr) {
        return {};
    }
    const void* nul = std::memchr(text, 0, max);
    return {text,
            nul == nullptr ? max : static_cast<std::size_t>(static_cast<const char*>(nul) - text)};
}

bool valid_key(const char* ip, int port) {
    return ip != nullptr &&
           bounded(ip, Library::kMaxIpLength + 1).size() <= Library::kMaxIpLength && port >= 1 &&
           port <= 65535;
}

// A dataLen whose payload cannot fit one frame (an odd count takes one more character).
bool fits_a_frame(int data_len) {
    return data_len >= 0 && (static_cast<std::size_t>(data_len) + 1) / 2 <= frame::kMaxPayload;
}

// Payload bytes of a host's hex text by the library's rule. dataLen counts characters;
// an odd count takes one more (normally the caller's terminating NUL).
std::vector<std::uint8_t> payload_of(const char* data, int data_len) {
    const auto length = static_cast<std::size_t>(data_len);
    return frame::decode_hex_as_library(bounded(data, length + 1), length);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

Library::Library(std::shared_ptr<Clock> clock, LinkTiming timing) {
    services_.clock = std::move(clock);
    services_.timing = timing;
    clock_listener_ = services_.clock->subscribe([this] {
        // A hand-moved clock jumped: every wait and the supervisor look again.
        services_.replies.wake_all();
        std::lock_guard lock(lifecycle_mutex_);
        if (supervisor_) {
            supervisor_->wake();
        }
    });
}

Library::~Library() {
    services_.clock->unsubscribe(clock_listener_);
    disconnect_all();
    stop_threads();
    // A link thread that disconnected its own link from a callback ends on its own.
    services_.threads.wait_for_zero();
}

ConnectionTable::Ref Library::find(std::string_view ip, int port) const {
    return table_.find(ip, port);
}

std::int64_t Library::supervised_second() const {
    std::lock_guard lock(lifecycle_mutex_);
    return supervisor_ ? supervisor_->last_pass_second() : -1;
}

ConnectionTable::Ref Library::lookup(const char* ip, int port) const {
    if (!valid_key(ip, port)) {
        return nullptr;
    }
    return table_.find(ip, port);
}

std::size_t Library::polled_sockets() const {
    std::lock_guard lock(lifecycle_mutex_);
    return io_ ? io_->polled() : 0;
}

bool Library::start_threads() {
    std::lock_guard lock(lifecycle_mutex_);
    stopped_.store(false);
    if (!io_) {
        auto io = std::make_shared<IoLoop>(services_.threads, services_.timing.receive_buffer);
        if (!io->start()) {
            return false;
        }
        io_ = std::move(io);
    }
    if (!delivery_) {
        auto delivery = std::make_shared<Delivery>(services_.threads);
        if (!delivery->start()) {
            return false;
        }
        delivery_ = std::move(delivery);
    }
    if (!supervisor_) {
        auto supervisor = std::make_shared<Supervisor>(*this);
        if (!supervisor->start()) {
            return false;
        }
        supervisor_ = std::move(supervisor);
    }
    return true;
}

void Library::stop_threads() {
    std::shared_ptr<Supervisor> supervisor;
    std::shared_ptr<IoLoop> io;
    std::shared_ptr<Delivery> delivery;
    {
        std::lock_guard lock(lifecycle_mutex_);
        supervisor = std::move(supervisor_);
        io = std::move(io_);
        delivery = std::move(delivery_);
    }
    // On a thread of its own each of these only tells it to end.
    if (supervisor) {
        supervisor->stop();
    }
    if (io) {
        io->stop();
    }
    if (delivery) {
        delivery->stop();
    }
}

int Library::connect(const char* ip, int port) {
    if (!valid_key(ip, port)) {
        return 0;  // a longer text would be cut into another controller's key
    }
    if (table_.find(ip, port)) {
        return 0;  // registered already: nothing done, nothing raised
    }
    if (!start_threads()) {
        return 0;
    }
    std::shared_ptr<IoLoop> io;
    std::shared_ptr<Delivery> delivery;
    {
        std::lock_guard lock(lifecycle_mutex_);
        io = io_;
        delivery = delivery_;
    }
    if (!io || !delivery) {
        return 0;  // stopped meanwhile by another thread
    }
    auto link = std::make_shared<Connection>(services_, io, delivery, std::string(ip), port);
    if (!table_.add(link)) {
        return 0;  // registered meanwhile by another thread
    }
    if (!link->start()) {
        table_.remove(*link);
        link->stop(false);
        return 0;
    }
    const bool up = link->attempt_connection() && link->go_online(false);
    services_.callbacks.link_up(link->ip(), link->port(), up);
    return up ? 1 : 0;
}

int Library::disconnect(const char* ip, int port) {
    const auto link = lookup(ip, port);
    return link ? disconnect(link) : 0;
}

int Library::disconnect(const ConnectionTable::Ref& link) {
    if (link->closing.exchange(true)) {
        return 0;  // another thread is closing it
    }
    link->stop(Supervisor::on_supervisor_thread());
    table_.remove(*link);
    return 1;
}

int Library::disconnect_all() {
    if (stopped_.exchange(true)) {
        return 0;
    }
    services_.replies.wake_all();  // pending waits give up now
    {
        // The supervisor ends first, so it starts no connection attempt on a closed link.
        std::shared_ptr<Supervisor> supervisor;
        {
            std::lock_guard lock(lifecycle_mutex_);
            supervisor = std::move(supervisor_);
        }
        if (supervisor) {
            supervisor->stop();
        }
    }
    auto links = table_.snapshot();
    for (auto it = links.rbegin(); it != links.rend(); ++it) {
        disconnect(*it);
    }
    stop_threads();
    return 1;
}

bool Library::send_frame(Connection& link, std::uint8_t cmd, std::uint32_t ap_code,
                         std::uint32_t psw, std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> bytes;
    if (!frame::append_frame(bytes, cmd, ap_code, psw, payload)) {
        return false;
    }
    return link.enqueue(std::move(bytes), true);
}

int Library::send_data(const char* ip, int port, int cmd, int ap_code, int psw, const char* data,
                       int data_len) {
    const auto link = lookup(ip, port);
    // A frame over the size limit is refused rather than reported as queued: it would
    // never be sent, and the link would be declared lost for want of its reply. A frame
    // for an offline link is refused: it is sent now or never.
    if (!link || !fits_a_frame(data_len)) {
        return 0;
    }
    return send_frame(*link, static_cast<std::uint8_t>(cmd), static_cast<std::uint32_t>(ap_code),
                      static_cast<std::uint32_t>(psw), payload_of(data, data_len))
               ? 1
               : 0;
}

int Library::request(const ConnectionTable::Ref& link, std::uint8_t cmd, std::uint16_t ap_code,
                     std::uint32_t psw, std::span<const std::uint8_t> payload,
                     std::chrono::milliseconds timeout, char* reply, std::size_t reply_size,
                     int* reply_len) {
    const Clock& clock = *services_.clock;
    auto event = std::make_shared<WaitEvent>();
    const std::uint32_t start = clock.ticks();
    // The wait is in the list before the frame leaves, so even an instant reply finds it.
    const auto wait = services_.replies.add(link.get(), ap_code, start, event);
    if (!send_frame(*link, cmd, ap_code, psw, payload)) {
        services_.replies.remove(wait);
        return 9;
    }
    MessagePump pump;
    const bool answered = wait_until(
        *event, clock, start, timeout, stopped_, [&] { return services_.replies.answered(wait); },
        &pump);
    const auto got = services_.replies.answer(wait);
    services_.replies.remove(wait);
    if (!answered || !got) {
        return 9;
    }
    if (got->cmd == cmd) {
        const std::size_t n = got->hex.size();
        if (reply_len != nullptr) {
            *reply_len = static_cast<int>(n);
        }
        // Copied only when it fits; otherwise the length tells the caller what it needs.
        if (reply != nullptr && n > 0 && n <= reply_size) {
            std::memcpy(reply, got->hex.data(), n);
        }
    }
    return got->cmd;
}

int Library::send_data_with_ret(const char* ip, int port, int cmd, int ap_code, int psw,
                                const char* data, int data_len, int timeout_ms, char* reply,
                                std::size_t reply_size, int* reply_len) {
    const auto link = lookup(ip, port);
    if (!link || !fits_a_frame(data_len)) {
        return 9;  // unknown pair, or a request that cannot be sent: no reply can come
    }
    return request(link, static_cast<std::uint8_t>(cmd), static_cast<std::uint16_t>(ap_code),
                   static_cast<std::uint32_t>(psw), payload_of(data, data_len),
                   std::chrono::milliseconds(std::max(timeout_ms, 0)), reply, reply_size,
                   reply_len);
}

int Library::enable_upload(const char* ip, int port, int enable) {
    const auto link = lookup(ip, port);
    if (!link) {
        return 9;
    }
    const auto packet = frame::upload_switch((enable & 0xFF) != 0);
    return link->enqueue(std::vector<std::uint8_t>(packet.begin(), packet.end()), false) ? 0 : 9;
}

int Library::init(const char* ip, int port) {
    const std::uint16_t ap_code = next_ap_code();
    const auto link = lookup(ip, port);
    if (!link) {
        return 9;
    }
    return request(link, frame::kCmdInit, ap_code, psw_of_own_commands(), {},
                   std::chrono::milliseconds(5000), nullptr, 0, nullptr);
}

int Library::verify_time(const char* ip, int port) {
    const std::uint16_t ap_code = next_ap_code();
    const auto payload = frame::time_payload(services_.clock->local_time());
    const auto link = lookup(ip, port);
    if (!link) {
        return 9;
    }
    return request(link, frame::kCmdSetTime, ap_code, psw_of_own_commands(), payload,
                   std::chrono::milliseconds(500), nullptr, 0, nullptr);
}

int Library::is_online(const char* ip, int port) const {
    const auto link = lookup(ip, port);
    return link && link->online() ? 1 : 0;
}

int Library::online_list(char* out, std::size_t size) const {
    if (out == nullptr || size == 0) {
        return 0;
    }
    std::size_t used = 0;
    int count = 0;
    for (const auto& link : table_.snapshot()) {
        if (!link->online()) {
            continue;
        }
        const std::string entry = link->ip() + ":" + std::to_string(link->port()) + "|";
        if (size != kUnbounded && entry.size() >= size - used) {
            break;  // whole entries only, and room for the NUL
        }
        std::memcpy(out + used, entry.data(), entry.size());
        used += entry.size();
        ++count;
    }
    out[used] = '\0';
    return count;
}

namespace {

int copy_counters(std::initializer_list<std::uint64_t> all, unsigned int* values, int count) {
    if (values == nullptr || count <= 0) {
        return 0;
    }
    int n = 0;
    for (const auto v : all) {
        if (n == count) {
            break;
        }
        values[n++] = static_cast<unsigned int>(v);
    }
    return n;
}

}  // namespace

int Library::counters(unsigned int* values, int count) const {
    const auto& c = services_.counters;
    return copy_counters(
        {c.frames_received.load(), c.reports_raised.load(), c.replies_raised.load(),
         c.replies_to_waits.load(), c.without_callback.load()},
        values, count);
}

int Library::link_counters(const char* ip, int port, unsigned int* values, int count) const {
    const auto link = lookup(ip, port);
    if (!link) {
        return 0;
    }
    return copy_counters({link->frames_received.load(), link->reports_raised.load()}, values,
                         count);
}

int Library::set_pass(int value) {
    pass_value_.store(value);
    return 0;
}

int Library::set_encrypt_key(const unsigned int* key) {
    if (key == nullptr) {
        return 0;
    }
    std::lock_guard lock(key_mutex_);
    key_ = std::array<std::uint32_t, 2>{key[0], key[1]};
    return 1;
}

int file_check_crc16(const char* path, unsigned short* result) {
    if (path == nullptr || result == nullptr) {
        return 0;
    }
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) {
        return 0;
    }
    std::uint16_t crc = 0;
    std::uint8_t block[1024];
    for (;;) {
        const std::size_t n = std::fread(block, 1, sizeof block, file.get());
        if (n == 0) {
            break;  // the end, or a read error, which ends the reading the same way
        }
        crc = frame::crc16_update(crc, {block, n});
    }
    *result = crc;
    return 1;
}

}  // namespace zorvik::access
