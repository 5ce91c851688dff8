// The engine's operations on the control's thread: links, upload switch, frames, close,
// stop and start.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <new>

#include "control_wait.h"
#include "engine_internal.h"
#include "frame/packets.h"
#include "notice_messages.h"
#include "outgoing_frame.h"
#include "results.h"

namespace tarnet {

namespace {

thread_local ThreadRole t_role = ThreadRole::control;
thread_local int t_handling[2] = {0, 0};

int handling_index(NoticeOrigin origin) { return origin == NoticeOrigin::poll_thread ? 0 : 1; }

std::uint32_t system_ticks() { return ::GetTickCount(); }

// The longest a closing link drains what the controller still sends: a peer that never
// stops sending must not hold Disconnect for ever.
constexpr ULONGLONG kDrainLimitMs = 2000;

void drain_and_shut(SOCKET s) {
    ::shutdown(s, SD_SEND);
    ::Sleep(10);
    const ULONGLONG start = ::GetTickCount64();
    char discard[4096];
    while (::GetTickCount64() - start < kDrainLimitMs) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval tv{0, 50 * 1000};
        if (::select(0, &readable, nullptr, nullptr, &tv) <= 0) {
            break;
        }
        const int got = ::recv(s, discard, sizeof discard, 0);
        if (got <= 0) {
            break;
        }
        ::Sleep(1);
    }
}

}  // namespace

ThreadRole current_thread_role() { return t_role; }
void set_current_thread_role(ThreadRole role) { t_role = role; }

int send_all(const SharedSocket& socket, std::span<const std::uint8_t> bytes) {
    if (!socket) {
        return WSAENOTSOCK;
    }
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = ::send(socket->get(), reinterpret_cast<const char*>(bytes.data() + sent),
                             static_cast<int>(bytes.size() - sent), 0);
        if (n == SOCKET_ERROR) {
            return ::WSAGetLastError();
        }
        sent += static_cast<std::size_t>(n);
    }
    return 0;
}

HandlingNotice::HandlingNotice(NoticeOrigin origin) : origin_(origin) {
    if (origin_ != NoticeOrigin::control_thread) {
        ++t_handling[handling_index(origin_)];
    }
}

HandlingNotice::~HandlingNotice() {
    if (origin_ != NoticeOrigin::control_thread) {
        --t_handling[handling_index(origin_)];
    }
}

bool HandlingNotice::active(NoticeOrigin origin) {
    return origin != NoticeOrigin::control_thread && t_handling[handling_index(origin)] > 0;
}

std::shared_ptr<Engine> Engine::create(HWND owner, EngineOptions options) {
    return std::shared_ptr<Engine>(new Engine(owner, std::move(options)));
}

Engine::Engine(HWND owner, EngineOptions options)
    : owner_(owner),
      ticks_(options.ticks ? std::move(options.ticks) : system_ticks),
      prober_(options.prober ? std::move(options.prober) : std::make_shared<SystemEchoProber>()) {}

Engine::~Engine() {
    // Every engine thread holds a reference: when this runs, none is left in its loop.
    std::lock_guard guard(threads_lock_);
    if (current_) {
        current_->request_stop();
    }
}

int Engine::find_link(std::string_view server, std::int16_t port) const {
    return table_.find(server, port);
}

std::optional<LinkState> Engine::link_state(std::size_t position) const {
    auto link = table_.at(position);
    if (!link) {
        return std::nullopt;
    }
    LinkState s;
    s.server = link->server();
    s.address = link->address();
    s.port = link->port();
    s.connected = link->connected();
    s.upload_state = link->upload_state();
    for (int i = 0; i < LinkRecord::kSlots; ++i) {
        const auto p = link->pending(i);
        if (p.code != -1) {
            s.pending.push_back(p.code);
        }
    }
    return s;
}

PollStatistics Engine::poll_statistics() const {
    std::lock_guard guard(stats_lock_);
    return stats_;
}

void Engine::record_pass(double ms) {
    std::lock_guard guard(stats_lock_);
    ++stats_.passes;
    stats_.last_pass_ms = ms;
    stats_.longest_pass_ms = std::max(stats_.longest_pass_ms, ms);
}

std::size_t Engine::retired_thread_sets() {
    reap_retired();
    std::lock_guard guard(threads_lock_);
    return retired_.size();
}

