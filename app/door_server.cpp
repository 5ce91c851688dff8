#include "door_server.h"

#include <cmath>
#include <thread>
#include <unordered_map>

#include "core/text.h"
#include "doors/door_load.h"
#include "doors/item_access.h"
#include "doors/point_setters.h"

namespace porvex {

namespace {

constexpr int kReadersPerController = 8;

std::string controller_key(std::string_view ip, int port) {
    return ascii_lower(ip) + ":" + std::to_string(port);
}

}  // namespace

DoorServer::DoorServer(PointSet enabled, ControllerLink& link, const Clock& clock, LogSink& log,
                       DoorServerOptions options)
    : enabled_(enabled),
      pause_for_(std::move(options.pause_for)),
      link_(link),
      clock_(clock),
      log_(log),
      dir_(enabled),
      pending_(options.pending_expiry_seconds),
      decoder_(dir_, pending_, link_),
      tick_(dir_, decoder_),
      events_(options.queue_limit),
      worker_(
          events_, [this](const ReceivedFrame& entry) { receive(entry); }, log,
          options.batch_pause) {
    decoder_.count_into(&counters_);
    if (options.status_queries_on_thread) {
        query_sender_ = std::make_unique<StatusQuerySender>(
            [this](std::vector<StatusQuerySend> queries) {
                // The sender's thread has no one to throw to: the failure goes to the log.
                try {
                    send_status_queries(std::move(queries));
                } catch (const std::exception& e) {
                    log_.write(LogLevel::error,
                               std::string("status queries not sent: ") + e.what());
                } catch (...) {
                    log_.write(LogLevel::error, "status queries not sent");
                }
            },
            [this](std::vector<StatusQuerySend> stale) {
                log_.write(LogLevel::warning,
                           "status queries of " + std::to_string(stale.size()) +
                               " doors not sent before the next upkeep tick; asked again then");
                std::lock_guard lock(data_lock_);
                decoder_.withdraw_status_queries(stale);
            });
    }
}

DoorServer::~DoorServer() { stop(); }

void DoorServer::add_observer(DoorObserver* observer) {
    std::lock_guard lock(notify_lock_);
    observers_.push_back(observer);
}

void DoorServer::remove_observer(DoorObserver* observer) {
    std::lock_guard lock(notify_lock_);
    std::erase(observers_, observer);
}

void DoorServer::start() {
    std::lock_guard lock(lifecycle_);
    if (started_ || stopped_) {
        return;
    }
    started_ = true;
    link_.set_events(this);
    worker_.start();
}

void DoorServer::add_door(const DoorRow& row) {
    Update update(clock_.now());
    std::string duplicate;
    {
        std::lock_guard lock(data_lock_);
        const DoorRecord& door = load_door(dir_, update, row);
        if (const DoorRecord* first = dir_.duplicate_of(door.index)) {
            duplicate = "door " + describe_door(door) + " has the name and location of door " +
                        describe_door(*first) +
                        ": its item IDs reach the first door, and browsing shows the first "
                        "door only";
        }
    }
    if (!duplicate.empty()) {
        log_.write(LogLevel::warning, duplicate);
    }
    notify(update);
}

void DoorServer::attach_value_holders() {
    std::lock_guard lock(data_lock_);
    dir_.attach_value_holders();
}

void DoorServer::connect_pass(const Progress& progress, std::chrono::milliseconds pause) {
    struct Target {
        std::string ip;
        int port;
    };
    std::vector<Target> targets;
    {
        std::lock_guard lock(data_lock_);
        targets.reserve(dir_.door_count());
        for (std::size_t i = 0; i < dir_.door_count(); ++i) {
            targets.push_back({dir_.door(i).ip, dir_.door(i).port});
        }
    }
    // One attempt per controller. The library answers a second registration of the
    // same controller with "not connected"; the doors of a controller share the
    // result of its one attempt instead.
    std::unordered_map<std::string, bool> attempted;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (stopping_) {
            return;
        }
        const Target& target = targets[i];
        const std::string key = controller_key(target.ip, target.port);
        bool connected = false;
        bool attempt = false;
        const Moment began = clock_.now();
        if (const auto it = attempted.find(key); it != attempted.end()) {
            connected = it->second;
        } else {
            attempt = true;
            // Not under data_lock_: the library reports the attempt through the
            // connection callback on this thread before it returns.
            connected = link_.connect(target.ip, target.port);
            attempted.emplace(key, connected);
        }
        Update update(clock_.now());
        {
            std::lock_guard lock(data_lock_);
            if (i < dir_.door_count()) {
                DoorRecord& door = dir_.door(i);
                door.status_poll_queued = connected;
                if (!connected) {
                    PointSetters set(dir_, update);
                    set.SetDoorState(&door, AlarmState::not_monitored);
                    set.SetLastCard(&door, CardShown::not_monitored());
                    set.SetTamper(&door, AlarmState::not_monitored);
                    set.SetInvalidCard(&door, CardShown::not_monitored());
                }
            }
        }
        notify(update);
        if (progress) {
            progress(i + 1, targets.size());
        }
        // The pause spaces out the starts of connection attempts: what the attempt and
        // its doors took already counts towards it, so a slow attempt is not followed by
        // the whole pause on top (1,000 attempts of 5-15 ms each under Wine took 15-25 s
        // plus 10 s of pauses). A door whose controller was tried already costs none.
        if (attempt && pause.count() > 0) {
            const auto took =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(
                    std::llround((clock_.now().seconds - began.seconds) * 1e6)));
            const auto rest = pause - took;
            if (rest.count() <= 0) {
                // the attempt took the whole pause
            } else if (pause_for_) {
                pause_for_(rest);
            } else {
                std::this_thread::sleep_for(rest);
            }
        }
    }
}

