// The socket engine of the Tarnet control: links to controllers, echo probes, frames,
// and the poll and dispatch threads that receive, supervise and deliver.
//
// One engine serves a process (the control keeps it in EngineHost). Three kinds of
// thread use it: the control's thread (methods and the window's notice handlers), the
// poll thread and the dispatch thread. They stay out of each other's way through six
// gates (manual-reset events, created open) and the ping lock:
//
//   gate           closed by                        opened by                 waited for by
//   poll-idle      poll thread, start of each pass  end of pass, before it    close link
//                                                   handles a lost link
//   receive-pass   poll thread, before select       after each supervised     stop all
//                                                   link, end of pass
//   send           poll thread around each recv     after the recv            set upload, send
//                                                                             frame, close link
//   window         poll thread around each notice   after it; stop all        dispatch thread
//   dispatch-idle  dispatch thread, start of pass   end of pass               stop all
//   ping lock      an echo probe while it runs      the probe when done       other probes
//
// Notices go to the owner window with SendMessage (docs/tarnet.md, "hand-over"): the
// sending thread waits until the control's thread has taken them. The control's waits
// let sent messages through (control_wait.h), and a wait for a gate that only an engine
// thread can open is skipped while the control's thread is itself handling that thread's
// notice (the thread is parked in SendMessage, at a point where it holds nothing). No
// thread is ever terminated: stop all asks them to leave and waits for them, or, when
// they are parked on the very notice the control's thread is handling, lets them leave
// after it (they hold a reference to the engine and to the module until they have).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "echo_probe.h"
#include "frame_report.h"
#include "gate.h"
#include "link_table.h"
#include "posted_notices.h"
#include "report_queue.h"
#include "win/unique_any.h"

namespace tarnet {

namespace win = porvex::win;

enum class ThreadRole { control, poll, dispatch, supervise };

// The control whose method runs on the calling thread: connect link and send frame fire
// ReConnect and FailedConnect on it before they return.
class EventSink {
  public:
    virtual ~EventSink() = default;
    virtual void fire_reconnect(const std::string& server, std::int16_t port) = 0;
    virtual void fire_failed_connect(const std::string& server, std::int16_t port) = 0;
};

struct EngineOptions {
    // Millisecond tick count of the request time-out (GetTickCount by default). Tests
    // move it forward instead of waiting 90 seconds.
    std::function<std::uint32_t()> ticks;
    std::shared_ptr<EchoProber> prober;  // SystemEchoProber by default
};

// What a test or the benchmark may read about a link.
struct LinkState {
    std::string server;
    std::string address;
    std::int16_t port = 0;
    bool connected = false;
    std::int16_t upload_state = 0;
    std::vector<std::int32_t> pending;  // codes of the taken slots, in slot order
};

struct PollStatistics {
    std::uint64_t passes = 0;  // passes that ran to their end
    double last_pass_ms = 0;   // duration of the last one, pauses included
    double longest_pass_ms = 0;
};

class Engine : public std::enable_shared_from_this<Engine> {
  public:
    static constexpr std::uint32_t kRequestTimeoutMs = 90000;
    static constexpr unsigned kProbeTimeoutMs = 500;
    static constexpr int kProbeSize = 32;
    static constexpr int kProbesPerCheck = 5;

    // Initialise: empty table, gates open, threads not running, notices to owner.
    static std::shared_ptr<Engine> create(HWND owner, EngineOptions options = {});
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Notices still waiting from set_upload go to the new owner (a wake-up is posted).
    void set_owner(HWND owner);
    HWND owner() const { return owner_.load(); }

    int find_link(std::string_view server, std::int16_t port) const;
    // 0 connected (or already), -1 no room, 10060 no echo answer, else the socket error.
    std::int16_t connect_link(const std::string& server, std::int16_t port, EventSink& caller);
    // 0 sent, 1 no such link, 3 send failed (FailedConnect fires after the method returned:
    // the notice waits in the engine and the owner window gets a wake-up).
    std::int16_t set_upload(const std::string& server, std::int16_t port, bool enable);
    // 0 sent, 1 no such link, 2 eight outstanding, 3 send failed (FailedConnect fired),
    // 4 DataLen negative or above 8171, or data shorter than data_len.
    std::int16_t send_frame(const std::string& server, std::int16_t port, std::int32_t cmd,
                            std::int32_t ap_code, std::int32_t psw, std::string_view data,
                            std::int32_t data_len, EventSink& caller);
    void disconnect_by_server(std::string_view server);
    void close_link(std::size_t position);
    void stop_all();
    void start_threads();
    // 1 answered, 0 not; sizes below 8 (taken as a byte) send nothing.
    bool echo_probe(const std::string& address, unsigned timeout_ms, int size);