bool Engine::echo_probe(const std::string& address, unsigned timeout_ms, int size) {
    const auto payload = static_cast<std::uint8_t>(size & 0xFF);
    if (payload < 8) {
        return false;
    }
    return probe_with(address, timeout_ms, payload, nullptr);
}

bool Engine::probe(const std::string& address, HANDLE cancel) {
    return probe_with(address, kProbeTimeoutMs, kProbeSize, cancel);
}

bool Engine::probe_with(const std::string& address, unsigned timeout_ms, unsigned size,
                        HANDLE cancel) {
    // One probe at a time in the process.
    if (t_role == ThreadRole::control) {
        wait_letting_notices_through(ping_lock_.handle());
    } else {
        HANDLE handles[2] = {ping_lock_.handle(), cancel};
        if (::WaitForMultipleObjects(cancel ? 2 : 1, handles, FALSE, INFINITE) != WAIT_OBJECT_0) {
            return false;
        }
    }
    const bool answered = prober_->probe(address, timeout_ms, size, cancel);
    ping_lock_.unlock();
    return answered;
}

std::int16_t Engine::connect_link(const std::string& server, std::int16_t port, EventSink& caller) {
    auto link = table_.find_record(server, port);
    if (link && link->connected()) {
        return kOk;
    }

    // The address: dotted text as it is, otherwise the first address of the host name.
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = ::htons(static_cast<u_short>(port));
    std::string dotted = server;
    to.sin_addr.s_addr = ::inet_addr(server.c_str());
    if (to.sin_addr.s_addr == INADDR_NONE) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int error = ::getaddrinfo(server.c_str(), nullptr, &hints, &found);
        if (error != 0 || found == nullptr) {
            return static_cast<std::int16_t>(error != 0 ? error : WSAHOST_NOT_FOUND);
        }
        to.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &to.sin_addr, text, sizeof text);
        dotted = text;
    }

    const SOCKET raw = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (raw == INVALID_SOCKET) {
        return static_cast<std::int16_t>(::WSAGetLastError());
    }
    win::UniqueSocket owned(raw);  // closed on every way out, also when make_shared throws
    ::SetHandleInformation(reinterpret_cast<HANDLE>(raw), HANDLE_FLAG_INHERIT, 0);
    auto socket = std::make_shared<const win::UniqueSocket>(std::move(owned));

    if (!link) {
        try {
            link = std::make_shared<LinkRecord>(server, port);
            if (!table_.append(link)) {
                return kNoRoom;  // 512 links: the table has no room for another
            }
        } catch (const std::bad_alloc&) {
            return kNoRoom;
        }
    }
    link->set_address(dotted);

    bool answered = false;
    for (int i = 0; i < kProbesPerCheck && !answered; ++i) {
        answered = probe(dotted, nullptr);
        if (!answered) {
            ::Sleep(1);
        }
    }
    if (!answered) {
        return kHostSilent;
    }

    const BOOL no_delay = TRUE;
    ::setsockopt(raw, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
                 sizeof no_delay);
    if (::connect(raw, reinterpret_cast<const sockaddr*>(&to), sizeof to) == SOCKET_ERROR) {
        return static_cast<std::int16_t>(::WSAGetLastError());
    }
    link->attach(std::move(socket));

    if (link->upload_state() != LinkRecord::kUploadOff) {
        // A supervised link came back: switch upload on again and tell the host.
        set_upload(server, port, true);
        caller.fire_reconnect(server, port);
    }
    if (!threads_running_.load()) {
        ::Sleep(10);
        start_threads();
    }
    return kOk;
}

std::int16_t Engine::set_upload(const std::string& server, std::int16_t port, bool enable) {
    auto link = table_.find_record(server, port);
    if (!link) {
        return kNoLink;
    }
    link->set_upload_state(enable ? LinkRecord::kUploadSent : LinkRecord::kUploadOff);
    wait_gate(send_gate_, Waiter::poll_thread);
    const int error = send_all(link->socket(), zorvik::frame::upload_switch(enable));
    if (error != 0 && error != WSAEWOULDBLOCK) {
        link->detach();  // the socket is closed once no thread uses it
        posted_.push({link->server(), link->port()});
        wake_owner_for_posted(owner_.load());
        return kSendFailed;
    }
    return kOk;
}

