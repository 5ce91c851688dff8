// The door server with its event worker and a fake library raising callbacks from
// threads of its own: link up and down, the connect pass, event order, batching and
// the orderly exit.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "core/clock.h"
#include "door_server.h"
#include "fake_link.h"
#include "wait.h"

namespace porvex::test {
namespace {

constexpr const char* kCtlA = "10.0.0.1";
constexpr const char* kCtlB = "10.0.0.2";
constexpr int kCtlPort = 5768;

// Counts the changes it is told about.
class CountingObserver final : public DoorObserver {
  public:
    void leaves_changed(std::span<const LeafChange> changes) override {
        std::lock_guard lock(mutex_);
        for (const auto& c : changes) {
            changes_.push_back(c);
        }
    }
    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return changes_.size();
    }
    bool saw(NodeId leaf, bool visible) const {
        std::lock_guard lock(mutex_);
        for (const auto& c : changes_) {
            if (c.leaf == leaf && c.visible_refresh == visible) {
                return true;
            }
        }
        return false;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<LeafChange> changes_;
};

DoorRow row(const char* ip, int reader, const char* name = "门") {
    return DoorRow{name, "一层", ip, std::to_string(kCtlPort), reader, 0};
}

class LinkManagerTest : public ::testing::Test {
  protected:
    explicit LinkManagerTest(DoorServerOptions options = {})
        : server(PointSet::all(), link, clock, log, options) {}

    void load_two_controllers() {
        for (int i = 0; i < 8; ++i) {
            server.add_door(row(kCtlA, 1 << i));
        }
        server.add_door(row(kCtlB, 1));
        server.attach_value_holders();
        server.add_observer(&observer);
        server.start();
    }

    std::string text(NodeId node) { return server.node_text(node); }

    ManualClock clock;
    FakeLink link;
    MemoryLog log;
    CountingObserver observer;
    DoorServer server;
};

TEST_F(LinkManagerTest, ConnectPassMakesOneAttemptPerControllerAndEnablesUpload) {
    load_two_controllers();
    link.set_reachable(kCtlB, kCtlPort, false);
    std::vector<std::size_t> progress;
    server.connect_pass(
        [&](std::size_t done, std::size_t total) {
            EXPECT_EQ(total, 9u);
            progress.push_back(done);
        },
        std::chrono::milliseconds(0));
    EXPECT_EQ(progress.size(), 9u);
    EXPECT_EQ(progress.back(), 9u);
    ASSERT_EQ(link.connects().size(), 2u);
    ASSERT_EQ(link.uploads().size(), 1u);
    EXPECT_EQ(link.uploads()[0].first, kCtlA);
    for (std::size_t i = 0; i < 8; ++i) {
        const DoorRecord door = server.door(i);
        EXPECT_TRUE(door.status_poll_queued) << i;
        EXPECT_EQ(text(door.state_node), "门禁状态:正常") << i;  // not "没有监控"
    }
    const DoorRecord b = server.door(8);
    EXPECT_FALSE(b.status_poll_queued);
    EXPECT_EQ(text(b.state_node), "门禁状态:没有监控");
    EXPECT_EQ(text(b.last_card_node), "最后一个刷卡人卡片号码:没有监控");
    EXPECT_EQ(text(b.tamper_node), "防拆报警:没有监控");
    EXPECT_EQ(text(b.invalid_card_node), "非法刷卡:没有监控");
}

TEST_F(LinkManagerTest, EachDoorKnowsWhetherItsLinkNeverCameUpIsUpOrWasLost) {
    load_two_controllers();
    link.set_reachable(kCtlB, kCtlPort, false);
    EXPECT_EQ(server.door(0).link, LinkState::never_connected);
    server.connect_pass({}, std::chrono::milliseconds(0));
    EXPECT_EQ(server.door(0).link, LinkState::connected);
    EXPECT_EQ(server.door(8).link, LinkState::never_connected);  // its first attempt failed
    const auto reading = server.read_item_and_link(server.door(8).state_node);
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->link, LinkState::never_connected);

