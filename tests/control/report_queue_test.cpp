#include "report_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace tarnet {
namespace {

FrameReport report(const std::string& data, const std::string& server = "s", short port = 1) {
    FrameReport r;
    r.server = server;
    r.port = port;
    r.data = data;
    r.data_len = static_cast<int>(data.size());
    return r;
}

std::vector<std::string> drain(ReportQueue& queue, DuplicateKeys& keys, int passes,
                               ReportDropCounter* drops = nullptr) {
    ReportDropCounter ignored;
    std::vector<std::string> delivered;
    for (int i = 0; i < passes; ++i) {
        if (auto r = next_to_deliver(queue, keys, drops != nullptr ? *drops : ignored)) {
            delivered.push_back(r->data);
        }
    }
    return delivered;
}

TEST(ReportQueue, DeliversOldestFirstWithoutThinningUpToOneHundred) {
    ReportQueue queue;
    DuplicateKeys keys;
    for (int i = 0; i < 100; ++i) {
        queue.push(report("same"));
    }
    EXPECT_EQ(drain(queue, keys, 150).size(), 100u);
    EXPECT_EQ(keys.size(), 0u) << "keys are remembered only while thinning";
}

TEST(ReportQueue, ThinsDuplicatesWhileMoreThanOneHundredWait) {
    ReportQueue queue;
    DuplicateKeys keys;
    // 150 reports, cycling through 10 payloads on two servers.
    for (int i = 0; i < 150; ++i) {
        queue.push(report("p" + std::to_string(i % 10), i % 2 ? "a" : "b"));
    }
    ReportDropCounter drops;
    const auto delivered = drain(queue, keys, 150, &drops);
    // Taken while more than 100 waited (the first 50): only the first of each of the 10
    // keys (payload, server) goes out; then everything. The 40 left out are counted.
    EXPECT_EQ(delivered.size(), 10u + 100u);
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_EQ(drops.snapshot().thinned, 40u);
    EXPECT_EQ(drops.snapshot().total(), 40u);
}

TEST(ReportQueue, KeyIsTheWholeFrameWithServerAndPort) {
    FrameReport a = report("x", "s", 1);
    FrameReport b = report("x", "s", 2);
    FrameReport c = report("x", "t", 1);
    FrameReport other_code = a;
    other_code.ret_code = 0x1B;
    FrameReport other_ap = a;
    other_ap.ap_code = 7;
    FrameReport other_psw = a;
    other_psw.psw = 9;
    DuplicateKeys keys;
    EXPECT_FALSE(keys.seen_before(a));
    EXPECT_FALSE(keys.seen_before(b));
    EXPECT_FALSE(keys.seen_before(c));
    EXPECT_FALSE(keys.seen_before(other_code)) << "same payload, another report";
    EXPECT_FALSE(keys.seen_before(other_ap));
    EXPECT_FALSE(keys.seen_before(other_psw));
    EXPECT_TRUE(keys.seen_before(a));
}

TEST(ReportQueue, BacklogAboveFiveHundredIsDroppedWhole) {
    ReportQueue queue;
    for (int i = 0; i < 502; ++i) {
        queue.push(report(std::to_string(i)));
    }
    bool thin = false;
    std::size_t dropped = 0;
    auto first = queue.pop(thin, dropped);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->data, "0");
    EXPECT_TRUE(thin);
    EXPECT_EQ(queue.size(), 0u) << "501 were left behind the first";
    EXPECT_EQ(dropped, 501u) << "and counted";

    for (int i = 0; i < 501; ++i) {
        queue.push(report(std::to_string(i)));
    }
    (void)queue.pop(thin, dropped);
    EXPECT_EQ(queue.size(), 500u) << "exactly 500 left is kept";
    EXPECT_EQ(dropped, 0u);
    ReportDropCounter drops;
    DuplicateKeys keys;
    queue.push(report("late"));
    queue.push(report("later"));
    (void)next_to_deliver(queue, keys, drops);
    EXPECT_EQ(drops.snapshot().backlog, 501u) << "the dispatch thread counts what it drops";
    EXPECT_EQ(queue.drop_all(), 0u);
}

TEST(ReportQueue, ForgetsTheOldestThousandKeysBeyondTwoThousand) {
    DuplicateKeys keys;
    for (int i = 0; i < 2001; ++i) {
        keys.seen_before(report(std::to_string(i)));
    }
    keys.trim();
    EXPECT_EQ(keys.size(), 1001u);
    EXPECT_FALSE(keys.seen_before(report("0"))) << "oldest forgotten";
    EXPECT_TRUE(keys.seen_before(report("2000"))) << "newest kept";
}

// The poll thread pushes and drops while the dispatch thread takes. The producer waits
// after each burst until the consumer has taken a report, so the two threads really
// overlap on any machine: left to the scheduler (and to a mutex that favours the thread
// that just released it), the producer can run to its end before the consumer takes
// anything, and a final drop leaves nothing to check.
TEST(ReportQueue, ProducerAndConsumerThreadsKeepTheOrder) {
    ReportQueue queue;
    DuplicateKeys keys;
    constexpr int kBursts = 100;
    constexpr int kBurst = 150;  // the backlog passes the thinning and the dropping limits
    ReportDropCounter drops;
    std::atomic<int> taken{0};
    std::atomic<bool> done{false};
    int pushed = 0;
    std::thread producer([&] {
        for (int burst = 0; burst < kBursts; ++burst) {
            const int taken_before = taken.load();
            for (int i = 0; i < kBurst; ++i) {
                queue.push(report(std::to_string(pushed++)));
            }
            if (burst % 20 == 19) {
                queue.drop_all();  // while the consumer may be taking
                continue;
            }
            while (taken.load() == taken_before) {
                std::this_thread::yield();
            }
        }
        // The last report goes into an empty queue: nothing may keep it from the consumer.
        while (queue.size() != 0) {
            std::this_thread::yield();
        }
        queue.push(report(std::to_string(pushed++)));
        done = true;
    });
    int last = -1;
    bool ordered = true;
    for (;;) {
        const bool finished = done;
        if (auto r = next_to_deliver(queue, keys, drops)) {
            const int value = std::stoi(r->data);
            ordered = ordered && value > last;
            last = value;
            ++taken;
        } else if (finished && queue.size() == 0) {
            break;
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    EXPECT_TRUE(ordered) << "reports are taken oldest first, each once";
    EXPECT_EQ(last, pushed - 1) << "the last report is delivered";
    EXPECT_GE(taken.load(), kBursts - kBursts / 20 + 1);
}

}  // namespace
}  // namespace tarnet
