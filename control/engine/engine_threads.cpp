// The engine's poll thread (receive, parse, time out, act on supervision), supervision
// thread (echo probes) and dispatch thread (deliver queued reports at a steady pace).
//
// FD_SETSIZE: the poll thread watches up to 512 sockets in one select.
#define FD_SETSIZE 512
#include <winsock2.h>
// winsock2.h before windows.h
#include <windows.h>

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "control_log.h"
#include "engine_internal.h"
#include "guarded.h"
#include "notice_messages.h"

namespace tarnet {

namespace {

double elapsed_ms(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

// Opens the given gates when the thread leaves its loop, however it leaves (also by an
// exception). Allocates nothing, so it cannot fail itself.
template <std::size_t N>
class OpenOnExit {
  public:
    explicit OpenOnExit(const std::array<const Gate*, N>& gates) : gates_(gates) {}
    ~OpenOnExit() {
        for (const Gate* g : gates_) {
            g->open();
        }
    }
    OpenOnExit(const OpenOnExit&) = delete;
    OpenOnExit& operator=(const OpenOnExit&) = delete;

  private:
    std::array<const Gate*, N> gates_;
};

void log_link(const LinkRecord& link, const std::string& what) {
    log_line("link " + link.server() + ":" + std::to_string(link.port()) + " " + what);
}

const char* thread_name(ThreadRole role) {
    switch (role) {
        case ThreadRole::poll:
            return "poll thread";
        case ThreadRole::dispatch:
            return "dispatch thread";
        case ThreadRole::supervise:
            return "supervision thread";
        case ThreadRole::control:
            break;
    }
    return "control thread";
}

}  // namespace

DWORD WINAPI Engine::thread_entry(void* argument) {
    HMODULE module = nullptr;
    {
        std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
        module = start->module;
        set_current_thread_role(start->role);
        start->engine->run_thread(start->role, *start->generation);
    }  // lets go of the engine; the last holder frees it
    if (module != nullptr) {
        ::FreeLibraryAndExitThread(module, 0);
    }
    return 0;
}

// Runs the thread's loop until its generation stops. An exception that leaves the loop
// (no memory for a report, a fault in a report path) would end the host program if it
// left the thread; it is counted and logged instead, and the loop runs again after a
// rest, so one failed pass does not silently leave the engine without that thread. The
// loops leave their gates open however they end.
void Engine::run_thread(ThreadRole role, const Generation& gen) noexcept {
    constexpr DWORD kRestAfterFailureMs = 100;
    const char* name = thread_name(role);
    for (;;) {
        const bool ended = guarded(
            name,
            [&] {
                switch (role) {
                    case ThreadRole::poll:
                        poll_loop(gen);
                        break;
                    case ThreadRole::dispatch:
                        dispatch_loop(gen);
                        break;
                    case ThreadRole::supervise:
                        supervise_loop(gen);
                        break;
                    case ThreadRole::control:
                        break;
                }
                return true;
            },
            [&](Failure) {
                thread_failures_.fetch_add(1);
                return false;
            });
        if (ended || gen.stopped()) {
            return;
        }
        ::WaitForSingleObject(gen.stop_event.get(), kRestAfterFailureMs);
    }
}

// What the poll thread does with the frames of one received chunk.
class Engine::PassHandler : public ChunkHandler {
  public:
    PassHandler(Engine& engine, const Generation& gen, const std::shared_ptr<LinkRecord>& link)
        : engine_(engine), gen_(gen), link_(link) {}

    bool stop_requested() override { return gen_.stopped() || link_->removed(); }
    void upload_acknowledged() override { link_->acknowledge_upload(); }
    void byte_skipped() override { ::Sleep(1); }
    bool reply_claimed(const FrameReport& reply) override {
        if (link_->free_slots_with(reply.ap_code) == 0) {
            return false;
        }
        engine_.deliver_report(gen_, reply);
        return true;
    }
    void queue_report(const FrameReport& report) override {
        FrameReport queued = report;
        queued.origin = NoticeOrigin::dispatch_thread;
        engine_.queue_.push(queued);
    }
    void repeat_dropped(const FrameReport&) override { engine_.drops_.repeat(); }