void DoorServer::tick(int refresh_seconds) {
    if (!upkeep_tick_enabled()) {
        return;
    }
    Update update(clock_.now());
    {
        std::lock_guard lock(data_lock_);
        try {
            tick_.run(update, refresh_seconds);
        } catch (const std::exception& e) {
            log_.write(LogLevel::error, std::string("upkeep tick ended early: ") + e.what());
        }
    }
    // The status queries go out without the lock: the event worker goes on meanwhile.
    if (!update.status_queries.empty()) {
        if (query_sender_) {
            query_sender_->post(std::move(update.status_queries));
        } else {
            send_status_queries(std::move(update.status_queries));
        }
    }
    notify(update);
}

void DoorServer::send_status_queries(std::vector<StatusQuerySend> queries) {
    std::string error;
    const std::vector<StatusQuerySend> failed =
        decoder_.send_status_queries(std::move(queries), &error);
    if (!failed.empty()) {
        std::lock_guard lock(data_lock_);
        decoder_.withdraw_status_queries(failed);
    }
    if (!error.empty()) {
        log_.write(LogLevel::error, "upkeep tick ended early: " + error);
    }
}

bool DoorServer::send_remote_open(std::size_t door_index) {
    Update update(clock_.now());
    bool sent = false;
    {
        std::lock_guard lock(data_lock_);
        if (door_index < dir_.door_count()) {
            sent = decoder_.SendRemoteOpen(update, &dir_.door(door_index));
        }
    }
    notify(update);
    return sent;
}

std::optional<ItemValue> DoorServer::read_item(NodeId leaf) {
    std::lock_guard lock(data_lock_);
    return read_leaf_value(dir_, leaf);
}

std::optional<DoorServer::ItemReading> DoorServer::read_item_and_link(NodeId leaf) {
    std::lock_guard lock(data_lock_);
    std::optional<ItemValue> value = read_leaf_value(dir_, leaf);
    if (!value) {
        return std::nullopt;
    }
    ItemReading reading{std::move(*value), LinkState::connected};
    const LeafOwner owner = dir_.owner(leaf);
    if ((owner.role == LeafRole::point || owner.role == LeafRole::swipe_time) &&
        owner.door != nullptr) {
        reading.link = owner.door->link;
    }
    return reading;
}

DoorServer::WriteResult DoorServer::write_item(NodeId leaf, const ItemValue& value,
                                               std::string_view writer) {
    Update update(clock_.now());
    WriteResult result;
    std::string line;
    {
        std::lock_guard lock(data_lock_);
        result.outcome = write_leaf_value(dir_, decoder_, update, leaf, value);
        const LeafOwner owner = dir_.owner(leaf);
        if (result.outcome != RemoteOpenOutcome::not_remote_open && owner.door != nullptr) {
            const std::string who =
                writer.empty() ? std::string("(unnamed client)") : std::string(writer);
            if (result.outcome == RemoteOpenOutcome::sent) {
                owner.door->remote_open_by = who;
            }
            line = "remote open of " + describe_door(*owner.door) + " by " + who + ": " +
                   std::string(describe(result.outcome));
        }
    }
    if (!line.empty()) {
        log_.write(result.outcome == RemoteOpenOutcome::sent ? LogLevel::info : LogLevel::warning,
                   line);
    }
    notify(update);
    return result;
}