std::int16_t Engine::send_frame(const std::string& server, std::int16_t port, std::int32_t cmd,
                                std::int32_t ap_code, std::int32_t psw, std::string_view data,
                                std::int32_t data_len, EventSink& caller) {
    if (check_frame_arguments(data, data_len) != FrameArguments::ok) {
        return kBadArguments;
    }
    auto link = table_.find_record(server, port);
    if (!link) {
        return kNoLink;
    }
    if (!link->connected()) {
        connect_link(server, port, caller);  // the send below tells whether it worked
    }
    if (link->take_slot(ap_code, now()) < 0) {
        return kTooManyPending;
    }
    const std::vector<std::uint8_t> frame = build_control_frame(cmd, ap_code, psw, data, data_len);
    wait_gate(send_gate_, Waiter::poll_thread);
    const int error = send_all(link->socket(), frame);
    if (error != 0 && error != WSAEWOULDBLOCK) {
        link->detach();
        caller.fire_failed_connect(link->server(), link->port());
        return kSendFailed;
    }
    return kOk;
}

void Engine::disconnect_by_server(std::string_view server) {
    const int position = table_.find_server(server);
    if (position >= 0) {
        close_link(static_cast<std::size_t>(position));
    }
}

void Engine::close_link(std::size_t position) {
    if (auto link = table_.at(position)) {
        close_link(link, nullptr);
    }
}

void Engine::close_link(const std::shared_ptr<LinkRecord>& link, const Generation* on_thread) {
    wait_gate(send_gate_, Waiter::poll_thread);
    const bool was_connected = link->connected();
    SharedSocket socket = link->begin_close();
    if (socket && was_connected) {
        drain_and_shut(socket->get());
    }
    socket.reset();  // closed here, or by the poll thread when it lets go of it

    wait_gate(poll_idle_, Waiter::poll_thread);
    if (!stop_requested_.load() && link->upload_state() != LinkRecord::kUploadOff &&
        !link->removed()) {
        // A supervised link stays, disconnected; the poll thread keeps probing it.
        link->end_close();
        hand_over(on_thread, UM_FAILEDCONNECT, static_cast<WPARAM>(link->port()),
                  reinterpret_cast<LPARAM>(link->server().c_str()));
    } else {
        table_.remove(link.get());
        link->end_close();
    }
}

void Engine::wait_gate(const Gate& gate, Waiter opened_by) {
    if (t_role != ThreadRole::control) {
        // Engine threads only wait for gates their own thread opens again.
        ::WaitForSingleObject(gate.handle(), INFINITE);
        return;
    }
    const NoticeOrigin origin = opened_by == Waiter::poll_thread ? NoticeOrigin::poll_thread
                                                                 : NoticeOrigin::dispatch_thread;
    if (HandlingNotice::active(origin)) {
        // That thread is parked in SendMessage on the notice this thread is handling; it
        // holds nothing, and it cannot open the gate before the handler returns.
        return;
    }
    std::shared_ptr<Generation> gen;
    {
        std::lock_guard guard(threads_lock_);
        gen = current_;
    }
    HANDLE handles[2] = {gate.handle(), nullptr};
    DWORD count = 1;
    if (gen) {
        // A thread that has ended opens nothing any more.
        handles[1] =
            opened_by == Waiter::poll_thread ? gen->poll_thread.get() : gen->dispatch_thread.get();
        count = handles[1] != nullptr ? 2 : 1;
    }
    wait_letting_notices_through(handles, count, INFINITE);
}

bool Engine::hand_over(const Generation* gen, UINT msg, WPARAM wparam, LPARAM lparam) {
    for (;;) {
        if (gen != nullptr && gen->stopped()) {
            return false;  // stop all drops what was not handed over yet
        }
        const HWND owner = owner_.load();
        if (owner == nullptr) {
            return false;
        }
        if (::SendMessageW(owner, msg, wparam, lparam) != 0) {
            return true;
        }
        // The window went away meanwhile; try the control's next window, if it has one.
        if (owner_.load() == owner) {
            return false;
        }
    }
}

