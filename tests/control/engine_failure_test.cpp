// The engine's threads when something fails inside them: an allocation that fails on a
// poll, dispatch or supervision thread is caught at the thread's entry, counted and
// logged, and the thread goes on; the test program (the host) keeps running.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "ctlsim_driver.h"
#include "engine_harness.h"
#include "failing_allocator.h"
#include "log_capture.h"
#include "results.h"

namespace tarnet::testing {
namespace {

const std::string kHost = "127.0.0.1";

class EngineFailureTest : public ::testing::TestWithParam<ThreadRole> {
  protected:
    EngineFailureTest()
        : recorder([this] { return engine; }),
          receiver(recorder, posted_notices_of(engine)),
          window(receiver) {}

    void SetUp() override {
        EngineOptions options;
        options.prober = prober;
        engine = Engine::create(window.handle(), options);
        ASSERT_EQ(engine->connect_link(kHost, port(), recorder), kOk);
        ASSERT_EQ(engine->set_upload(kHost, port(), true), kOk);
        ASSERT_TRUE(pump_until([&] { return engine->link_state(0)->upload_state == 2; }));
    }

    void TearDown() override {
        stop_failing_allocations();
        engine->stop_all();
        pump_for(20ms);
    }

    std::int16_t port() { return static_cast<std::int16_t>(sim.port(0)); }
    // A card report the controller sends; every card number makes a new report.
    void report_card(int card) {
        ASSERT_EQ(
            sim.report("card", 0, "0012AB" + std::to_string(card) + ":1:granted:000000000000"), 1);
    }

    WinsockStartup winsock;
    ctlsim::testing::Ctlsim sim{1};
    std::shared_ptr<ScriptedProber> prober = std::make_shared<ScriptedProber>();
    std::shared_ptr<Engine> engine;
    Recorder recorder;
    NoticeReceiver receiver;
    OwnerWindow window;
    LogCapture log;
};

const char* name_of(ThreadRole role) {
    switch (role) {
        case ThreadRole::poll:
            return "poll thread";
        case ThreadRole::dispatch:
            return "dispatch thread";
        default:
            return "supervision thread";
    }
}

TEST_P(EngineFailureTest, FailedAllocationIsCountedLoggedAndTheThreadGoesOn) {
    const ThreadRole role = GetParam();
    const int failed_before = failed_allocations();
    fail_allocation_on(role);
    if (role == ThreadRole::dispatch) {
        report_card(10);  // the dispatch thread allocates only for a report
    }
    ASSERT_TRUE(pump_until([&] { return engine->thread_failures() == 1; }))
        << "the failure reached the thread's entry";
    EXPECT_EQ(failed_allocations(), failed_before + 1);
    EXPECT_TRUE(log.contains(std::string(name_of(role)) + ": failed: out of memory"));

    // The engine still works: reports arrive (poll and dispatch threads), and probes go
    // on (supervision thread).
    // (The report that made the dispatch thread allocate may or may not be lost, depending
    // on which of its allocations failed.)
    report_card(11);
    ASSERT_TRUE(pump_until([&] {
        return std::any_of(recorder.reports.begin(), recorder.reports.end(),
                           [](const FrameReport& r) { return r.data.substr(2, 8) == "0012ab11"; });
    }));
    const int probes = prober->probes.load();
    ASSERT_TRUE(pump_until([&] { return prober->probes.load() > probes; }));
    EXPECT_TRUE(engine->threads_running());
    EXPECT_EQ(engine->thread_failures(), 1u);
}

INSTANTIATE_TEST_SUITE_P(EveryEngineThread, EngineFailureTest,
                         ::testing::Values(ThreadRole::poll, ThreadRole::dispatch,
                                           ThreadRole::supervise),
                         [](const ::testing::TestParamInfo<ThreadRole>& param_info) {
                             std::string name = name_of(param_info.param);
                             return name.substr(0, name.find(' '));
                         });

}  // namespace
}  // namespace tarnet::testing