std::string DoorServer::describe_door(const DoorRecord& door) const {
    const ServerTree& tree = dir_.tree();
    std::string text = tree.contains(door.door_node) ? tree.text(door.door_node) : std::string("?");
    text += " (" + door.ip + ":" + door.port_text + ", readers " + std::to_string(door.in_reader) +
            "/" + std::to_string(door.out_reader) + ")";
    return text;
}

std::optional<NodeId> DoorServer::find_leaf(std::string_view item_id) const {
    std::lock_guard lock(data_lock_);
    if (!dir_.tree().value_holders_attached()) {
        return std::nullopt;
    }
    return dir_.find_leaf(item_id);
}

std::string DoorServer::node_text(NodeId node) const {
    std::lock_guard lock(data_lock_);
    return dir_.tree().contains(node) ? dir_.tree().text(node) : std::string();
}

std::optional<TItemInfo> DoorServer::item_info(NodeId leaf) const {
    std::lock_guard lock(data_lock_);
    if (!dir_.tree().contains(leaf) || dir_.tree().info(leaf) == nullptr) {
        return std::nullopt;
    }
    return *dir_.tree().info(leaf);
}

LeafOwner DoorServer::leaf_owner(NodeId leaf) const {
    std::lock_guard lock(data_lock_);
    return dir_.owner(leaf);
}

std::size_t DoorServer::door_count() const {
    std::lock_guard lock(data_lock_);
    return dir_.door_count();
}

std::vector<NodeId> DoorServer::controller_door_nodes(std::string_view ip, int port) const {
    std::vector<NodeId> nodes;
    std::lock_guard lock(data_lock_);
    // The readers ZorvikReConnect and ZorvikFailedConnect visit.
    for (int i = 0; i < kReadersPerController; ++i) {
        if (const DoorRecord* door = dir_.FindDoor(ip, port, 1 << i)) {
            nodes.push_back(door->door_node);
        }
    }
    return nodes;
}

DoorRecord DoorServer::door(std::size_t index) const {
    std::lock_guard lock(data_lock_);
    return dir_.door(index);
}

std::size_t DoorServer::pending_commands() const {
    std::lock_guard lock(data_lock_);
    return pending_.size();
}

void DoorServer::stop() {
    std::lock_guard lock(lifecycle_);
    if (stopped_) {
        return;
    }
    stopped_ = true;
    stopping_ = true;
    if (query_sender_) {
        query_sender_->stop();  // the batch being sent goes out; nothing later
    }
    if (started_) {
        // The library's links first: once disconnect_all returns it raises nothing
        // more; then the callbacks are unregistered (waiting for one still running),
        // and only then is the worker ended, after the event it is handling.
        link_.disconnect_all();
        link_.set_events(nullptr);
    }
    worker_.stop();
    events_.clear();
}

void DoorServer::release_doors() {
    stop();
    std::lock_guard lock(data_lock_);
    pending_.clear();
    dir_.clear();
}

void DoorServer::on_connection(std::string_view ip, int port, bool connected) {
    if (connected) {
        counters_.link_up();
    } else {
        counters_.link_lost();
    }
    if (stopping_) {
        return;
    }
    Update update(clock_.now());
    {
        std::lock_guard lock(data_lock_);
        if (connected) {
            ZorvikReConnect(update, ip, port);
        } else {
            ZorvikFailedConnect(update, ip, port);
        }
    }
    link_event(update, ip, port, connected);
    notify(update);
    if (connected) {
        // Outside data_lock_: the controller starts sending its reports.
        link_.enable_upload(std::string(ip), port);
    }
}

void DoorServer::on_disconnection(std::string_view ip, int port) {
    counters_.link_lost();
    if (stopping_) {
        return;
    }
    Update update(clock_.now());
    {
        std::lock_guard lock(data_lock_);
        ZorvikFailedConnect(update, ip, port);
    }
    link_event(update, ip, port, false);
    notify(update);
}