    link.raise_disconnection(kCtlA, kCtlPort);
    EXPECT_EQ(server.door(3).link, LinkState::lost);
    link.raise_connection(kCtlA, kCtlPort, false);  // a failed retry keeps the loss
    EXPECT_EQ(server.door(3).link, LinkState::lost);
    link.raise_connection(kCtlA, kCtlPort, true);
    EXPECT_EQ(server.door(3).link, LinkState::connected);
}

TEST_F(LinkManagerTest, TheTicksStatusQueriesGoOutWhileOtherThreadsCanUseTheDoors) {
    // A send can hold its caller for a millisecond (more under load), and one tick may ask
    // hundreds of doors: the event worker must not wait for the data lock meanwhile.
    load_two_controllers();
    server.connect_pass({}, std::chrono::milliseconds(0));
    int sends = 0;
    int sends_while_doors_usable = 0;
    link.while_sending = [&] {
        ++sends;
        auto other_thread = std::async(std::launch::async, [&] { return server.door_count(); });
        if (other_thread.wait_for(std::chrono::seconds(2)) == std::future_status::ready) {
            ++sends_while_doors_usable;
        }
    };
    clock.advance(61);  // every door's state is unknown: each is asked
    server.tick(10);
    link.while_sending = nullptr;
    EXPECT_GT(sends, 0);
    EXPECT_EQ(sends_while_doors_usable, sends);
}

TEST_F(LinkManagerTest, AStatusQueryTheLibraryRefusesIsAskedAgainAtTheNextTick) {
    load_two_controllers();
    server.connect_pass({}, std::chrono::milliseconds(0));
    clock.advance(61);
    server.tick(10);  // the doors are asked; no reply comes
    const std::size_t first = link.sent().size();
    ASSERT_GT(first, 0u);
    link.raise_disconnection(kCtlB, kCtlPort);
    link.set_send_result(false);  // the library takes nothing now
    clock.advance(61);
    server.tick(10);
    const std::size_t refused = link.sent().size() - first;
    ASSERT_GT(refused, 0u);
    EXPECT_FALSE(server.door(8).status_poll_queued);  // kCtlB's door: asked again
    link.set_send_result(std::nullopt);
    clock.advance(2);
    server.tick(10);
    EXPECT_GT(link.sent().size(), first + refused);  // asked again, not in a minute
}

class StatusQueryThreadTest : public LinkManagerTest {
  protected:
    static DoorServerOptions on_thread() {
        DoorServerOptions options;
        options.status_queries_on_thread = true;
        return options;
    }
    StatusQueryThreadTest() : LinkManagerTest(on_thread()) {}
};

TEST_F(StatusQueryThreadTest, TheTickReturnsBeforeItsStatusQueriesAreOutAndNoneIsLost) {
    load_two_controllers();
    server.connect_pass({}, std::chrono::milliseconds(0));
    const std::size_t before = link.sent().size();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> sends{0};
    link.while_sending = [&] {
        ++sends;
        released.wait();  // a library slow to take the frames
    };
    clock.advance(61);
    server.tick(10);  // returns although the first send is held
    ASSERT_TRUE(wait_until([&] { return sends.load() == 1; }));
    release.set_value();
    ASSERT_TRUE(wait_until([&] { return link.sent().size() == before + 9; }));  // 9 doors
    EXPECT_TRUE(wait_until([&] { return server.pending_commands() == 9; }));
    link.while_sending = nullptr;
}

TEST_F(StatusQueryThreadTest, AStopWhileQueriesAreBeingSentEndsWithoutSendingLater) {
    load_two_controllers();
    server.connect_pass({}, std::chrono::milliseconds(0));
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> sends{0};
    link.while_sending = [&] {
        if (++sends == 1) {
            released.wait();
        }
    };
    clock.advance(61);
    server.tick(10);
    ASSERT_TRUE(wait_until([&] { return sends.load() == 1; }));
    clock.advance(2);
    server.tick(10);  // nothing new to ask; the first batch is still going out
    std::thread stopper([&] { server.stop(); });
    release.set_value();
    stopper.join();
    const int after_stop = sends.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sends.load(), after_stop);
    link.while_sending = nullptr;
}