  private:
    Engine& engine_;
    const Generation& gen_;
    const std::shared_ptr<LinkRecord>& link_;
};

void Engine::deliver_report(const Generation& gen, const FrameReport& report) {
    FrameReport notice = report;
    notice.origin = NoticeOrigin::poll_thread;
    window_gate_.close();
    hand_over(&gen, UM_DATARECEIVE, 0, reinterpret_cast<LPARAM>(&notice));
    window_gate_.open();
}

void Engine::report_one_request(const Generation& gen, const std::shared_ptr<LinkRecord>& link,
                                int slot) {
    const PendingRequest request = link->pending(slot);
    if (request.code == -1) {
        return;
    }
    deliver_report(gen, FrameReport::request_notice(link->server(), link->port(), request.code));
    link->free_slot(slot, request.code);
}

void Engine::handle_lost_link(const Generation& gen, const std::shared_ptr<LinkRecord>& link) {
    // Every outstanding request gets its notice; the notice ends the request, so a link
    // that stays in the table does not report the same requests again 90 s later.
    std::vector<FrameReport> notices;
    for (const PendingRequest& request : link->take_all_pending()) {
        if (request.code != -1) {
            notices.push_back(
                FrameReport::request_notice(link->server(), link->port(), request.code));
        }
    }
    close_link(link, &gen);
    for (const FrameReport& notice : notices) {
        deliver_report(gen, notice);
    }
}

// Step c of a pass for one link: acts on what the supervision thread's probes found
// (a reconnect request for a disconnected link whose host answered, the lost-link
// handling for a connected link whose host did not answer 5 probes), as long as the link
// is still in the state it was probed in. Returns true when the link is supervised.
bool Engine::poll_supervise(const Generation& gen, const std::shared_ptr<LinkRecord>& link) {
    if (link->upload_state() == LinkRecord::kUploadOff) {
        return false;
    }
    if (link->closing()) {
        receive_pass_.open();
        return true;  // being closed on another thread: it decides what the link is now
    }
    const std::optional<ProbeOutcome> outcome = link->take_probe();
    const bool connected = link->connected();
    if (outcome && outcome->serial == link->connection_serial() &&
        outcome->connected == connected && !gen.stopped()) {
        if (!connected && outcome->answered) {
            const std::string server = link->server();
            window_gate_.close();
            hand_over(&gen, UM_RECONNECTREQUEST, static_cast<WPARAM>(link->port()),
                      reinterpret_cast<LPARAM>(server.c_str()));
            window_gate_.open();
        } else if (connected && !outcome->answered && !link->removed()) {
            poll_idle_.open();
            handle_lost_link(gen, link);
            poll_idle_.close();
        }
    }
    receive_pass_.open();
    return true;
}

// The supervision thread: probes every supervised link in table order, again and
// again, and leaves each outcome on its link for the poll thread. A probe takes 100 ms
// or more (600 ms for a host that does not answer), so probing on the poll thread made
// every report wait for the probes of all links (51 s a pass with 500 links); here it
// delays nobody's reports. Probes wake on the generation's stop event.
void Engine::supervise_loop(const Generation& gen) {
    constexpr DWORD kRestBetweenRoundsMs = 100;
    while (!gen.stopped()) {
        for (const auto& link : table_.snapshot()) {
            if (gen.stopped()) {
                return;
            }
            if (link->removed() || link->closing() ||
                link->upload_state() == LinkRecord::kUploadOff) {
                continue;
            }
            ProbeOutcome outcome;
            outcome.serial = link->connection_serial();
            outcome.connected = link->connected();
            const std::string address = link->address();
            if (outcome.connected) {
                for (int i = 0; i < kProbesPerCheck && !outcome.answered && !gen.stopped(); ++i) {
                    outcome.answered = probe(address, gen.stop_event.get());
                    if (!outcome.answered) {
                        ::Sleep(1);
                    }
                }
            } else {
                outcome.answered = probe(address, gen.stop_event.get());
            }
            if (gen.stopped()) {
                return;
            }
            link->record_probe(outcome);
        }
        ::WaitForSingleObject(gen.stop_event.get(), kRestBetweenRoundsMs);
    }
}

void Engine::poll_loop(const Generation& gen) {
    OpenOnExit<4> open_gates({&poll_idle_, &receive_pass_, &send_gate_, &window_gate_});
    std::vector<char> chunk(ReceiveBuffer::kCapacity);
    for (;;) {
        poll_idle_.close();
        if (gen.stopped()) {
            return;
        }
        const auto pass_start = std::chrono::steady_clock::now();

        // Time-outs and supervision, link by link in table order.
        bool any_supervised = false;
        for (const auto& link : table_.snapshot()) {
            if (gen.stopped()) {
                return;
            }
            if (link->removed()) {
                continue;
            }
            for (int slot = 0; slot < LinkRecord::kSlots; ++slot) {
                const PendingRequest request = link->pending(slot);
                if (request.code != -1 &&
                    static_cast<std::uint32_t>(now() - request.sent) > kRequestTimeoutMs) {
                    report_one_request(gen, link, slot);
                }
            }
            any_supervised = poll_supervise(gen, link) || any_supervised;
        }
        if (!any_supervised) {
            drops_.unsupervised(queue_.drop_all());
        }
        if (gen.stopped()) {
            return;
        }

        const auto links = table_.snapshot();
        if (links.empty()) {
            poll_idle_.open();
            receive_pass_.open();
            ::Sleep(5);
            record_pass(elapsed_ms(pass_start));
            continue;
        }

        // Every connected link's socket in both sets, each at most once.
        struct Watched {
            std::shared_ptr<LinkRecord> link;
            SharedSocket socket;
        };
        std::vector<Watched> watched;
        fd_set readable;
        fd_set failed;
        FD_ZERO(&readable);
        FD_ZERO(&failed);
        for (const auto& link : links) {
            SharedSocket s = link->connected() ? link->socket() : nullptr;
            if (!s || FD_ISSET(s->get(), &readable) || readable.fd_count >= FD_SETSIZE) {
                continue;
            }
            FD_SET(s->get(), &readable);
            FD_SET(s->get(), &failed);
            watched.push_back({link, std::move(s)});
        }

        receive_pass_.close();
        timeval wait{0, 100 * 1000};
        const int ready = ::select(0, &readable, nullptr, &failed, &wait);
        if (ready == SOCKET_ERROR) {
            // Also the case when no link is connected: select needs a socket.
            receive_pass_.open();
            poll_idle_.open();
            ::Sleep(10);
            record_pass(elapsed_ms(pass_start));
            continue;
        }

        int remaining = ready;
        for (const Watched& w : watched) {
            if (remaining <= 0) {
                break;
            }
            if (gen.stopped()) {
                return;
            }
            const SOCKET s = w.socket->get();
            const bool is_failed = FD_ISSET(s, &failed) != 0;
            const bool is_readable = FD_ISSET(s, &readable) != 0;
            remaining -= (is_failed ? 1 : 0) + (is_readable ? 1 : 0);
            if (!w.link->is_current(w.socket)) {
                continue;  // closed or connected anew since the sets were built
            }
            if (is_failed) {
                poll_idle_.open();
                handle_lost_link(gen, w.link);
                poll_idle_.close();
                continue;
            }
            if (!is_readable) {
                continue;  // no pause: it would only delay the reports of the links after it
            }
            send_gate_.close();
            const int got = ::recv(s, chunk.data(), static_cast<int>(chunk.size()), 0);
            const int error = got == SOCKET_ERROR ? ::WSAGetLastError() : 0;
            send_gate_.open();
            if (got == SOCKET_ERROR) {
                if (error != WSAEWOULDBLOCK) {
                    log_link(*w.link,
                             "lost: receive failed with Winsock error " + std::to_string(error));
                    poll_idle_.open();
                    handle_lost_link(gen, w.link);
                    poll_idle_.close();
                }
                continue;
            }
            if (got == 0) {
                // The controller closed the connection: a lost link like any other.
                log_link(*w.link, "closed by the controller");
                poll_idle_.open();
                handle_lost_link(gen, w.link);
                poll_idle_.close();
                continue;
            }
            PassHandler handler(*this, gen, w.link);
            ReceiveBuffer& buffer = w.link->receive_buffer(w.link->connection_serial());
            const ParseEnd end =
                buffer.process_chunk({reinterpret_cast<const std::uint8_t*>(chunk.data()),
                                      static_cast<std::size_t>(got)},
                                     handler, w.link->server(), w.link->port());
            if (end == ParseEnd::stopped && gen.stopped()) {
                return;
            }
        }

        poll_idle_.open();
        receive_pass_.open();
        ::Sleep(10);
        record_pass(elapsed_ms(pass_start));
    }
}

void Engine::dispatch_loop(const Generation& gen) {
    OpenOnExit<1> open_gate({&dispatch_idle_});
    DuplicateKeys keys;
    while (!gen.stopped()) {
        dispatch_idle_.close();
        if (std::optional<FrameReport> report = next_to_deliver(queue_, keys, drops_)) {
            // Not while the poll thread hands over a notice of its own.
            HANDLE handles[2] = {window_gate_.handle(), gen.stop_event.get()};
            if (::WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0) {
                report->origin = NoticeOrigin::dispatch_thread;
                hand_over(&gen, UM_DATARECEIVE, 0, reinterpret_cast<LPARAM>(&*report));
            }
        }
        dispatch_idle_.open();
        ::Sleep(2);
    }
}

}  // namespace tarnet