void DoorServer::on_frame(std::string_view ip, int port, int ap_code, int psw, int cmd,
                          std::string_view hex) {
    const auto code = static_cast<std::uint8_t>(cmd & 0xFF);
    counters_.callback(ip, port, code);
    if (stopping_) {
        return;
    }
    const EventQueue::PushResult pushed = events_.push(ReceivedFrame{
        std::string(ip), port, ap_code, psw, code, std::string(hex), static_cast<int>(hex.size())});
    if (pushed.queued) {
        counters_.queued();
    }
    if (pushed.dropped_oldest) {
        counters_.dropped(1);
    }
}

void DoorServer::ZorvikReConnect(Update& update, std::string_view ip, int port) {
    PointSetters set(dir_, update);
    for (int i = 0; i < kReadersPerController; ++i) {
        DoorRecord* door = dir_.FindDoor(ip, port, 1 << i);
        if (door == nullptr) {
            continue;
        }
        door->status_poll_queued = true;
        door->link = LinkState::connected;
        set.SetDoorState(door, AlarmState::normal);
        set.SetLastCard(door, CardShown::none());
        set.SetTamper(door, AlarmState::normal);
        set.SetInvalidCard(door, CardShown::none());
    }
}

void DoorServer::ZorvikFailedConnect(Update& update, std::string_view ip, int port) {
    for (int i = 0; i < kReadersPerController; ++i) {
        mark_not_monitored(update, dir_.FindDoor(ip, port, 1 << i));
    }
}

void DoorServer::mark_not_monitored(Update& update, DoorRecord* door) {
    if (door == nullptr) {
        return;
    }
    PointSetters set(dir_, update);
    door->status_poll_queued = false;
    // A failed first attempt leaves the door never connected; a failure after a
    // connection (the loss itself, failed reconnects) keeps it lost.
    if (door->link == LinkState::connected) {
        door->link = LinkState::lost;
    }
    set.SetDoorState(door, AlarmState::not_monitored);
    set.SetLastCard(door, CardShown::not_monitored());
    set.SetTamper(door, AlarmState::not_monitored);
    set.SetInvalidCard(door, CardShown::not_monitored());
    set.SetContactAlarm(door, ContactAlarmState::not_monitored);
    set.SetDoorOpen(door, DoorOpenState::not_monitored);
    set.SetContactOpen(door, ContactState::unknown);
}

void DoorServer::receive(const ReceivedFrame& entry) {
    counters_.handled(entry.Cmd == kCmdCardRecords);
    Update update(clock_.now());
    {
        std::lock_guard lock(data_lock_);
        decoder_.DataReceive(update, entry.IP, entry.Port, entry.ApCode, entry.Cmd, entry.Data);
    }
    notify(update);
}

void DoorServer::link_event(Update& update, std::string_view ip, int port, bool up) {
    DoorEvent event;
    event.kind = up ? DoorEvent::Kind::link_up : DoorEvent::Kind::link_down;
    event.ip = std::string(ip);
    event.port = port;
    event.at = update.now;
    update.events.push_back(std::move(event));
}

void DoorServer::add_event_observer(DoorEventObserver* observer) {
    std::lock_guard lock(notify_lock_);
    event_observers_.push_back(observer);
}

void DoorServer::remove_event_observer(DoorEventObserver* observer) {
    std::lock_guard lock(notify_lock_);
    std::erase(event_observers_, observer);
}

void DoorServer::notify(const Update& update) {
    if (!update.remote_open_ends.empty()) {
        std::vector<std::string> lines;
        {
            std::lock_guard lock(data_lock_);
            for (const RemoteOpenEnd& end : update.remote_open_ends) {
                if (end.door < dir_.door_count()) {
                    const DoorRecord& door = dir_.door(end.door);
                    lines.push_back("remote open of " + describe_door(door) + " by " +
                                    door.remote_open_by + ": " + std::string(end.result));
                }
            }
        }
        for (const std::string& line : lines) {
            log_.write(LogLevel::info, line);
        }
    }
    if (update.changes.empty() && update.events.empty()) {
        return;
    }
    counters_.leaf_changes(update.changes.size());
    std::lock_guard lock(notify_lock_);
    if (!update.changes.empty()) {
        for (DoorObserver* observer : observers_) {
            observer->leaves_changed(update.changes);
        }
    }
    if (!update.events.empty()) {
        for (DoorEventObserver* observer : event_observers_) {
            observer->door_events(update.events);
        }
    }
}

}  // namespace porvex