TEST_F(LinkManagerTest, ARemoteOpenWhileTheLinkIsDownIsRefusedLoggedAndNeverSentLater) {
    load_two_controllers();
    server.connect_pass({}, std::chrono::milliseconds(0));
    link.raise_disconnection(kCtlA, kCtlPort);
    const std::size_t sent_before = link.sent().size();
    const DoorRecord door = server.door(1);
    const DoorServer::WriteResult result =
        server.write_item(door.remote_open_node, std::int32_t{1}, "hmi-3");
    EXPECT_EQ(result.outcome, RemoteOpenOutcome::refused_offline);
    EXPECT_FALSE(result);
    EXPECT_EQ(server.read_item(door.remote_open_node), ItemValue(std::int32_t{1}));
    EXPECT_EQ(server.pending_commands(), 0u);
    EXPECT_TRUE(log.contains("by hmi-3: refused, controller offline"));
    link.raise_connection(kCtlA, kCtlPort, true);
    for (std::size_t i = sent_before; i < link.sent().size(); ++i) {
        EXPECT_NE(link.sent()[i].cmd, 32);  // only status queries, never the open
    }
}

// The pass pauses after each connection attempt only: doors of a controller already
// tried cost no time (at plant scale 8 doors share a controller).
class ConnectPassPauseTest : public LinkManagerTest {
  protected:
    ConnectPassPauseTest() : LinkManagerTest(options(this)) {}
    static DoorServerOptions options(ConnectPassPauseTest* self) {
        DoorServerOptions o;
        o.pause_for = [self](std::chrono::milliseconds pause) {
            self->pauses.push_back({pause, self->link.connects().size()});
        };
        return o;
    }
    std::vector<std::pair<std::chrono::milliseconds, std::size_t>> pauses;
};

TEST_F(ConnectPassPauseTest, PausesFollowConnectionAttemptsNotDoors) {
    load_two_controllers();  // 8 doors on one controller, 1 on another
    server.connect_pass({}, std::chrono::milliseconds(10));
    using P = std::pair<std::chrono::milliseconds, std::size_t>;
    EXPECT_EQ(pauses, (std::vector<P>{{std::chrono::milliseconds(10), 1u},
                                      {std::chrono::milliseconds(10), 2u}}));
}

// The pause spaces the starts of attempts: the time an attempt took counts towards it.
TEST_F(ConnectPassPauseTest, AnAttemptsOwnTimeCountsTowardsThePause) {
    load_two_controllers();
    std::vector<double> attempt_seconds{0.004, 0.025};  // 4 ms, then longer than the pause
    link.while_connecting = [&] {
        clock.advance(attempt_seconds.front());
        attempt_seconds.erase(attempt_seconds.begin());
    };
    server.connect_pass({}, std::chrono::milliseconds(10));
    using P = std::pair<std::chrono::milliseconds, std::size_t>;
    EXPECT_EQ(pauses, (std::vector<P>{{std::chrono::milliseconds(6), 1u}}));
}

TEST_F(LinkManagerTest, ConnectPassWithoutDoorsOnlyReportsNothing) {
    server.start();
    int calls = 0;
    server.connect_pass([&](std::size_t, std::size_t) { ++calls; }, std::chrono::milliseconds(0));
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(link.connects().empty());
}