void Engine::start_threads() {
    stop_requested_.store(false);
    if (threads_running_.load()) {
        return;
    }
    reap_retired();
    auto gen = std::make_shared<Generation>();
    if (!gen->stop_event) {
        return;
    }
    auto start_one = [&](ThreadRole role) -> win::UniqueHandle {
        static const char module_anchor = 0;
        HMODULE module = nullptr;
        ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                             reinterpret_cast<LPCWSTR>(&module_anchor), &module);
        auto* start = new (std::nothrow) ThreadStart{shared_from_this(), gen, role, module};
        HANDLE h =
            start ? ::CreateThread(nullptr, 0, &Engine::thread_entry, start, 0, nullptr) : nullptr;
        if (h == nullptr) {
            delete start;
            if (module != nullptr) {
                ::FreeLibrary(module);
            }
        }
        return win::UniqueHandle(h);
    };
    {
        std::lock_guard guard(threads_lock_);
        gen->poll_thread = start_one(ThreadRole::poll);
        if (gen->poll_thread) {
            gen->dispatch_thread = start_one(ThreadRole::dispatch);
        }
        if (gen->dispatch_thread) {
            gen->supervise_thread = start_one(ThreadRole::supervise);
        }
        current_ = gen;
    }
    if (!gen->poll_thread || !gen->dispatch_thread || !gen->supervise_thread) {
        gen->request_stop();
        join(*gen);
        std::lock_guard guard(threads_lock_);
        current_.reset();
        return;
    }
    threads_running_.store(true);
}

void Engine::join(Generation& gen) {
    for (HANDLE h :
         {gen.poll_thread.get(), gen.dispatch_thread.get(), gen.supervise_thread.get()}) {
        if (h == nullptr) {
            continue;
        }
        if (t_role == ThreadRole::control) {
            wait_letting_notices_through(h);
        } else {
            ::WaitForSingleObject(h, INFINITE);
        }
    }
}

void Engine::reap_retired() {
    std::lock_guard guard(threads_lock_);
    std::erase_if(retired_, [](const std::shared_ptr<Generation>& gen) {
        for (HANDLE h :
             {gen->poll_thread.get(), gen->dispatch_thread.get(), gen->supervise_thread.get()}) {
            if (h != nullptr && ::WaitForSingleObject(h, 0) == WAIT_TIMEOUT) {
                return false;
            }
        }
        return true;
    });
}

void Engine::set_owner(HWND owner) {
    owner_.store(owner);
    if (posted_.size() > 0) {
        wake_owner_for_posted(owner);
    }
}

void Engine::wake_owner_for_posted(HWND owner) {
    // A wake-up that cannot be posted (no owner, a full queue) leaves the notices waiting
    // for the next one; nothing is owned by the message.
    if (owner != nullptr) {
        ::PostMessageW(owner, UM_FAILEDCONNECT_POSTED, 0, 0);
    }
}

void Engine::dispatch_posted_notices(bool deliver) {
    const HWND owner = owner_.load();
    if (owner != nullptr) {
        MSG msg;
        while (::PeekMessageW(&msg, owner, UM_FAILEDCONNECT_POSTED, UM_FAILEDCONNECT_POSTED,
                              PM_REMOVE)) {
        }
        if (deliver && posted_.size() > 0) {
            // The owner's handler takes them all, on this thread.
            ::SendMessageW(owner, UM_FAILEDCONNECT_POSTED, 0, 0);
        }
    }
    if (!deliver) {
        posted_.clear();
    }
}

void Engine::stop_all() {
    stop_requested_.store(true);
    threads_running_.store(false);
    std::shared_ptr<Generation> gen;
    {
        std::lock_guard guard(threads_lock_);
        gen = std::exchange(current_, nullptr);
    }
    if (gen) {
        gen->request_stop();
    }
    // Link losses the host was told about before it stopped everything still reach it.
    dispatch_posted_notices(true);

    if (gen) {
        const bool poll_parked = HandlingNotice::active(NoticeOrigin::poll_thread);
        const bool dispatch_parked = HandlingNotice::active(NoticeOrigin::dispatch_thread);
        if (!poll_parked) {
            HANDLE handles[2] = {receive_pass_.handle(), gen->poll_thread.get()};
            wait_letting_notices_through(handles, 2, INFINITE);
        }
        if (!dispatch_parked) {
            HANDLE handles[2] = {dispatch_idle_.handle(), gen->dispatch_thread.get()};
            wait_letting_notices_through(handles, 2, INFINITE);
        }
        window_gate_.open();
        if (poll_parked || dispatch_parked) {
            // A thread parked on the notice being handled leaves when it returns.
            std::lock_guard guard(threads_lock_);
            retired_.push_back(gen);
        } else {
            join(*gen);
        }
    }
    reap_retired();

    queue_.drop_all();
    for (std::size_t i = table_.size(); i-- > 0;) {
        close_link(i);
    }
    dispatch_posted_notices(false);
}

}  // namespace tarnet