    // State for tests, the benchmark and diagnostics.
    std::size_t link_count() const { return table_.size(); }
    std::optional<LinkState> link_state(std::size_t position) const;
    bool threads_running() const { return threads_running_.load(); }
    bool stop_requested() const { return stop_requested_.load(); }
    std::size_t queued_reports() const { return queue_.size(); }
    // The owner window's handler of UM_FAILEDCONNECT_POSTED takes the waiting notices.
    std::vector<PostedNotice> take_posted_notices() { return posted_.take_all(); }
    std::size_t waiting_posted_notices() const { return posted_.size(); }
    // Reports that never became a DataReceive, by reason (see report_queue.h); the
    // control's DroppedReports property is their total.
    ReportDrops report_drops() const { return drops_.snapshot(); }
    PollStatistics poll_statistics() const;
    // Exceptions that left the body of an engine thread (each is logged; the thread runs
    // its loop again after a short rest, so the engine keeps working).
    std::uint64_t thread_failures() const { return thread_failures_.load(); }
    // Stopped thread sets whose threads have not left yet (they were parked on a notice).
    std::size_t retired_thread_sets();

  private:
    struct Generation;
    struct ThreadStart;
    class PassHandler;
    enum class Waiter { poll_thread, dispatch_thread };

    explicit Engine(HWND owner, EngineOptions options);

    std::uint32_t now() const { return ticks_(); }
    bool probe(const std::string& address, HANDLE cancel);
    bool probe_with(const std::string& address, unsigned timeout_ms, unsigned size, HANDLE cancel);
    void close_link(const std::shared_ptr<LinkRecord>& link, const Generation* on_thread);
    void wait_gate(const Gate& gate, Waiter opened_by);
    void join(Generation& generation);
    void reap_retired();
    void wake_owner_for_posted(HWND owner);
    // Delivers (or drops) the notices set_upload left waiting, and the wake-ups for them.
    void dispatch_posted_notices(bool deliver);

    // Engine threads.
    static DWORD WINAPI thread_entry(void* start);
    void run_thread(ThreadRole role, const Generation& gen) noexcept;
    void poll_loop(const Generation& gen);
    void dispatch_loop(const Generation& gen);
    void supervise_loop(const Generation& gen);
    bool poll_supervise(const Generation& gen, const std::shared_ptr<LinkRecord>& link);
    void report_one_request(const Generation& gen, const std::shared_ptr<LinkRecord>& link,
                            int slot);
    void handle_lost_link(const Generation& gen, const std::shared_ptr<LinkRecord>& link);
    void deliver_report(const Generation& gen, const FrameReport& report);
    bool hand_over(const Generation* gen, UINT msg, WPARAM wparam, LPARAM lparam);
    void record_pass(double ms);

    std::atomic<HWND> owner_;
    std::function<std::uint32_t()> ticks_;
    std::shared_ptr<EchoProber> prober_;

    LinkTable table_;
    ReportQueue queue_;
    PostedNotices posted_;
    ReportDropCounter drops_;

    Gate poll_idle_;
    Gate receive_pass_;
    Gate send_gate_;
    Gate window_gate_;
    Gate dispatch_idle_;
    EventLock ping_lock_;

    std::atomic<bool> threads_running_{false};
    std::atomic<bool> stop_requested_{false};
    mutable std::mutex threads_lock_;  // current_ and retired_
    std::shared_ptr<Generation> current_;
    std::vector<std::shared_ptr<Generation>> retired_;

    mutable std::mutex stats_lock_;
    PollStatistics stats_;
    std::atomic<std::uint64_t> thread_failures_{0};
};

// Set on the control's thread while it handles a notice that an engine thread handed
// over with SendMessage and waits for: that thread is parked until the handler returns.
class HandlingNotice {
  public:
    explicit HandlingNotice(NoticeOrigin origin);
    ~HandlingNotice();
    HandlingNotice(const HandlingNotice&) = delete;
    HandlingNotice& operator=(const HandlingNotice&) = delete;
    static bool active(NoticeOrigin origin);

  private:
    NoticeOrigin origin_;
};

}  // namespace tarnet
