// DoorServer: the door server's own logic in one place, and the one lock that keeps it
// consistent.
//
// Every user of the door records and the server tree (the event worker running
// DataReceive, the library's threads reporting links up and down, the upkeep tick, the
// connect pass and the item server's reads and writes) works under data_lock_, one
// operation at a time. Changes are collected during the operation and handed to the
// observers after data_lock_ is released. See docs/architecture.md.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/log.h"
#include "doors/door_directory.h"
#include "doors/leaf_change.h"
#include "doors/upkeep_tick.h"
#include "link/controller_link.h"
#include "link/event_decoder.h"
#include "link/event_queue.h"
#include "link/event_worker.h"
#include "link/pending_commands.h"
#include "link/report_counters.h"
#include "link/status_query_sender.h"

namespace porvex {

struct DoorServerOptions {
    std::chrono::milliseconds batch_pause = EventWorker::kBatchPause;
    std::size_t queue_limit = EventQueue::kDefaultLimit;
    double pending_expiry_seconds = kPendingExpirySeconds;
    // How the connect pass waits between connection attempts (tests count the waits);
    // empty: the calling thread sleeps.
    std::function<void(std::chrono::milliseconds)> pause_for;
    // The upkeep tick's status queries are sent by a thread of their own
    // (StatusQuerySender) instead of the thread calling tick, which then returns before
    // they are out. Porvex398 sets it: its tick runs on the main thread.
    bool status_queries_on_thread = false;
};

class DoorServer final : private LinkEvents {
  public:
    DoorServer(PointSet enabled, ControllerLink& link, const Clock& clock, LogSink& log,
               DoorServerOptions options = {});
    ~DoorServer() override;
    DoorServer(const DoorServer&) = delete;
    DoorServer& operator=(const DoorServer&) = delete;

    // --- start-up (main thread) ---

    // Observers may come and go at any time; a removal waits for a notification in
    // progress, so once it returns the observer is never called again. Neither may be
    // called from inside a notification.
    void add_observer(DoorObserver* observer);
    void remove_observer(DoorObserver* observer);
    // Observers of discrete door events (doors/door_events.h).
    void add_event_observer(DoorEventObserver* observer);
    void remove_event_observer(DoorEventObserver* observer);
    // Registers the four library callbacks and starts the event worker.
    void start();

    // Loads one door row: record, branch and leaves, reader keys, initial states.
    void add_door(const DoorRow& row);
    // Gives every leaf its value holder.
    void attach_value_holders();

    // The connect pass, once after the window is first shown: one connection attempt per
    // controller, in Doors order. `progress` is called after each door (done, total);
    // connection attempts start at least `pause` apart (the pass waits what is left of
    // it after each attempt; doors of a controller already tried take none).
    using Progress = std::function<void(std::size_t done, std::size_t total)>;
    void connect_pass(const Progress& progress = {},
                      std::chrono::milliseconds pause = std::chrono::milliseconds(10));

    // --- running ---

    // The upkeep tick; refresh_seconds is R. Does nothing while the door-state point
    // is disabled (the tick never runs then).
    void tick(int refresh_seconds);
    bool upkeep_tick_enabled() const { return enabled_.has(PointKind::door_state); }

    // Applies one queued controller report or reply now, on the calling thread: the
    // event worker's step, also called directly by tests and benchmarks.
    void receive(const ReceivedFrame& entry);

    // Remote open of the door at `door_index`; true when a command was queued.
    bool send_remote_open(std::size_t door_index);

    // Item server reads and writes (see doors/item_access.h).
    std::optional<ItemValue> read_item(NodeId leaf);
    // A read together with the link state of the leaf's door (connected for leaves of
    // no door), taken at one moment.
    struct ItemReading {
        ItemValue value;
        LinkState link = LinkState::connected;
    };
    std::optional<ItemReading> read_item_and_link(NodeId leaf);
    // A client's write; `writer` names the client for the operator log, which gets one
    // line per remote open (sent, refused, locked) and one when it ends (reply,
    // time-out).
    struct WriteResult {
        RemoteOpenOutcome outcome = RemoteOpenOutcome::not_remote_open;
        explicit operator bool() const { return outcome == RemoteOpenOutcome::sent; }
    };
    WriteResult write_item(NodeId leaf, const ItemValue& value, std::string_view writer = {});