TEST_F(LinkManagerTest, AControllerThatDropsAndReturnsChangesAllItsDoors) {
    load_two_controllers();
    server.connect_pass({}, std::chrono::milliseconds(0));
    link.raise_frame(kCtlA, kCtlPort, 0, 30,
                     "01"
                     "0012AB34"
                     "04"
                     "80"
                     "000000000000");
    ASSERT_TRUE(
        wait_until([&] { return text(server.door(2).last_card_node).ends_with("0012AB34"); }));

    std::thread library([&] { link.raise_disconnection(kCtlA, kCtlPort); });
    library.join();
    for (std::size_t i = 0; i < 8; ++i) {
        const DoorRecord door = server.door(i);
        EXPECT_FALSE(door.status_poll_queued);
        EXPECT_EQ(text(door.state_node), "门禁状态:没有监控");
        EXPECT_EQ(text(door.last_card_node), "最后一个刷卡人卡片号码:没有监控");
        EXPECT_EQ(text(door.tamper_node), "防拆报警:没有监控");
        EXPECT_EQ(text(door.invalid_card_node), "非法刷卡:没有监控");
        EXPECT_EQ(door.door_open, DoorOpenState::not_monitored);
        EXPECT_EQ(door.contact_open, ContactState::unknown);
        EXPECT_EQ(door.contact_alarm, ContactAlarmState::not_monitored);
        EXPECT_EQ(text(door.door_open_node), "门开关状态:没有监控");
        EXPECT_EQ(text(door.contact_alarm_node), "门磁报警:没有监控");
    }
    EXPECT_EQ(text(server.door(8).state_node), "门禁状态:正常");  // other controller

    std::thread reconnect([&] { link.raise_connection(kCtlA, kCtlPort, true); });
    reconnect.join();
    int uploads_a = 0;
    for (const auto& u : link.uploads()) {
        uploads_a += u.first == kCtlA;
    }
    EXPECT_EQ(uploads_a, 2);  // upload enabled again
    for (std::size_t i = 0; i < 8; ++i) {
        const DoorRecord door = server.door(i);
        EXPECT_TRUE(door.status_poll_queued);
        EXPECT_EQ(text(door.state_node), "门禁状态:正常");
        EXPECT_EQ(text(door.last_card_node), "最后一个刷卡人卡片号码:");
        EXPECT_EQ(text(door.tamper_node), "防拆报警:正常");
    }
}

TEST_F(LinkManagerTest, ReconnectKeepsACardNumberThatWasShown) {
    load_two_controllers();
    server.connect_pass({}, std::chrono::milliseconds(0));
    link.raise_frame(kCtlA, kCtlPort, 0, 30,
                     "01"
                     "0012AB34"
                     "01"
                     "80"
                     "000000000000");
    ASSERT_TRUE(
        wait_until([&] { return text(server.door(0).last_card_node).ends_with("0012AB34"); }));
    link.raise_connection(kCtlA, kCtlPort, true);
    EXPECT_EQ(text(server.door(0).last_card_node), "最后一个刷卡人卡片号码:0012AB34");
}

TEST_F(LinkManagerTest, ObserversLearnWhichLeafChangedAndWhetherToShowIt) {
    load_two_controllers();
    server.connect_pass({}, std::chrono::milliseconds(0));
    const DoorRecord door = server.door(0);
    link.raise_frame(kCtlA, kCtlPort, 0, 26, "00000001");
    ASSERT_TRUE(wait_until([&] { return observer.saw(door.door_open_node, false); }));
    link.raise_frame(kCtlA, kCtlPort, 0, 28, "00000001");
    ASSERT_TRUE(wait_until([&] { return observer.saw(door.tamper_node, true); }));
}

class OrderTest : public LinkManagerTest {
  protected:
    OrderTest() : LinkManagerTest(batch_pause(std::chrono::milliseconds(300))) {}
    static DoorServerOptions batch_pause(std::chrono::milliseconds pause) {
        DoorServerOptions o;
        o.batch_pause = pause;
        return o;
    }
};