    // --- the model, read under data_lock_ ---

    PointSet enabled() const { return enabled_; }
    std::optional<NodeId> find_leaf(std::string_view item_id) const;
    std::string node_text(NodeId node) const;
    std::optional<TItemInfo> item_info(NodeId leaf) const;
    LeafOwner leaf_owner(NodeId leaf) const;
    std::size_t door_count() const;
    // The branches of the doors whose link the controller (ip, port) carries: the doors
    // whose items a link-up or link-down event changes.
    std::vector<NodeId> controller_door_nodes(std::string_view ip, int port) const;
    // A copy of a door record as it is now.
    DoorRecord door(std::size_t index) const;
    std::size_t pending_commands() const;
    // Batches the event worker has taken from the queue.
    std::uint64_t event_batches() const { return worker_.batches(); }
    // Queued reports and replies the event worker has handled.
    std::uint64_t events_handled() const { return worker_.handled(); }
    // Every stage's count of reports and replies since start (see link/report_counters.h).
    ReportCounts report_counts() const { return counters_.snapshot(); }
    // Report callbacks per link ("ip:port").
    std::map<std::string, std::uint64_t> callbacks_per_link() const { return counters_.per_link(); }

    // Runs fn(const DoorDirectory&) under data_lock_, for readers that need several
    // values at one moment (the monitor window filling its tree).
    template <class Fn>
    auto inspect(Fn&& fn) const {
        std::lock_guard lock(data_lock_);
        return fn(static_cast<const DoorDirectory&>(dir_));
    }

    // --- shut-down ---

    // Stops the controller side: stopping_, the library's links, the callbacks, then the
    // event worker. Afterwards no controller event touches a door. Idempotent.
    void stop();
    // The orderly exit's release of the door tables; stops the controller side first.
    void release_doors();

  private:
    // LinkEvents, called on library threads.
    void on_connection(std::string_view ip, int port, bool connected) override;
    void on_disconnection(std::string_view ip, int port) override;
    void on_frame(std::string_view ip, int port, int ap_code, int psw, int cmd,
                  std::string_view hex) override;

    void ZorvikReConnect(Update& update, std::string_view ip, int port);
    void ZorvikFailedConnect(Update& update, std::string_view ip, int port);
    void mark_not_monitored(Update& update, DoorRecord* door);
    void link_event(Update& update, std::string_view ip, int port, bool up);
    // Hands the changes to the observers and logs the remote opens that ended.
    void notify(const Update& update);
    // "<door text> (<ip>:<port>, readers <in>/<out>)" under data_lock_.
    std::string describe_door(const DoorRecord& door) const;

    const PointSet enabled_;
    std::function<void(std::chrono::milliseconds)> pause_for_;
    ControllerLink& link_;
    const Clock& clock_;
    LogSink& log_;

    mutable std::mutex data_lock_;
    DoorDirectory dir_;
    PendingCommands pending_;
    EventDecoder decoder_;
    UpkeepTick tick_;

    ReportCounters counters_;
    EventQueue events_;
    EventWorker worker_;
    // Hands the tick's status queries to the library and withdraws those it refused.
    void send_status_queries(std::vector<StatusQuerySend> queries);
    std::unique_ptr<StatusQuerySender> query_sender_;  // when status_queries_on_thread
    std::atomic<bool> stopping_{false};
    bool started_ = false;
    bool stopped_ = false;
    std::mutex lifecycle_;

    std::mutex notify_lock_;
    std::vector<DoorObserver*> observers_;
    std::vector<DoorEventObserver*> event_observers_;
};

}  // namespace porvex