TEST_F(OrderTest, EventsQueuedBetweenTwoPassesAreHandledInArrivalOrder) {
    load_two_controllers();
    server.connect_pass({}, std::chrono::milliseconds(0));
    const DoorRecord door = server.door(0);
    link.raise_frame(kCtlA, kCtlPort, 0, 26, "00000001");  // opens; the worker then pauses
    ASSERT_TRUE(wait_until([&] { return server.door(0).door_open == DoorOpenState::open; }));
    const auto batches = server.event_batches();
    link.raise_frame(kCtlA, kCtlPort, 0, 26, "00000002");  // alarm ...
    link.raise_frame(kCtlA, kCtlPort, 0, 27, "00000001");  // ... then cleared
    ASSERT_TRUE(wait_until([&] { return server.event_batches() > batches; }));
    ASSERT_TRUE(
        wait_until([&] { return server.door(0).contact_alarm == ContactAlarmState::normal; }));
    EXPECT_EQ(server.event_batches(), batches + 1);  // both in one batch
    EXPECT_EQ(text(door.state_node), "门禁状态:正常");
}

TEST_F(OrderTest, ABurstOfStoredRecordsIsHandledInOneBatchNotOneEventPerPause) {
    load_two_controllers();
    server.connect_pass({}, std::chrono::milliseconds(0));
    link.raise_frame(kCtlA, kCtlPort, 0, 26, "00000001");
    ASSERT_TRUE(wait_until([&] { return server.event_batches() == 1; }));
    for (int i = 0; i < 500; ++i) {
        char card[64];
        std::snprintf(card, sizeof card, "01%08X0180000000000000", i);
        link.raise_frame(kCtlA, kCtlPort, 0, 30, card);
    }
    ASSERT_TRUE(
        wait_until([&] { return text(server.door(0).last_card_node).ends_with("000001F3"); }));
    EXPECT_LE(server.event_batches(), 3u);
}

TEST_F(LinkManagerTest, RemoteOpenRoundTripThroughTheWorker) {
    load_two_controllers();
    server.connect_pass({}, std::chrono::milliseconds(0));
    const DoorRecord door = server.door(1);
    ASSERT_TRUE(server.write_item(door.remote_open_node, std::int32_t{1}));
    EXPECT_EQ(server.read_item(door.remote_open_node), ItemValue(std::int32_t{2}));
    const auto sent = link.sent().back();
    EXPECT_EQ(sent.cmd, 32);
    EXPECT_EQ(sent.hex, "02");
    std::thread library([&] { link.raise_frame(kCtlA, kCtlPort, sent.ap_code, 32, ""); });
    library.join();
    ASSERT_TRUE(wait_until(
        [&] { return server.read_item(door.remote_open_node) == ItemValue(std::int32_t{0}); }));
    EXPECT_EQ(text(door.remote_open_node), "遥控开门:成功");
    EXPECT_EQ(server.pending_commands(), 0u);
}

TEST_F(LinkManagerTest, TickReadsAndEventsRunTogetherConsistently) {
    load_two_controllers();
    server.connect_pass({}, std::chrono::milliseconds(0));
    std::atomic<bool> done{false};
    std::thread library([&] {
        for (int i = 0; i < 2000 && !done; ++i) {
            link.raise_frame(kCtlA, kCtlPort, 0, i % 2 ? 26 : 27, i % 2 ? "0000AAAA" : "000000FF");
            if (i % 100 == 0) {
                link.raise_disconnection(kCtlA, kCtlPort);
                link.raise_connection(kCtlA, kCtlPort, true);
            }
        }
    });
    for (int i = 0; i < 200; ++i) {
        clock.advance(2);
        server.tick(10);
        for (std::size_t d = 0; d < 8; ++d) {
            const DoorRecord door = server.door(d);
            server.read_item(door.state_node);
            server.read_item(door.door_open_node);
        }
    }
    done = true;
    library.join();
    EXPECT_GT(observer.count(), 0u);
}

TEST_F(LinkManagerTest, OrderlyExitStopsCallbacksAndTheWorkerBeforeReleasingDoors) {
    load_two_controllers();
    server.connect_pass({}, std::chrono::milliseconds(0));
    std::atomic<bool> flooding{true};
    std::thread library([&] {
        while (flooding) {
            link.raise_frame(kCtlA, kCtlPort, 0, 30,
                             "01"
                             "0012AB34"
                             "01"
                             "80"
                             "000000000000");
            link.raise_disconnection(kCtlA, kCtlPort);
            link.raise_connection(kCtlA, kCtlPort, true);
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.release_doors();
    EXPECT_EQ(link.disconnect_all_calls(), 1);
    EXPECT_FALSE(link.has_events());
    EXPECT_EQ(server.door_count(), 0u);
    flooding = false;
    library.join();
    server.stop();  // again: nothing more happens
    EXPECT_EQ(link.disconnect_all_calls(), 1);
}

TEST_F(LinkManagerTest, TheTickDoesNothingWhileTheDoorStatePointIsDisabled) {
    DoorServer no_state(PointSet::all().without(PointKind::door_state), link, clock, log);
    no_state.add_door(row(kCtlA, 1));
    no_state.attach_value_holders();
    EXPECT_FALSE(no_state.upkeep_tick_enabled());
    no_state.tick(10);
    EXPECT_TRUE(link.sent().empty());
}

class CountsTest : public LinkManagerTest {
  protected:
    // A long pause between batches and a bound of 3 entries: a burst overflows the queue
    // while the worker rests.
    CountsTest() : LinkManagerTest(options()) {}
    static DoorServerOptions options() {
        DoorServerOptions o;
        o.batch_pause = std::chrono::milliseconds(500);
        o.queue_limit = 3;
        return o;
    }
};

TEST_F(CountsTest, EveryStageCountsItsReportsAndTheQueueBoundsDropsAreCounted) {
    load_two_controllers();
    server.connect_pass({}, std::chrono::milliseconds(0));
    const ReportCounts start = server.report_counts();
    EXPECT_EQ(start.links_up, 2u);
    link.raise_frame(kCtlA, kCtlPort, 0, 26, "00000001");  // the worker takes it, then rests
    ASSERT_TRUE(wait_until([&] { return server.report_counts().handled == 1; }));
    for (int i = 0; i < 5; ++i) {
        char card[64];
        std::snprintf(card, sizeof card, "01%08X0180000000000000", 0x100 + i);
        link.raise_frame(kCtlA, kCtlPort, 0, 30, card);
    }
    link.raise_frame(kCtlB, kCtlPort, 7, 32, "");  // a reply no command waits for
    ASSERT_TRUE(wait_until([&] { return server.report_counts().handled == 4; }));
    const ReportCounts c = server.report_counts();
    EXPECT_EQ(c.callbacks, 7u);
    EXPECT_EQ(c.card_reports, 5u);
    EXPECT_EQ(c.queued, 7u);
    EXPECT_EQ(c.dropped, 3u) << "six entries met a bound of three: the oldest three went";
    EXPECT_EQ(c.card_reports_handled, 2u);
    EXPECT_EQ(c.card_records, 2u);
    EXPECT_GT(c.leaf_changes, start.leaf_changes);
    EXPECT_EQ(text(server.door(0).last_card_node), "最后一个刷卡人卡片号码:00000104");
    const auto per_link = server.callbacks_per_link();
    EXPECT_EQ(per_link.at("10.0.0.1:5768"), 6u) << "reports only; the reply is not one";
    EXPECT_EQ(per_link.count("10.0.0.2:5768"), 0u);
    EXPECT_NE(counts_text(c).find("dropped at the queue bound 3"), std::string::npos);
}

}  // namespace
}  // namespace porvex::test
